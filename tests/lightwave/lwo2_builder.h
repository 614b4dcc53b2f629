// Object files made in memory for the reader's tests: big-endian
// primitives, chunks (ID4 + U4 length) and sub-chunks (ID4 + U2 length)
// whose lengths are filled in from their bodies, odd ones padded.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lwo2test {

class Bytes {
public:
    std::string data;

    Bytes& id(const char* four)
    {
        data.append(four, 4);
        return *this;
    }
    Bytes& u1(uint32_t v)
    {
        data.push_back(char(v & 0xFF));
        return *this;
    }
    Bytes& u2(uint32_t v) { return u1(v >> 8).u1(v); }
    Bytes& u4(uint32_t v) { return u2(v >> 16).u2(v); }
    Bytes& i4(int32_t v) { return u4(uint32_t(v)); }
    Bytes& f4(float f)
    {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return u4(bits);
    }
    Bytes& vx(uint32_t v) { return v < 0xFF00 ? u2(v) : u4(0xFF000000u | v); }
    // NUL-terminated, padded to even length.
    Bytes& s0(const std::string& text)
    {
        data += text;
        data.push_back('\0');
        if (data.size() & 1)
            data.push_back('\0');
        return *this;
    }
    Bytes& raw(const std::string& bytes)
    {
        data += bytes;
        return *this;
    }
    // An odd body is followed by a pad byte that its length leaves out.
    Bytes& chunk(const char* four, const Bytes& body)
    {
        return id(four).u4(uint32_t(body.data.size())).raw(body.data).pad(body);
    }
    Bytes& sub(const char* four, const Bytes& body)
    {
        return id(four).u2(uint32_t(body.data.size())).raw(body.data).pad(body);
    }
    Bytes& pad(const Bytes& body) { return body.data.size() & 1 ? u1(0) : *this; }

    // "FORM", its length and the form type before these chunks.
    std::string form(const char* type = "LWO2") const
    {
        Bytes out;
        out.id("FORM").u4(uint32_t(data.size() + 4)).id(type).raw(data);
        return out.data;
    }
};

// Common pieces.
inline Bytes layr(uint32_t number) { return Bytes().u2(number).u2(0).f4(0).f4(0).f4(0).s0("").u2(0xFFFF); }
inline Bytes pnts(const std::vector<float>& xyz)
{
    Bytes b;
    for (float f : xyz)
        b.f4(f);
    return b;
}
// Polygons of the given type, each a list of point indices.
inline Bytes pols(const char* type, const std::vector<std::vector<uint32_t>>& polygons)
{
    Bytes b;
    b.id(type);
    for (const auto& p : polygons) {
        b.u2(uint32_t(p.size()));
        for (uint32_t i : p)
            b.vx(i);
    }
    return b;
}
inline Bytes tags(const std::vector<std::string>& names)
{
    Bytes b;
    for (const auto& n : names)
        b.s0(n);
    return b;
}
// A SURF chunk body: name, empty source, then the sub-chunks.
inline Bytes surf(const std::string& name, const Bytes& subs) { return Bytes().s0(name).s0("").raw(subs.data); }
// A BLOK of a block type with its header sub-chunks (after the ordinal)
// and attribute sub-chunks.
inline Bytes blok(const char* type, const Bytes& header, const Bytes& attributes)
{
    return Bytes().sub(type, Bytes().s0("\x80").raw(header.data)).raw(attributes.data);
}
// A unit quad in layer 0 with one surface: the smallest usable object
// around the chunks a test adds after it.
inline Bytes quadObject(const std::string& surface = "Default")
{
    Bytes b;
    b.chunk("TAGS", tags({surface}));
    b.chunk("LAYR", layr(0));
    b.chunk("PNTS", pnts({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    b.chunk("POLS", pols("FACE", {{0, 1, 2, 3}}));
    b.chunk("PTAG", Bytes().id("SURF").vx(0).u2(0));
    return b;
}

} // namespace lwo2test

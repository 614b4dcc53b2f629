// The 8-bit run-length PCX writer: header (manufacturer 10, version 5,
// run-length coding, 8 bits, one plane), coded lines, then the palette
// marker and the 768-byte palette. Runs stay within a line.
#include "materials/image_readers.h"

#include <cstring>
#include <vector>

namespace {

void put16(u8* p, u32 value)
{
    p[0] = (u8)value;
    p[1] = (u8)(value >> 8);
}

// Appends one line: runs of up to 63 equal bytes as a count byte and the
// value; a single byte below 0xC0 as itself.
void encodeLine(const u8* line, u32 length, std::vector<u8>& out)
{
    u32 x = 0;
    while (x < length) {
        const u8 value = line[x];
        u32 run = 1;
        while (x + run < length && run < 63 && line[x + run] == value)
            ++run;
        if (run > 1 || (value & 0xC0) == 0xC0)
            out.push_back((u8)(0xC0 | run));
        out.push_back(value);
        x += run;
    }
}

} // namespace

bool savePCX(Stream& file, const char* name, i32 width, i32 height, const u8* indices, const u8* palette)
{
    if (!indices || !palette || width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return false;
    const u32 lineBytes = ((u32)width + 1) & ~1u;
    std::vector<u8> out(128, 0);
    out[0] = 10; // manufacturer
    out[1] = 5;  // version with a 256-colour palette
    out[2] = 1;  // run-length coded
    out[3] = 8;  // bits per pixel per plane
    put16(&out[8], (u32)width - 1);
    put16(&out[10], (u32)height - 1);
    put16(&out[12], 72);
    put16(&out[14], 72);
    out[65] = 1; // planes
    put16(&out[66], lineBytes);
    put16(&out[68], 1); // colour palette
    std::vector<u8> line(lineBytes, 0);
    for (i32 y = 0; y < height; ++y) {
        std::memcpy(line.data(), indices + (u64)y * (u32)width, (size_t)width);
        encodeLine(line.data(), lineBytes, out);
    }
    out.push_back(12);
    out.insert(out.end(), palette, palette + 768);

    if (!file.create(name))
        return false;
    const bool written = file.write(out.data(), (u32)out.size()) == out.size();
    return file.close() && written;
}

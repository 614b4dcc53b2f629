// Content for the facilities the demo never runs: the crowd's pictures and
// walkability map, a progressive-mesh level stream and a key-binding
// script over the test objects.
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/string_stream.h"

#include "materials/image_readers.h"

#include <cstdio>
#include <cstring>

namespace mkcontent {

namespace {

std::string pcx(int width, int height, const std::vector<u8>& indices, const std::vector<u8>& palette)
{
    StringStream out;
    savePCX(out, "", width, height, indices.data(), palette.data());
    return out.bytes;
}

// A figure 8 texels wide on a black (alpha-less) ground, shaded by person,
// view and frame so that each picture differs.
std::string personPicture(int person, int view, int frame)
{
    std::vector<u8> palette(768, 0), indices(16 * 32, 0);
    palette[3] = u8(80 + person * 40), palette[4] = u8(60 + view * 60), palette[5] = u8(frame * 25);
    for (int y = 4; y < 32; ++y)
        for (int x = 4; x < 12; ++x)
            indices[size_t(y * 16 + x)] = 1;
    return pcx(16, 32, indices, palette);
}

// Black (free) everywhere but a wall ring at the edge and a block in the
// middle, both white.
std::string walkMap()
{
    std::vector<u8> palette(768, 0), indices(512 * 512, 0);
    palette[3] = palette[4] = palette[5] = 255;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            if (x < 8 || y < 8 || x > 503 || y > 503 || (x > 224 && x < 288 && y > 224 && y < 288))
                indices[size_t(y * 512 + x)] = 1;
    return pcx(512, 512, indices, palette);
}

std::string u16s(std::initializer_list<u16> values)
{
    std::string s;
    for (u16 v : values)
        s.append(reinterpret_cast<const char*>(&v), 2);
    return s;
}

} // namespace

std::vector<ContentFile> extrasFiles()
{
    std::vector<ContentFile> files;
    const char* people[] = {"frau1", "maedel1", "junge1", "mann1"};
    const char* views[] = {"hinten", "vorne", "rechts"};
    char name[128];
    for (int p = 0; p < 4; ++p)
        for (int v = 0; v < 3; ++v)
            for (int frame = 0; frame < 10; ++frame) {
                std::snprintf(name, sizeof name, "crowd/%s_%s_%04d.pcx", people[p], views[v], frame);
                files.push_back({name, [p, v, frame] { return personPicture(p, v, frame); }});
            }
    files.push_back({"crowd/vonoben.pcx", walkMap});
    // Minimum level 30, a collapse map of 4 and a permutation of 2.
    files.push_back({"pmesh/levels.pm", [] { return u16s({30, 4, 0, 0, 1, 2, 2, 1, 0}); }});
    files.push_back({"inputHandler.scr", [] {
                         return std::string("; keys of the test objects\n"
                                            "Keyset: 1\n"
                                            "Key: a increaseTime 0 60 sounds/hum.ogg objects/crate.lwo 0\n"
                                            "Key: z decreaseTime 0 0 sounds/hum.ogg objects/crate.lwo 0\n"
                                            "Key: t toggleTime 0 45 sounds/hum.ogg objects/room.lwo 0\n"
                                            "Keyset: 2\n"
                                            "Key: c changeSurfaceColors 1.5 linear objects/crate.lwo@Crate 1 0.2 0.2\n");
                     }});
    return files;
}

} // namespace mkcontent

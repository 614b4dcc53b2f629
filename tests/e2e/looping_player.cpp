// The player over the demo's content with a running order that restarts every
// PASS ms (3000): each pass loads two metascripts, each with a looping sound, and
// frees the second, so a long run shows whether anything piles up.
//   quillon_looping [PASS]
#include "app/setup.h"
#include "app/win_main.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "platform/win32/resources.h"
#include "tools/sarpack/sar_writer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

// One pass: the hall at a third, the outro at two thirds, the second metascene freed at the end.
std::string loopScript(long pass)
{
    const std::pair<long, std::string> events[] = {
        {0, "restart"}, {0, "loadmetascript loop1.mts"}, {0, "activemeta loop1"}, {0, "start scenes/intro"},
        {0, "cam scenes/intro 0"}, {0, "playogg music/demotune.ogg"}, {10, "start scenes/hall"},
        {10, "xfade scenes/hall " + std::to_string(pass * 8 / 30)}, {20, "loadmetascript loop2.mts"},
        {20, "activemeta loop2"}, {20, "start scenes/outro"}, {20, "cam scenes/outro 0"}, {29, "activemeta loop1"},
        {29, "freemeta loop2"}, {30, "stopsound"}};
    std::string script;
    for (const auto& [thirtieths, command] : events)
        script += std::to_string(pass * thirtieths / 30) + " " + command + "\n";
    return script;
}

const char* kHumScene = "LWSC\n3\nAddNullObject hum\n// sound sounds/hum.ogg\n";

// Archive 130 with scene.scr replaced and the looping metascripts added, stored unpacked.
bool replaceScript(const std::string& script, std::vector<u8>& out)
{
    ResourceStream resource("SARFILE", 130, "SARFILE130");
    if (!resource.found())
        return false;
    SarArchive archive(resource);
    if (!archive.mount("SARFILE130"))
        return false;
    SarWriter writer;
    auto addText = [&](const char* name, const std::string& text) {
        return writer.add(name, reinterpret_cast<const u8*>(text.data()), text.size(), 0);
    };
    if (!addText("scene.scr", script) || !addText("loop/hum.lws", kHumScene))
        return false;
    for (i32 i = 0; i < archive.count; ++i) {
        const char* name = archive.entries[i].name;
        if (_stricmp(name, "scene.scr") == 0)
            continue;
        if (!archive.open(name))
            return false;
        std::vector<u8> bytes(archive.size);
        if (archive.read(bytes.data(), archive.size) != archive.size || !writer.add(name, bytes, 0))
            return false;
        // loop1.mts and loop2.mts: meta1.mts and meta2.mts and the hum.
        for (const char* meta : {"meta1.mts", "meta2.mts"})
            if (_stricmp(name, meta) == 0 &&
                !addText((std::string("loop") + meta[4] + ".mts").c_str(),
                         std::string(bytes.begin(), bytes.end()) + "\r\nloop/hum.lws\r\n"))
                return false;
        archive.close();
    }
    out = writer.build();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const long pass = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    if (pass < 300 || pass > 600000) {
        std::fprintf(stderr, "quillon_looping: a pass of %s ms is out of range\n", argv[1]);
        return 2;
    }
    static std::vector<u8> archive; // resources live as long as the process
    if (!replaceScript(loopScript(pass), archive)) {
        std::fprintf(stderr, "quillon_looping: the demo's archive cannot be read\n");
        return 2;
    }
    platform::registerResource("SARFILE", 130, archive.data(), archive.size());
    Setup::setProcessArguments(1, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
}

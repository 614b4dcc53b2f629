// The player over the demo's own content with a running order that loops
// every three seconds: each pass loads two metascripts (the first one stays,
// the second is freed), starts the tune, cross-fades and goes back to its
// start. The two are the demo's own with one more scene, an object with a
// looping sound, so each holds a channel and its thread. A long run of it
// shows whether anything piles up pass after pass.
//   quillon_looping [SCRIPT]   SCRIPT: a running order to use instead
#include "app/setup.h"
#include "app/win_main.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "platform/win32/resources.h"
#include "tools/sarpack/sar_writer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kLoopScript = R"(; restarts every three seconds
0:00.000 restart
0:00.000 loadmetascript loop1.mts
0:00.000 activemeta loop1
0:00.000 start scenes/intro
0:00.000 cam scenes/intro 0
0:00.000 playogg music/demotune.ogg
0:01.000 start scenes/hall
0:01.000 xfade scenes/hall 800
0:02.000 loadmetascript loop2.mts
0:02.000 activemeta loop2
0:02.000 start scenes/outro
0:02.000 cam scenes/outro 0
0:02.900 activemeta loop1
0:02.900 freemeta loop2
0:03.000 stopsound
)";

const char* kHumScene = "LWSC\n3\nAddNullObject hum\n// sound sounds/hum.ogg\n";

// Archive 130 again, with scene.scr replaced and the looping metascripts
// added; stored unpacked, so making it costs no more than reading the
// original.
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
    std::string script = kLoopScript;
    if (argc > 1) {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "quillon_looping: cannot read %s\n", argv[1]);
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        script = text.str();
    }
    static std::vector<u8> archive; // resources live as long as the process
    if (!replaceScript(script, archive)) {
        std::fprintf(stderr, "quillon_looping: the demo's archive cannot be read\n");
        return 2;
    }
    platform::registerResource("SARFILE", 130, archive.data(), archive.size());
    Setup::setProcessArguments(1, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
}

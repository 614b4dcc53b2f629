// The player over the demo's own content with a running order that loops
// every three seconds: each pass loads both metascripts (the first one stays,
// the second is freed), starts the tune, cross-fades and goes back to its
// start.
// A long run of it shows whether anything piles up pass after pass.
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
0:00.000 loadmetascript meta1.mts
0:00.000 activemeta meta1
0:00.000 start scenes/intro
0:00.000 cam scenes/intro 0
0:00.000 playogg music/demotune.ogg
0:01.000 start scenes/hall
0:01.000 xfade scenes/hall 800
0:02.000 loadmetascript meta2.mts
0:02.000 activemeta meta2
0:02.000 start scenes/outro
0:02.000 cam scenes/outro 0
0:02.900 activemeta meta1
0:02.900 freemeta meta2
0:03.000 stopsound
)";

// Archive 130 again, with scene.scr replaced; stored unpacked, so making it
// costs no more than reading the original.
bool replaceScript(const std::string& script, std::vector<u8>& out)
{
    ResourceStream resource("SARFILE", 130, "SARFILE130");
    if (!resource.found())
        return false;
    SarArchive archive(resource);
    if (!archive.mount("SARFILE130"))
        return false;
    SarWriter writer;
    if (!writer.add("scene.scr", reinterpret_cast<const u8*>(script.data()), script.size(), 0))
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

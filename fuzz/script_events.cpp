// Fuzz target for the script's events over the demo content.
// Reaches: Demo::runScriptEvents with arbitrary event lists, in rising time
// and over several calls: every keyword id (and unknown ones) with names
// from the content and a few that match nothing, metascenes loaded,
// activated, freed, made again and loaded again under a name they hold, fades and render targets on freed
// metascenes, the restart loop, music play commands. Checks (sanitizers):
// no access into a freed metascene, no hang, no overrun.
#include "demo/demo.h"
#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/image_cache.h"
#include "media/sound.h"
#include "platform/d3d9/adapter_profiles.h"
#include "platform/win32/resources.h"
#include "scene/scene_interaction.h"
#include "tools/sarpack/sar_writer.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

LRESULT CALLBACK outputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

// The demo archive with every entry stored unpacked, registered once: the
// loads read the same bytes without decoding them again for every input
// (the decoder has targets of its own).
constexpr WORD kUnpackedArchive = 1130;

bool registerUnpackedArchive()
{
    static std::vector<u8> bytes;
    ResourceStream resource("SARFILE", 130, "SARFILE130");
    SarArchive archive(resource);
    if (!archive.mount("SARFILE130"))
        return false;
    SarWriter writer;
    for (i32 i = 0; i < archive.count; ++i) {
        const SarEntry& entry = archive.entries[i];
        if (!archive.open(entry.name))
            return false;
        std::vector<u8> data(archive.content.bytes.size);
        if (!data.empty())
            std::memcpy(data.data(), archive.content.bytes.data, data.size());
        archive.close();
        if (!writer.add(entry.name, data, 0))
            return false;
    }
    bytes = writer.build();
    return platform::registerResource("SARFILE", kUnpackedArchive, bytes.data(), bytes.size());
}

// The pictures the content uses, decoded once and kept in the image cache
// (the demo's cache keeps them for its whole run too): each input's loads
// find them there. The first pictureCount records are these; what an input
// adds is trimmed after it, so every input starts from the same cache.
size_t warmImageCache(Engine* engine)
{
    Demo demo(engine);
    ResourceStream resource("SARFILE", kUnpackedArchive, "SARFILE130");
    demo.archive = new SarArchive(resource);
    if (!demo.archive->mount("SARFILE130"))
        return 0;
    for (const char* name : {"meta1.mts", "meta2.mts"})
        delete MetaScene::loadMetascript(name, engine, demo.archive, nullptr);
    if (Image* font = loadImage(*demo.archive, "small.bmp", false))
        font->release();
    return imageCache.size();
}

// One small headless device, its effects loaded once.
struct Outputs {
    DisplayManager manager;
    std::unique_ptr<Engine> engine;
    bool unpacked = false;
    size_t pictureCount = 0;

    Outputs()
    {
        platform::installAdapterProfiles({platform::defaultAdapterProfile()});
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = outputProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "FuzzOutput";
        RegisterClassExA(&wc);
        DisplaySettings& s = *manager.settings;
        s.windowed = 1;
        s.windowWidth = 64;
        s.windowHeight = 48;
        s.noSound = 1;
        if (!manager.enumerateAdapters())
            return;
        manager.collectDisplayFormats(s.adapter);
        manager.collectTextureFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.windowed);
        manager.collectDepthFormats(s.adapter, D3DDEVTYPE_HAL, s.adapterFormat, s.backBufferFormat);
        if (!manager.createDevices("FuzzOutput", GetModuleHandleA(nullptr)))
            return;
        engine = std::make_unique<Engine>(&manager);
        attachSceneInteraction(engine.get());
        ResourceStream effects("SARFILE", 132, "SARFILE132");
        SarArchive archive(effects);
        if (!archive.mount("SARFILE132") || !engine->loadEffects(&archive)) {
            engine.reset();
            return;
        }
        engine->sound = new Sound();
        unpacked = registerUnpackedArchive();
        if (unpacked)
            pictureCount = warmImageCache(engine.get());
    }
    // The pictures go before the cache itself does at exit, or the leak
    // check at the end would find them unreachable.
    ~Outputs() { clearImageCache(); }
};

const char* const kNames[] = {
    "meta1.mts", "meta2.mts", "meta1", "meta2", "built", "scenes/intro", "scenes/hall", "scenes/outro",
    "SCENES/H", "", "x", "objects/monitor.lwo@Screen", "objects/panel.lwo@Panel", "objects/", "music/demotune.ogg",
    "nothing.ogg", "objects/crate.lwo", "font.lwo", "TITLE", "AB C",
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data(data), size(size) {}
    u8 next() { return at < size ? data[at++] : 0; }
    bool done() const { return at >= size; }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

} // namespace

// No leak check after each input: the GL driver's threads and the
// engine's compiled variants keep memory across inputs, so nearly every
// input would be run a second time under a whole-heap scan, nine tenths of
// the time spent. LeakSanitizer still checks the heap when the run ends. A
// -detect_leaks given on the command line comes later and wins.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static std::vector<char*> args;
    static char noLeakCheck[] = "-detect_leaks=0";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + (args.empty() ? 0 : 1), noLeakCheck);
    args.push_back(nullptr);
    *argc = int(args.size() - 1);
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Outputs outputs;
    if (!outputs.engine || !outputs.unpacked)
        return 0;
    diagnosticsLevel = 1;

    struct TrimCache {
        size_t keep;
        ~TrimCache() { trimImageCache(keep); }
    } trimCache{outputs.pictureCount}; // after the demo has gone
    Demo demo(outputs.engine.get());
    ResourceStream resource("SARFILE", kUnpackedArchive, "SARFILE130");
    demo.archive = new SarArchive(resource);
    if (!demo.archive->mount("SARFILE130"))
        return 0;

    // Per event: a time step, a keyword row, one byte per argument. Loads
    // are slow, so at most four metascripts.
    Bytes in(data, size);
    i32 time = 0;
    int loads = 0;
    while (!in.done() && demo.events.size() < 48) {
        const u8 step = in.next();
        time += step & 0x80 ? (step & 0x7F) * 100 : 0;
        const ScriptKeyword& row = scriptKeywords[in.next() % kScriptKeywordCount];
        ScriptEvent event{};
        event.time = time;
        event.id = row.id;
        if (row.id == 2 && ++loads > 4)
            continue;
        for (u32 i = 0; i < row.argumentCount(); ++i) {
            const u8 b = in.next();
            switch (row.argumentKind(i)) {
            case kScriptString:
                event.args[i].text = kNames[b % kNameCount];
                break;
            case kScriptInteger:
                event.args[i].integer = b < 250 ? i32(b) - 4 : (b == 250 ? INT32_MIN : INT32_MAX);
                break;
            default:
                event.args[i].real = b < 250 ? float(b) * 0.05f - 1.0f : (b == 250 ? 0.0f : 1e30f);
                break;
            }
        }
        for (u32 i = row.argumentCount(); i < 8; ++i)
            event.args[i].text = "";
        demo.events.push_back(event);
    }

    // The events run over a few frames' worth of calls, as the frame would;
    // a failing event stops the run like the frame does. A restart loop that
    // frees a metascene loads it again on every pass, so the run also stops
    // once it has run a few more than four loads (each starts at 0 on the
    // loading bar).
    int loadsRun = 0;
    demo.loadingProgressProbe = [&](float fraction) { loadsRun += fraction == 0.0f; };
    for (i32 now = 0; now <= time + 100 && loadsRun <= 8; now += 250) {
        demo.time = now * 0.001;
        if (!demo.runScriptEvents(now))
            break;
    }
    return 0;
}

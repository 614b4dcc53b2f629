// The used-files report over the demo's own metascenes, as the demo loads
// them from archive 130.
#include "demo/demo.h"
#include "demo/used_files_report.h"

#include "foundation/sar_archive.h"
#include "lightwave/meta_scene.h"
#include "materials/image_cache.h"

#include "demo/demo_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

using namespace demotest;

// Texture names with no file behind them (generated: a gradient has no name,
// mirrors and per-surface targets are named after what they render), and
// the fixed music name as the report writes it.
const std::set<std::string> kNotFiles = {"", "(reflection)", "objects/room.lwo@Floor", "objects/room.lwo@Wall",
                                         "demotune.mp3"};

const char* const kMeta1 = R"(-------- unsorted files ----------
loading.jpg
scene.scr
meta1.mts
scenes/intro.lws
scenes/hall.lws
scenes/fx.lws
crate.jpg
crate_bump.jpg
seq/frame001.jpg

floor.tga
wall.pcx
objects/room.lwo@Floor
objects/room.lwo@Wall
env.jpg
(reflection)
decal.tga
mask.bmp
grey.jpg
metal.jpg
panel_noscale.jpg
videos/screen.avi
objects/crate.lwo
objects/seq.lwo
objects/grad.lwo
objects/lumi.lwo
objects/room.lwo
objects/mirror.lwo
objects/ball.lwo
objects/chrome.lwo
objects/glass.lwo
objects/pillar.lwo
objects/monitor.lwo
objects/panel.lwo
objects/AntiPortal.lwo
objects/tube.lwo
objects/video.lwo
objects/backdrop.lwo
objects/partigon.lwo
-------- used files ----------

(reflection)
crate.jpg
crate_bump.jpg
decal.tga
demotune.mp3
env.jpg
floor.tga
grey.jpg
loading.jpg
mask.bmp
meta1.mts
metal.jpg
objects/AntiPortal.lwo
objects/backdrop.lwo
objects/ball.lwo
objects/chrome.lwo
objects/crate.lwo
objects/glass.lwo
objects/grad.lwo
objects/lumi.lwo
objects/mirror.lwo
objects/monitor.lwo
objects/panel.lwo
objects/partigon.lwo
objects/pillar.lwo
objects/room.lwo
objects/room.lwo@Floor
objects/room.lwo@Wall
objects/seq.lwo
objects/tube.lwo
objects/video.lwo
panel_noscale.jpg
scene.scr
scenes/fx.lws
scenes/hall.lws
scenes/intro.lws
seq/frame001.jpg
videos/screen.avi
wall.pcx
)";

const char* const kMeta2 = R"(-------- unsorted files ----------
loading.jpg
scene.scr
meta1.mts
scenes/outro.lws
crate.jpg
crate_bump.jpg
objects/crate.lwo
-------- used files ----------
crate.jpg
crate_bump.jpg
demotune.mp3
loading.jpg
meta1.mts
objects/crate.lwo
scene.scr
scenes/outro.lws
)";

std::string logFrom(std::streamoff start)
{
    std::ifstream log("nga.out", std::ios::binary);
    log.seekg(start);
    return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
}

TEST(UsedFilesContent, DemoMetascenesListTheirArchiveEntries)
{
    Rig rig{160, 120};
    REQUIRE_DEVICES(rig);
    auto demo = std::make_unique<Demo>(rig.engine.get());
    ASSERT_TRUE(demo->init(&rig.manager));

    // The entries as "sarpack list" shows them.
    std::set<std::string> entries;
    for (int i = 0; i < demo->archive->count; ++i)
        entries.insert(demo->archive->entries[i].name);

    const struct {
        const char* metascript;
        const char* report;
    } cases[] = {{"meta1.mts", kMeta1}, {"meta2.mts", kMeta2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.metascript);
        std::unique_ptr<MetaScene> meta(
            MetaScene::loadMetascript(c.metascript, rig.engine.get(), demo->archive, demo.get()));
        ASSERT_NE(meta, nullptr);
        std::streamoff start = std::ifstream("nga.out", std::ios::binary | std::ios::ate).tellg();
        reportUsedFiles(*meta);
        EXPECT_EQ(logFrom(std::max<std::streamoff>(start, 0)), c.report);

        std::istringstream lines(c.report);
        for (std::string name; std::getline(lines, name);) {
            if (name.starts_with("--------") || kNotFiles.contains(name))
                continue;
            std::replace(name.begin(), name.end(), '/', '\\');
            EXPECT_TRUE(entries.contains(name)) << name;
        }
    }
    demo.reset();
    clearImageCache();
}

} // namespace

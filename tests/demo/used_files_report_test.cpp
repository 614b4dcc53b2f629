#include "demo/used_files_report.h"

#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(UsedFilesReport, ListsInOrderThenSortedOnceWithTheFixedNames)
{
    MetaScene meta(nullptr, "meta");
    for (const char* name : {"walls.lwo", "chair.lwo", "walls.lwo"})
        meta.lwObjects.push_back(new LWObject(&meta, name));
    meta.lwObjects.push_back(nullptr);
    std::ostringstream out;
    reportUsedFiles(meta, out);
    EXPECT_EQ(out.str(), "-------- unsorted files ----------\n"
                         "loading.jpg\nscene.scr\nmeta1.mts\nwalls.lwo\nchair.lwo\nwalls.lwo\n"
                         "-------- used files ----------\n"
                         "chair.lwo\ndemotune.mp3\nloading.jpg\nmeta1.mts\nscene.scr\nwalls.lwo\n");
}

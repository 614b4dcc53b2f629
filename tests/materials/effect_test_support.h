// Effect files packed into a SAR archive in the test's working folder and
// mounted on a file stream, as the engine gets them.
#pragma once

#include "foundation/file_stream.h"
#include "foundation/sar_archive.h"
#include "materials/sourcefile.h"
#include "tools/sarpack/sar_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Files packed into a SAR archive in the test's working folder and mounted
// on a file stream: the file source the demo hands to the engine.
using EffectFiles = std::map<std::string, std::string>; // name -> text

class EffectArchive {
public:
    // (A plain map parameter would also take two names as an iterator range.)
    EffectArchive(std::initializer_list<EffectFiles::value_type> files)
        : EffectArchive(EffectFiles(files), 0)
    {
    }
    static std::unique_ptr<EffectArchive> of(const EffectFiles& files)
    {
        return std::unique_ptr<EffectArchive>(new EffectArchive(files, 0));
    }
    EffectArchive(const EffectArchive&) = delete;
    EffectArchive& operator=(const EffectArchive&) = delete;

private:
    EffectArchive(const EffectFiles& files, int)
        // Unique among the archives alive at once, whichever file made them.
        : path("effects_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" +
               std::to_string(++serial) + ".sar")
    {
        SarWriter writer;
        for (const auto& [name, text] : files)
            EXPECT_TRUE(writer.add(name, reinterpret_cast<const u8*>(text.data()), text.size())) << writer.error();
        const std::vector<u8> bytes = writer.build();
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        archive = std::make_unique<SarArchive>(disk);
        mounted = archive->mount(path.c_str());
        EXPECT_TRUE(mounted);
    }
public:
    ~EffectArchive()
    {
        archive.reset();
        std::remove(path.c_str());
    }

    // A Sourcefile over a fresh reader of the archive, as the engine makes.
    std::unique_ptr<Sourcefile> sourcefile() { return std::make_unique<Sourcefile>(archive->clone()); }

    std::string path; // the mount keeps a pointer to it
    FileStream disk{""};
    std::unique_ptr<SarArchive> archive;
    bool mounted = false;

private:
    static inline int serial = 0;
};

} // namespace

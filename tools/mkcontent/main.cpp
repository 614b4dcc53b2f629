// mkcontent: writes content files from the C++ emitters.
//   mkcontent --list            names every file it can write
//   mkcontent OUTDIR [NAME...]  writes the named files (all without names)
//                               under OUTDIR, making folders as needed
#include "tools/mkcontent/content.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv)
{
    using namespace mkcontent;
    const std::vector<ContentFile> files = allContentFiles();
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const ContentFile& file : files)
            std::printf("%s\n", file.name.c_str());
        return 0;
    }
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: mkcontent --list | mkcontent OUTDIR [NAME...]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::vector<const ContentFile*> chosen;
    for (int i = 2; i < argc; ++i) {
        const ContentFile* file = findContentFile(files, argv[i]);
        if (!file) {
            std::fprintf(stderr, "mkcontent: no content named %s\n", argv[i]);
            return 1;
        }
        chosen.push_back(file);
    }
    if (argc == 2)
        for (const ContentFile& file : files)
            chosen.push_back(&file);

    for (const ContentFile* file : chosen) {
        const std::filesystem::path path = root / file->name;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        const std::string bytes = file->build();
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "mkcontent: cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}

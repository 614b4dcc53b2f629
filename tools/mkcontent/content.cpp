#include "tools/mkcontent/content.h"

namespace mkcontent {

std::vector<ContentFile> allContentFiles()
{
    std::vector<ContentFile> all;
    for (auto list : {lwo2Files, lwsFiles})
        for (ContentFile& file : list())
            all.push_back(std::move(file));
    return all;
}

const ContentFile* findContentFile(const std::vector<ContentFile>& files, const std::string& name)
{
    for (const ContentFile& file : files)
        if (file.name == name)
            return &file;
    return nullptr;
}

} // namespace mkcontent

#include "materials/image_cache.h"

#include "foundation/file_names.h"
#include "materials/image_readers.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

std::vector<RefCountBase*> imageCache;

namespace {

// Images and file data share the cache but are only found as their own
// kind, so a name loaded both ways never hands out the wrong record.
template <class Record>
Record* findCached(const char* name)
{
    for (RefCountBase* entry : imageCache) {
        auto* record = dynamic_cast<Record*>(entry);
        if (record && sameFileName(record->name.c_str(), name))
            return record;
    }
    return nullptr;
}

bool endsWith(const char* name, size_t length, const char* ending)
{
    return length >= 3 && _stricmp(name + length - 3, ending) == 0;
}

bool lastWriteTime(const char* name, FILETIME& time)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(name, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    time = found.ftLastWriteTime;
    return true;
}

// Whether the disk file the derived one was made from (its name without
// the last four characters) is newer than the derived file.
bool isStale(const char* name)
{
    const size_t length = std::strlen(name);
    if (length <= 4)
        return false;
    const String sourceName = String::format("%.*s", (int)(length - 4), name);
    FILETIME derived;
    FILETIME original;
    return lastWriteTime(name, derived) && lastWriteTime(sourceName.c_str(), original) &&
           CompareFileTime(&original, &derived) > 0;
}

} // namespace

Image* loadImage(Stream& source, const char* name, bool bottomUp)
{
    if (!name)
        return nullptr;
    if (Image* cached = findCached<Image>(name)) {
        cached->addRef();
        return cached;
    }
    if (!source.exists(name))
        return nullptr;
    std::unique_ptr<Stream> file(source.clone());
    if (!file)
        return nullptr;
    const size_t length = std::strlen(name);
    Image* image = nullptr;
    if (endsWith(name, length, "bmp"))
        image = loadBMP(*file, name, bottomUp);
    else if (endsWith(name, length, "jpg"))
        image = loadJPEG(*file, name, bottomUp);
    else if (endsWith(name, length, "tga"))
        image = loadTGA(*file, name);
    else if (endsWith(name, length, "pcx"))
        image = loadPCX(*file, name, bottomUp);
    if (!image)
        return nullptr;
    // The reader's reference is the cache's; the caller gets its own.
    imageCache.push_back(image);
    image->addRef();
    return image;
}

bool isImageCached(const char* name)
{
    return name && findCached<Image>(name) != nullptr;
}

void forgetCachedImage(Image* image)
{
    for (auto at = imageCache.begin(); at != imageCache.end(); ++at)
        if (*at == image) {
            imageCache.erase(at);
            image->release();
            return;
        }
}

FileData* loadFileCached(Stream& source, const char* name)
{
    if (!name)
        return nullptr;
    if (FileData* cached = findCached<FileData>(name)) {
        cached->addRef();
        return cached;
    }
    if (!source.exists(name) || isStale(name))
        return nullptr;
    std::unique_ptr<Stream> file(source.clone());
    if (!file || !file->open(name))
        return nullptr;
    const u32 size = file->size;
    u8* data = new (std::nothrow) u8[((u64)size + 3) & ~(u64)3];
    const bool complete = data && file->read(data, size) == size;
    file->close();
    if (!complete) {
        delete[] data;
        return nullptr;
    }
    auto* record = new FileData;
    record->size = size;
    record->data = data;
    std::memset(data + size, 0, (size_t)((((u64)size + 3) & ~(u64)3) - size));
    record->name = String(name);
    imageCache.push_back(record);
    record->addRef();
    return record;
}

void clearImageCache()
{
    trimImageCache(0);
}

void trimImageCache(size_t keep)
{
    if (keep >= imageCache.size())
        return;
    std::vector<RefCountBase*> entries(imageCache.begin() + std::ptrdiff_t(keep), imageCache.end());
    imageCache.resize(keep);
    for (RefCountBase* entry : entries) {
        if (auto* image = dynamic_cast<RawImage*>(entry))
            image->release();
        else if (auto* file = dynamic_cast<FileData*>(entry))
            file->release();
    }
}

// The process-wide cache of decoded images and raw file data, so that a
// file used by several surfaces is read once. Entries are found by name as
// the archives match names (sameFileName), whatever stream they came from.
//
// Every cached record holds one reference on behalf of the cache for as
// long as it is cached (until clearImageCache), so a cached record is never
// deleted under the cache. Each successful load hands the caller one more
// reference of its own, which the caller releases. A failed load caches
// nothing: the next request reads (and reports) the file again.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/ref_count_base.h"
#include "foundation/stream.h"
#include "materials/image.h"

#include <cstddef>
#include <vector>

// The bytes of a whole file, kept for the texture loader (.dds files).
class FileData : public RefCountBase {
public:
    u32 refCount = 1;
    u32 size = 0;       // bytes of the file
    u8* data = nullptr; // allocated rounded up to a multiple of 4 bytes
    String name;

    ~FileData() override { delete[] data; }
    void addRef() { ++refCount; }
    void release()
    {
        if (--refCount == 0)
            delete this;
    }
};

// Cached Images and FileData records, in the order they were loaded.
extern std::vector<RefCountBase*> imageCache;

// The image of that name: from the cache (one more reference), or read
// through a clone of source by the reader the name's last three characters
// choose ("bmp", "jpg", "tga", "pcx", any letter case) and then cached.
// Null when the source does not know the name, the ending is none of these
// (".jpeg" included), or the reader fails.
Image* loadImage(Stream& source, const char* name, bool bottomUp);

// The whole file of that name, from the cache or read through a clone of
// source and cached. Null when the source does not know it, or when it is
// a derived file (the texture loader's "<picture>.dds") older than the
// disk file named without its last four characters, so that a stale .dds
// is passed over; names of four characters or fewer skip that check.
FileData* loadFileCached(Stream& source, const char* name);

// Whether an image of that name is cached (so loadImage decodes nothing).
bool isImageCached(const char* name);
// Takes image out of the cache and drops the cache's reference: a picture
// its user could not afford is not kept for the rest of the run.
void forgetCachedImage(Image* image);

// Drops the cache's own references and empties it; records still held
// elsewhere live on until their last holder releases them.
void clearImageCache();
// The same for every record after the first keep, which stay cached.
void trimImageCache(size_t keep);

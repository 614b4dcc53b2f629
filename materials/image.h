// Decoded pictures. BMP, JPEG and PCX files become 32-bit 0xAARRGGBB words
// (bytesPerPixel 0); TGA files keep their own 3 or 4 bytes per pixel in the
// file's byte order (blue, green, red[, alpha]). Rows run top first, or
// bottom first where the reader was asked for bottom-up order (TGA images
// keep the file's row order).
//
// A record starts with one reference. Images that come from the cache carry
// the cache's own reference for the whole run, so only the holders' counts
// move: each holder adds one and releases its own.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/ref_count_base.h"
#include "foundation/types.h"

class RawImage : public RefCountBase {
public:
    u32 refCount = 1;
    // width x height pixels; word-aligned even when a pixel has 3 bytes.
    u32* pixels = nullptr;
    String name; // the file name it was loaded under
    i32 width = 0;
    i32 height = 0;
    i32 bytesPerPixel = 0; // 3 or 4 for TGA images, 0 for 0xAARRGGBB words

    void addRef() { ++refCount; }
    // Drops one reference; the last one deletes the record.
    void release()
    {
        if (--refCount == 0)
            delete this;
    }
    u8* bytes() { return reinterpret_cast<u8*>(pixels); }
    const u8* bytes() const { return reinterpret_cast<const u8*>(pixels); }
    // The pixel at (x, y) of a 0xAARRGGBB image.
    u32 pixel(i32 x, i32 y) const { return pixels[(u64)y * (u32)width + (u32)x]; }
};

class Image : public RawImage {
public:
    ~Image() override { delete[] pixels; }
};

#include "materials/image.h"

#include "foundation/diagnostics.h"
#include "materials/image_readers.h"
#include "materials/image_readers_local.h"

#include <windows.h>

#include <new>

u64 imageMaxBytes = limits::pictureBytes;

void showImageError(const char* text)
{
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
}

u64 imageBlockBytes(i64 width, i64 height, i32 bytesPerPixel)
{
    if (width <= 0 || height <= 0 || width > kImageMaxSide || height > kImageMaxSide)
        return 0;
    const u64 pixelBytes = bytesPerPixel ? (u64)bytesPerPixel : 4u;
    const u64 bytes = (u64)width * (u64)height * pixelBytes;
    return bytes <= imageMaxBytes ? bytes : 0;
}

Image* newImage(const char* name, i64 width, i64 height, i32 bytesPerPixel)
{
    const u64 bytes = imageBlockBytes(width, height, bytesPerPixel);
    if (bytes == 0 || bytes > (u64)SIZE_MAX - 3)
        return nullptr;
    u32* pixels = new (std::nothrow) u32[(size_t)((bytes + 3) / 4)];
    if (!pixels)
        return nullptr;
    Image* image = new Image;
    image->pixels = pixels;
    image->name = String(name ? name : "");
    image->width = (i32)width;
    image->height = (i32)height;
    image->bytesPerPixel = bytesPerPixel;
    return image;
}

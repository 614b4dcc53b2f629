// What the picture readers share: the "Error" box and the checked pixel
// block allocation.
#pragma once

#include "materials/image.h"

// The box every reader shows on failure, only at diagnostics level 1 or
// more.
void showImageError(const char* text);

// A new Image of that size and pixel size (0 for 0xAARRGGBB words), its
// pixel block allocated but not cleared; null when a side is not positive
// or above kImageMaxSide, the block exceeds imageMaxBytes, or memory runs
// out.
Image* newImage(const char* name, i64 width, i64 height, i32 bytesPerPixel);

// Bytes of the pixel block that newImage would allocate, or 0 when the
// size is refused.
u64 imageBlockBytes(i64 width, i64 height, i32 bytesPerPixel);

// The picture file readers and the PCX writer. Each reader opens the named
// file on the stream it is given, reads it whole and closes it again; it
// returns a new Image holding one reference, or null on any failure, after
// an "Error" box at diagnostics level 1 or more. Nothing a file says is
// trusted: sizes are checked in 64 bits against imageMaxBytes before any
// allocation, run-length data is bounded by the pixel block and by the
// data, and a file cut short is a failure (JPEG excepted: its decoder
// finishes a cut stream with what it decoded, see loadJPEG).
#pragma once

#include "foundation/engine_limits.h"
#include "foundation/stream.h"
#include "materials/image.h"

// Pictures with a side above kImageMaxSide, or pixel blocks larger than
// imageMaxBytes (the engine's picture limits), are refused by every reader
// before anything is allocated: a few hundred bytes of JPEG header can
// claim gigabytes. imageMaxBytes is a variable so tests can lower it.
constexpr i64 kImageMaxSide = limits::pictureSide;
extern u64 imageMaxBytes;

// Only uncompressed 8-bit BMP files with a 40-byte info header and the
// palette directly in front of the pixels; bottomUp keeps the file's own
// bottom-first row order, else the top row comes first.
Image* loadBMP(Stream& file, const char* name, bool bottomUp);

// Greyscale (1 component) and colour (3 components) JPEG files through
// libjpeg, into opaque 0xAARRGGBB words. A stream that ends early is
// closed with an end-of-image marker, so a cut file yields the rows the
// decoder could rebuild (the rest as libjpeg fills it); a file cut within
// its headers, or damaged past the decoder's recovery, fails.
Image* loadJPEG(Stream& file, const char* name, bool bottomUp);

// Uncompressed (type 2) and run-length (type 10) true-colour TGA files of
// 16, 24 or 32 bits per pixel, up to 4096 x 4096. 24- and 32-bit pixels
// keep their bytes; 16-bit pixels widen to 3 bytes, or to 4 when the
// header gives exactly one alpha bit (the top bit of each pixel). Rows stay
// in file order whatever the origin bits say.
Image* loadTGA(Stream& file, const char* name);

// 8-bit single-plane run-length PCX files with a 256-colour palette behind
// a 0x0C marker at the end of the file. Lines longer than the image (the
// header's bytes per line) have their padding dropped.
Image* loadPCX(Stream& file, const char* name, bool bottomUp);

// Writes width x height palette indices (top row first) and a 768-byte RGB
// palette as an 8-bit run-length PCX file, created with file.create(name).
// Lines are padded to an even length, as PCX readers expect.
bool savePCX(Stream& file, const char* name, i32 width, i32 height, const u8* indices, const u8* palette);

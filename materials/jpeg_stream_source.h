// A libjpeg source manager over an open Stream. It reads the stream in
// 4096-byte blocks; when the data runs out it supplies an end-of-image
// marker (0xFF 0xD9), so that a file cut short ends like a whole one.
#pragma once

#include "foundation/stream.h"

#include <cstdio>
#include <jpeglib.h>

// The manager lives in the decompressor's own memory pool and goes with
// it; the stream must stay open while the decompressor reads.
void jpegStreamSource(j_decompress_ptr cinfo, Stream* stream);

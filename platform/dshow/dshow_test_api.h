// Test switches of the DirectShow stand-in.
#pragma once

#include "platform/win32/win_types.h"

#include <cstdint>

namespace platform::dshow {

// Appends an entry to the video compressor category using the FFmpeg
// encoder named; a null friendlyName gives a moniker without the
// "FriendlyName" property.
void addTestCompressor(const char* encoder, const char* friendlyName);
void clearTestCompressors();

// RenderFile of "test:W,H,N" (optionally ",gap" for frames whose time stamps
// are missing, ",back" for time stamps that go back) plays N frames of
// W x H, 25 per second, frame k filled with testFrameColour(k).
uint32_t testFrameColour(int frame);

// Live objects of the stand-in's own DirectShow classes (graphs, filters,
// allocators) now.
long liveObjectCount();

} // namespace platform::dshow

// Test switches of the Direct3D 9 device: simulated device loss, failing
// resets, and counters that show what the device did on the GL side.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"

#include <cstddef>

namespace platform::d3d9 {

// While lost is set, the device behaves as if its window were minimised:
// TestCooperativeLevel, Present and Reset answer D3DERR_DEVICELOST. After it
// is cleared, TestCooperativeLevel answers D3DERR_DEVICENOTRESET until a
// Reset succeeds.
void forceDeviceLost(IDirect3DDevice9* device, bool lost = true);
// The next Reset fails with D3DERR_DEVICELOST and leaves the device lost
// (D3DERR_DEVICENOTRESET) until a later Reset succeeds.
void failNextReset(IDirect3DDevice9* device);
// The next LockRect of any surface or texture level of the device fails
// with D3DERR_INVALIDCALL; so does its next CreateOffscreenPlainSurface.
void failNextLockRect(IDirect3DDevice9* device);
void failNextCreateOffscreenPlainSurface(IDirect3DDevice9* device);
// Shader programs the device has linked and keeps.
size_t cachedShaderPrograms(IDirect3DDevice9* device);
// True when the device presents into an SDL window (false: headless).
bool deviceShowsInWindow(IDirect3DDevice9* device);
// GL state changes (groups of calls) the device issued for draws so far.
unsigned long long glStateChangeCount(IDirect3DDevice9* device);

} // namespace platform::d3d9

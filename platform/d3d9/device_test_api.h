// Test switches of the Direct3D 9 device: simulated device loss, failing
// resets, counters that show what the device did on the GL side, and a log
// of the calls the device received.
#pragma once

#include "platform/d3d9/d3d9_interfaces.h"

#include <cstddef>
#include <string>
#include <vector>

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
// Texels of surfaces and texture levels the device sent to GL so far.
unsigned long long uploadedTexelCount(IDirect3DDevice9* device);
// While set, CreateVertexBuffer and CreateIndexBuffer of this device fail
// with D3DERR_OUTOFVIDEOMEMORY (as a full video memory would).
void failBufferCreation(IDirect3DDevice9* device, bool fail = true);
// While set, CreateVertexShader (vertex) or CreatePixelShader (pixel) of
// this device refuse any code with D3DERR_INVALIDCALL, as a device without
// support for the code's shader version does.
void refuseShaderCode(IDirect3DDevice9* device, bool vertex, bool pixel);
// While set, the draw calls of this device do everything but rasterise:
// states, programs, uploads and counters as usual, no GL draw (benchmarks
// time the rest of a frame with it).
void skipDraws(IDirect3DDevice9* device, bool skip = true);

// One logged device call, recorded on entry with the caller's arguments
// (before validation, so refused calls are logged too).
struct DeviceCall {
    std::string name;         // the method name, e.g. "SetRenderState"
    std::vector<double> args; // numbers in parameter order; an interface
                              // pointer is 1 when set and 0 when null
    // What a pointer argument points at: matrix, light, material, viewport,
    // constants, clip plane, scissor rectangle, UP vertices.
    std::vector<unsigned char> data;
    std::vector<unsigned char> indices; // DrawIndexedPrimitiveUP's indices
};

// Switches the call log of one device on or off; switching empties it. Off
// by default, and then costs one test per call.
void setCallLogging(IDirect3DDevice9* device, bool on);
// The calls logged since logging started or since the last take; empties
// the log.
std::vector<DeviceCall> takeCallLog(IDirect3DDevice9* device);

} // namespace platform::d3d9

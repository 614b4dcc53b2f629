// The glslang side of the HLSL translator. glslang keeps global state:
// every call below runs under compileMutex, after initialiseGlslang.
#pragma once

#include "platform/d3dx9/hlsl_translator.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform::d3dx9 {

std::mutex& compileMutex();
void initialiseGlslang();

// Runs work on a thread with a stack large enough for glslang's recursion
// within the guard's bounds. False when no thread could be made, or the
// work threw or returned false.
bool onLargeStack(const std::function<bool()>& work);

// The same on a thread kept for the process, made on first use: what a new
// thread costs (its creation, the first touches of its stack, a fresh
// glslang pool) is as much as a tenth of a compile. Falls back on
// onLargeStack when the thread cannot be made or belongs to a parent
// process. Calls are serialised by compileMutex.
bool onCompileThread(const std::function<bool()>& work);

// Guards, parses and links the request's source to SPIR-V, with the
// globals the shader never reads left out; false with D3DX-shaped errors
// added to errors.
bool hlslToSpirv(const HlslCompileRequest& request, std::vector<unsigned>& spirv, std::string& errors);

} // namespace platform::d3dx9

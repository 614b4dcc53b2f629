// The glslang side of the HLSL translator. glslang runs in helper processes
// (compile_helper.h), forked after initialiseGlslang has built its tables.
// Every call below runs under compileMutex: compiles share it, the syntax
// check holds it alone, as it may fork a helper, which must not inherit a
// lock that a compile running in this process (setCompilesInProcess) holds.
#pragma once

#include "platform/d3dx9/hlsl_translator.h"

#include <functional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace platform::d3dx9 {

std::shared_mutex& compileMutex();
void initialiseGlslang();

// Runs work on a thread with a stack large enough for glslang's recursion
// within the guard's bounds. False when no thread could be made, or the
// work threw or returned false.
bool onLargeStack(const std::function<bool()>& work);

// The same on one of two threads kept for the process, made on first use:
// what a new thread costs (its creation, the first touches of its stack, a
// fresh glslang pool) is as much as a tenth of a compile. Two, so that a
// variant's vertex and pixel shaders compile at once. Falls back on
// onLargeStack when both are busy or cannot be made.
bool onCompileThread(const std::function<bool()>& work);

// Guards, parses and links the request's source to SPIR-V, with the
// globals the shader never reads left out, in a helper process; false with
// D3DX-shaped errors added to errors.
bool hlslToSpirv(const HlslCompileRequest& request, std::vector<unsigned>& spirv, std::string& errors);

} // namespace platform::d3dx9

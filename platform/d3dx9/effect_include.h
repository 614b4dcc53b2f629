// #include expansion of the effect pre-pass: every #include line is replaced
// by the included text, read through the caller's ID3DXInclude (nested,
// depth-limited, an include cycle is an error), and out.lines tells for
// every line of out.text the file and line it came from.
#pragma once

#include "platform/d3dx9/effect_prepass.h"

namespace platform::d3dx9 {

// False with the error in out.errors.
bool expandIncludes(const char* text, size_t length, ID3DXInclude* include, EffectPrepass& out);

} // namespace platform::d3dx9

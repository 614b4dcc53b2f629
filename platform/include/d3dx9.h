// Umbrella header of the D3DX 9 stand-in.
#pragma once

#include <d3d9.h>

#include "platform/d3dx9/d3dx9_defs.h"
#include "platform/d3dx9/d3dx_math.h"
#include "platform/d3dx9/d3dx_buffer.h"
#include "platform/d3dx9/d3dx_include.h"
#include "platform/d3dx9/constant_table.h"
#include "platform/d3dx9/effect_compiler.h"
#include "platform/d3dx9/shader_code.h"
#include "platform/d3dx9/d3dx_texture.h"

// The compiled shader "code" that CreateVertexShader/CreatePixelShader take:
// GLSL 4.50 source made by the effect compiler plus the reflection the
// device and the constant tables need.
//
// Binary layout: little-endian 32-bit words, the whole blob a multiple of 4
// bytes. A string is a word with its byte length (without terminator), the
// bytes, a NUL, then zero bytes up to the next word boundary, so names can be
// handed out as C strings pointing into the blob.
//
//   header   magic 'QSHB', format version, stage (0 vertex, 1 pixel),
//            D3D version token (0xFFFE0200 = vs_2_0, 0xFFFF0200 = ps_2_0),
//            total byte size, FNV-1a checksum of the 20 bytes before it and
//            of every byte after the header
//   body     uniform block byte size, string GLSL source,
//            string uniform block name (empty when there is no block),
//            constant count + constants, upload range count + ranges,
//            sampler count + samplers, input count + inputs
//   constant string name, register set, first register, register count,
//            class, type, rows, columns, elements, block byte offset,
//            default byte count + default bytes (padded to a word)
//   range    register set, first register, register count, block byte
//            offset, byte stride between registers in the block
//   sampler  string HLSL name, string GLSL uniform name, register, type
//   input    usage, usage index, location
//
// Register files and the uniform block. Every float4, int4 and bool
// constant the shader uses lives in one std140 uniform block (block name in
// the blob, one per stage). Register r of an upload range is at byte
// offset + (r - firstRegister) * stride in the block:
//   - Float4 and Int4 registers: stride 16, copy the 16 bytes of the
//     register as they are (float bits for Float4, int bits for Int4). Every
//     constant starts on a 16-byte boundary and owns whole 16-byte slots, so
//     copying whole registers never touches a neighbour.
//   - Bool registers: one BOOL per register; write the 32-bit value
//     (0 or 1) at the offset. Scalars and arrays use stride 16, a bool
//     vector stride 4 (one register per component).
// So a device uploads with one memcpy per Float4/Int4 range.
//
// Matrices use the register layout of D3D9's default column-major packing:
// an RxC float matrix takes C registers, register i holding column i (R
// components). A float4x4 takes 4 registers, a float4x3 3. With the
// engine's row-vector matrices, uploading the transpose (what the constant
// table's SetMatrix does) makes mul(v, M) give D3D9's result. A row_major
// matrix takes R registers, register i holding row i.
//
// Samplers: GLSL uniforms without a binding; the device sets each to the
// texture unit of its register (s<i> -> unit i). They are listed in
// register order. Every vertex shader also declares
// `uniform vec2 dx_PosFixup` (see kPosFixupUniform).
//
// Vertex shader inputs are at the device's attribute locations by usage
// (POSITION 0, BLENDWEIGHT 1, BLENDINDICES 2, NORMAL 3, PSIZE 4, COLOR0 5,
// COLOR1 6, TANGENT 7, TEXCOORD0..7 8..15). Varyings are named and located
// by semantic, so separately compiled stages link.
#pragma once

#include "platform/win32/win_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::d3d9 {

inline constexpr uint32_t kShaderBlobMagic = 0x42485351;  // "QSHB"
inline constexpr uint32_t kShaderBlobVersion = 1;
inline constexpr size_t kShaderBlobHeaderBytes = 24;
// Upper bound the parser accepts for the total size; a shader is far smaller.
inline constexpr size_t kShaderBlobMaxBytes = 64u << 20;

// The vertex shader uniform that carries (1/viewport width, -1/viewport
// height) for D3D9's half-pixel offset.
inline constexpr const char* kPosFixupUniform = "dx_PosFixup";

enum class ShaderStage : uint32_t { Vertex = 0, Pixel = 1 };

// The same numbers as D3DXREGISTER_SET.
enum class RegisterSet : uint32_t { Bool = 0, Int4 = 1, Float4 = 2, Sampler = 3 };

// Number of registers of each set the device keeps.
inline constexpr uint32_t kVertexFloatRegisters = 256;
inline constexpr uint32_t kPixelFloatRegisters = 224;
inline constexpr uint32_t kIntRegisters = 16;
inline constexpr uint32_t kBoolRegisters = 16;
inline constexpr uint32_t kSamplerRegisters = 16;

struct ShaderConstant {
    std::string name;
    RegisterSet registerSet = RegisterSet::Float4;
    uint32_t registerIndex = 0;
    uint32_t registerCount = 0;
    uint32_t parameterClass = 0;  // D3DXPARAMETER_CLASS
    uint32_t parameterType = 0;   // D3DXPARAMETER_TYPE
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint32_t elements = 1;
    uint32_t blockOffset = 0;  // byte offset in the uniform block (not for samplers)
    // Register contents after SetDefaults: 16 bytes per Float4/Int4 register,
    // 4 bytes (a BOOL) per Bool register; empty when there is no initialiser.
    std::vector<uint8_t> defaultValue;
};

struct ShaderUploadRange {
    RegisterSet registerSet = RegisterSet::Float4;
    uint32_t firstRegister = 0;
    uint32_t registerCount = 0;
    uint32_t blockOffset = 0;
    uint32_t blockStride = 16;
};

// Same numbers as D3DXPARAMETER_TYPE's sampler entries.
enum class SamplerType : uint32_t { Sampler = 10, Sampler1D = 11, Sampler2D = 12, Sampler3D = 13, SamplerCube = 14 };

struct ShaderSampler {
    std::string name;      // as in the HLSL source
    std::string glslName;  // the GLSL uniform to set to the unit
    uint32_t registerIndex = 0;
    SamplerType type = SamplerType::Sampler2D;
    // Filled by parseShaderBlob: byte offset of the NUL-terminated name in
    // the blob. Not written by serializeShaderBlob.
    uint32_t nameOffset = 0;
};

struct ShaderInput {
    uint32_t usage = 0;  // D3DDECLUSAGE
    uint32_t usageIndex = 0;
    uint32_t location = 0;
};

struct ShaderBlob {
    ShaderStage stage = ShaderStage::Vertex;
    uint32_t versionToken = 0;  // 0xFFFE0000 | major << 8 | minor for vertex, 0xFFFF... pixel
    std::string glsl;
    std::string uniformBlockName;
    uint32_t uniformBlockSize = 0;
    std::vector<ShaderConstant> constants;  // samplers included, with registerSet Sampler
    std::vector<ShaderUploadRange> uploads;
    std::vector<ShaderSampler> samplers;  // register order
    std::vector<ShaderInput> inputs;      // vertex shader attributes; pixel shader varyings
};

// The blob in words (DWORD-aligned), ready to hand to CreateVertexShader.
std::vector<DWORD> serializeShaderBlob(const ShaderBlob& blob);

// Reads a blob of `size` bytes. Refuses (false, with a reason in *error when
// given) anything truncated, corrupt or inconsistent; never reads past size.
bool parseShaderBlob(const void* data, size_t size, ShaderBlob& out, std::string* error = nullptr);

// The total size a blob known only by its pointer declares in its header, or
// 0 when the header's magic or version do not match. Reads the 24 header
// bytes only; the caller then parses with this size.
size_t shaderBlobSize(const void* code);

// The D3D version token of a blob (0 when not a blob); reads the header only.
uint32_t shaderBlobVersion(const void* code);

} // namespace platform::d3d9

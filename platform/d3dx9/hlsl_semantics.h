// Where the translated shaders' inputs and outputs go, by D3D9 semantic.
#pragma once

#include <cstdint>
#include <string>

namespace platform::d3dx9 {

// "TEXCOORD3" -> ("TEXCOORD", 3); upper case.
void splitSemantic(const char* semantic, std::string& name, uint32_t& index);

// The D3DDECLUSAGE of a semantic name; -1 for none.
int declUsage(const std::string& name);

// The GL vertex attribute location of a vertex shader input: the one the
// vertex declaration binds the usage to; -1 for none.
int attributeLocation(int usage, uint32_t index);

// Locations of the varyings between the stages, by semantic, all below 32;
// -1 for none.
int varyingLocation(int usage, uint32_t index);

} // namespace platform::d3dx9

// IDirect3DVertexDeclaration9 and the decoding of FVF codes into the same
// element lists; each element is turned into a GL vertex attribute at the
// location its usage has in every generated and translated vertex shader.
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/fixed_function.h"
#include "platform/d3d9/gl_context.h"

#include <vector>

namespace platform::d3d9 {

struct VertexAttribute {
    GLuint location;
    GLuint stream;
    GLuint offset;
    GLint size;
    GLenum type;
    GLboolean normalized;
};

// The GL attribute location of a usage (POSITION/POSITIONT 0, BLENDWEIGHT 1,
// BLENDINDICES 2, NORMAL 3, PSIZE 4, COLOR0 5, COLOR1 6, TANGENT 7,
// TEXCOORD0..7 8..15, TEXCOORD8..11 4..7); -1 for usages no shader reads.
int attributeLocation(BYTE usage, BYTE usageIndex);

// The elements (without the end marker) of an FVF code; false for codes
// Direct3D refuses.
bool decodeFvf(DWORD fvf, std::vector<D3DVERTEXELEMENT9>& elements);
// Bytes per vertex of an FVF code (0 when invalid).
UINT fvfStride(DWORD fvf);

class VertexDeclaration final : public DeviceChild<IDirect3DVertexDeclaration9> {
public:
    // elements: without the end marker (validated by the caller).
    VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements, DWORD fvf);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) override;

    const std::vector<D3DVERTEXELEMENT9>& elements() const { return m_elements; }
    const std::vector<VertexAttribute>& attributes() const { return m_attributes; }
    const FixedVertexLayout& layout() const { return m_layout; }
    DWORD fvf() const { return m_fvf; }
    DWORD streamMask() const { return m_streamMask; }
    DWORD locationMask() const { return m_locationMask; }

private:
    std::vector<D3DVERTEXELEMENT9> m_elements;
    std::vector<VertexAttribute> m_attributes;
    FixedVertexLayout m_layout;
    DWORD m_fvf;
    DWORD m_streamMask = 0;
    DWORD m_locationMask = 0;
};

// Checks an application's element array (ending with D3DDECL_END) and
// copies it without the end marker; false when it is malformed.
bool readDeclaration(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>& out);

VertexDeclaration* asVertexDeclaration(IDirect3DVertexDeclaration9* declaration);

} // namespace platform::d3d9

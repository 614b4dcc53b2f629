#include "platform/d3d9/vertex_declaration.h"

#include "platform/d3d9/device.h"

namespace platform::d3d9 {

namespace {

struct TypeInfo {
    GLint size;
    GLenum type;
    GLboolean normalized;
    UINT bytes;
};

bool typeInfo(BYTE type, TypeInfo& out)
{
    switch (type) {
    case D3DDECLTYPE_FLOAT1: out = {1, GL_FLOAT, GL_FALSE, 4}; return true;
    case D3DDECLTYPE_FLOAT2: out = {2, GL_FLOAT, GL_FALSE, 8}; return true;
    case D3DDECLTYPE_FLOAT3: out = {3, GL_FLOAT, GL_FALSE, 12}; return true;
    case D3DDECLTYPE_FLOAT4: out = {4, GL_FLOAT, GL_FALSE, 16}; return true;
    // Bytes B, G, R, A arrive as (r, g, b, a).
    case D3DDECLTYPE_D3DCOLOR: out = {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4}; return true;
    case D3DDECLTYPE_UBYTE4: out = {4, GL_UNSIGNED_BYTE, GL_FALSE, 4}; return true;
    case D3DDECLTYPE_SHORT2: out = {2, GL_SHORT, GL_FALSE, 4}; return true;
    case D3DDECLTYPE_SHORT4: out = {4, GL_SHORT, GL_FALSE, 8}; return true;
    case D3DDECLTYPE_UBYTE4N: out = {4, GL_UNSIGNED_BYTE, GL_TRUE, 4}; return true;
    case D3DDECLTYPE_SHORT2N: out = {2, GL_SHORT, GL_TRUE, 4}; return true;
    case D3DDECLTYPE_SHORT4N: out = {4, GL_SHORT, GL_TRUE, 8}; return true;
    case D3DDECLTYPE_USHORT2N: out = {2, GL_UNSIGNED_SHORT, GL_TRUE, 4}; return true;
    case D3DDECLTYPE_USHORT4N: out = {4, GL_UNSIGNED_SHORT, GL_TRUE, 8}; return true;
    case D3DDECLTYPE_UDEC3: out = {4, GL_UNSIGNED_INT_2_10_10_10_REV, GL_FALSE, 4}; return true;
    case D3DDECLTYPE_DEC3N: out = {4, GL_INT_2_10_10_10_REV, GL_TRUE, 4}; return true;
    case D3DDECLTYPE_FLOAT16_2: out = {2, GL_HALF_FLOAT, GL_FALSE, 4}; return true;
    case D3DDECLTYPE_FLOAT16_4: out = {4, GL_HALF_FLOAT, GL_FALSE, 8}; return true;
    default: return false;
    }
}

void add(std::vector<D3DVERTEXELEMENT9>& out, WORD& offset, BYTE type, BYTE usage, BYTE index)
{
    out.push_back(D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index});
    TypeInfo t{};
    typeInfo(type, t);
    offset = WORD(offset + t.bytes);
}

} // namespace

int attributeLocation(BYTE usage, BYTE usageIndex)
{
    switch (usage) {
    case D3DDECLUSAGE_POSITION:
    case D3DDECLUSAGE_POSITIONT: return usageIndex == 0 ? 0 : -1;
    case D3DDECLUSAGE_BLENDWEIGHT: return usageIndex == 0 ? 1 : -1;
    case D3DDECLUSAGE_BLENDINDICES: return usageIndex == 0 ? 2 : -1;
    case D3DDECLUSAGE_NORMAL: return usageIndex == 0 ? 3 : -1;
    case D3DDECLUSAGE_PSIZE: return usageIndex == 0 ? 4 : -1;
    case D3DDECLUSAGE_COLOR: return usageIndex <= 1 ? 5 + usageIndex : -1;
    case D3DDECLUSAGE_TANGENT: return usageIndex == 0 ? 7 : -1;
    // GL 4.5 promises 16 attributes, all taken above: TEXCOORD8-11 (the
    // tangent frames of bump surfaces with many layers) share the slots of
    // PSIZE, COLOR0, COLOR1 and TANGENT, which no declaration that carries
    // that many coordinate sets holds. Where one does, the first element of
    // a slot wins.
    case D3DDECLUSAGE_TEXCOORD:
        return usageIndex <= 7 ? 8 + usageIndex : usageIndex <= 11 ? 4 + (usageIndex - 8) : -1;
    default: return -1;
    }
}

bool decodeFvf(DWORD fvf, std::vector<D3DVERTEXELEMENT9>& out)
{
    out.clear();
    const DWORD known = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
                        D3DFVF_TEXCOUNT_MASK | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR | 0xFFFF0000u;
    if (fvf & ~known)
        return false;
    WORD offset = 0;
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    switch (position) {
    case 0: break;
    case D3DFVF_XYZ: add(out, offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0); break;
    case D3DFVF_XYZRHW: add(out, offset, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0); break;
    case D3DFVF_XYZW: add(out, offset, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0); break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5: {
        add(out, offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
        const int betas = int((position - D3DFVF_XYZB1) / 2) + 1;
        const bool lastIndices = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
        const int weights = lastIndices ? betas - 1 : betas;
        if (weights > 4)
            return false;
        if (weights > 0)
            add(out, offset, BYTE(D3DDECLTYPE_FLOAT1 + weights - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
        if (lastIndices)
            add(out, offset, (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR,
                D3DDECLUSAGE_BLENDINDICES, 0);
        break;
    }
    default: return false;
    }
    if (fvf & D3DFVF_NORMAL)
        add(out, offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (fvf & D3DFVF_PSIZE)
        add(out, offset, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (fvf & D3DFVF_DIFFUSE)
        add(out, offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR)
        add(out, offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8)
        return false;
    for (DWORD i = 0; i < texCount; ++i) {
        BYTE type = D3DDECLTYPE_FLOAT2;
        switch ((fvf >> (16 + 2 * i)) & 3) {
        case D3DFVF_TEXTUREFORMAT1: type = D3DDECLTYPE_FLOAT1; break;
        case D3DFVF_TEXTUREFORMAT2: type = D3DDECLTYPE_FLOAT2; break;
        case D3DFVF_TEXTUREFORMAT3: type = D3DDECLTYPE_FLOAT3; break;
        case D3DFVF_TEXTUREFORMAT4: type = D3DDECLTYPE_FLOAT4; break;
        }
        add(out, offset, type, D3DDECLUSAGE_TEXCOORD, BYTE(i));
    }
    return true;
}

UINT fvfStride(DWORD fvf)
{
    std::vector<D3DVERTEXELEMENT9> elements;
    if (!decodeFvf(fvf, elements))
        return 0;
    UINT stride = 0;
    for (const D3DVERTEXELEMENT9& e : elements) {
        TypeInfo t{};
        typeInfo(e.Type, t);
        stride = std::max<UINT>(stride, e.Offset + t.bytes);
    }
    return stride;
}

bool readDeclaration(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>& out)
{
    out.clear();
    if (!elements)
        return false;
    for (UINT i = 0; i <= MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream == 0xFF)
            return e.Type == D3DDECLTYPE_UNUSED;
        TypeInfo t{};
        if (e.Stream >= 16 || !typeInfo(e.Type, t) || e.Usage > MAXD3DDECLUSAGE ||
            e.UsageIndex > MAXD3DDECLUSAGEINDEX || e.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED)
            return false;
        for (const D3DVERTEXELEMENT9& earlier : out) {
            if (earlier.Usage == e.Usage && earlier.UsageIndex == e.UsageIndex)
                return false; // one element per semantic
        }
        out.push_back(e);
    }
    return false; // no end marker within the longest declaration
}

VertexDeclaration::VertexDeclaration(Device* device, std::vector<D3DVERTEXELEMENT9> elements, DWORD fvf)
    : DeviceChild<IDirect3DVertexDeclaration9>(device)
    , m_elements(std::move(elements))
    , m_fvf(fvf)
{
    std::vector<D3DVERTEXELEMENT9> terminated = m_elements;
    terminated.push_back(D3DDECL_END());
    m_layout = fixedVertexLayoutFromDeclaration(terminated.data());
    for (const D3DVERTEXELEMENT9& e : m_elements) {
        const int location = attributeLocation(e.Usage, e.UsageIndex);
        TypeInfo t{};
        if (location < 0 || !typeInfo(e.Type, t) || (m_locationMask & (1u << location)))
            continue;
        m_attributes.push_back(VertexAttribute{GLuint(location), e.Stream, e.Offset, t.size, t.type, t.normalized});
        m_streamMask |= 1u << e.Stream;
        m_locationMask |= 1u << location;
    }
}

STDMETHODIMP VertexDeclaration::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DVertexDeclaration9>(this, riid, ppvObject, {&IID_IDirect3DVertexDeclaration9});
}

STDMETHODIMP VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements)
{
    if (!pNumElements)
        return D3DERR_INVALIDCALL;
    // The count includes the end marker.
    const UINT count = UINT(m_elements.size()) + 1;
    if (pElement) {
        for (UINT i = 0; i + 1 < count; ++i)
            pElement[i] = m_elements[i];
        pElement[count - 1] = D3DDECL_END();
    }
    *pNumElements = count;
    return D3D_OK;
}

VertexDeclaration* asVertexDeclaration(IDirect3DVertexDeclaration9* declaration)
{
    return declaration ? dynamic_cast<VertexDeclaration*>(declaration) : nullptr;
}

} // namespace platform::d3d9

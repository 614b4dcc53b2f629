#include "platform/d3dx9/hlsl_semantics.h"

#include "platform/d3d9/vertex_declaration.h"
#include "platform/d3dx9/d3dx9_defs.h"

namespace platform::d3dx9 {

void splitSemantic(const char* semantic, std::string& name, uint32_t& index)
{
    std::string s = semantic ? semantic : "";
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    size_t d = s.size();
    while (d > 0 && s[d - 1] >= '0' && s[d - 1] <= '9')
        --d;
    name = s.substr(0, d);
    index = 0;
    for (size_t i = d; i < s.size() && index < 1000; ++i)
        index = index * 10 + uint32_t(s[i] - '0');
}

int declUsage(const std::string& name)
{
    static const struct {
        const char* name;
        int usage;
    } table[] = {
        {"POSITION", D3DDECLUSAGE_POSITION}, {"BLENDWEIGHT", D3DDECLUSAGE_BLENDWEIGHT},
        {"BLENDINDICES", D3DDECLUSAGE_BLENDINDICES}, {"NORMAL", D3DDECLUSAGE_NORMAL},
        {"PSIZE", D3DDECLUSAGE_PSIZE}, {"TEXCOORD", D3DDECLUSAGE_TEXCOORD},
        {"TANGENT", D3DDECLUSAGE_TANGENT}, {"BINORMAL", D3DDECLUSAGE_BINORMAL},
        {"TESSFACTOR", D3DDECLUSAGE_TESSFACTOR}, {"POSITIONT", D3DDECLUSAGE_POSITIONT},
        {"COLOR", D3DDECLUSAGE_COLOR}, {"FOG", D3DDECLUSAGE_FOG},
        {"DEPTH", D3DDECLUSAGE_DEPTH}, {"SAMPLE", D3DDECLUSAGE_SAMPLE},
    };
    for (const auto& e : table)
        if (name == e.name)
            return e.usage;
    return -1;
}

int varyingLocation(int usage, uint32_t index)
{
    switch (usage) {
    case D3DDECLUSAGE_TEXCOORD:
        return index < 10 ? int(index) : index < 16 ? int(26 + index - 10) : -1;
    case D3DDECLUSAGE_COLOR:
        return index < 2 ? int(10 + index) : -1;
    case D3DDECLUSAGE_FOG:
        return index == 0 ? 12 : -1;
    case D3DDECLUSAGE_NORMAL:
        return index < 4 ? int(13 + index) : -1;
    case D3DDECLUSAGE_TANGENT:
        return index < 2 ? int(17 + index) : -1;
    case D3DDECLUSAGE_BINORMAL:
        return index < 2 ? int(19 + index) : -1;
    case D3DDECLUSAGE_POSITION:
        return index >= 1 && index < 4 ? int(20 + index) : -1;
    case D3DDECLUSAGE_BLENDWEIGHT:
        return index == 0 ? 24 : -1;
    case D3DDECLUSAGE_BLENDINDICES:
        return index == 0 ? 25 : -1;
    default:
        return -1;
    }
}

int attributeLocation(int usage, uint32_t index)
{
    return usage >= 0 && usage <= 0xFF && index <= 0xFF ? d3d9::attributeLocation(BYTE(usage), BYTE(index)) : -1;
}

} // namespace platform::d3dx9

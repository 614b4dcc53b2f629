#include "scene/wire_meshes.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_parameters.h"
#include "scene/bone.h"

#include <algorithm>

bool WireMesh::prepare()
{
    if (!prepared)
        setBoundingBox({-1.0f, -1.0f, -1.0f}, {1.0f, 1.0f, 1.0f});
    prepared = 1;
    return true;
}

void WireMesh::drawLines(const D3DMATRIX& world, const WireVertex* vertices, UINT lineCount)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    ShaderUniforms* uniforms = engine ? engine->uniforms : nullptr;
    if (!device || !uniforms)
        return;
    const D3DMATRIX saved = uniforms->world;
    uniforms->setWorld(world);
    D3DMATERIAL9 material = {};
    material.Diffuse = material.Ambient = material.Specular = material.Emissive = {0.0f, 0.0f, 0.0f, 1.0f};
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetFVF(WireVertex::fvf);
    device->SetVertexShader(nullptr);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTexture(0, nullptr);
    device->SetPixelShader(nullptr);
    device->DrawPrimitiveUP(D3DPT_LINELIST, lineCount, vertices, sizeof(WireVertex));
    uniforms->setWorld(saved);
}

void CrossWiresMesh::render(double, Object*, Node*, i32)
{
    if (!engine || !engine->uniforms)
        return;
    // The object's position only: the cross keeps its size and axes.
    const D3DMATRIX& current = engine->uniforms->world;
    D3DMATRIX world;
    makeAffineMatrix(world, 1, 0, 0, 0, 1, 0, 0, 0, 1, current._41, current._42, current._43);
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    const float green[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    const float blue[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    const D3DCOLOR r = colorToARGB(red), g = colorToARGB(green), b = colorToARGB(blue);
    const WireVertex lines[6] = {{-1, 0, 0, r}, {1, 0, 0, r}, {0, -1, 0, g}, {0, 1, 0, g}, {0, 0, -1, b}, {0, 0, 1, b}};
    drawLines(world, lines, 3);
}

void BoneWiresMesh::render(double time, Object*, Node* node, i32)
{
    Bone* bone = static_cast<Bone*>(node);
    if (!bone)
        return;
    if (!bone->worldValid)
        bone->getMatrix(time);
    const float L = bone->restLength;
    const float a = 0.1f * L, b = -0.1f * L;
    const float grey[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    const D3DCOLOR c = colorToARGB(grey);
    const WireVertex origin = {0, 0, 0, c}, tip = {0, 0, L, c};
    const WireVertex ring[4] = {{a, 0, a, c}, {b, 0, a, c}, {0, a, a, c}, {0, b, a, c}};
    // The square runs (a,0)-(0,a)-(b,0)-(0,b)-(a,0).
    static const int square[4][2] = {{0, 2}, {2, 1}, {1, 3}, {3, 0}};
    WireVertex lines[24];
    int n = 0;
    for (const WireVertex& v : ring) {
        lines[n++] = origin;
        lines[n++] = v;
    }
    for (const auto& edge : square) {
        lines[n++] = ring[edge[0]];
        lines[n++] = ring[edge[1]];
    }
    for (const WireVertex& v : ring) {
        lines[n++] = v;
        lines[n++] = tip;
    }
    drawLines(bone->world, lines, 12);
}

PartigonMesh::PartigonMesh(Engine* engine, MeshFile* object, const D3DVECTOR* points, i32 count)
    : Mesh(engine, object)
{
    D3DVECTOR lo = {0.0f, 0.0f, 0.0f}, hi = lo;
    if (points && count > 0) {
        lo = hi = points[0];
        for (i32 i = 1; i < count; ++i) {
            const D3DVECTOR& p = points[i];
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
    }
    setBoundingBox(lo, hi);
}

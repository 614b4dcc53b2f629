#include "scene/point_mesh.h"

#include "foundation/matrix.h"
#include "materials/engine.h"
#include "materials/shader_pair.h"
#include "scene/mesh_file.h"

#include <algorithm>
#include <cstring>

PointMesh::PointMesh(Engine* engine, MeshFile* object, const D3DVECTOR* points, i32 pointCount)
    : Mesh(engine, object), pointCount(pointCount), pointList(points)
{
}

PointMesh::~PointMesh()
{
    if (vertexBuffer)
        vertexBuffer->Release();
    if (indexBuffer)
        indexBuffer->Release();
}

bool PointMesh::prepare()
{
    if (prepared)
        return true;
    if (!pointList || pointCount <= 0 || pointCount > maxPoints)
        return false;
    D3DVECTOR lo = pointList[0], hi = pointList[0];
    for (i32 i = 1; i < pointCount; ++i) {
        const D3DVECTOR& p = pointList[i];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    setBoundingBox(lo, hi);

    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f}, clear[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const u32 n2 = u32(pointCount) * 2;
    previous.assign(size_t(pointCount), ScreenVertex{0.0f, 0.0f, 0.0f, 0.0f, colorToARGB(clear), 0.0f, 0.0f});
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!device)
        return false;
    if (FAILED(device->CreateIndexBuffer(n2 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indexBuffer,
                                         nullptr)) ||
        FAILED(device->CreateVertexBuffer(n2 * sizeof(ScreenVertex), D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED,
                                          &vertexBuffer, nullptr)))
        return false;
    void* data = nullptr;
    if (SUCCEEDED(indexBuffer->Lock(0, 0, &data, 0)) && data) {
        u16* idx = static_cast<u16*>(data);
        for (u32 i = 0; i < n2; ++i)
            idx[i] = u16(i);
        indexBuffer->Unlock();
    }
    data = nullptr;
    if (SUCCEEDED(vertexBuffer->Lock(0, 0, &data, 0)) && data) {
        ScreenVertex* v = static_cast<ScreenVertex*>(data);
        for (u32 i = 0; i < n2; ++i)
            v[i] = ScreenVertex{0.0f, 0.0f, 0.0f, 0.0f, colorToARGB(i % 2 ? clear : white), 0.0f, 0.0f};
        vertexBuffer->Unlock();
    }
    prepared = 1;
    return true;
}

void PointMesh::streak(i32 i, const D3DMATRIX& m, float w, float h, ScreenVertex out[2])
{
    float p[4];
    vecTransform(p, pointList[i], m);
    const float inv = p[3] != 0.0f ? 1.0f / p[3] : 0.0f;
    ScreenVertex& old = previous[size_t(i)];
    out[0] = old;
    out[0].x = w * p[0] * inv / 2.0f + w / 2.0f;
    out[0].y = h * p[1] * inv / 2.0f + h / 2.0f;
    out[0].z = p[2] * inv;
    out[0].rhw = inv;
    out[1] = old;
    out[1].x += 1.0f;
    // The record keeps its own colour (the odd, transparent end).
    const u32 color = old.color;
    old = out[0];
    old.color = color;
    out[0].color = 0xFFFFFFFFu;
}

void PointMesh::render(double t, Object*, Node*, i32)
{
    IDirect3DDevice9* device = engine ? engine->currentDevice : nullptr;
    if (!prepared || !device || !vertexBuffer || !indexBuffer)
        return;
    time = t;
    D3DMATRIX world, view, projection, wv, m;
    device->GetTransform(D3DTS_WORLD, &world);
    device->GetTransform(D3DTS_VIEW, &view);
    device->GetTransform(D3DTS_PROJECTION, &projection);
    matMul(wv, world, view);
    matMul(m, wv, projection);
    void* data = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, &data, 0)) || !data)
        return;
    ScreenVertex* v = static_cast<ScreenVertex*>(data);
    for (i32 i = 0; i < pointCount; ++i)
        streak(i, m, float(engine->width), float(engine->height), v + 2 * i);
    vertexBuffer->Unlock();

    Surface* surface = object && object->tags && object->tagCount > 0 ? object->tags[0] : nullptr;
    if (engine->standardPair && surface) {
        engine->standardPair->setStates(surface, t);
        engine->standardPair->setSources(surface, t);
    }
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(ScreenVertex));
    device->SetIndices(indexBuffer);
    device->SetFVF(fvf);
    device->SetVertexShader(nullptr);
    device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, UINT(2 * pointCount), 0, UINT(pointCount));
}

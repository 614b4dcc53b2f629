#include "scene/subset.h"

#include "foundation/diagnostics.h"
#include "foundation/vec3.h"
#include "materials/engine.h"
#include "materials/mesh_vertex.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

D3DVECTOR load(const u8* p)
{
    D3DVECTOR v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(u8* p, const D3DVECTOR& v) { std::memcpy(p, &v, sizeof v); }

float loadFloat(const u8* p)
{
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

template <class T>
void releaseAll(std::vector<T*>& objects)
{
    for (T*& o : objects)
        if (o) {
            o->Release();
            o = nullptr;
        }
}

} // namespace

Subset::Subset(Engine* engine, Surface* surface)
    : EngineResource(engine), layout(engine, surface), surface(surface),
      vertexBuffers(size_t(std::max(engine->deviceCount, 0)), nullptr),
      indexBuffers(size_t(std::max(engine->deviceCount, 0)), nullptr)
{
}

Subset::~Subset()
{
    releaseAll(vertexBuffers);
    releaseAll(indexBuffers);
}

void Subset::render(ShaderPair* pair, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    const size_t index = size_t(engine->currentIndex);
    // A subset whose build failed on this device has nothing to draw from.
    if (!device || index >= vertexBuffers.size() || !vertexBuffers[index] || !indexBuffers[index] ||
        index >= layout.declarations.size() || !layout.declarations[index])
        return;

    device->SetSoftwareVertexProcessing(layout.softwareProcessing);
    if (pair)
        pair->setStates(surface, time);
    device->SetVertexDeclaration(layout.declarations[index]);
    if (pair && pair->activate())
        pair->setSources(surface, time);
    else
        setFallbackStates(device);

    device->SetStreamSource(0, vertexBuffers[index], 0, layout.stride);
    device->SetIndices(indexBuffers[index]);
    device->DrawIndexedPrimitive(primitiveType, 0, 0, UINT(vertexCount), 0, UINT(primitiveCount));
    engine->drawCalls += 1;
    engine->primitivesDrawn += u32(primitiveCount);
}

// A white material over the surface's textures, for a pair that has no
// shaders for this configuration. A vertex shader the pair left bound keeps
// transforming; only the pixel half turns fixed-function.
void Subset::setFallbackStates(IDirect3DDevice9* device)
{
    device->SetPixelShader(nullptr);
    D3DMATERIAL9 material = {};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.25f, 0.25f, 0.25f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Power = fallbackPower;
    device->SetMaterial(&material);

    ShaderSwitches* s = engine->switches;
    auto value = [](const i32* v) { return v ? std::max(*v, 0) : 0; };
    device->SetRenderState(D3DRS_SPECULARENABLE, s && value(s->specularEnabled) != 0 ? TRUE : FALSE);
    const int bump = s ? value(s->numTexBUMP) : 0;
    const int color = s ? value(s->numTexCOLR) : 0;
    const int specular = s ? value(s->numTexSPEC) : 0;
    // Never more stages than the device blends (at most eight).
    const DWORD stages = std::min<DWORD>(engine->caps.MaxTextureBlendStages, 8);
    DWORD stage = 0;
    auto program = [&](int count, DWORD op) {
        for (int i = 0; i < count && stage < stages; ++i, ++stage) {
            device->SetTextureStageState(stage, D3DTSS_COLOROP, op);
            device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_CURRENT);
            device->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_TEXTURE);
            device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            device->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
            device->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_TEXTURE);
        }
    };
    program(bump, D3DTOP_DOTPRODUCT3);
    program(color, D3DTOP_MODULATE);
    program(specular, D3DTOP_MULTIPLYADD);
    if (stage < stages)
        device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

// ---------------------------------------------------------------------------
// StaticSubset

bool StaticSubset::addVertices(const MeshVertex* vertices, int count)
{
    if (built || count < 0 || (count > 0 && !vertices))
        return false;
    const size_t first = size_t(vertexCount);
    vertexCount += count;
    vertexData.resize(size_t(vertexCount) * layout.stride);
    // After the vertices already added, so a second call keeps the first.
    for (int i = 0; i < count; ++i)
        packVertex(vertices[i], vertexData.data() + (first + size_t(i)) * layout.stride);
    return true;
}

bool StaticSubset::addTriangles(const u32* triangleIndices, int count)
{
    if (built || (primitiveType != 0 && primitiveType != D3DPT_TRIANGLELIST) || count < 0 ||
        (count > 0 && !triangleIndices))
        return false;
    count -= count % 3;
    primitiveCount += count / 3;
    primitiveType = D3DPT_TRIANGLELIST;
    indices.insert(indices.end(), triangleIndices, triangleIndices + count);
    indexCount += u32(count);
    return true;
}

void StaticSubset::packVertex(const MeshVertex& vertex, u8* out) const
{
    std::memset(out, 0, layout.stride);
    u8* p = out;
    auto put = [&p](const void* data, size_t bytes) {
        std::memcpy(p, data, bytes);
        p += bytes;
    };
    put(&vertex.position, 12);
    put(&vertex.normal, 12);
    for (int k = 0; k < layout.texCoordSets && k < MeshVertex::maxTexCoordSets; ++k)
        put(vertex.texCoords[k], layout.setSize(k));
    if (layout.tangentFrame)
        p += 48; // filled by computeTangentSpace
    if (layout.boneWeightCount > 0) {
        put(vertex.boneIndices, 4);
        put(vertex.boneWeights, 4 * size_t(layout.boneWeightCount));
    }
}

void StaticSubset::computeTangentSpace()
{
    if (!layout.tangentFrame || vertexCount <= 0)
        return;
    const u32 stride = layout.stride;
    const u32 a = layout.tangentOffset;
    const u32 b = a + 12;
    u8* base = vertexData.data();
    auto vertex = [&](u32 i) { return base + size_t(i) * stride; };
    for (size_t t = 0; t + 2 < indices.size(); t += 3) {
        const u32 i0 = indices[t], i1 = indices[t + 1], i2 = indices[t + 2];
        if (i0 >= u32(vertexCount) || i1 >= u32(vertexCount) || i2 >= u32(vertexCount))
            continue;
        const D3DVECTOR p0 = load(vertex(i0)), p1 = load(vertex(i1)), p2 = load(vertex(i2));
        const float u0 = loadFloat(vertex(i0) + layout.texOffset);
        const float u1 = loadFloat(vertex(i1) + layout.texOffset);
        const float u2 = loadFloat(vertex(i2) + layout.texOffset);
        const D3DVECTOR tangent =
            vec3Normalized(vec3Sub(vec3Scale(vec3Sub(p2, p1), u0 - u1), vec3Scale(vec3Sub(p0, p1), u2 - u1)));
        const D3DVECTOR other = vec3Normalized(vec3Cross(tangent, load(vertex(i0) + 12)));
        for (u32 i : {i0, i1, i2}) {
            store(vertex(i) + a, vec3Add(load(vertex(i) + a), other));
            store(vertex(i) + b, vec3Add(load(vertex(i) + b), tangent));
        }
    }
    for (u32 i = 0; i < u32(vertexCount); ++i) {
        const D3DVECTOR va = vec3Normalized(load(vertex(i) + a));
        const D3DVECTOR vb = vec3Normalized(load(vertex(i) + b));
        D3DVECTOR third = vec3Cross(va, vb);
        const D3DVECTOR normal = vec3Normalized(load(vertex(i) + 12));
        if (vec3Dot(normal, third) < 0.0f)
            third = vec3Scale(third, -1.0f);
        store(vertex(i) + 12, normal);
        store(vertex(i) + a, va);
        store(vertex(i) + b, vb);
        store(vertex(i) + b + 12, third);
        store(vertex(i) + b + 24, D3DVECTOR{0.0f, 0.0f, 0.0f});
    }
}

bool StaticSubset::build()
{
    if (built)
        return false;
    vertexUsage = D3DUSAGE_WRITEONLY | (layout.softwareProcessing ? D3DUSAGE_SOFTWAREPROCESSING : 0);
    indexUsage = vertexUsage;
    computeTangentSpace();
    if (!createVertexBuffers() || !createIndexBuffers())
        return false;
    built = 1;
    return true;
}

bool StaticSubset::createVertexBuffers()
{
    const UINT bytes = UINT(vertexData.size());
    for (size_t i = 0; i < vertexBuffers.size(); ++i) {
        IDirect3DDevice9* device = engine->devices[i];
        if (vertexBuffers[i])
            continue; // made by an earlier, partly failed build
        if (!device || FAILED(device->CreateVertexBuffer(bytes, vertexUsage, 0, D3DPOOL_MANAGED, &vertexBuffers[i],
                                                         nullptr)) ||
            !vertexBuffers[i])
            return false;
        void* data = nullptr;
        if (SUCCEEDED(vertexBuffers[i]->Lock(0, 0, &data, 0)) && data) {
            std::memcpy(data, vertexData.data(), bytes);
            vertexBuffers[i]->Unlock();
        }
    }
    return true;
}

bool StaticSubset::createIndexBuffers()
{
    u32 largest = 0;
    for (u32 v : indices)
        largest = std::max(largest, v);
    // An index past the vertices would make the device read beyond them.
    if (!indices.empty() && largest >= u32(vertexCount))
        return false;
    const DWORD maxVertexIndex = engine->caps.MaxVertexIndex;
    if (maxVertexIndex < 0x10000 || largest < 0x10000) {
        if (largest > 0xFFFF) {
            ENGINE_ASSERT_FAILED("too many indices");
            // 16-bit indices would wrap onto the wrong vertices.
            return false;
        }
        indexFormat = D3DFMT_INDEX16;
        indexBytes = 2 * indexCount;
    } else {
        ENGINE_ASSERT(largest <= maxVertexIndex && "too many indices");
        indexFormat = D3DFMT_INDEX32;
        indexBytes = 4 * indexCount;
    }
    for (size_t i = 0; i < indexBuffers.size(); ++i) {
        IDirect3DDevice9* device = engine->devices[i];
        if (indexBuffers[i]) {
            indexBuffers[i]->Release();
            indexBuffers[i] = nullptr;
        }
        if (!device ||
            FAILED(device->CreateIndexBuffer(indexBytes, indexUsage, indexFormat, D3DPOOL_MANAGED, &indexBuffers[i],
                                             nullptr)) ||
            !indexBuffers[i])
            return false;
        void* data = nullptr;
        if (FAILED(indexBuffers[i]->Lock(0, 0, &data, 0)) || !data)
            continue;
        // Every index is copied.
        if (indexFormat == D3DFMT_INDEX16) {
            u16* out = static_cast<u16*>(data);
            for (size_t k = 0; k < indices.size(); ++k)
                out[k] = u16(indices[k]);
        } else {
            std::memcpy(data, indices.data(), indices.size() * 4);
        }
        indexBuffers[i]->Unlock();
    }
    return true;
}

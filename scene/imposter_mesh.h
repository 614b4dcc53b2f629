// A crowd of walking billboards on a 22 x 22 square: each walker keeps to
// the free cells of a walkability map and shows its back, side or front
// picture depending on where the camera looks.
#pragma once

#include "foundation/random.h"
#include "materials/engine_resource.h"

#include <d3d9.h>

#include <vector>

class Image;
class ImageTexture;
class Stream;

class Imposter {
public:
    virtual ~Imposter() = default;

    ImageTexture* back = nullptr; // not owned
    ImageTexture* front = nullptr;
    ImageTexture* right = nullptr;
    float tint[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    D3DVECTOR direction = {0.0f, 0.0f, 0.0f};
    D3DVECTOR position = {0.0f, 0.0f, 0.0f};
    u16 firstVertex = 0; // index x 6
    i32 type = 0;
    float speed = 0.0f;
};

class ImposterMesh : public EngineResource {
public:
    static constexpr i32 walkerCount = 2800;
    static constexpr i32 framesPerView = 10;
    // Attempts at a free cell per walker before the map counts as full.
    static constexpr i32 maxPlacementTries = 10000;

    struct BillboardVertex { // FVF 0x102: xyz, one texture set
        float x, y, z, u, v;
    };
    static constexpr u32 fvf = D3DFVF_XYZ | D3DFVF_TEX1;
    enum View { kBack, kRight, kFront };

    // Per person type: ten pictures for each of back, front and right.
    std::vector<std::vector<ImageTexture*>> backTextures, frontTextures, rightTextures; // owned
    Image* walkMap = nullptr; // counted reference
    i32 typeCount = 0;
    std::vector<Imposter*> imposters; // owned
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;

    explicit ImposterMesh(Engine* engine);
    ~ImposterMesh() override;
    ImposterMesh(const ImposterMesh&) = delete;
    ImposterMesh& operator=(const ImposterMesh&) = delete;

    virtual int query(int, int) { return 0; }

    // Loads the people pictures from folder (ending in '/'), the map
    // "vonoben.pcx" and the vertex buffer. False when the map is missing.
    bool build(Stream& source, const char* folder);
    // Takes a counted reference to map.
    void setWalkMap(Image* map);
    // Free when the low 20 bits of the map pixel under (x, z) are 0; off the
    // map or without one, nothing is free.
    bool isFree(float x, float z) const;
    // Places the walkers; false (and no walkers) when the map has no free
    // cell to be found.
    bool populate(Random& random);
    static void walk(Imposter& walker, float t, Random& random, const ImposterMesh& map);
    // Which picture faces a camera looking along cameraDir.
    static View viewFor(const D3DVECTOR& direction, const D3DVECTOR& cameraDir);
    // The walker's two triangles in the camera space of view.
    static void billboard(const Imposter& walker, const D3DMATRIX& view, BillboardVertex out[6]);
    // Walks and draws every walker for a step t with the device's view.
    void draw(float t, Random& random);

private:
    void clearWalkers();
};

// HyperVoxels: how particle clouds are drawn. A scene object carries at most
// one; its emitter hands it the particle pool at the end of every step.
// HVSprite draws each living particle as a camera-facing additive square,
// HVVolume as slices through a generated volume texture.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"

#include <d3d9.h>

#include <vector>

class Node;
class Texture;
class TextureLayer;
struct Particle;

class HVObject : public EngineResource {
public:
    static constexpr i32 kCapacity = 10000;

    // In the order the scene file's HyperVoxel block fills them.
    AnimatedValue dissolve;
    AnimatedValue particleSize;
    AnimatedValue sizeVariation;
    i32 blendingMode = 0;
    i32 blendingGroup = 0;
    AnimatedValue luminosity = {1.0f, nullptr};
    AnimatedValue opacity = {1.0f, nullptr};
    AnimatedValue density = {1.0f, nullptr};
    AnimatedValue color[3] = {{0.7843137f, nullptr}, {0.7843137f, nullptr}, {0.7843137f, nullptr}};
    AnimatedValue unread = {255.0f, nullptr}; // never filled from the file
    AnimatedValue nearClip;
    u8 useAllLights = 0;
    AnimatedValue stretchAmount;
    i32 stretchDirection = 0;
    u8 alignToPath = 0;
    u8 maintainVolume = 0;
    i32 sliceCount = 0;
    AnimatedValue textureAmplitude;
    std::vector<TextureLayer*> textureLayers; // owned

    explicit HVObject(Engine* engine) : EngineResource(engine) {}
    HVObject(const HVObject&) = delete;
    HVObject& operator=(const HVObject&) = delete;
    ~HVObject() override;

    // Draws the living particles of the pool (count records) for camera at t.
    virtual void render(double t, Particle* particles, i32 count, Node* camera) = 0;

protected:
    // The camera's projection; a projection not fitted to the drawn depth
    // range is an internal error worth an assertion box.
    static const D3DMATRIX& cameraProjection(Node* camera);
};

class HVSprite : public HVObject {
public:
    struct Sprite {
        float x, y, z, rhw;
    };

    Texture* spriteTexture = nullptr;              // owned
    IDirect3DVertexBuffer9* vertexBuffer = nullptr; // 6 pre-transformed vertices a sprite
    std::vector<Sprite> sprites; // grown by render to the particles it is given

    explicit HVSprite(Engine* engine);
    ~HVSprite() override;

    void render(double t, Particle* particles, i32 count, Node* camera) override;
    // Orders the sprite pointers first .. last (inclusive) by their depth,
    // nearest last.
    static void sortByDepth(Sprite** sprites, i32 first, i32 last);

    static constexpr DWORD kFVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
};

class HVVolume : public HVObject {
public:
    static constexpr i32 kMaxSlices = 32;
    static constexpr i32 kVolumeSize = 32;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr; // kMaxSlices quads
    // Made by the first draw and grown to the living particles x slices x 6
    // indices a draw needs (at most kCapacity x kMaxSlices x 6).
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    size_t indexCapacity = 0; // the indices indexBuffer holds
    IDirect3DVolumeTexture9* volumeTexture = nullptr;
    IDirect3DTexture9* planeTexture = nullptr;

    explicit HVVolume(Engine* engine);
    ~HVVolume() override;

    void render(double t, Particle* particles, i32 count, Node* camera) override;

    static constexpr DWORD kFVF = D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0);

private:
    // An index buffer of at least that many indices; false when none can be
    // made (the draw is then left out).
    bool reserveIndices(size_t indices);
};

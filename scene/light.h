// A node that lights objects and can be drawn from. It feeds the
// fixed-function pipeline through the D3DLIGHT9 it carries as a second base,
// writes itself into the shader uniforms, decides per object whether it
// reaches it, and, for shadow maps, owns the map's targets and is the camera
// of the shadow pass. Point lights flicker through a colour table while the
// engine's lightFlash switch is on. Surfaces receive it as a spot light
// source (shadow map and projected texture) without knowing the light.
#pragma once

#include "materials/spot_light_sources.h"
#include "scene/node.h"

#include <d3d9.h>

class LensFlare;
class Object;
class Texture;

class Light : public PerspectiveNode, public D3DLIGHT9, public SpotLightSource {
public:
    u8 setUp = 0;
    u8 affectsObject = 0; // the last selectFor result
    u8 off = 0;           // set by the shadow and bake passes: reaches nothing
    i32 lightType = 0;    // 0 distant, 1 point, 2 spot
    AnimatedValue red, green, blue;
    AnimatedValue intensity;
    i32 falloffType = 0; // 0 none, 1 linear, 2 inverse distance, 3 inverse square
    AnimatedValue range = {1.0f, nullptr};
    AnimatedValue coneAngle = {0.5235988f, nullptr}; // radians
    AnimatedValue edgeAngle = {0.0872665f, nullptr};
    u8 noDiffuse = 0;
    u8 noSpecular = 0;
    u8 lensFlare = 0;
    i32 flareFade = 0;
    i32 flareOptions = 0;
    float flareNominalDistance = 1.0f;
    AnimatedValue flareIntensity;
    AnimatedValue flareRotationAngle;
    LensFlare* flare = nullptr; // owned
    Texture* spotTexture = nullptr; // owned
    u32 spareWord = 0;              // stored only
    u8 affectOpenGLOff = 0;         // a bake light
    i32 shadowType = 0;             // 2: shadow map
    i32 shadowMapSize = 1024;
    float depthBias = -0.0001f;
    IDirect3DTexture9* shadowColorTexture = nullptr;
    IDirect3DTexture9* shadowDepthTexture = nullptr;
    IDirect3DSurface9* shadowColorSurface = nullptr;
    IDirect3DSurface9* shadowDepthSurface = nullptr;
    D3DMATRIX shadowTexMatrix;
    float flickerPeriod; // seconds, chosen at construction
    i32 colorIndex = 0;
    i32 lastPeriod = 0;
    // The light in the space of the object last tested.
    float objectPosition[3] = {0.0f, 0.0f, 0.0f};
    float objectDirection[3] = {0.0f, 0.0f, 0.0f};
    float distanceScale = 1.0f;

    static const u32 kFlickerColors[8];

    Light(SceneBase* scene, i32 index);
    ~Light() override;

    IDirect3DTexture9* spotShadowMap() const override
    {
        return shadowDepthTexture ? shadowDepthTexture : shadowColorTexture;
    }
    Texture* spotProjectedTexture() const override { return spotTexture; }

    bool isOrthogonal() const override { return lightType == 0; }
    D3DVIEWPORT9* getViewport() override;
    void buildProjection(double t) override;

    void colorAt(double t, float out[4]);
    void updateD3DLight(double t);
    void setShaderConstants(int i, double t);
    float intensityAt(Object& object, double t);
    void selectFor(Object& object, double t);
    void createResources();
    // A new flare record for this light, sharing the metascene's flare
    // textures (made and registered on first use).
    LensFlare* createFlare();

private:
    // The scene's global light intensity at t, or 1 outside a Scene.
    float globalIntensity(double t);
};

// The standard pair of fixed-function mode: draws a surface without shaders,
// from a D3DMATERIAL9, blend states and texture stages chosen from the
// surface's layers. It keeps the ShaderPair interface, so the drawing code
// calls it like the effect-based pairs (setStates, vertex declaration,
// activate, setSources); it loads no effect file and has no variants.
//
// Stages follow the first of these that applies to the surface: flat colour
// (a pass that draws every surface in one colour), TRAN without COLR, TRAN
// with COLR, DIFF, SPEC (only where the device has MULTIPLYADD), cube
// reflection, and otherwise COLR with an optional sphere-map reflection.
// Every call ends by disabling the first stage it does not use, so the
// stages of the previous surface do not leak into the draw.
#pragma once

#include "materials/shader_pair.h"

#include <d3d9.h>

class TextureLayer;

class FVFShaderPair : public ShaderPair {
public:
    using ShaderPair::ShaderPair;

    // Transforms for the fixed pipeline, no shaders bound. Never fails.
    bool activate() override;
    // Texture stages, their textures, samplers and texture transforms.
    void setSources(Surface* surface, double time) override;
    // Blend, depth, alpha-test and cull states, srfColor and the material.
    void setStates(Surface* surface, double time) override;

    // The layer's placement is animated: its texture coordinates are the
    // corner positions and the placement is applied as a texture transform.
    static bool hasTextures(const TextureLayer* layer);

    // The material's specular power: 2^(10 x glossiness + 2) up to 255, or 0
    // without specularity.
    static float specularPower(float specularity, float glossiness);

private:
    // The placement of an animated layer at that time as the texture matrix
    // of a stage, over the corner positions its set holds.
    void setLayerTransform(IDirect3DDevice9* device, DWORD stage, TextureLayer* layer, double time);
    // A gradient layer read at the camera-space depth over its range end.
    void setGradientCoordinates(IDirect3DDevice9* device, DWORD stage, const TextureLayer* layer);
    // The surface's sphere-map reflection on stage `stage`.
    void setSphereMap(IDirect3DDevice9* device, DWORD stage, Surface* surface, double time);
};

// The bake pass: each triangle is drawn where its lightmap coordinates put
// it in the bake target, and adds the light the baking light gives it there
// (the pass blends ONE + ONE, without depth). The lightmap is the first
// diffuse layer, whose coordinate set follows the colour layers.
#include "common.fxh"

sampler2D ZMAP0;

struct BakeOut {
    float4 position : POSITION;
    float3 viewPosition : TEXCOORD0;
    float3 viewNormal : TEXCOORD1;
    float4 shadow : TEXCOORD2;
};

BakeOut bakeVertex(SurfaceVertex v)
{
    BakeOut o;
    float3 p = skinnedPoint(v.position, v.boneIndices, v.boneWeights);
    float3 n = skinnedVector(v.normal, v.boneIndices, v.boneWeights);
    float2 uv = firstSetDIFF < layerCount ? layerSet(v, firstSetDIFF) : float2(0, 0);
    o.position = float4(uv.x * 2.0 - 1.0, 1.0 - uv.y * 2.0, 0.5, 1.0);
    o.viewPosition = mul(float4(p, 1), matWorldView);
    o.viewNormal = viewVector(n);
    o.shadow = float4(0, 0, 0, 1);
    if (numShadows > 0)
        o.shadow = mul(float4(p, 1), matWorldLightviewLightprojShadowbias);
    return o;
}

BakeOut vshader0(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader1(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader2(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader3(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader4(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader5(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader6(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader7(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshader8(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF0(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF1(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF2(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF3(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF4(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF5(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF6(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF7(SurfaceVertex v) { return bakeVertex(v); }
BakeOut vshaderF8(SurfaceVertex v) { return bakeVertex(v); }

float4 pshader(float3 viewPosition : TEXCOORD0, float3 viewNormal : TEXCOORD1, float4 shadow : TEXCOORD2) : COLOR0
{
    float3 spotFilter = 1;
    // w is the light-space depth: the spot's projection keeps it.
    if (numShadows > 0 && shadow.w > 0)
        spotFilter = shadowLit(shadow.w, tex2D(ZMAP0, shadow.xy / shadow.w));
    float3 diffuse;
    float3 specular;
    lightPoint(viewPosition, normalize(viewNormal), 0.0, spotFilter, diffuse, specular);
    return float4(diffuse, 1);
}

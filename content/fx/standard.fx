// Ordinary surfaces: up to eight texture layers, a bump layer, reflection
// maps, the spot light's shadow map, skinning, and the lights of the object
// lit per pixel. The pairs name the vertex function by how many inputs the
// surface needs; every one of them runs the same body.
#include "common.fxh"

sampler2D COLR0;
sampler2D COLR1;
sampler2D COLR2;
sampler2D COLR3;
sampler2D DIFF0;
sampler2D DIFF1;
sampler2D LUMI0;
sampler2D SPEC0;
sampler2D REFL0;
sampler2D TRAN0;
sampler2D BUMP0;
sampler2D ZIMG0;
samplerCUBE CUBE0;
sampler2D ZMAP0;
sampler2D SPOT0;

struct SurfaceOut {
    float4 position : POSITION;
    float4 sets01 : TEXCOORD0; // coordinate sets two by two
    float4 sets23 : TEXCOORD1;
    float4 sets45 : TEXCOORD2;
    float4 sets67 : TEXCOORD3;
    float3 viewPosition : TEXCOORD4;
    float3 viewNormal : TEXCOORD5;
    float4 tangent : TEXCOORD6; // w: handedness of the frame
    float4 shadow : TEXCOORD7;  // shadow-map coordinates before the divide
};

struct SurfaceIn {
    float4 sets01 : TEXCOORD0;
    float4 sets23 : TEXCOORD1;
    float4 sets45 : TEXCOORD2;
    float4 sets67 : TEXCOORD3;
    float3 viewPosition : TEXCOORD4;
    float3 viewNormal : TEXCOORD5;
    float4 tangent : TEXCOORD6;
    float4 shadow : TEXCOORD7;
};

float2 setOf(SurfaceVertex v, int k)
{
    return k < layerCount ? layerSet(v, k) : float2(0, 0);
}

SurfaceOut surfaceVertex(SurfaceVertex v)
{
    SurfaceOut o;
    float3 p = skinnedPoint(v.position, v.boneIndices, v.boneWeights);
    float3 n = skinnedVector(v.normal, v.boneIndices, v.boneWeights);
    o.position = clipPosition(p);
    o.viewPosition = mul(float4(p, 1), matWorldView);
    o.viewNormal = viewVector(n);
    o.sets01 = float4(setOf(v, 0), setOf(v, 1));
    o.sets23 = float4(setOf(v, 2), setOf(v, 3));
    o.sets45 = float4(setOf(v, 4), setOf(v, 5));
    o.sets67 = float4(setOf(v, 6), setOf(v, 7));
    o.tangent = float4(0, 0, 0, 1);
    if (numTexBUMP > 0) {
        float3 a = skinnedVector(inputSet(v, layerCount), v.boneIndices, v.boneWeights);
        float3 ab = inputSet(v, layerCount + 2);
        o.tangent = float4(viewVector(a), dot(ab, v.normal) < 0 ? -1.0 : 1.0);
    }
    o.shadow = float4(0, 0, 0, 1);
    if (numShadows > 0)
        o.shadow = mul(float4(p, 1), matWorldLightviewLightprojShadowbias);
    return o;
}

SurfaceOut vshader0(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader1(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader2(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader3(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader4(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader5(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader6(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader7(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshader8(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS0(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS1(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS2(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS3(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS4(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS5(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS6(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS7(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderS8(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF0(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF1(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF2(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF3(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF4(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF5(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF6(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF7(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderF8(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF0(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF1(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF2(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF3(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF4(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF5(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF6(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF7(SurfaceVertex v) { return surfaceVertex(v); }
SurfaceOut vshaderSF8(SurfaceVertex v) { return surfaceVertex(v); }

// ---------------------------------------------------------------------------
// Pixels

float2 pixelSet(SurfaceIn i, int k)
{
    float4 pairs[4] = {i.sets01, i.sets23, i.sets45, i.sets67};
    return (k % 2) == 1 ? pairs[k / 2].zw : pairs[k / 2].xy;
}

// A layer over what the layers before it made, by its opacity type:
// 0 normal, 1 subtractive, 2 difference, 3 multiply, 4 divide, 7 additive;
// alpha (5) and displacement (6) layers leave the value as it is.
float3 blendLayer(float3 base, float3 layer, float opacity, int op)
{
    if (op == 1)
        return base - layer * opacity;
    if (op == 2)
        return lerp(base, abs(base - layer), opacity);
    if (op == 3)
        return lerp(base, base * layer, opacity);
    if (op == 4)
        return lerp(base, base / max(layer, 1.0 / 255.0), opacity);
    if (op == 5 || op == 6)
        return base;
    if (op == 7)
        return base + layer * opacity;
    return lerp(base, layer, opacity);
}

// Where a layer samples: its coordinate set, or for a gradient its input
// scaled to the range: input 1 the incidence angle in degrees, any other
// the distance from the viewer.
float2 layerCoordinate(SurfaceIn i, int set, int gInput, float4 gParam, float3 n)
{
    if (gInput < 0)
        return pixelSet(i, set);
    float value = length(i.viewPosition);
    if (gInput == 1)
        value = degrees(acos(saturate(abs(dot(n, normalize(-i.viewPosition))))));
    return float2(value * gParam.w, 0.5);
}

float3 layerValue(float4 texel, int invert)
{
    return invert != 0 ? 1.0 - texel.rgb : texel.rgb;
}

// Heights of the bump map one step along each coordinate tilt the normal
// against the tangent frame.
float3 bumpedNormal(SurfaceIn i, float3 n)
{
    float2 uv = pixelSet(i, firstSetBUMP);
    const float step = 1.0 / 256.0;
    float h = tex2D(BUMP0, uv).r;
    float du = tex2D(BUMP0, uv + float2(step, 0)).r - h;
    float dv = tex2D(BUMP0, uv + float2(0, step)).r - h;
    if (metaTexBUMPInvert[0] != 0) {
        du = -du;
        dv = -dv;
    }
    float3 a = i.tangent.xyz;
    if (dot(a, a) < 1e-12)
        return n;
    a = normalize(a - n * dot(a, n));
    float3 b = cross(n, a) * i.tangent.w;
    return normalize(n - metaTexBUMPOpacity[0] * 16.0 * (du * a + dv * b));
}

// 1 where the shadowing light reaches the point, 0 in its shadow, and the
// spot texture's colour on top. Past the map's border the sampler gives 0,
// that is shadow; the spot cone is dark there anyway. w is the light-space
// depth: the spot's projection keeps it.
float3 shadowFilter(SurfaceIn i)
{
    if (numShadows <= 0 || i.shadow.w <= 0)
        return 1;
    float2 uv = i.shadow.xy / i.shadow.w;
    return shadowLit(i.shadow.w, tex2D(ZMAP0, uv)) * tex2D(SPOT0, uv).rgb;
}

float4 pshader(SurfaceIn i) : COLOR0
{
    float3 n = normalize(i.viewNormal);
    if (numTexBUMP > 0)
        n = bumpedNormal(i, n);

    // Layer k of channel X over the value v, its opacity given as o.
#define LAYER(v, X, k, o)                                                                                   \
    blendLayer(v,                                                                                           \
               layerValue(tex2D(X##k, layerCoordinate(i, firstSet##X + k, metaTex##X##gInput[k],              \
                                                      metaTex##X##gParam[k], n)),                           \
                          metaTex##X##Invert[k]),                                                           \
               o, metaTex##X##Blendop[k])

    float3 colour = srfColor.rgb;
    if (numTexCOLR > 0)
        colour = LAYER(colour, COLR, 0, metaTexCOLROpacity[0].x);
    if (numTexCOLR > 1)
        colour = LAYER(colour, COLR, 1, metaTexCOLROpacity[1].x);
    if (numTexCOLR > 2)
        colour = LAYER(colour, COLR, 2, metaTexCOLROpacity[2].x);
    if (numTexCOLR > 3)
        colour = LAYER(colour, COLR, 3, metaTexCOLROpacity[3].x);
    float3 diffuse = srfLighting.y;
    if (numTexDIFF > 0)
        diffuse = LAYER(diffuse, DIFF, 0, metaTexDIFFOpacity[0]);
    if (numTexDIFF > 1)
        diffuse = LAYER(diffuse, DIFF, 1, metaTexDIFFOpacity[1]);
    float3 luminosity = srfLighting.x;
    if (numTexLUMI > 0)
        luminosity = LAYER(luminosity, LUMI, 0, metaTexLUMIOpacity[0]);
    float3 specularity = srfLighting.z;
    if (numTexSPEC > 0)
        specularity = LAYER(specularity, SPEC, 0, metaTexSPECOpacity[0]);
    float3 reflection = srfReflectivity;
    if (numTexREFL > 0)
        reflection = LAYER(reflection, REFL, 0, metaTexREFLOpacity[0]);
#undef LAYER
    float alpha = srfColor.a;
    if (numTexTRAN > 0) {
        // The map's alpha is the opacity, as on the fixed-function path.
        float a = tex2D(TRAN0, layerCoordinate(i, firstSetTRAN, metaTexTRANgInput[0], metaTexTRANgParam[0], n)).a;
        alpha *= metaTexTRANInvert[0] != 0 ? 1.0 - a : a;
    }

    float3 lightDiffuse;
    float3 lightSpecular;
    lightPoint(i.viewPosition, n, srfLighting.w, shadowFilter(i), lightDiffuse, lightSpecular);
    float3 result = colour * (luminosity + diffuse * (ambientLightColor + lightDiffuse)) + specularity * lightSpecular;

    // Reflections of the environment, by the view-space reflection vector.
    float3 r = reflect(normalize(i.viewPosition), n);
    if (sphericalEnvmapAvailable != 0) {
        float m = 2.0 * sqrt(r.x * r.x + r.y * r.y + (1.0 - r.z) * (1.0 - r.z));
        float2 uv = float2(0.5 + r.x / m, 0.5 - r.y / m);
        result += tex2D(ZIMG0, uv).rgb * reflection;
    }
    if (cubemapAvailable != 0)
        result = lerp(result, texCUBE(CUBE0, r).rgb, saturate(reflection));
    return float4(result, alpha);
}

// Shared by the surface effects: every switch and uniform the engine sets,
// vertex skinning, lighting and the shadow-map depth code.
//
// Switches are literals: each combination compiles to its own shaders, so
// every test of a switch below costs nothing at run time.
//
// Spaces: lighting runs in view space (the light positions and directions
// arrive there), so the viewer sits at the origin; cameraPos is not used.
//
// Texture sets: a surface's layers take coordinate sets in layer order, and
// our content lists the layers grouped by channel in the order COLR, DIFF,
// LUMI, REFL, BUMP, TRNL, SPEC, TRAN. So layer k of a channel reads set
// (the counts of the channels before it) + k; firstSet* below. The tangent
// frame of a bump surface follows the last set: sets n .. n+3 for n layers.
// Layers of other channels (or beyond what the samplers name) take a set
// but are not drawn.

// ---------------------------------------------------------------------------
// Switches

int bake;
int specularEnabled;
int isFogEnabled;
int isLocalViewer;
int isCylindricalViewer;
int numActiveDistantLights;
int numActivePointLights;
int numActiveSpotLights;
int pointLightFalloffType[8];
int spotLightFalloffType[8];
int numTexCOLR;
int numTexLUMI;
int numTexDIFF;
int numTexREFL;
int numTexSPEC;
int numTexTRAN;
int numTexTRNL;
int numTexBUMP;
int numShadows;
int metaTexCOLRFullOpacity[4];
int metaTexLUMIFullOpacity[4];
int metaTexDIFFFullOpacity[4];
int metaTexREFLFullOpacity[4];
int metaTexSPECFullOpacity[4];
int metaTexTRANFullOpacity[4];
int metaTexBUMPFullOpacity[4];
int metaTexCOLRInvert[4];
int metaTexLUMIInvert[4];
int metaTexDIFFInvert[4];
int metaTexREFLInvert[4];
int metaTexSPECInvert[4];
int metaTexTRANInvert[4];
int metaTexBUMPInvert[4];
int metaTexCOLRBlendop[4];
int metaTexLUMIBlendop[4];
int metaTexDIFFBlendop[4];
int metaTexREFLBlendop[4];
int metaTexSPECBlendop[4];
int metaTexTRANBlendop[4];
int metaTexBUMPBlendop[4];
int metaTexCOLRgInput[4];
int metaTexLUMIgInput[4];
int metaTexDIFFgInput[4];
int metaTexREFLgInput[4];
int metaTexSPECgInput[4];
int metaTexTRANgInput[4];
int metaTexBUMPgInput[4];
int sphericalEnvmapAvailable;
int cubemapAvailable;
int numBoneWeights;
int displacement;
int animatedTexSets; // bit k: set k holds positions to project (below)

// ---------------------------------------------------------------------------
// Uniforms. Matrices come transposed, so mul(row vector, M) applies them;
// a float4x3 holds the first three columns of an affine transform.

float4x4 matWorldViewProj;
float4x3 matWorldView;
float3 matWorldViewNormalized[3]; // column j of the normal matrix as element j
float4x3 matWorldWT;
float4x4 matWorldLightviewLightprojShadowbias;
float4x3 matBone[24];
float time;
float cylindricalScale;
float3 ambientLightColor;
float3 distantLightColor[8];
float3 distantLightDir[8]; // towards the light
float3 pointLightColor[8];
float3 pointLightPos[8];
float3 pointLightAttenuation[8];
float3 spotLightColor[8];
float3 spotLightPos[8];
float3 spotLightDir[8]; // towards the light
float spotLightCosTheta[8];
float spotLightCosThetaMinusCosPhi[8];
float3 spotLightAttenuation[8];
float3 cameraPos;
float4 srfColor;    // rgb, and the alpha the blend states expect
float4 srfLighting; // luminosity, diffuse, specularity, specular power
float3 srfReflectivity;
float srfAddTransparency;
float3 metaTexCOLROpacity[4];
float metaTexLUMIOpacity[4];
float metaTexDIFFOpacity[4];
float metaTexREFLOpacity[4];
float metaTexSPECOpacity[4];
float metaTexTRANOpacity[4];
float metaTexBUMPOpacity[4];
float4 metaTexCOLRgParam[4]; // w: 1 / gradient range end
float4 metaTexLUMIgParam[4];
float4 metaTexDIFFgParam[4];
float4 metaTexREFLgParam[4];
float4 metaTexSPECgParam[4];
float4 metaTexTRANgParam[4];
float4 metaTexBUMPgParam[4];
float4 matTexProjection[16]; // u and v of layer slot k's placement: 2k, 2k + 1

// ---------------------------------------------------------------------------
// Texture sets (see the top)

static const int firstSetCOLR = 0;
static const int firstSetDIFF = firstSetCOLR + numTexCOLR;
static const int firstSetLUMI = firstSetDIFF + numTexDIFF;
static const int firstSetREFL = firstSetLUMI + numTexLUMI;
static const int firstSetBUMP = firstSetREFL + numTexREFL;
static const int firstSetTRNL = firstSetBUMP + numTexBUMP;
static const int firstSetSPEC = firstSetTRNL + numTexTRNL;
static const int firstSetTRAN = firstSetSPEC + numTexSPEC;
static const int layerCount = firstSetTRAN + numTexTRAN;

// The vertex inputs of the shader-path layout. Sets are float2 and the
// tangent frame float3; every one is read as float3 (z of a set is 0).
// Blend indices arrive as UBYTE4, read as float4.
struct SurfaceVertex {
    float3 position : POSITION;
    float3 normal : NORMAL;
    float3 t0 : TEXCOORD0;
    float3 t1 : TEXCOORD1;
    float3 t2 : TEXCOORD2;
    float3 t3 : TEXCOORD3;
    float3 t4 : TEXCOORD4;
    float3 t5 : TEXCOORD5;
    float3 t6 : TEXCOORD6;
    float3 t7 : TEXCOORD7;
    float3 t8 : TEXCOORD8;
    float3 t9 : TEXCOORD9;
    float3 t10 : TEXCOORD10;
    float3 t11 : TEXCOORD11;
    float4 boneIndices : BLENDINDICES;
    float4 boneWeights : BLENDWEIGHT;
};

float3 inputSet(SurfaceVertex v, int k)
{
    float3 sets[12] = {v.t0, v.t1, v.t2, v.t3, v.t4, v.t5, v.t6, v.t7, v.t8, v.t9, v.t10, v.t11};
    return sets[k];
}

// The coordinates of layer slot k. A layer whose placement moves keeps the
// corners' positions in its set, and two floats of them would lose z: its
// coordinates are the planar projection of the vertex position (before
// skinning, as the set holds it) with the placement of this frame.
float2 layerSet(SurfaceVertex v, int k)
{
    if (((animatedTexSets >> k) & 1) != 0) {
        float4 p = float4(v.position, 1);
        return float2(dot(p, matTexProjection[2 * k]), dot(p, matTexProjection[2 * k + 1]));
    }
    return inputSet(v, k).xy;
}

// ---------------------------------------------------------------------------
// Skinning: the bone matrices map object space to object space, weighted by
// the first numBoneWeights weights (which the mesh build normalised).

float3 skinnedPoint(float3 p, float4 indices, float4 weights)
{
    if (numBoneWeights <= 0)
        return p;
    float3 sum = 0;
    float w[4] = {weights.x, weights.y, weights.z, weights.w};
    float b[4] = {indices.x, indices.y, indices.z, indices.w};
    for (int i = 0; i < 4; i++) {
        if (i < numBoneWeights)
            sum += w[i] * mul(float4(p, 1), matBone[(int)b[i]]);
    }
    return sum;
}

float3 skinnedVector(float3 n, float4 indices, float4 weights)
{
    if (numBoneWeights <= 0)
        return n;
    float3 sum = 0;
    float w[4] = {weights.x, weights.y, weights.z, weights.w};
    float b[4] = {indices.x, indices.y, indices.z, indices.w};
    for (int i = 0; i < 4; i++) {
        if (i < numBoneWeights)
            sum += w[i] * mul(n, (float3x3)matBone[(int)b[i]]);
    }
    return sum;
}

// Object-space direction into view space, without the scale.
float3 viewVector(float3 n)
{
    return float3(dot(n, matWorldViewNormalized[0]), dot(n, matWorldViewNormalized[1]),
                  dot(n, matWorldViewNormalized[2]));
}

// The clip position; the cylindrical viewer spreads the horizontal angle
// evenly over the picture.
float4 clipPosition(float3 p)
{
    float4 clip = mul(float4(p, 1), matWorldViewProj);
    if (isCylindricalViewer != 0) {
        float3 v = mul(float4(p, 1), matWorldView);
        clip.x = atan2(v.x, v.z) * cylindricalScale * clip.w;
    }
    return clip;
}

// ---------------------------------------------------------------------------
// Lighting, per pixel in view space. Falloff types: 0 none; 1 linear,
// a.x + a.y d down to 0; 2 reciprocal, 1 / (a.x + a.y d + a.z d^2).

float falloff(int type, float3 a, float d)
{
    if (type == 1)
        return saturate(a.x + a.y * d);
    if (type == 2)
        return 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-6);
    return 1.0;
}

// 0 outside the cone, 1 inside the inner cone, linear across the edge.
float spotCone(int i, float3 toLight)
{
    float rho = dot(toLight, normalize(spotLightDir[i]));
    float edge = spotLightCosThetaMinusCosPhi[i];
    float outer = spotLightCosTheta[i] - edge;
    if (edge <= 1e-6)
        return rho >= spotLightCosTheta[i] ? 1.0 : 0.0;
    return saturate((rho - outer) / edge);
}

// Accumulates one light of colour c from direction l (normalised, towards
// the light) with factor k on the normal n seen from v.
void addLight(inout float3 diffuse, inout float3 specular, float3 c, float3 l, float k, float3 n, float3 v,
              float power)
{
    float nl = dot(n, l);
    if (nl <= 0 || k <= 0)
        return;
    diffuse += c * (nl * k);
    if (specularEnabled != 0 && power > 0) {
        float nh = saturate(dot(n, normalize(l + v)));
        specular += c * (pow(nh, power) * k);
    }
}

// The light that reaches a point p with normal n; spotFilter (shadow and
// spot texture) colours the spot lights, as the surface's shadowing light
// is a spot light.
void lightPoint(float3 p, float3 n, float power, float3 spotFilter, out float3 diffuse, out float3 specular)
{
    diffuse = 0;
    specular = 0;
    float3 v = isLocalViewer != 0 ? normalize(-p) : float3(0, 0, -1);
    for (int i = 0; i < numActiveDistantLights; i++)
        addLight(diffuse, specular, distantLightColor[i], normalize(distantLightDir[i]), 1.0, n, v, power);
    for (int j = 0; j < numActivePointLights; j++) {
        float3 d = pointLightPos[j] - p;
        float len = length(d);
        float k = falloff(pointLightFalloffType[j], pointLightAttenuation[j], len);
        addLight(diffuse, specular, pointLightColor[j], d / max(len, 1e-6), k, n, v, power);
    }
    for (int s = 0; s < numActiveSpotLights; s++) {
        float3 d = spotLightPos[s] - p;
        float len = length(d);
        float3 l = d / max(len, 1e-6);
        float k = falloff(spotLightFalloffType[s], spotLightAttenuation[s], len) * spotCone(s, l);
        addLight(diffuse, specular, spotLightColor[s] * spotFilter, l, k, n, v, power);
    }
}

// ---------------------------------------------------------------------------
// Shadow maps drawn in colour hold the light-space depth z (the distance
// along the light's axis), not the projected z/w: a light inside a room
// fits its range from the near plane, as the walls' box reaches behind it,
// and z/w then crowds everything beyond a metre into its last hundredth,
// where no fixed bias tells a caster from what it shadows. z is kept as
// z / (z + 8): fine steps near the light, and still a millimetre at a few
// hundred units. That value goes into red, green and blue, 8 bits each,
// most significant first. The map's clear, 0xFDFDFDFD, decodes to about
// 0.996, beyond every value written (those stop at 0.99, that is at
// shadowFarDepth), so unwritten texels read as far.

static const float shadowDepthScale = 8.0;
static const float shadowFarDepth = 99.0 * shadowDepthScale;

float4 encodeDepth(float z)
{
    float zc = max(z, 0.0);
    float d = min(zc / (zc + shadowDepthScale), 0.99);
    float3 e = frac(d * float3(1.0, 255.0, 65025.0));
    e.xy -= e.yz / 255.0;
    return float4(e, 1);
}

// The light-space depth a map texel holds.
float decodeDepth(float4 c)
{
    float d = dot(c.rgb, float3(1.0, 1.0 / 255.0, 1.0 / 65025.0));
    return shadowDepthScale * d / max(1.0 - d, 1e-6);
}

// 1 where a receiver at light-space depth z is not behind what the map
// texel c holds. The bias, a little more with distance, covers the slope
// of a surface across one texel; a receiver beyond the map's reach is lit.
float shadowLit(float z, float4 c)
{
    float zc = min(z, shadowFarDepth);
    return zc - (0.02 + 0.01 * zc) <= decodeDepth(c) ? 1.0 : 0.0;
}

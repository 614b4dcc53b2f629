// Shader variants of an effect in the shape of the engine's surface effects
// (every shader switch and uniform declared, lights in loops bounded by the
// switches, skinning, fog, texture layers) on a headless device:
//   compile:  one new switch combination: literals, HLSL to GLSL, the GL
//             program link and the first draw, finished by a one-pixel
//             read-back; median over several combinations. The GL side
//             comes from Mesa's shader cache from the second run on: with
//             the cache cold, llvmpipe's code generation alone takes about
//             ten times the rest, and the figure measures Mesa;
//   activate: one activation of a cached variant (key lookup, shader binds,
//             every uniform uploaded to both constant tables), averaged over
//             many iterations, best of several rounds.
// The last two lines are compile_ms=T and activate_us=T.
#include "bench_display.h"
#include "display/display_manager.h"
#include "foundation/byte_string.h"
#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "materials/engine.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/sourcefile.h"
#include "platform/d3d9/adapter_profiles.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kCompileSamples = 9;
constexpr int kActivateRounds = 5;
constexpr int kActivateIterations = 20000;

const char* const kEffect = R"(// a surface effect
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
int metaTexCOLRInvert[4];
int metaTexCOLRBlendop[4];
int metaTexCOLRgInput[4];
int sphericalEnvmapAvailable;
int cubemapAvailable;
int numBoneWeights;
int displacement;

float4x4 matWorldViewProj;
float4x3 matWorldView;
float3x3 matWorldViewNormalized;
float4x3 matWorldWT;
float4x4 matWorldLightviewLightprojShadowbias;
float4x3 matBone[24];
float time;
float cylindricalScale;
float3 ambientLightColor;
float3 distantLightColor[8];
float3 distantLightDir[8];
float3 pointLightColor[8];
float3 pointLightPos[8];
float3 pointLightAttenuation[8];
float3 spotLightColor[8];
float3 spotLightPos[8];
float3 spotLightDir[8];
float spotLightCosTheta[8];
float spotLightCosThetaMinusCosPhi[8];
float3 spotLightAttenuation[8];
float3 cameraPos;
float4 srfColor;
float4 srfLighting;
float3 srfReflectivity;
float srfAddTransparency;
float3 metaTexCOLROpacity[4];
float4 metaTexCOLRgParam[4];

sampler2D COLR0 = sampler_state { MinFilter = Linear; MagFilter = Linear; };
sampler2D COLR1 = sampler_state { MinFilter = Linear; MagFilter = Linear; };

struct VsIn {
    float3 pos : POSITION;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD0;
    float4 weights : BLENDWEIGHT;
    float4 indices : BLENDINDICES;
};

struct VsOut {
    float4 pos : POSITION;
    float4 diffuse : COLOR0;
    float4 specular : COLOR1;
    float2 uv : TEXCOORD0;
    float fog : TEXCOORD1;
};

float3 light(float3 n, float3 v, float3 l, float3 colour)
{
    float d = max(dot(n, l), 0);
    float3 h = normalize(l + v);
    float s = specularEnabled ? pow(max(dot(n, h), 0), srfLighting.w) : 0;
    return colour * (d * srfLighting.y + s * srfLighting.z);
}

VsOut vshader(VsIn i)
{
    VsOut o;
    float3 p = i.pos;
    float3 n = i.normal;
    if (numBoneWeights > 0) {
        float3 sp = 0;
        float3 sn = 0;
        for (int b = 0; b < numBoneWeights; ++b) {
            int index = (int)i.indices[b];
            sp += mul(float4(i.pos, 1), matBone[index]) * i.weights[b];
            sn += mul(i.normal, (float3x3)matBone[index]) * i.weights[b];
        }
        p = sp;
        n = sn;
    }
    o.pos = mul(float4(p, 1), matWorldViewProj);
    float3 vp = mul(float4(p, 1), matWorldView);
    float3 vn = normalize(mul(n, matWorldViewNormalized));
    float3 v = isLocalViewer ? normalize(-vp) : float3(0, 0, -1);
    float3 c = ambientLightColor + srfLighting.x;
    for (int d = 0; d < numActiveDistantLights; ++d)
        c += light(vn, v, -distantLightDir[d], distantLightColor[d]);
    for (int q = 0; q < numActivePointLights; ++q) {
        float3 l = pointLightPos[q] - vp;
        float dist = length(l);
        float att = 1;
        if (pointLightFalloffType[q] == 1)
            att = 1 / dot(pointLightAttenuation[q], float3(1, dist, dist * dist));
        c += light(vn, v, l / dist, pointLightColor[q]) * att;
    }
    for (int s = 0; s < numActiveSpotLights; ++s) {
        float3 l = normalize(spotLightPos[s] - vp);
        float cone = saturate((dot(-l, spotLightDir[s]) - spotLightCosTheta[s]) /
                              spotLightCosThetaMinusCosPhi[s]);
        c += light(vn, v, l, spotLightColor[s]) * cone;
    }
    o.diffuse = float4(c * srfColor.rgb, srfColor.a);
    o.specular = float4(srfReflectivity, srfAddTransparency);
    o.uv = i.uv + metaTexCOLRgParam[0].xy * time;
    o.fog = isFogEnabled ? saturate(vp.z * cylindricalScale) : 0;
    return o;
}

float4 pshader(VsOut i) : COLOR0
{
    float4 c = i.diffuse;
    if (numTexCOLR > 0) {
        float4 t = tex2D(COLR0, i.uv);
        if (metaTexCOLRInvert[0])
            t = 1 - t;
        c *= lerp(1, t, metaTexCOLROpacity[0].x);
    }
    if (numTexCOLR > 1)
        c *= tex2D(COLR1, i.uv * 2);
    c.rgb += i.specular.rgb;
    return c;
}
)";

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
    float weights[4];
    float indices[4];
};

const D3DVERTEXELEMENT9 kElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_BLENDWEIGHT, 0},
    {0, 48, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_BLENDINDICES, 0},
    D3DDECL_END(),
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    diagnosticsLevel = 2;
    std::unique_ptr<DisplayManager> manager = openBenchDisplay(64, 64);
    if (!manager)
        return 1;

    int result = 0;
    {
        Engine engine(manager.get());
        IDirect3DDevice9* d = engine.currentDevice;
        ShaderPair pair(&engine);
        MemoryStream source;
        source.anyFile = kEffect;
        Sourcefile include(source.clone());
        if (!pair.loadFile(include, "surface.fx")) {
            std::fprintf(stderr, "the effect does not load\n");
            return 1;
        }

        IDirect3DVertexDeclaration9* declaration = nullptr;
        d->CreateVertexDeclaration(kElements, &declaration);
        IDirect3DSurface9* back = nullptr;
        IDirect3DSurface9* copy = nullptr;
        d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        d->CreateOffscreenPlainSurface(64, 64, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr);
        const Vertex quad[4] = {
            {-1, 1, 0.5f, 0, 0, -1, 0, 0, {1, 0, 0, 0}, {0, 0, 0, 0}},
            {1, 1, 0.5f, 0, 0, -1, 1, 0, {1, 0, 0, 0}, {0, 0, 0, 0}},
            {-1, -1, 0.5f, 0, 0, -1, 0, 1, {1, 0, 0, 0}, {0, 0, 0, 0}},
            {1, -1, 0.5f, 0, 0, -1, 1, 1, {1, 0, 0, 0}, {0, 0, 0, 0}},
        };
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetVertexDeclaration(declaration);
        ShaderSwitches& sw = *engine.switches;
        *sw.specularEnabled = 1;
        *sw.numActiveDistantLights = 1;
        *sw.numTexCOLR = 1;

        auto drawAndWait = [&] {
            d->BeginScene();
            d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
            d->EndScene();
            d->GetRenderTargetData(back, copy);
        };

        // New combinations: point light counts 1..8, then skinning.
        std::vector<double> compileMs;
        for (int i = 0; i < kCompileSamples; ++i) {
            *sw.numActivePointLights = i < 8 ? i + 1 : 0;
            *sw.numBoneWeights = i < 8 ? 0 : 2;
            const auto t0 = std::chrono::steady_clock::now();
            if (!pair.activate()) {
                std::fprintf(stderr, "variant %d does not compile\n", i);
                result = 1;
                break;
            }
            drawAndWait();
            const auto t1 = std::chrono::steady_clock::now();
            compileMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }

        // A cached variant, with several others in the map.
        *sw.numActivePointLights = 2;
        *sw.numBoneWeights = 0;
        double bestUs = 1e30;
        for (int round = 0; round < kActivateRounds && result == 0; ++round) {
            const auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < kActivateIterations; ++i)
                pair.activate();
            const auto t1 = std::chrono::steady_clock::now();
            bestUs = std::min(bestUs, std::chrono::duration<double, std::micro>(t1 - t0).count() / kActivateIterations);
        }
        drawAndWait();

        d->SetVertexDeclaration(nullptr);
        declaration->Release();
        copy->Release();
        back->Release();
        if (result == 0) {
            std::printf("variants compiled: %zu, activations per round: %d\n", compileMs.size(), kActivateIterations);
            std::printf("compile_ms=%.2f\n", median(compileMs));
            std::printf("activate_us=%.3f\n", bestUs);
        }
    }
    platform::clearAdapterProfiles();
    return result;
}

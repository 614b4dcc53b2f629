// Direct3D 9's documented fixed-function formulas in double precision, to
// compute what the tests expect: per-vertex lighting in camera space, fog
// factors, texture stage operations.
#pragma once

#include "platform/d3d9/d3d9_states.h"

#include <algorithm>
#include <cmath>

namespace ffref {

struct V3 {
    double x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double k) { return {a.x * k, a.y * k, a.z * k}; }
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double length(V3 a) { return std::sqrt(dot(a, a)); }
inline V3 normalize(V3 a)
{
    const double l = length(a);
    return l > 0 ? a * (1.0 / l) : a;
}

struct C4 {
    double r = 0, g = 0, b = 0, a = 0;
};
inline C4 c4(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }
inline C4 c4(D3DCOLOR c)
{
    return {((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0, (c >> 24) / 255.0};
}
inline double sat(double v) { return std::min(1.0, std::max(0.0, v)); }
inline C4 sat(C4 c) { return {sat(c.r), sat(c.g), sat(c.b), sat(c.a)}; }
inline int byte(double v) { return int(std::floor(sat(v) * 255.0 + 0.5)); }

// Row vector times the 3 x 3 part (w = 0) or the whole matrix (w = 1).
inline V3 transform(V3 v, const D3DMATRIX& m, double w)
{
    return {v.x * m._11 + v.y * m._21 + v.z * m._31 + w * m._41, v.x * m._12 + v.y * m._22 + v.z * m._32 + w * m._42,
            v.x * m._13 + v.y * m._23 + v.z * m._33 + w * m._43};
}

// Material colours after the colour sources have been resolved.
struct Material {
    C4 diffuse, ambient, specular, emissive;
    double power = 0;
};

struct LitVertex {
    C4 diffuse, specular;
};

// The lighting of one vertex, everything in camera space (lights already
// transformed by the view matrix). N is the camera-space normal as the
// pipeline has it (normalised or not).
inline LitVertex light(const D3DLIGHT9* lights, int count, const Material& m, C4 globalAmbient, V3 P, V3 N,
                       bool specularEnable, bool localViewer)
{
    C4 ambientSum, diffuseSum, specularSum;
    for (int i = 0; i < count; ++i) {
        const D3DLIGHT9& l = lights[i];
        V3 L;
        double k = 1;
        const V3 dir = normalize({l.Direction.x, l.Direction.y, l.Direction.z});
        if (l.Type == D3DLIGHT_DIRECTIONAL) {
            L = dir * -1.0;
        } else {
            const V3 toLight = V3{l.Position.x, l.Position.y, l.Position.z} - P;
            const double d = length(toLight);
            L = normalize(toLight);
            if (d > l.Range)
                k = 0;
            else
                k = 1.0 / (l.Attenuation0 + l.Attenuation1 * d + l.Attenuation2 * d * d);
            if (l.Type == D3DLIGHT_SPOT) {
                const double rho = dot(dir * -1.0, L);
                const double cosTheta = std::cos(l.Theta / 2), cosPhi = std::cos(l.Phi / 2);
                if (rho <= cosPhi)
                    k = 0;
                else if (rho <= cosTheta)
                    k *= std::pow((rho - cosPhi) / (cosTheta - cosPhi), l.Falloff);
            }
        }
        ambientSum.r += l.Ambient.r * k;
        ambientSum.g += l.Ambient.g * k;
        ambientSum.b += l.Ambient.b * k;
        const double NdotL = dot(N, L);
        if (NdotL > 0) {
            diffuseSum.r += l.Diffuse.r * NdotL * k;
            diffuseSum.g += l.Diffuse.g * NdotL * k;
            diffuseSum.b += l.Diffuse.b * NdotL * k;
            if (specularEnable) {
                const V3 toViewer = localViewer ? normalize(P * -1.0) : V3{0, 0, -1};
                const V3 H = normalize(toViewer + L);
                const double NdotH = dot(N, H);
                if (NdotH > 0) {
                    const double f = std::pow(NdotH, m.power) * k;
                    specularSum.r += l.Specular.r * f;
                    specularSum.g += l.Specular.g * f;
                    specularSum.b += l.Specular.b * f;
                }
            }
        }
    }
    LitVertex out;
    out.diffuse = sat(C4{m.emissive.r + m.ambient.r * (globalAmbient.r + ambientSum.r) + m.diffuse.r * diffuseSum.r,
                         m.emissive.g + m.ambient.g * (globalAmbient.g + ambientSum.g) + m.diffuse.g * diffuseSum.g,
                         m.emissive.b + m.ambient.b * (globalAmbient.b + ambientSum.b) + m.diffuse.b * diffuseSum.b,
                         m.diffuse.a});
    if (specularEnable)
        out.specular = sat(C4{m.specular.r * specularSum.r, m.specular.g * specularSum.g,
                              m.specular.b * specularSum.b, m.specular.a});
    return out;
}

// Fog factor (1 = no fog) of depth d.
inline double fog(int mode, double d, double start, double end, double density)
{
    switch (mode) {
    case D3DFOG_EXP:
        return sat(std::exp(-d * density));
    case D3DFOG_EXP2:
        return sat(std::exp(-(d * density) * (d * density)));
    case D3DFOG_LINEAR:
        return sat((end - d) / (end - start));
    default:
        return 1.0;
    }
}

inline C4 fogBlend(C4 color, C4 fogColor, double f)
{
    return {f * color.r + (1 - f) * fogColor.r, f * color.g + (1 - f) * fogColor.g, f * color.b + (1 - f) * fogColor.b,
            color.a};
}

// An argument after its modifiers.
inline C4 modified(C4 v, DWORD arg)
{
    if (arg & D3DTA_COMPLEMENT)
        v = {1 - v.r, 1 - v.g, 1 - v.b, 1 - v.a};
    if (arg & D3DTA_ALPHAREPLICATE)
        v = {v.a, v.a, v.a, v.a};
    return v;
}

// One channel of a texture operation. `blend` is the alpha the BLEND*
// operations use (diffuse, texture, factor or current alpha).
inline double channel(DWORD op, double a0, double a1, double a2, double blend)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE:
        return a1 * a2;
    case D3DTOP_MODULATE2X:
        return 2 * a1 * a2;
    case D3DTOP_MODULATE4X:
        return 4 * a1 * a2;
    case D3DTOP_ADD:
        return a1 + a2;
    case D3DTOP_ADDSIGNED:
        return a1 + a2 - 0.5;
    case D3DTOP_ADDSIGNED2X:
        return 2 * (a1 + a2 - 0.5);
    case D3DTOP_SUBTRACT:
        return a1 - a2;
    case D3DTOP_ADDSMOOTH:
        return a1 + a2 * (1 - a1);
    case D3DTOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDTEXTUREALPHA:
    case D3DTOP_BLENDFACTORALPHA:
    case D3DTOP_BLENDCURRENTALPHA:
        return a1 * blend + a2 * (1 - blend);
    case D3DTOP_BLENDTEXTUREALPHAPM:
        return a1 + a2 * (1 - blend);
    case D3DTOP_MULTIPLYADD:
        return a0 + a1 * a2;
    case D3DTOP_LERP:
        return a0 * a1 + (1 - a0) * a2;
    default:
        return a1;
    }
}

} // namespace ffref

#include "materials/generated_textures.h"

#include "foundation/matrix.h"
#include "materials/generated_textures_local.h"

#include <cmath>

namespace {

constexpr u32 kSpecialFlags = Texture::kMipChain | Texture::kColorMap; // 6
constexpr i32 kFlareSize = 512;

u32 clampByte(double value)
{
    // Truncated toward zero first, then clamped.
    const double t = std::trunc(value);
    return t <= 0.0 ? 0u : t >= 255.0 ? 255u : u32(t);
}

// The integer hash behind flareNoise, in [-1, 1], with 32-bit wrap-around.
double flareHash(u32 n)
{
    const u32 m = n ^ (n << 13);
    const u32 v = (m * (m * m * 15731u + 789221u) - 771171059u) & 0x7FFFFFFFu;
    return 1.0 - double(v) / 1073741824.0;
}

u32 flareTexel(i32 kind, i32 x, i32 y, i32 w, i32 h)
{
    const double dx = double(x) - double(w / 2) - 0.5;
    const double dy = double(y) - double(h / 2) - 0.5;
    const double r2 = dx * dx + dy * dy;
    const double r = std::sqrt(r2);
    switch (kind) {
    case 0: {
        // Rays around the centre. atan2 takes dx first: the rays' pattern is
        // tied to that orientation.
        const double theta = std::atan2(dx, dy) + 3.9269908169872414;
        const double n = flareNoise(10.0 * theta);
        const double s = n + theta * 5.092958178940651 + 1.0;
        const double u = std::fmod(s, 1.0) - 0.5;
        const double a = std::fabs(3.3 * u) * 0.1;
        const u32 g = clampByte((1.0 - a / (0.1 * (2.0 * std::trunc(r)) + 1.0)) * 255.0);
        return generated::grey(255 - g);
    }
    case 1: {
        const double q = std::log(r2);
        return generated::grey(q > 0.0 ? clampByte((5.86 / q - 0.53) * 255.0) : 255u);
    }
    case 2:
        // r^6 as (r^2)^3: exact on the half-texel grid where it matters.
        return generated::grey(clampByte(255.0 - r2 * r2 * r2 * 9.094947017729282e-13));
    case 3:
        return generated::grey(clampByte(255.0 - 16.0 * std::sqrt(r)));
    default: {
        const double d = std::fabs(r - double(w) * 0.084375) / (double(w) * 0.07);
        return d < 1.0 ? generated::grey(u32(std::trunc((1.0 - d) * 255.0))) : 0xFF000000u;
    }
    }
}

} // namespace

SpecialTexture::SpecialTexture(Engine* engine, i32 kind)
    : Texture(engine, 0)
{
    if (kind == kindTexCoordMap)
        createTexCoordMap(this);
    else if (kind == kindParticle)
        createParticleTexture(this);
}

Texture* SpecialTexture::clone() const
{
    return new SpecialTexture(*this);
}

double flareNoise(double x)
{
    const double floorX = std::floor(x);
    const i32 i = i32(floorX);
    const double a = flareHash(u32(i) * 71u);
    const double b = flareHash(u32(i) * 71u + 71u);
    return a + (b - a) * (x - floorX);
}

void createSpotTexture(Texture* texture, float intensity, float edgeAngle, float coneAngle)
{
    if (!texture)
        return;
    const double peak = 8.0 * double(intensity);
    const double edge = edgeAngle;
    const double cone = coneAngle;
    const double tanCone = std::tan(cone);
    generated::fillAndUpload(*texture, 512, 512, kSpecialFlags, "(Spot)", [&](const generated::Level0& level) {
        const double halfW = double(level.width - 1) * 0.5;
        const double halfH = double(level.height - 1) * 0.5;
        for (i32 y = 0; y < level.height; ++y) {
            const double ny = (double(y) - halfH) / halfH;
            for (i32 x = 0; x < level.width; ++x) {
                const double nx = (double(x) - halfW) / halfW;
                // Angle of this texel's ray from the cone axis.
                const double phi = std::atan(std::sqrt(nx * nx + ny * ny) * tanCone);
                const double d = cone - phi;
                const double value = d <= 0.0 ? 0.0 : d < edge ? peak * d / edge : peak;
                const float v = float(value);
                const float color[4] = {v, v, v, 1.0f};
                const u32 texel = colorToARGB(color);
                level.at(x, y) = (texel & 0x00FFFFFFu) ? texel : 0u;
            }
        }
    });
}

void createParticleTexture(Texture* texture)
{
    if (!texture)
        return;
    generated::fillAndUpload(*texture, 128, 128, kSpecialFlags, "(particle)", [](const generated::Level0& level) {
        for (i32 y = 0; y < level.height; ++y)
            for (i32 x = 0; x < level.width; ++x) {
                const double dx = x - 64, dy = y - 64;
                const double d = std::sqrt(dx * dx + dy * dy);
                const float i = float((1.0 - d * 0.015625) * 0.675);
                const float color[4] = {i, i, i, i};
                level.at(x, y) = colorToARGB(color); // 0 from 64 texels out
            }
    });
}

void createFlareTextures(Texture* texture, i32 kind)
{
    static const char* const names[5] = {"(flare)", "(flare BRIGHTCTR)", "(flare EVENCTR)", "(flare DIMCTR)",
                                          "(flare RING)"};
    if (!texture || kind < 0 || kind > 4)
        return;
    generated::fillAndUpload(*texture, kFlareSize, kFlareSize, kSpecialFlags, names[kind],
                             [kind](const generated::Level0& level) {
                                 for (i32 y = 0; y < level.height; ++y)
                                     for (i32 x = 0; x < level.width; ++x)
                                         level.at(x, y) = flareTexel(kind, x, y, level.width, level.height);
                             });
}

void createTexCoordMap(Texture* texture)
{
    if (!texture)
        return;
    generated::fillAndUpload(*texture, 256, 1, Texture::kColorMap, "(texcoord 1D map)",
                             [](const generated::Level0& level) {
                                 for (i32 i = 0; i < level.width; ++i)
                                     level.at(i, 0) = u32(i) * 0x01010101u;
                             });
}

void createVfmTexture(Texture* texture)
{
    if (!texture)
        return;
    // Columns: the cosine between normal and half vector, 0 to 1; rows: the
    // light's share, 0 to 1. The highlight is the cosine's 40th power.
    generated::fillAndUpload(*texture, 256, 256, Texture::kColorMap, "(vfm)", [](const generated::Level0& level) {
        for (i32 y = 0; y < level.height; ++y)
            for (i32 x = 0; x < level.width; ++x) {
                const double highlight = std::pow(double(x) / 255.0, 40.0) * (double(y) / 255.0);
                level.at(x, y) = generated::grey(clampByte(highlight * 255.0 + 0.5));
            }
    });
}

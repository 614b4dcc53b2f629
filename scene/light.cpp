#include "scene/light.h"

#include "foundation/engine_limits.h"
#include "foundation/matrix.h"
#include "foundation/random.h"
#include "foundation/vec3.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "materials/shader_parameters.h"
#include "scene/lens_flare.h"
#include "scene/mesh.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "scene/scene_group.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// Ranges, distances, cone tangents and map sizes of 0 (from files and
// envelopes) are raised to this before anything divides by them.
constexpr float kMinDivisor = 1.0e-6f;

float atLeast(float x)
{
    return x > kMinDivisor ? x : kMinDivisor;
}

} // namespace

const u32 Light::kFlickerColors[8] = {0xFFFFFF, 0x40FFFF, 0x00FF00, 0x0000FF, 0x00FFFF, 0xFF4040, 0x00FFFF, 0xFFFF00};

Light::Light(SceneBase* scene, i32 index) : PerspectiveNode(scene, 2, index), D3DLIGHT9{}, shadowTexMatrix(world)
{
    flickerPeriod = sharedRandom().next() % 2 == 0 ? 1.7391304f : 1.3043478f;
}

Light::~Light()
{
    for (AnimatedValue* v :
         {&red, &green, &blue, &intensity, &range, &coneAngle, &edgeAngle, &flareIntensity, &flareRotationAngle})
        delete v->source;
    delete flare;
    delete spotTexture;
    for (IDirect3DSurface9* s : {shadowColorSurface, shadowDepthSurface})
        if (s)
            s->Release();
    for (IDirect3DTexture9* tex : {shadowColorTexture, shadowDepthTexture})
        if (tex)
            tex->Release();
}

D3DVIEWPORT9* Light::getViewport()
{
    viewport = {0, 0, DWORD(shadowMapSize), DWORD(shadowMapSize), 0.0f, 1.0f};
    return &viewport;
}

void Light::buildProjection(double t)
{
    const float tanA = atLeast(std::tan(coneAngle.valueAt(t)));
    projection = D3DMATRIX{};
    projection._11 = 0.75f / tanA; // narrower than the cone, as the shadow passes expect
    projection._22 = 1.0f / tanA;
    projection._33 = projection._34 = 1.0f;
    projectionValid = 1;
}

float Light::globalIntensity(double t)
{
    Scene* owner = scene ? scene->asScene() : nullptr;
    return owner ? owner->globalLightIntensity.valueAt(t) : 1.0f;
}

void Light::colorAt(double t, float out[4])
{
    if (lightType == 1 && engine->lightFlash) {
        const double period = std::nearbyint(t / flickerPeriod);
        const i32 n = period > 2.0e9 ? 2000000000 : period < -2.0e9 ? -2000000000 : i32(period);
        if (n != lastPeriod) {
            colorIndex = i32(sharedRandom().next() % 8);
            lastPeriod = n;
        }
        argbToColorOpaque(out, kFlickerColors[colorIndex]);
        return;
    }
    animatedColorAt(out, &red, t);
}

void Light::updateD3DLight(double t)
{
    if (!worldValid)
        getMatrix(t);
    float c[4];
    colorAt(t, c);
    const float k = intensity.valueAt(t) * (engine->lightFalloff ? 2.0f : 1.0f) * globalIntensity(t);
    const float r = c[0] * k, g = c[1] * k, b = c[2] * k;
    Diffuse = noDiffuse ? D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f} : D3DCOLORVALUE{r, g, b, 1.0f};
    Specular = noSpecular ? D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f} : D3DCOLORVALUE{r, g, b, 1.0f};
    Position = {world._41, world._42, world._43};
    Direction = {world._31, world._32, world._33};
    const float rootMean = std::sqrt(std::max(0.0f, (r + g + b) / 3.0f));
    const float mean = (r + g + b) / 3.0f;
    const float rng = atLeast(range.valueAt(t));
    switch (falloffType) {
    case 0:
        Range = 1.0e19f;
        Attenuation0 = 1.0f, Attenuation1 = 0.0f, Attenuation2 = 0.0f;
        break;
    case 1:
        Attenuation0 = 1.0f, Attenuation1 = 0.0f, Attenuation2 = 4.0f / (rng * rng);
        Range = rootMean * rng * (engine->lightFalloff ? 1.0f : 3.0f);
        break;
    case 2:
        Attenuation0 = 0.0f, Attenuation1 = 1.0f / rng, Attenuation2 = 0.0f;
        Range = rng * mean * 36.0f;
        break;
    case 3:
        Attenuation0 = 0.0f, Attenuation1 = 0.0f, Attenuation2 = 1.0f / (rng * rng);
        Range = rootMean * rng * 6.0f;
        break;
    default:
        break;
    }
    // Twice the cone values, as the content was lit with.
    Theta = 2.0f * (coneAngle.valueAt(t) - edgeAngle.valueAt(t));
    Phi = 2.0f * coneAngle.valueAt(t);
}

void Light::setShaderConstants(int i, double t)
{
    if (i < 0 || i >= 8)
        return;
    if (!worldValid)
        getMatrix(t);
    ShaderUniforms& u = *engine->uniforms;
    ShaderSwitches& s = *engine->switches;
    float c[4];
    colorAt(t, c);
    const float k = intensity.valueAt(t) * globalIntensity(t);
    const D3DVECTOR direction = {-world._31, -world._32, -world._33};
    const D3DVECTOR position = {world._41, world._42, world._43};
    D3DVECTOR viewDir, viewPos;
    vecTransformNormalTo(viewDir, direction, u.view);
    vecTransformCoord(viewPos, position, u.view);

    // Falloff type and attenuation for points and spots; false when the
    // falloff value is unknown (nothing is written then).
    const float rng = atLeast(range.valueAt(t));
    i32 type = 0;
    float attenuation[3] = {1.0f, 0.0f, 0.0f};
    bool knownFalloff = true;
    switch (falloffType) {
    case 0:
        break;
    case 1:
        type = 1, vec3Set(attenuation, 1.0f, -1.0f / rng, 0.0f);
        break;
    case 2:
        type = 2, vec3Set(attenuation, 0.0f, 1.0f / rng, 0.0f);
        break;
    case 3:
        type = 2, vec3Set(attenuation, 0.0f, 0.0f, 1.0f / (rng * rng));
        break;
    default:
        knownFalloff = false;
        break;
    }

    switch (lightType) {
    case 0:
        vec3Set(u.distantLightColor + 3 * i, c[0] * k, c[1] * k, c[2] * k);
        vec3Set(u.distantLightDir + 3 * i, viewDir.x, viewDir.y, viewDir.z);
        break;
    case 1:
        vec3Set(u.pointLightColor + 3 * i, c[0] * k, c[1] * k, c[2] * k);
        vec3Set(u.pointLightPos + 3 * i, viewPos.x, viewPos.y, viewPos.z);
        if (knownFalloff) {
            s.pointLightFalloffType[i] = type;
            vec3Set(u.pointLightAttenuation + 3 * i, attenuation[0], attenuation[1], attenuation[2]);
        }
        break;
    case 2: {
        vec3Set(u.spotLightColor + 3 * i, c[0] * k, c[1] * k, c[2] * k);
        vec3Set(u.spotLightPos + 3 * i, viewPos.x, viewPos.y, viewPos.z);
        vec3Set(u.spotLightDir + 3 * i, viewDir.x, viewDir.y, viewDir.z);
        const float cone = coneAngle.valueAt(t);
        const float cosTheta = std::cos(cone - edgeAngle.valueAt(t));
        u.spotLightCosTheta[i] = cosTheta;
        u.spotLightCosThetaMinusCosPhi[i] = cosTheta - std::cos(cone);
        if (knownFalloff) {
            s.spotLightFalloffType[i] = type;
            vec3Set(u.spotLightAttenuation + 3 * i, attenuation[0], attenuation[1], attenuation[2]);
        }
        break;
    }
    default:
        break;
    }
}

float Light::intensityAt(Object& object, double t)
{
    const D3DMATRIX& inverse = object.inverseValid ? object.inverseWorld : *object.getInvMatrix(t);
    D3DVECTOR p;
    vecTransformCoord(p, Position, inverse);
    float d;
    if (object.mesh) {
        const D3DVECTOR& c = object.mesh->center;
        const float toCenter[3] = {p.x - c.x, p.y - c.y, p.z - c.z};
        // On or inside the sphere the light ranks as fully bright.
        d = vec3Length(toCenter) <= object.mesh->radius ? 0.0f : object.mesh->distanceToBoundingSphere(p);
    } else {
        const float v[3] = {p.x, p.y, p.z};
        d = vec3Length(v);
    }
    const float value = intensity.valueAt(t);
    switch (falloffType) {
    case 1:
        return std::max(0.0f, 1.0f - d / atLeast(range.valueAt(t))) * value;
    case 2:
        return value / atLeast(d);
    case 3:
        return value / (atLeast(d) * atLeast(d));
    default:
        return value;
    }
}

void Light::selectFor(Object& object, double t)
{
    const D3DMATRIX& inverse = object.inverseValid ? object.inverseWorld : *object.getInvMatrix(t);
    D3DVECTOR p, dir;
    vecTransformCoord(p, Position, inverse);
    vecTransformNormalTo(dir, Direction, inverse);
    vec3Set(objectPosition, p.x, p.y, p.z);
    vec3Set(objectDirection, dir.x, dir.y, dir.z);
    distanceScale = vec3Length(objectDirection);
    affectsObject = 1;
    if (object.mesh && object.mesh->bboxused && falloffType != 0) {
        const D3DVECTOR& c = object.mesh->center;
        const float toCenter[3] = {p.x - c.x, p.y - c.y, p.z - c.z};
        const float d = vec3Length(toCenter) - object.mesh->radius;
        if (range.valueAt(t) * distanceScale * 10.0f < d)
            affectsObject = 0;
    }
    if (intensity.valueAt(t) < 0.000001f || off ||
        std::find(object.excludedLights.begin(), object.excludedLights.end(), index) != object.excludedLights.end())
        affectsObject = 0;
}

void Light::createResources()
{
    Type = lightType == 0 ? D3DLIGHT_DIRECTIONAL : lightType == 2 ? D3DLIGHT_SPOT : D3DLIGHT_POINT;
    Diffuse = Specular = Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
    Falloff = 1.0f;
    Range = 1.0e19f;
    Attenuation0 = 1.0f, Attenuation1 = 0.0f, Attenuation2 = 0.0f;
    setUp = 1;
    if (lensFlare) {
        delete flare;
        flare = createFlare();
    }
    if (shadowType != 2 || engine->fixedFunction)
        return;
    shadowMapSize = std::clamp(shadowMapSize, 1, limits::shadowMapEdge);
    const UINT size = UINT(shadowMapSize);
    // Colour and depth, 4 bytes a texel each, from the metascene's budget;
    // a map left out leaves an ordinary light.
    Scene* owner = scene ? scene->asScene() : nullptr;
    if (owner && owner->metaScene &&
        !owner->metaScene->takeTargetBytes(u64(size) * size * 8,
                                           std::string("shadow map of light \"") + name.c_str() + "\"")) {
        shadowType = 0;
        return;
    }
    IDirect3DDevice9* device = engine->currentDevice;
    if (device) {
        if (SUCCEEDED(device->CreateTexture(size, size, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                            &shadowColorTexture, nullptr)) &&
            shadowColorTexture)
            shadowColorTexture->GetSurfaceLevel(0, &shadowColorSurface);
        if (engine->depthTextureFormat == D3DFMT_UNKNOWN) {
            device->CreateDepthStencilSurface(size, size, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE,
                                              &shadowDepthSurface, nullptr);
        } else if (SUCCEEDED(device->CreateTexture(size, size, 1, D3DUSAGE_DEPTHSTENCIL, engine->depthTextureFormat,
                                                   D3DPOOL_DEFAULT, &shadowDepthTexture, nullptr)) &&
                   shadowDepthTexture) {
            shadowDepthTexture->GetSurfaceLevel(0, &shadowDepthSurface);
        }
    }
    delete spotTexture;
    spotTexture = new SpecialTexture(engine, 3);
    createSpotTexture(spotTexture, intensity.valueAt(0.0), edgeAngle.valueAt(0.0), coneAngle.valueAt(0.0));
    const float bias = 0.5f + 0.5f / float(size);
    makeAffineMatrix(shadowTexMatrix, 0.5f, 0.0f, 0.0f, 0.0f, -0.5f, 0.0f, 0.0f, 0.0f, 1.0f, bias, bias, depthBias);
}

#include "materials/engine.h"

#include "display/device_window.h"
#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/stream.h"
#include "materials/effect_shader_pairs.h"
#include "materials/fvf_shader_pair.h"
#include "materials/shader_pair.h"
#include "materials/shader_parameters.h"
#include "materials/sourcefile.h"
#include "media/sound.h"

#include <windows.h>

#include <cmath>
#include <numbers>

namespace {

// Shaders compile for model 2.0 at most: the effect files are written for it.
constexpr u32 kMaxShaderVersion = 0x200;

FormatRequest renderTargetRequest()
{
    FormatRequest request;
    for (int c = 1; c < 4; ++c)
        request.min[c] = channelWord(kChannelUnsigned, 0, 5);
    for (int c = 0; c < 4; ++c) {
        request.pref[c] = channelWord(kChannelUnsigned, 0, 8);
        request.max[c] = channelWord(kChannelFloat, 2, 32);
    }
    request.required = 0;
    // Extended-colour formats are acceptable, the plain ones preferred.
    request.allowed = kFormatDisplay | kFormatExtendedColor;
    request.m_preferredFlags.push_back(static_cast<i32>(~u32(kFormatExtendedColor)));
    return request;
}

// Depth textures: 32 bits of depth preferred, no stencil needed.
FormatRequest depthTextureRequest()
{
    return depthRequest(0, 32);
}

} // namespace

Engine::Engine(DisplayManager* displayManager)
    : switches(new ShaderSwitches(this)),
      uniforms(new ShaderUniforms(this)),
      deviceCount(0),
      devices(nullptr),
      currentDevice(nullptr),
      adapter(nullptr),
      // Full angles in degrees of a lens with focal ratios 2.4 and 3.2.
      fovX(static_cast<float>(2.0 * std::atan(1.0 / 2.4) * (180.0 / std::numbers::pi))),
      fovY(static_cast<float>(2.0 * std::atan(1.0 / 3.2) * (180.0 / std::numbers::pi)))
{
    const DisplayManager& manager = *displayManager;
    const DisplaySettings& settings = *manager.settings;

    // Without device windows (never the case once the outputs exist) the
    // engine still stands, with no device to draw on.
    if (manager.devices && manager.deviceCount > 0) {
        deviceCount = manager.deviceCount;
        devices = new IDirect3DDevice9*[deviceCount];
        for (i32 i = 0; i < deviceCount; ++i)
            devices[i] = manager.devices[i].device;
        currentDevice = devices[0];
        adapter = manager.devices[0].adapterInfo;
    }

    chooseFormats(manager);
    readCaps(manager);

    txProfile = "tx_1_0";

    if (settings.windowed) {
        RECT client = {};
        if (deviceCount > 0 && GetClientRect(manager.devices[0].window, &client)) {
            width = client.right - client.left;
            height = client.bottom - client.top;
        } else {
            width = settings.windowWidth;
            height = settings.windowHeight;
        }
    } else {
        width = settings.width;
        height = settings.height;
    }

    restoreSurfaces();

    noDynamicDepth = settings.noDynamicDepth;
    fixedFunction = settings.fixedFunction;
    // Fixed-function mode needs only the fixed-function standard pair and
    // the mirror pair; the shader path has the effect-based standard pair
    // and adds the plain and the bake pair.
    if (fixedFunction) {
        standardPair = new FVFShaderPair(this);
    } else {
        standardPair = new StandardShaderPair(this);
        plainPair = new ShaderPair(this);
        bakePair = new BakeShaderPair(this);
    }
    mirrorPair = new MirrorShaderPair(this);
}

bool Engine::loadEffects(Stream* fileSource)
{
    if (!fileSource)
        return false;
    Sourcefile include(fileSource->clone());
    auto load = [&include](ShaderPair* pair, const char* fileName) {
        return pair && pair->loadFile(include, fileName);
    };
    if (!fixedFunction &&
        (!load(standardPair, "standard.fx") || !load(plainPair, "nullshader.fx") || !load(bakePair, "bake.fx")))
        return false;
    return load(mirrorPair, "mirrorshader.fx");
}

void Engine::chooseFormats(const DisplayManager& manager)
{
    const FormatDesc* rtdesc = adapter ? renderTargetRequest().findBest(adapter->renderTargetTextureFormats) : nullptr;
    ENGINE_ASSERT(rtdesc != 0 && "device does not support render to texture?");
    renderTargetFormat = rtdesc ? rtdesc->format : D3DFMT_UNKNOWN;

    const FormatDesc* depthDesc =
        adapter ? depthTextureRequest().findBest(adapter->renderTargetTextureFormats) : nullptr;
    depthTextureFormat = depthDesc ? depthDesc->format : D3DFMT_UNKNOWN;

    // The back buffers may have no depth buffer at all.
    const FormatDesc* backDepth = deviceCount > 0 ? manager.devices[0].depthFormat : nullptr;
    depthIsLockable = backDepth && !(backDepth->flags & kFormatNotLockable);
    depthHasFirstChannel = backDepth && backDepth->channels[0] != 0;
}

void Engine::readCaps(const DisplayManager& manager)
{
    const DisplaySettings& settings = *manager.settings;
    if (currentDevice) {
        currentDevice->SetSoftwareVertexProcessing(FALSE);
        currentDevice->GetDeviceCaps(&caps);
        currentDevice->SetSoftwareVertexProcessing(TRUE);
        currentDevice->GetDeviceCaps(&capsSoftwareVP);
    }

    u32 v = caps.VertexShaderVersion & 0xFFFF;
    u32 p = caps.PixelShaderVersion & 0xFFFF;
    hardwareVertexShaders = v >= 0x101 && !settings.softwareVP;
    hardwarePixelShaders = p >= 0x101;
    if (v > kMaxShaderVersion)
        v = kMaxShaderVersion;
    if (p > kMaxShaderVersion)
        p = kMaxShaderVersion;

    if (!settings.refRast && hardwareVertexShaders)
        vsProfile = String::format("vs_%u_%u", v >> 8, v & 0xFF);
    else
        vsProfile = "vs_2_sw";
    if (!settings.refRast && hardwarePixelShaders)
        psProfile = String::format("ps_%u_%u", p >> 8, p & 0xFF);
    else
        psProfile = "ps_2_sw";

    hardwareTnL = !settings.softwareVP && (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
}

Engine::~Engine()
{
    delete switches;
    delete uniforms;
    delete sound;
    sound = nullptr;
    releaseSurfaces();
    // The pairs release their shaders on the devices, which belong to the
    // display manager and outlive the engine.
    delete standardPair;
    delete plainPair;
    delete bakePair;
    delete mirrorPair;
    if (interaction && deleteInteraction)
        deleteInteraction(interaction);
    interaction = nullptr;
    delete[] devices;
}

void Engine::releaseSurfaces()
{
    if (backBuffer) {
        backBuffer->Release();
        backBuffer = nullptr;
    }
    if (depthSurface) {
        depthSurface->Release();
        depthSurface = nullptr;
    }
}

void Engine::restoreSurfaces()
{
    releaseSurfaces();
    // The first device's: the current one at construction.
    IDirect3DDevice9* device = deviceCount > 0 ? devices[0] : nullptr;
    if (!device)
        return;
    if (FAILED(device->GetRenderTarget(0, &backBuffer)))
        backBuffer = nullptr;
    // Null when the device has no depth buffer.
    if (FAILED(device->GetDepthStencilSurface(&depthSurface)))
        depthSurface = nullptr;
}

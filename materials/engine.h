// The one renderer object: the devices with the current one, what they can
// do, the formats and shader profiles chosen for them, the two shader
// parameter blocks and the shader pairs. It is also the blackboard of render
// flags and per-frame values that the script, the keys, the overlays and the
// scene passes read and write. Every engine resource reaches the current
// device through it.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"

#include <d3d9.h>

class DisplayManager;
class ShaderSwitches;
class ShaderUniforms;
class ShaderPair;
class Stream;
class Sound;
class TextureLayer;
class Scene;
struct AdapterInfo;

class Engine {
public:
    // The user camera and picking scene; defined with the scene interaction.
    class SceneInteraction;

    ShaderSwitches* switches;
    ShaderUniforms* uniforms;
    i32 deviceCount;              // 1, or 2 in stereo
    IDirect3DDevice9** devices;   // in device-window order; not owned
    i32 currentIndex = 0;
    IDirect3DDevice9* currentDevice; // the device every draw call uses
    AdapterInfo* adapter;            // of device window 0
    D3DFORMAT renderTargetFormat = D3DFMT_UNKNOWN;
    D3DFORMAT depthTextureFormat = D3DFMT_UNKNOWN; // 0: shadow maps keep a colour target
    u8 depthIsLockable = 0;      // the back buffers' depth format can be locked
    u8 depthHasFirstChannel = 0; // and carries stencil
    D3DCAPS9 caps = {};           // software vertex processing off
    D3DCAPS9 capsSoftwareVP = {}; // and on
    u8 hardwareTnL = 0;
    u8 hardwareVertexShaders = 0;
    u8 hardwarePixelShaders = 0;
    String vsProfile;
    String psProfile;
    String txProfile; // stored only
    i32 width = 0; // of the output in pixels
    i32 height = 0;
    // The current device's own target and depth surfaces, set back after
    // every off-screen pass. Released around a device reset.
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* depthSurface = nullptr;
    i32 targetWidth = 512; // of the target being rendered now
    i32 targetHeight = 512;
    float projectionLimit = 75.0f;
    float cylindricalAngle = 0.0f; // degrees; above 0.0001 the cylindrical projection is used
    float fovX;                    // degrees
    float fovY;
    float lensCurrent = 100.0f;
    float lensReference = 100.0f;
    u32 primitivesDrawn = 0; // this frame
    u32 drawCalls = 0;       // this frame
    u32 framesRendered = 0;
    u8 imposters = 0;
    u8 lightFlash = 0;
    u8 lightFalloff = 0;
    u8 texAnims = 1;
    u8 disableLogos = 0;
    u8 debugLightView = 0;
    u8 wireframe = 0;
    u8 debugToggle1 = 0;
    u8 debugToggle2 = 0;
    u8 debugToggle3 = 0;
    u8 shadowMapDebugView = 0;
    i32 spareWords[2] = {0, 2}; // stored only
    i32 stereoEye = -1;         // -1 mono, 0 left, 1 right
    float stereoDepth = 0.25f;
    float sceneExtrusion = 0.35f;
    // Stereo parameters with the copies the previous frame rendered with:
    // the demo frame copies each current value to its previous copy before
    // drawing, the camera projection reads the previous copies.
    float stereoSeparationPrevious = 0.5f;
    float stereoSeparation = 0.5f;
    float zeroParallaxPrevious = 1.0f;
    float zeroParallax = 1.0f; // written by the perspective depth-range fit
    u8 noDynamicDepth = 0;
    double musicTime = 0.0; // seconds, never below 0
    float zNear = 0.0f;
    float zNearCopy = 0.0f;
    u32 colorWriteMask = 0x0F;
    u32 defaultCullMode = D3DCULL_CCW;
    TextureLayer* bakeTarget = nullptr;
    u32 spareWord = 0; // stored only
    i32 shadowLightIndex = 0;
    // Attached by the demo; owned.
    Sound* sound = nullptr;
    // Shader path: standard, plain, bake and mirror pair. Fixed-function
    // mode: the fixed-function standard pair and the mirror pair only.
    ShaderPair* standardPair = nullptr;
    ShaderPair* plainPair = nullptr;
    ShaderPair* bakePair = nullptr;
    ShaderPair* mirrorPair = nullptr;
    // Made and handed over by attachSceneInteraction (the materials library
    // sits below the scene), with the deleter the destructor calls. An
    // engine built without it has none, and every user checks.
    SceneInteraction* interaction = nullptr;
    void (*deleteInteraction)(SceneInteraction*) = nullptr;
    Scene* interactionTarget = nullptr; // the scene for the user camera
    u8 fixedFunction = 1;

    // Cannot fail: a missing render-target format only raises an assertion
    // box. The manager's devices must outlive the engine.
    explicit Engine(DisplayManager* displayManager);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Loads the effect files of the pairs that exist, read through a clone
    // of fileSource (the mounted archives): "standard.fx", "nullshader.fx"
    // and "bake.fx" on the shader path, then "mirrorshader.fx" in both modes.
    // False at the first file that is missing or does not parse.
    bool loadEffects(Stream* fileSource);

    // A device reset fails while anything holds the implicit back buffer or
    // depth surface: release both before resetting the devices, and fetch
    // them again after a successful reset.
    void releaseSurfaces();
    void restoreSurfaces();

    // The user camera's moves, at time t (defined with the scene
    // interaction). changeSpeed: the interaction camera's distance along its
    // own axis (position z, never above 0). turnCamera: the cursor object, or
    // the ghost while something is examined. moveCamera: along the cursor
    // object's own axes, the ghost following an examined object.
    void changeSpeed(float delta, double t);
    void turnCamera(float dHeading, float dElevation, float dRoll, double t);
    void moveCamera(float dx, float dy, float dz, double t);

private:
    void chooseFormats(const DisplayManager& manager);
    void readCaps(const DisplayManager& manager);
};

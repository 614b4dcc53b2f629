// A renderable world loaded from one scene file: its cameras, objects and
// lights, its particle emitters and forces, its clear, ambient and fog
// settings. SceneBase is the part shared with the user-camera scene: the
// engine, the three node vectors and the current camera. A scene draws
// itself for one frame: target and clear, fog, lights, shadow maps, the
// culled and sorted object pass, flares and particles.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"

#include <d3d9.h>

#include <vector>

class AntiPortal;
class Camera;
class Light;
class Mesh;
class Node;
class Object;
class ParticleFX;
class Scene;
class SceneGroup;
class Stream;
class Texture;

// How many Scene::renderFrom calls are active: shadow maps are drawn only
// while it is 10 or less, particles and anti-portal occluders only at 1.
extern i32 renderDepth;

// A mesh about to be drawn by a scene: its file's textures once, then the
// mesh itself made ready.
Mesh* adoptMesh(Mesh* mesh);

// Whatever shows the loading bar (the demo's loading screen).
class LoadingProgress {
public:
    virtual ~LoadingProgress() = default;
    virtual void drawLoadingProgress(float fraction) = 0;
};

class SceneBase : public EngineResource {
public:
    u8 active = 0;
    Camera* currentCamera = nullptr;
    std::vector<Camera*> cameras; // owned; index field = position
    std::vector<Object*> objects; // owned
    std::vector<Light*> lights;   // owned; index = Direct3D light index

    explicit SceneBase(Engine* engine) : EngineResource(engine) {}
    // Deletes every camera, object and light.
    ~SceneBase() override;
    SceneBase(const SceneBase&) = delete;
    SceneBase& operator=(const SceneBase&) = delete;

    // This scene as a Scene, or null for the other kinds.
    virtual Scene* asScene() { return nullptr; }
};

class Scene : public SceneBase {
public:
    double timeBase = 0.0;
    u8 held = 0;
    char* name = nullptr; // owned copy
    IDirect3DSurface9* targetSurface = nullptr;
    IDirect3DSurface9* targetDepth = nullptr;
    Texture* renderTexture = nullptr; // owned by the metascene's texture list
    u32 clearFlags = 3;
    float clearColor[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float clearZ = 1.0f;
    SceneGroup* metaScene; // the metascene that loaded the scene
    std::vector<ParticleFX*> fxEmitter;  // owned
    std::vector<ParticleFX*> fxEffector; // owned
    std::vector<AntiPortal*> antiPortals; // not owned: also in objects
    double lastParticleTime = -1.0;
    // The render depth whose pass drew the lights' shadow maps, 0 when no
    // pass of this scene holds them, and the scene time they were drawn for.
    i32 shadowMapsDepth = 0;
    double shadowMapsTime = 0.0;
    double previewFirstFrame = 0.0;
    double previewLastFrame = 0.0;
    double firstFrame = 0.0;
    double lastFrame = 0.0;
    double framesPerSecond = 30.0;
    float ambientColor[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    AnimatedValue ambientIntensity = {0.25f, nullptr};
    AnimatedValue globalLightIntensity = {1.0f, nullptr};
    AnimatedValue globalFlareIntensity = {0.0f, nullptr};
    i32 fogType = 0; // a D3DFOGMODE; only D3DFOG_LINEAR switches fog on
    float fogStart = 0.0f;
    float fogEnd = 0.0f;
    float fogColor[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    i32 tokenCursor = 0;           // parse state of the scene-file reader
    const char** tokens = nullptr; // not owned
    i32 tokenCount = 0;
    i32 gridNumber = 50;
    float gridSize = 1.0f;
    i32 spareSetting = 4; // set only here

    // The engine comes from the metascene (null metascene: null engine).
    explicit Scene(SceneGroup* metaScene);
    ~Scene() override;

    Scene* asScene() override { return this; }

    // Token cursor of the scene-file reader. At or past the last token each
    // returns an empty token (0, 0.0) and leaves the cursor where it is.
    const char* nextString();
    i32 nextInt(); // saturates at the i32 range
    double nextFloat();
    u32 nextHex();
    // The token after a "{", or the token itself.
    const char* nextName();
    // Steps over a "}" at the cursor.
    bool atBlockEnd();
    // From a block's "{" (or its "}") to behind the "}" that closes it.
    void skipBlock();
    // A motion block into the node's nine channels.
    void readChannel(Node* node);
    // An "{ Envelope" block into an animated value.
    void readEnvelope(AnimatedValue& value);
    // "(envelope)" and its block, keeping only TCB, linear and stepped keys;
    // the cursor ends on the block's "}".
    void readOldEnvelope(AnimatedValue& value);
    // The first object of that exact name, or null.
    Object* findItem(const char* name);

    // One frame: target, viewport, clear, camera choice, then renderFrom.
    void render(bool clearTarget, i32 pass, double now);
    // Every pass from one node; re-entered by mirrors.
    void renderFrom(Node* camera, i32 pass, double t);
    void invalidateNodes(Node* camera);
    void applyFog();
    void setupLights(double t);
    // After loading: light resources, mesh preparation, then the bake pass.
    void finishLoading(LoadingProgress* progressDisplay, float progressStart, float progressShare);
    void prepareRender();
    void deactivate();
    void updateParticles(Node* camera, double t);

    Camera* addCamera();
    Light* addLight();
    // The object file's layer (read through fileSource on first use) as a
    // new object; null when the layer cannot be had (LWObject::layer says
    // so). This and the next two read object files, so they are defined
    // with the object reader (lightwave/scene_object_layers.cpp).
    Object* addObjectLayer(Stream* fileSource, const char* file, i32 layer);
    // A new object for every layer of the file that has a mesh, in layer
    // order; how many were added.
    i32 addObjectLayers(Stream* fileSource, const char* file);
    // Object i draws the layer's mesh instead of its own (the meshes belong
    // to their files); false, the object unchanged, when there is no object
    // i or the layer cannot be had.
    bool replaceObjectLayer(i32 i, Stream* fileSource, const char* file, i32 layer);
    // What addObjectLayer does with the mesh it found: the object record's
    // textures once, the mesh prepared, a new object appended.
    Object* addMeshObject(const char* file, Mesh* mesh);
    void removeLight(i32 i);
    void removeObject(i32 i);

    const float* getAmbientColor() const { return ambientColor; }
    void setAmbientColor(const float c[4]);
    AnimatedValue& getAmbientIntensity() { return ambientIntensity; }
    AnimatedValue& getGlobalLightIntensity() { return globalLightIntensity; }

    // The object pass (scene_draw.cpp).
    void drawObjects(Node* camera, i32 pass, double t);
    void selectLightsFor(Object& object, double t);
    void setupSurfaces(Object& object, i32 pass, double t);

    // Shadow maps and their debug view (shadow_maps.cpp).
    void renderShadowMaps(double t);
    void showShadowMap(IDirect3DTexture9* texture);
    // The six faces of a cube texture drawn from reflectionScene around a
    // mirror mesh centred at center; viewer is the object carrying it
    // (cube_reflection.cpp).
    static void renderMirror(const float center[3], Scene* reflectionScene, Node* viewer,
                             IDirect3DCubeTexture9* cubeTexture, IDirect3DSurface9* depthSurface, double t);
    // Lens flares seen from a node.
    void renderFlares(Node* camera, double t);

    // Bake lights taken out of lights after the bake pass: nodes may still
    // point at them, so they live as long as the scene.
    std::vector<Light*> retiredLights;

    // The scene has or had bake lights.
    bool hasBakeLights() const;
};

// Forgets the user camera's picks that point into meta's scenes; called
// before a metascene's scenes go.
void resetInteraction(Engine* engine, const SceneGroup* meta);

// Left-handed look-at view matrix for row vectors.
D3DMATRIX buildLookAt(const float eye[3], const float target[3], const float up[3]);

// currentCamera = cameras[i]; false and no change when i is out of range.
bool setCurrentCamera(Scene* scene, i32 i);

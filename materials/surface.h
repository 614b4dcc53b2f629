// The material of a group of polygons: the values of one surface of an
// object file, each optionally animated, and up to eight texture layers.
// The object reader creates a surface per tag name and fills it from the
// file's surface chunk; the shader pairs read its values, channel counts and
// layers when a subset is drawn; the mesh build asks it for texture
// coordinates (generateTexCoords, in texture_projection.cpp).
//
// Ownership: a surface owns its texture layers, its cube texture and cube
// depth surface, and its counted vertex-colour-map references. The envelopes
// of its animated values belong to the object file's EnvelopeOwner (one
// envelope may animate several values); textures belong to the metascene.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/texture_layer.h"
#include "materials/vertex_maps.h"

#include <d3d9.h>

#include <memory>
#include <vector>

class MetaScene;
class Scene;
class SpotLightSource;
class Texture;
struct MeshVertex;

class Surface {
public:
    static constexpr int maxLayers = 8;
    // Indices of channelCounts.
    enum ChannelIndex : int {
        countCOLR = 0,
        countDIFF,
        countLUMI,
        countREFL,
        countBUMP,
        countTRNL,
        countSPEC,
        countTRAN,
        channelCountSlots,
    };
    // The cube map that RFOP 3 asks for.
    static constexpr i32 cubeMapEdge = 256;

    AnimatedValue transparency;
    MetaScene* owner;
    String name;       // "<object file name>@<tag name>": the metascene's lookup key
    String sourceName; // the surface chunk's source surface; stored only
    // Indexed by object layer number.
    std::vector<MapRef<VertexColorMap>> vertexColorMaps;
    // The scene to render reflections from: set while drawing when the
    // reflection value is not 0, never cleared.
    Scene* reflectionScene = nullptr;
    u32 spareWord = 0; // stored only
    // The light whose shadow map and spot texture this surface receives in
    // the object being drawn; see spotLight().
    SpotLightSource* receivedSpotLight = nullptr;
    AnimatedValue color[3] = {{200.0f / 255.0f, nullptr}, {200.0f / 255.0f, nullptr}, {200.0f / 255.0f, nullptr}};
    AnimatedValue luminosity;
    AnimatedValue diffuse{1.0f, nullptr};
    AnimatedValue specularity;
    AnimatedValue glossiness{0.4f, nullptr};
    AnimatedValue additiveTransparency;
    AnimatedValue reflection;
    AnimatedValue refractiveIndex;
    u8 colorHighlights = 0;
    AnimatedValue bumpStrength{1.0f, nullptr};
    AnimatedValue colorFilter;
    u8 doubleSided = 0;
    u8 smoothing = 0;
    // Two faces' normals join at a point when their dot product is at least
    // this; the default is the cosine of 2 degrees less 1e-6.
    float smoothingCosine;
    i32 transparent = 0; // drawn after the opaque objects
    u32 spareWords[2] = {}; // stored only
    // min(bones of the mesh, 4), set by the mesh build; the vertex layout
    // and the effect switches read it.
    i32 boneWeightCount = 0;
    u8 spareBytes[2] = {}; // stored only
    i32 reflectionOptions = 1;
    Texture* sphericalReflectionTexture = nullptr; // not owned
    IDirect3DCubeTexture9* cubeTexture = nullptr;  // owned
    IDirect3DSurface9* cubeDepthSurface = nullptr; // owned
    i32 cubeEdgeLength = 0;
    // The UV-mapped diffuse layer whose texture is a render target the bake
    // pass draws into; one of this surface's layers.
    TextureLayer* bakeLayer = nullptr;
    u8 loaded = 0; // a surface chunk has filled it
    // Every adopted layer, in block order.
    std::vector<std::unique_ptr<TextureLayer>> layers;
    i32 layerCount = 0;
    TextureLayer* layerSlots[maxLayers] = {};
    // COLR, DIFF, LUMI, REFL, BUMP, TRNL, SPEC, TRAN.
    i32 channelCounts[channelCountSlots] = {};
    u8 spareByte = 0; // stored only
    u8 lineFlag = 0;
    i32 drawMode = 0; // the pass number of the draw in progress
    D3DCOLOR flatColor = 0;
    double spareDouble = 0.0;                                            // stored only
    float spareFloats[8] = {0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}; // stored only

    Surface(MetaScene* owner, const char* name);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    SpotLightSource* spotLight() const { return receivedSpotLight; }

    // Adopts the layer when it is enabled, has a texture and a slot is free:
    // counts it in its channel (if that channel is counted), puts it in the
    // next slot and at the end of layers. Otherwise the layer is destroyed
    // and false returned; a bake layer destroyed so is forgotten, and the
    // caller must drop any other pointer it kept to it.
    bool addLayer(std::unique_ptr<TextureLayer> layer);
    // The n-th (1-based) usable layer of that channel in layer order; null
    // when there are fewer (and for n below 1).
    TextureLayer* findLayer(u32 channel, int n) const;
    // The number of usable layers of that channel.
    int countLayers(u32 channel) const;
    // Sets blending, depth writes and the cut-out alpha test for drawing
    // the surface at a time; returns the alpha its colour carries. Without
    // cutOutTest the alpha test stays off (shadow maps take the whole shape).
    float setBlendStates(IDirect3DDevice9* device, double time, bool cutOutTest);
    // The index of a counted channel in channelCounts, -1 for the others.
    static int channelIndex(u32 channel);
    // The count for a channel id; 0 for channels that are not counted.
    i32 channelCount(u32 channel) const;

    // Fills texture set i and key i of each corner of one polygon for every
    // layer slot i (see texture_projection.h).
    void generateTexCoords(MeshVertex* corners, int cornerCount, const u32* pointIndices, i32 polygonIndex,
                           i32 layerNumber, const D3DVECTOR& faceNormal, bool seam);

    // Reader entry points for the values from which flags follow.
    // Transparency and additive transparency: any value other than 0, or an
    // envelope, makes the surface transparent.
    void setTransparency(float value, DynamicValue* envelope);
    void setAdditiveTransparency(float value, DynamicValue* envelope);
    // Options 0 also make the surface transparent (content relies on it).
    // The cube map of options 3 comes from createCubeMap.
    void setReflectionOptions(i32 options);
    // Angles up to 2 degrees keep smoothing off and the default cosine.
    void setSmoothingAngle(float radians);
    void setColorHighlights(u32 bitPattern) { colorHighlights = bitPattern != 0 ? 1 : 0; }
    void setSidedness(u32 sidedness) { doubleSided = sidedness == 3 ? 1 : 0; }
    void setLineFlags(u32 flags) { lineFlag = flags == 1 ? 1 : 0; }
    // The render-target cube texture and its depth surface for reflection
    // options 3, replacing any made before. False when either creation
    // failed (the other is then released too, and the edge length stays 0).
    bool createCubeMap(IDirect3DDevice9* device);

    // Adds a reference to map at that object layer number.
    void setVertexColorMap(i32 layerNumber, VertexColorMap* map) { setMapAt(vertexColorMaps, layerNumber, map); }
    VertexColorMap* vertexColorMap(i32 layerNumber) const { return mapAt(vertexColorMaps, layerNumber); }

    // A scene renders into this surface: without layers a new layer with
    // that texture is added (channel unset, so no channel counts it);
    // otherwise the texture of the first layer is replaced, whatever its
    // channel.
    void useRenderTarget(Texture* renderTexture);

private:
    void releaseCubeMap();
};

// Entries of the surface's layers vector, whatever their channel or state.
int countEntries(const Surface* surface);

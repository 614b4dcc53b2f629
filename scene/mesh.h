// The drawable geometry an Object carries. The scene asks every mesh the
// same few questions: prepare yourself once, where is your box, draw
// yourself. The kinds are the polygon mesh of an object layer (poly_mesh.h)
// and the small wire and partigon meshes (wire_meshes.h).
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/engine_resource.h"
#include "materials/vertex_maps.h"

#include <d3d9types.h>

#include <vector>

class MeshFile;
class Node;
class Object;
class PolyMesh;

class Mesh : public EngineResource {
public:
    // A "MORF" map of a layer: an x, y, z offset per point.
    class MorphMap : public VertexMap {
    public:
        std::vector<float> offsets; // 3 per point
        u8 complete = 0;            // the reader has filled the map
    };

    MeshFile* object; // the object file the layer came from; null for meshes made in code
    u8 bboxused = 0;  // a bounding box has been set
    // Corner i takes x from the maximum when bit 2 of i is set, y for bit 1,
    // z for bit 0: corner 0 is the minimum, corner 7 the maximum.
    D3DVECTOR boxCorners[8] = {};
    D3DVECTOR center = {0.0f, 0.0f, 0.0f};
    float radius = 0.0f;
    i32 cornerCount = 0; // polygon corners, recounted by prepare
    i32 layerIndex = -1; // the layer's number in its object file
    String name;         // "<object file>:<layer number + 1>" for a file layer
    u8 sortAfterOpaque = 0;
    u8 prepared = 0;
    u8 drawnThisFrame = 0;
    i32 activeRenders = 0;
    const D3DVECTOR* cachedPoints = nullptr; // set by updateBounds
    // While a reflection of this mesh is drawn: the node it is seen from, so
    // the reflection pass skips the mirror itself.
    Node* mirrorCamera = nullptr;
    // Set only by the key bindings: the object then animates at animationTime
    // instead of the scene time.
    u8 keyBound = 0;
    double animationTime = 0.0;

    Mesh(Engine* engine, MeshFile* object);
    ~Mesh() override = default;
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // The polygon mesh behind this mesh, or null for the other kinds.
    virtual PolyMesh* asPolyMesh() { return nullptr; }
    // Builds what drawing needs, once; true when the mesh can be drawn.
    virtual bool prepare() = 0;
    virtual void updateBounds() = 0;
    // Once per pass, before any drawing.
    virtual void invalidate() { drawnThisFrame = 0; }
    // out[i] = (corner i, 1) x m, all four components, no divide.
    virtual void transformBoxCorners(const D3DMATRIX& m, float out[8][4]) const;
    // camera is the Node seen from; a bone's wires get their Bone there.
    virtual void render(double time, Object* object, Node* camera, i32 pass) = 0;
    // False for a kind whose render draws nothing: its box is not fitted to.
    virtual bool drawsGeometry() const { return true; }
    virtual const D3DVECTOR* points() const = 0;

    void setBoundingBox(const D3DVECTOR& min, const D3DVECTOR& max);
    // From p to the nearest point of the bounding sphere's surface.
    float distanceToBoundingSphere(const D3DVECTOR& p) const;
};

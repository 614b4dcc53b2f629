// The mesh of one polygon layer of an object file. It owns the layer's
// points and polygons and, on its first preparation, turns them into one
// indexed triangle batch (a StaticSubset) per surface, with welded vertices,
// smoothed normals, texture coordinates and automatic bone weights.
#pragma once

#include "materials/mesh_vertex.h"
#include "materials/vertex_maps.h"
#include "scene/mesh.h"

#include <vector>

class Bone;
class Subset;
class Surface;

// How many polygon-mesh renders are active: a mirror seen in a mirror's
// reflection draws as a plain surface, and nothing is drawn deeper than 2.
extern i32 meshDrawDepth;
// 1: flat mirrors mark their pixels in the stencil buffer; 0: the same
// procedure runs with the stencil test off (a debugging key toggles it).
extern i32 mirrorStencil;

class PolyMesh : public Mesh {
public:
    using UVMap = ::UVMap;
    using VertexColorMap = ::VertexColorMap;

    // Bones beyond these take no part in skinning.
    static constexpr int maxSkinningBones = 24;

    struct Polygon {
        u32 vertexCount = 0;
        u32* pointIndices = nullptr; // new[], owned by the polygon
        i32 surfaceIndex = 0;        // into the object file's surface list
        i32 polygonNumber = 0;       // its index in the file, before clean-up
        PolyMesh* owner = nullptr;
    };

    D3DVECTOR* pointArray;  // new[], owned
    Polygon* polygons;      // new[], owned
    std::vector<Bone*> bones; // owned; filled by the scene reader
    i32 boneFalloffType = 0;
    std::vector<Subset*> subsets; // owned; one per surface with triangles, in surface order
    i32 polygonCount;
    i32 pointCount;

    // Takes ownership of both arrays (and of each polygon's indices).
    PolyMesh(Engine* engine, MeshFile* object, i32 polygonCount, Polygon* polygons, D3DVECTOR* points,
             i32 pointCount);
    ~PolyMesh() override;

    PolyMesh* asPolyMesh() override { return this; }
    // Builds the subsets on the first call that succeeds; later calls answer
    // at once. A failed build is run again from the start by the next call.
    bool prepare() override;
    void updateBounds() override;
    void render(double time, Object* object, Node* camera, i32 pass) override;
    const D3DVECTOR* points() const override { return cachedPoints; }

    void computeBounds();
    // Drops polygons of fewer than three corners and those that name a point
    // or surface the mesh does not have; numbers and counts the others.
    void removeDegeneratePolygons();
    // seam: a corner whose cylindrical or spherical u was wrapped past the
    // map's edge gets its own weld key, so it never merges with the same
    // point's unwrapped corner in the neighbouring polygon.
    void buildRenderData(bool seam);

    // The object file's surfaces, which polygon surface indices refer to.
    i32 surfaceCount() const;
    Surface* surfaceAt(i32 index) const;

    // The triangles of a polygon of n corners as local corner numbers, in
    // zig-zag order from both ends: (0, 1, n-1), (1, n-2, n-1), ...
    static void triangulateZigZag(u32 n, std::vector<u32>& out);
    // (p2 - p0) x (p0 - p1), unit length (unchanged when zero).
    static D3DVECTOR triangleNormal(const D3DVECTOR& p0, const D3DVECTOR& p1, const D3DVECTOR& p2);
    // The weights of the bones nearest to p, strongest first (at most four
    // entries are meaningful).
    void boneWeightsAt(const D3DVECTOR& p, u8 indices[4], float weights[4]);

private:
    // What the build steps hand on to each other; freed after the build.
    // A corner's full record is made only while its polygon is welded, so
    // a large layer never holds a record for every corner at once.
    struct BuildData {
        std::vector<D3DVECTOR> faceNormals;   // per polygon
        std::vector<u32> cornerBase;          // first corner of each polygon
        std::vector<D3DVECTOR> cornerNormals; // smoothed, per corner
        std::vector<i32> weldGroups;          // first corner of the same point, per corner
        bool seam = true;                     // see buildRenderData
    };

    void triangulate(BuildData& data);
    void smoothNormals(BuildData& data);
    // The corners of one polygon: position, smoothed normal, polygon number
    // and weld group, then texture coordinates and bone weights.
    void buildCorners(const BuildData& data, i32 polygon, std::vector<MeshVertex>& out);
    void computeBoneWeights(MeshVertex* corners, u32 count);
    void buildSubsets(BuildData& data);
    void deleteSubsets();

    // A flat mirror subset: its pixels tagged in the stencil buffer, the
    // reflection scene drawn inside them, then the surface over it.
    void renderFlatMirror(Subset* subset, double t, Object* object, Node* camera);
    // Fills the surface's cube faces from its reflection scene, this mesh
    // left out of them.
    void renderCubeReflection(Surface* surface, double t, Object* object);
};

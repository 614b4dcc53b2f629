// The node that carries a mesh: it applies its world matrix, uploads the
// skinning matrices of the mesh's bones, sets the per-object shader switches
// and fog state, draws the mesh, and moves its sound channel along with it.
#pragma once

#include "scene/node.h"

#include <vector>

class Bone;

class HVObject;

class Object : public PerspectiveNode {
public:
    i32 shadowOptions = 7;
    u8 unaffectedByFog = 0;
    u8 hidden = 0; // not drawn in the main pass; drawn solid where it is drawn
    u8 bumpDisplacement = 0;
    Mesh* mesh = nullptr;         // not owned: meshes belong to the loaded object files
    HVObject* hvObject = nullptr; // owned
    i32 soundChannel = -1;        // the object's own channel of the engine's Sound; -1 none
    D3DCOLOR flatColor = 0;

    Object(SceneBase* scene, i32 index);
    ~Object() override;

    void invalidate() override;
    D3DMATRIX* getMatrix(double t) override;
    D3DMATRIX* getInvMatrix(double t) override;
    double matrixTime(double t) const override { return objectTime(t); }
    virtual void render(double t, Node* camera, i32 pass);

    // Skinning matrices of the first kMaxBones bones into the uniforms.
    void uploadBones(const std::vector<Bone*>& bones, double t);
    void updateSound(double t);
    void drawBoundingBox();

    // The scene time, or the mesh's own animation time while key bindings
    // drive it.
    double objectTime(double t) const;

    // Bones beyond this many are not uploaded: the uniforms hold 24.
    static constexpr int kMaxBones = 24;

private:
    // The bones of the mesh when it is a polygon mesh, else null.
    const std::vector<Bone*>* meshBones() const;
};

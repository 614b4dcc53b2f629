// A node of a skeleton that deforms the mesh of one object. Its rest pose
// (position and angles, composed along its parent bones) gives the rest
// matrix; its own channels, composed the same way, the animated matrix. Both
// are in the object's space: the node parent does not enter them. The matrix
// that skins a vertex is the inverse rest matrix times the animated one.
#pragma once

#include "scene/node.h"

class Bone : public PerspectiveNode {
public:
    float restPosition[3] = {0.0f, 0.0f, 0.0f};
    float restDirection[3] = {0.0f, 0.0f, 0.0f}; // pitch, heading, bank
    float restLength = 1.0f;
    float strength = 1.0f;
    u8 scaleStrength = 0;
    u8 limitedRange = 0;
    float minRange = 0.0f;
    float maxRange = 1.0f;
    Bone* parentBone = nullptr;
    D3DMATRIX restMatrix;
    D3DMATRIX inverseRestMatrix;
    u8 restValid = 0;
    u8 inverseRestValid = 0;

    // index = boneNumber x 65536 + objectNumber; owns its wire mesh.
    Bone(SceneBase* scene, i32 boneNumber, i32 objectNumber);
    ~Bone() override;

    // Clears the pass flags; the rest matrices are computed once for life.
    void invalidate() override;
    D3DMATRIX* getMatrix(double t) override;
    // The rest matrices of this bone and its parent bones, once.
    void updateHierarchy(double t);
    D3DMATRIX computeMatrix(double t);
    // The inverse rest matrix, computed on first use.
    const D3DMATRIX& inverseRest(double t);

protected:
    int matrixInputs(Node* out[3]) const override;

private:
    u8 restComputing = 0; // guards parent-bone loops of the rest pose
};

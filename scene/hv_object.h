// A HyperVoxel volume attached to an object. Only the owning base exists so
// far: the volumes come with the HyperVoxel drawing.
#pragma once

class HVObject {
public:
    HVObject() = default;
    HVObject(const HVObject&) = delete;
    HVObject& operator=(const HVObject&) = delete;
    virtual ~HVObject() = default;
};

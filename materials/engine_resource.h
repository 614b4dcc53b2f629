// The common base of everything that owns Direct3D objects for the engine
// (textures, shader pairs, meshes, subsets, nodes, scenes, text): it keeps
// the engine, through which it reaches the device list and the current
// device, and makes its Direct3D objects once per device.
#pragma once

class Engine;

class EngineResource {
public:
    explicit EngineResource(Engine* engine) : engine(engine) {}
    EngineResource(const EngineResource&) = default;
    EngineResource& operator=(const EngineResource&) = default;
    virtual ~EngineResource() = default;

    Engine* engine;
};

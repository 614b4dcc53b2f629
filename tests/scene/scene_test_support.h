// Shared by the scene tests that need an engine: a scene inside a
// metascene over a headless device, a Sound that records its calls, and
// look-ups in the device's call log.
#pragma once

#include "materials/texture_test_support.h"

#include "lightwave/meta_scene.h"
#include "materials/shader_parameters.h"
#include "media/sound.h"
#include "platform/d3d9/device_test_api.h"
#include "scene/scene.h"

#include <string>
#include <vector>

namespace scenetest {

using texturetest::TestEngine;

// An engine, a metascene and one scene of it (owned by the metascene).
struct SceneFixture {
    TestEngine engine;
    std::unique_ptr<MetaScene> meta;
    Scene* scene = nullptr;

    SceneFixture()
    {
        if (!engine)
            return;
        meta = std::make_unique<MetaScene>(engine.get(), "test.mts");
        scene = new Scene(meta.get());
        meta->scenes.push_back(scene);
    }
    ~SceneFixture() { meta.reset(); }
    IDirect3DDevice9* device() const { return engine->currentDevice; }
};

struct SoundCall {
    std::string name;
    int handle;
    std::vector<float> args;
};

class RecordingSound : public Sound {
public:
    std::vector<SoundCall> calls;

    bool setVolume(int h, float v) override { return record("setVolume", h, {v}), true; }
    void setListener(float px, float py, float pz, float fx, float fy, float fz, float tx, float ty, float tz,
                     float vx, float vy, float vz) override
    {
        record("setListener", 0, {px, py, pz, fx, fy, fz, tx, ty, tz, vx, vy, vz});
    }
    void setChannel3D(int h, float px, float py, float pz, float ox, float oy, float oz, float vx, float vy,
                      float vz) override
    {
        record("setChannel3D", h, {px, py, pz, ox, oy, oz, vx, vy, vz});
    }
    void setChannelCone(int h, float inside, float outside, int volume) override
    {
        record("setChannelCone", h, {inside, outside, float(volume)});
    }
    void setChannelDistances(int h, float lo, float hi) override { record("setChannelDistances", h, {lo, hi}); }

private:
    void record(const char* name, int h, std::vector<float> args) { calls.push_back({name, h, std::move(args)}); }
};

// The logged calls of one name.
inline std::vector<platform::d3d9::DeviceCall> callsNamed(const std::vector<platform::d3d9::DeviceCall>& log,
                                                          const std::string& name)
{
    std::vector<platform::d3d9::DeviceCall> out;
    for (const auto& call : log)
        if (call.name == name)
            out.push_back(call);
    return out;
}

// The values a call log gave one render state, in order.
inline std::vector<double> renderStateValues(const std::vector<platform::d3d9::DeviceCall>& log, D3DRENDERSTATETYPE s)
{
    std::vector<double> out;
    for (const auto& call : callsNamed(log, "SetRenderState"))
        if (call.args[0] == double(s))
            out.push_back(call.args[1]);
    return out;
}

} // namespace scenetest

// Adapters, headless dialogs and log reading for the display and application
// tests.
#pragma once

#include "display/display_manager.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"

#include "log_test_support.h"
#include "platform/d3d9/adapter_profiles.h"

#include <d3d9.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace displaytest {

inline D3DDISPLAYMODE mode(UINT width, UINT height, UINT rate = 60, D3DFORMAT format = D3DFMT_X8R8G8B8)
{
    D3DDISPLAYMODE m = {};
    m.Width = width;
    m.Height = height;
    m.RefreshRate = rate;
    m.Format = format;
    return m;
}

inline D3DCAPS9 caps(bool hardwareTnL = true, bool pure = true)
{
    D3DCAPS9 c = {};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.DevCaps = D3DDEVCAPS_HWRASTERIZATION;
    if (hardwareTnL)
        c.DevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    if (pure)
        c.DevCaps |= D3DDEVCAPS_PUREDEVICE;
    c.VertexShaderVersion = D3DVS_VERSION(2, 0);
    return c;
}

// What an adapter accepts; the profile's predicates answer from these sets.
struct Answers {
    std::set<D3DFORMAT> backBuffers = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
    std::set<D3DFORMAT> textures = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A1R5G5B5,
                                    D3DFMT_L8};
    std::set<D3DFORMAT> renderTargets = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,
                                         D3DFMT_A16B16G16R16F};
    std::set<D3DFORMAT> depthStencils = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8};
    std::set<D3DFORMAT> unmatchedDepth; // refused by CheckDepthStencilMatch
};

inline platform::AdapterProfile profile(const char* description, std::vector<D3DDISPLAYMODE> modes,
                                        const Answers& answers = Answers(), bool hardwareTnL = true)
{
    platform::AdapterProfile p;
    p.description = description;
    p.driver = "test.dll";
    p.driverVersion = platform::makeDriverVersion(6, 14, 10, 6555);
    p.modes = std::move(modes);
    p.desktopMode = mode(1280, 1024);
    p.caps = caps(hardwareTnL);
    p.referenceDevice = true;
    p.referenceCaps = caps(true, false);
    p.referenceCaps.DeviceType = D3DDEVTYPE_REF;
    p.deviceType = [answers](D3DFORMAT, D3DFORMAT backBuffer, BOOL) { return answers.backBuffers.count(backBuffer) > 0; };
    p.deviceFormat = [answers](D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT format) {
        if (usage & D3DUSAGE_DEPTHSTENCIL)
            return answers.depthStencils.count(format) > 0;
        if (usage & D3DUSAGE_RENDERTARGET)
            return answers.renderTargets.count(format) > 0;
        if (usage & D3DUSAGE_DMAP)
            return false;
        return answers.textures.count(format) > 0;
    };
    p.depthStencilMatch = [answers](D3DFORMAT, D3DFORMAT, D3DFORMAT depth) {
        return answers.unmatchedDepth.count(depth) == 0;
    };
    p.multiSampleTypes = {D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES};
    p.nonMaskableQualityLevels = 0;
    return p;
}

// Installs profiles for the test's lifetime.
struct Profiles {
    explicit Profiles(std::vector<platform::AdapterProfile> profiles)
    {
        platform::installAdapterProfiles(std::move(profiles));
    }
    ~Profiles()
    {
        platform::clearAdapterProfiles();
        platform::setDirect3DCreate9Fails(false);
    }
};

using testsupport::LevelGuard;
using testsupport::logLinesFrom;
using testsupport::logPosition;

// Dialogs answered by the driver; what they showed is kept per action.
class HeadlessDialogs {
public:
    struct Snapshot {
        std::string caption;
        std::vector<platform::DialogControlInfo> controls;

        const platform::DialogControlInfo* control(int id) const
        {
            for (const platform::DialogControlInfo& c : controls)
                if (c.id == id)
                    return &c;
            return nullptr;
        }
    };

    explicit HeadlessDialogs(const char* script)
    {
        platform::setDialogScript(script);
        platform::clearDialogTranscript();
        platform::clearRecordedMessageBoxes();
        platform::setDialogObserver([this](HWND dialog) {
            Snapshot s;
            char caption[256] = "";
            GetWindowTextA(dialog, caption, sizeof(caption));
            s.caption = caption;
            s.controls = platform::dialogControls(dialog);
            snapshots.push_back(std::move(s));
        });
    }
    ~HeadlessDialogs()
    {
        platform::setDialogObserver({});
        platform::setDialogScript("");
        platform::clearDialogTranscript();
        platform::clearRecordedMessageBoxes();
    }

    bool transcriptHas(const std::string& event) const
    {
        for (const std::string& e : platform::dialogTranscript())
            if (e == event)
                return true;
        return false;
    }

    std::vector<Snapshot> snapshots;
};

} // namespace displaytest

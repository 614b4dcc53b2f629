#include "app/setup.h"

#include "app/dialog.h"
#include "display/display_manager.h"
#include "foundation/diagnostics.h"

#include <cstdlib>

Setup::Setup(DisplayManager* manager) : manager(manager)
{
}

Setup::~Setup() = default;

bool Setup::run(HINSTANCE, HWND)
{
    return initialize();
}

bool Setup::initialize()
{
    refreshFromAdapter();
    apply();
    return true;
}

AdapterInfo* Setup::adapterInfo() const
{
    return manager->adapterAt(manager->settings->adapter);
}

D3DDEVTYPE Setup::deviceType() const
{
    return manager->settings->refRast ? D3DDEVTYPE_REF : D3DDEVTYPE_HAL;
}

D3DFORMAT Setup::baseFormat() const
{
    const DisplaySettings& settings = *manager->settings;
    if (settings.windowed) {
        const AdapterInfo* info = adapterInfo();
        return info ? info->desktopMode.Format : D3DFMT_UNKNOWN;
    }
    return settings.adapterFormat;
}

void Setup::apply()
{
    DisplaySettings& settings = *manager->settings;
    settings.useDirectInput = settings.windowed ? 0 : 1;

    // An adapter without a mode of the display format (an empty mode list)
    // keeps the size it has: there is no mode to take it from.
    const AdapterInfo* info = adapterInfo();
    if (info && modeIndex >= 0 && static_cast<u32>(modeIndex) < info->modeCount &&
        info->modes[modeIndex].Format == settings.adapterFormat) {
        settings.width = static_cast<i32>(info->modes[modeIndex].Width);
        settings.height = static_cast<i32>(info->modes[modeIndex].Height);
    }

    if (!settings.scriptName)
        DisplaySettings::setText(settings.scriptName, "scene.scr");
    diagnosticsLevel = settings.windowed ? 3 : 0;
}

void Setup::refreshFromAdapter()
{
    fillDisplayFormats();
    refreshFromFormat();
}

void Setup::refreshFromFormat()
{
    selectClosestMode(manager->settings->adapterFormat);
    refreshFromMode();
}

void Setup::refreshFromMode()
{
    const DisplaySettings& settings = *manager->settings;
    fillTextureFormats(deviceType(), baseFormat(), settings.windowed ? TRUE : FALSE);
    refreshSampling();
}

void Setup::refreshSampling()
{
    const DisplaySettings& settings = *manager->settings;
    fillMultisampleTypes(deviceType(), settings.backBufferFormat, settings.windowed ? TRUE : FALSE);
    fillDepthFormats(deviceType(), baseFormat(), settings.backBufferFormat);
}

void Setup::selectClosestMode(D3DFORMAT format)
{
    modeIndex = 0;
    const AdapterInfo* info = adapterInfo();
    if (!info)
        return;
    const DisplaySettings& settings = *manager->settings;
    const i64 wanted = i64(settings.width) * settings.height;
    i64 best = 0;
    bool found = false;
    for (u32 i = 0; i < info->modeCount; ++i) {
        const D3DDISPLAYMODE& mode = info->modes[i];
        if (mode.Format != format)
            continue;
        i64 distance;
        if (i64(mode.Width) == settings.width && i64(mode.Height) == settings.height)
            distance = -1;
        else
            distance = std::llabs(i64(mode.Width) * mode.Height - wanted);
        // Not larger: among equals the last one wins.
        if (!found || distance <= best) {
            best = distance;
            found = true;
            modeIndex = static_cast<i32>(i);
        }
    }
}

void Setup::fillDisplayFormats()
{
    manager->collectDisplayFormats(manager->settings->adapter);
}

void Setup::fillTextureFormats(D3DDEVTYPE type, D3DFORMAT format, BOOL windowed)
{
    manager->collectTextureFormats(manager->settings->adapter, type, format, windowed);
}

void Setup::fillMultisampleTypes(D3DDEVTYPE type, D3DFORMAT format, BOOL windowed)
{
    manager->collectMultisampleTypes(manager->settings->adapter, type, format, windowed);
}

void Setup::fillDepthFormats(D3DDEVTYPE type, D3DFORMAT format, D3DFORMAT backBufferFormat)
{
    manager->collectDepthFormats(manager->settings->adapter, type, format, backBufferFormat);
}

bool Setup::runDialog(Dialog& dialog, HINSTANCE instance, HWND parent)
{
    const int result = dialog.run(instance, parent);
    return result == 0 || result == -1;
}

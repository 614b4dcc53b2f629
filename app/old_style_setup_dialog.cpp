#include "app/old_style_setup_dialog.h"

#include "display/display_manager.h"
#include "foundation/byte_string.h"
#include "foundation/diagnostics.h"
#include "media/video_compressors.h"

#include <commdlg.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <utility>

// The classic path limit, for the save-file chooser's buffer.
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

namespace {

const char* const kArchives[] = {"architecture.sar", "industry.sar", "interior.sar"};
const char* const kScripts[] = {"scene.scr", "scene2.scr", "scene3.scr"};
const char kNoVideo[] = "(none)";
const char kBmpSequence[] = "(BMP image sequence)";

// Uncompressed colour textures: R, G and B present, A8R8G8B8 preferred.
FormatRequest colorTextureRequest()
{
    FormatRequest request;
    for (int c = 0; c < 4; ++c) {
        request.min[c] = c ? channelWord(kChannelUnsigned, 0, 1) : 0;
        request.pref[c] = channelWord(kChannelUnsigned, 0, 8);
        request.max[c] = channelWord(kChannelFloat, 0, 32);
    }
    request.allowed = kFormatDisplay | kFormatExtendedColor;
    return request;
}

// Position of a row in a list, or -1.
int positionIn(const FormatList& list, const FormatDesc* row)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == row)
            return static_cast<int>(i);
    return -1;
}

} // namespace

OldStyleSetupDialog::OldStyleSetupDialog(DisplayManager* manager) : Setup(manager), Dialog(kTemplate)
{
}

bool OldStyleSetupDialog::run(HINSTANCE instance, HWND parent)
{
    loadFromRegistry();
    ensureProcessArguments();
    if (!parseCommandLine(processArgumentCount, processArguments))
        return false;

    bool result;
    if (nosetup) {
        refreshFromAdapter();
        apply();
        result = true;
    } else {
        OldStyleSetupDialog dialog(manager);
        result = dialog.Dialog::run(instance, parent) == 0;
    }
    saveToRegistry();
    return result;
}

void OldStyleSetupDialog::refreshFromMode()
{
    updateDeviceControls();
}

void OldStyleSetupDialog::selectClosestMode(D3DFORMAT format)
{
    fillModes(format);
}

void OldStyleSetupDialog::fillDisplayFormats()
{
    fillBackbufferFormats();
}

void OldStyleSetupDialog::fillMultisampleTypes(D3DDEVTYPE type, D3DFORMAT format, BOOL windowed)
{
    fillMultisampling(type, format, windowed);
}

void OldStyleSetupDialog::updateDeviceControls()
{
    if (handle) {
        const AdapterInfo* info = adapterInfo();
        enableItem(kPureDevice, info && (info->caps.DevCaps & D3DDEVCAPS_PUREDEVICE));
    }
    Setup::refreshFromMode();
}

int OldStyleSetupDialog::modeAtPosition(int position) const
{
    const AdapterInfo* info = adapterInfo();
    if (!info || position < 0)
        return -1;
    int listed = 0;
    for (u32 i = 0; i < info->modeCount; ++i) {
        if (info->modes[i].Format != manager->settings->adapterFormat)
            continue;
        if (listed == position)
            return static_cast<int>(i);
        ++listed;
    }
    return -1;
}

void OldStyleSetupDialog::fillModes(D3DFORMAT format)
{
    Setup::selectClosestMode(format);
    if (!handle)
        return;
    comboClear(kModes);
    const AdapterInfo* info = adapterInfo();
    int chosen = 0;
    if (info) {
        int listed = 0;
        for (u32 i = 0; i < info->modeCount; ++i) {
            const D3DDISPLAYMODE& mode = info->modes[i];
            if (mode.Format != format)
                continue;
            comboAdd(kModes, formatTemp("%d x %d at %d Hz", static_cast<int>(mode.Width),
                                        static_cast<int>(mode.Height), static_cast<int>(mode.RefreshRate)));
            if (static_cast<i32>(i) == modeIndex) {
                comboSelect(kModes, listed);
                chosen = listed;
            }
            ++listed;
        }
    }
    fillRefreshRates(chosen);
}

void OldStyleSetupDialog::fillRefreshRates(int position)
{
    if (!handle)
        return;
    comboClear(kRefreshRates);
    const int index = modeAtPosition(position);
    if (index < 0)
        return;
    const AdapterInfo* info = adapterInfo();
    const D3DDISPLAYMODE& chosen = info->modes[index];
    int listed = 0;
    for (u32 i = 0; i < info->modeCount; ++i) {
        const D3DDISPLAYMODE& mode = info->modes[i];
        if (mode.Format != chosen.Format || mode.Width != chosen.Width || mode.Height != chosen.Height)
            continue;
        comboAdd(kRefreshRates, formatTemp("%d Hz", static_cast<int>(mode.RefreshRate)));
        if (static_cast<int>(i) == index)
            comboSelect(kRefreshRates, listed);
        ++listed;
    }
}

void OldStyleSetupDialog::fillBackbufferFormats()
{
    Setup::fillDisplayFormats();
    if (!handle)
        return;
    comboClear(kDisplayFormat);
    const AdapterInfo* info = adapterInfo();
    if (!info)
        return;
    int listed = 0;
    for (int index : info->displayFormats) {
        comboAdd(kDisplayFormat, displayFormatNames[index]);
        if (displayFormats[index] == manager->settings->adapterFormat)
            comboSelect(kDisplayFormat, listed);
        ++listed;
    }
}

void OldStyleSetupDialog::fillTextureFormats(D3DDEVTYPE type, D3DFORMAT format, BOOL windowed)
{
    Setup::fillTextureFormats(type, format, windowed);
    if (!handle)
        return;
    comboClear(kBackBufferFormat);
    comboClear(kTextureFormats);
    comboClear(kRenderTargetFormats);
    comboClear(kDepthTargetFormats);
    const AdapterInfo* info = adapterInfo();
    if (!info)
        return;

    int listed = 0;
    for (int index : info->backBufferFormats) {
        comboAdd(kBackBufferFormat, displayFormatNames[index]);
        if (displayFormats[index] == manager->settings->backBufferFormat)
            comboSelect(kBackBufferFormat, listed);
        ++listed;
    }

    const FormatRequest colors = colorTextureRequest();
    for (const FormatDesc* row : info->textureFormats)
        comboAdd(kTextureFormats, row->name);
    const FormatDesc* texture = colors.findBest(info->textureFormats);
    if (texture)
        comboSelect(kTextureFormats, positionIn(info->textureFormats, texture));
    else
        ENGINE_ASSERT_FAILED("device does not support uncompressed textures?");

    for (const FormatDesc* row : info->renderTargetTextureFormats) {
        if (row->flags & kFormatDepth)
            comboAdd(kDepthTargetFormats, row->name);
        else
            comboAdd(kRenderTargetFormats, row->name);
    }
    FormatList colorTargets;
    for (const FormatDesc* row : info->renderTargetTextureFormats)
        if (!(row->flags & kFormatDepth))
            colorTargets.push_back(row);
    const FormatDesc* target = colors.findBest(colorTargets);
    if (target)
        comboSelect(kRenderTargetFormats, positionIn(colorTargets, target));
    else
        ENGINE_ASSERT_FAILED("device does not support render to texture?");
    if (comboCount(kDepthTargetFormats) > 0)
        comboSelect(kDepthTargetFormats, 0);
}

void OldStyleSetupDialog::fillMultisampling(D3DDEVTYPE type, D3DFORMAT format, BOOL windowed)
{
    Setup::fillMultisampleTypes(type, format, windowed);
    if (!handle)
        return;
    comboClear(kMultisampling);
    const AdapterInfo* info = adapterInfo();
    const DisplaySettings& settings = *manager->settings;
    comboAdd(kMultisampling, "No Multisampling");
    int selection = 0;
    if (info) {
        int listed = 1;
        for (D3DMULTISAMPLE_TYPE t : info->multiSampleTypes) {
            comboAdd(kMultisampling, formatTemp("std. - %d Samples", static_cast<int>(t)));
            if (t == settings.multiSampleType)
                selection = listed;
            ++listed;
        }
        for (u32 q = 0; q < info->nonMaskableQualityLevels; ++q) {
            comboAdd(kMultisampling, formatTemp("DX9 - Quality %d", static_cast<int>(q)));
            if (settings.multiSampleType == D3DMULTISAMPLE_NONMASKABLE && settings.multiSampleQuality == q)
                selection = listed;
            ++listed;
        }
    }
    comboSelect(kMultisampling, selection);
}

void OldStyleSetupDialog::fillDepthFormats(D3DDEVTYPE type, D3DFORMAT format, D3DFORMAT backBufferFormat)
{
    Setup::fillDepthFormats(type, format, backBufferFormat);
    if (!handle)
        return;
    comboClear(kDepthStencilFormats);
    const AdapterInfo* info = adapterInfo();
    if (!info)
        return;
    for (const FormatDesc* row : info->depthFormats)
        comboAdd(kDepthStencilFormats, row->name);
    const FormatDesc* best = depthStencilRequest().findBest(info->depthFormats);
    if (best)
        comboSelect(kDepthStencilFormats, positionIn(info->depthFormats, best));
    else
        ENGINE_ASSERT_FAILED("device does not support depth/stencil?");
}

void OldStyleSetupDialog::enableModeControls()
{
    const bool windowed = manager->settings->windowed != 0;
    enableItem(kWidth, windowed);
    enableItem(kHeight, windowed);
    enableItem(kModes, !windowed);
    enableItem(kRefreshRates, !windowed);
    enableItem(kDisplayFormat, !windowed);
}

std::string OldStyleSetupDialog::selectedText(int id) const
{
    if (comboCount(id) == 0)
        return std::string();
    char text[512];
    comboText(id, comboSelection(id), text, sizeof(text));
    return text;
}

void OldStyleSetupDialog::fillTextCombo(int id, const char* const* names, int count, const char* current)
{
    comboClear(id);
    int selection = 0;
    for (int i = 0; i < count; ++i) {
        comboAdd(id, names[i]);
        if (current && _stricmp(current, names[i]) == 0)
            selection = i;
    }
    // A name from the command line or an earlier run stays choosable.
    if (current && *current && selection == 0 && _stricmp(current, names[0]) != 0)
        selection = comboAdd(id, current);
    comboSelect(id, selection);
}

void OldStyleSetupDialog::readVideoOutput()
{
    DisplaySettings& settings = *manager->settings;
    const int selection = comboSelection(kVideoOutput);
    const std::string choice = selectedText(kVideoOutput);
    if (choice.empty() || choice == kNoVideo) {
        DisplaySettings::setText(settings.videoOutput, nullptr);
        return;
    }
    if (choice == kBmpSequence) {
        char prefix[256] = "";
        if (platform::promptText("Prefix for BMP image sequence", "Enter prefix for BMP image sequence", prefix,
                                 sizeof(prefix), handle))
            DisplaySettings::setText(settings.videoOutput, prefix);
        else
            DisplaySettings::setText(settings.videoOutput, nullptr);
        settings.compressorIndex = -1;
        return;
    }

    wchar_t file[MAX_PATH] = L"vid.avi";
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = handle;
    request.lpstrFilter = L"Video file (*.avi)\0*.avi\0";
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH;
    request.lpstrTitle = L"Save video file as";
    request.lpstrDefExt = L"avi";
    request.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&request)) {
        DisplaySettings::setText(settings.videoOutput, nullptr);
        return;
    }
    file[MAX_PATH - 1] = L'\0';
    char name[4 * MAX_PATH];
    const size_t n = std::wcstombs(name, file, sizeof(name) - 1);
    if (n == static_cast<size_t>(-1)) {
        DisplaySettings::setText(settings.videoOutput, nullptr);
        return;
    }
    name[n] = '\0';
    DisplaySettings::setText(settings.videoOutput, name);
    settings.compressorIndex = selection - 2;
}

void OldStyleSetupDialog::readControls(bool withVideoOutput)
{
    DisplaySettings& settings = *manager->settings;
    // A size the window code cannot compute with (an empty or non-numeric
    // field, 0, more than kMaxWindowSide, 4294967295 that would read as -1)
    // keeps the last one.
    for (auto [id, side] : {std::pair{kWidth, &settings.windowWidth}, std::pair{kHeight, &settings.windowHeight}}) {
        const UINT value = itemInt(id);
        if (value >= 1 && value <= static_cast<UINT>(kMaxWindowSide))
            *side = static_cast<i32>(value);
    }
    settings.windowed = isChecked(kWindowed) ? 1 : 0;
    settings.stereo = isChecked(kStereo) ? 1 : 0;
    settings.noDynamicDepth = isChecked(kNoDynamicDepth) ? 1 : 0;
    settings.refRast = isChecked(kReferenceRasterizer) ? 1 : 0;

    const std::string archive = selectedText(kSarArchive);
    if (!archive.empty())
        DisplaySettings::setText(settings.sarName, archive.c_str());
    const std::string script = selectedText(kScript);
    if (!script.empty())
        DisplaySettings::setText(settings.scriptName, script.c_str());
    if (withVideoOutput)
        readVideoOutput();

    settings.breakAlloc = static_cast<i32>(itemInt(kBreakAlloc));
    settings.softwareVP = isChecked(kSoftwareVertexProcessing) ? 1 : 0;
    settings.pureDevice = isChecked(kPureDevice) ? 1 : 0;
    settings.noSound = isChecked(kNoSound) ? 1 : 0;
    settings.fixedFunction = isChecked(kFixedFunction) ? 1 : 0;

    // The lists the cascade filled, read back by position.
    if (const AdapterInfo* info = adapterInfo()) {
        if (comboCount(kDisplayFormat) > 0) {
            const size_t at = static_cast<size_t>(comboSelection(kDisplayFormat));
            if (at < info->displayFormats.size())
                settings.adapterFormat = displayFormats[info->displayFormats[at]];
        }
        if (comboCount(kModes) > 0) {
            const int index = modeAtPosition(comboSelection(kModes));
            if (index >= 0)
                modeIndex = index;
        }
        if (comboCount(kBackBufferFormat) > 0) {
            const size_t at = static_cast<size_t>(comboSelection(kBackBufferFormat));
            if (at < info->backBufferFormats.size())
                settings.backBufferFormat = displayFormats[info->backBufferFormats[at]];
        }
        if (comboCount(kMultisampling) > 0) {
            const size_t at = static_cast<size_t>(comboSelection(kMultisampling));
            const size_t types = info->multiSampleTypes.size();
            if (at == 0) {
                settings.multiSampleType = D3DMULTISAMPLE_NONE;
                settings.multiSampleQuality = 0;
            } else if (at <= types) {
                settings.multiSampleType = info->multiSampleTypes[at - 1];
                settings.multiSampleQuality = 0;
            } else if (at - types - 1 < info->nonMaskableQualityLevels) {
                settings.multiSampleType = D3DMULTISAMPLE_NONMASKABLE;
                settings.multiSampleQuality = static_cast<u32>(at - types - 1);
            }
        }
    }
    apply();
}

BOOL OldStyleSetupDialog::onInitDialog()
{
    DisplaySettings& settings = *manager->settings;
    comboClear(kAdapter);
    for (int i = 0; i < manager->adapterCount; ++i) {
        const D3DADAPTER_IDENTIFIER9& id = manager->adapters[i].identifier;
        const String description = String::format("%.*s", static_cast<int>(sizeof(id.Description)), id.Description);
        comboAdd(kAdapter, description.c_str());
    }
    comboSelect(kAdapter, settings.adapter);

    fillTextCombo(kSarArchive, kArchives, 3, settings.sarName);
    fillTextCombo(kScript, kScripts, 3, settings.scriptName);

    compressors = listVideoCompressors();
    comboClear(kVideoOutput);
    comboAdd(kVideoOutput, kNoVideo);
    comboAdd(kVideoOutput, kBmpSequence);
    for (const std::string& name : compressors)
        comboAdd(kVideoOutput, name.c_str());
    int video = 0;
    if (settings.videoOutput) {
        video = 1;
        if (settings.compressorIndex >= 0 && static_cast<size_t>(settings.compressorIndex) < compressors.size())
            video = 2 + settings.compressorIndex;
    }
    comboSelect(kVideoOutput, video);

    setChecked(kWindowed, settings.windowed);
    setChecked(kReferenceRasterizer, settings.refRast);
    setChecked(kSoftwareVertexProcessing, settings.softwareVP);
    setChecked(kPureDevice, settings.pureDevice);
    setChecked(kNoSound, settings.noSound);
    setChecked(kStereo, settings.stereo);
    setChecked(kNoDynamicDepth, settings.noDynamicDepth);
    setChecked(kFixedFunction, settings.fixedFunction);
    setItemInt(kWidth, static_cast<UINT>(settings.windowWidth));
    setItemInt(kHeight, static_cast<UINT>(settings.windowHeight));
    setItemInt(kBreakAlloc, static_cast<UINT>(settings.breakAlloc));

    enableModeControls();
    refreshFromAdapter();
    return TRUE;
}

BOOL OldStyleSetupDialog::onCommand(int id, int code)
{
    DisplaySettings& settings = *manager->settings;
    switch (id) {
    case kStart:
        readControls(true);
        end(0);
        return TRUE;
    case kExit:
        readControls(false);
        end(-1);
        return TRUE;
    case kAdapter:
        if (code == CBN_SELENDOK) {
            readControls(false);
            settings.adapter = comboSelection(kAdapter);
            refreshFromAdapter();
        }
        return FALSE;
    case kWindowed:
        readControls(false);
        enableModeControls();
        refreshFromMode();
        return FALSE;
    case kModes:
        if (code == CBN_SELENDOK)
            fillRefreshRates(comboSelection(kModes));
        return FALSE;
    case kDisplayFormat:
        if (code == CBN_SELENDOK) {
            readControls(false);
            refreshFromFormat();
        }
        return FALSE;
    case kReferenceRasterizer:
        readControls(false);
        refreshFromMode();
        return FALSE;
    case kBackBufferFormat:
        if (code == CBN_SELENDOK) {
            readControls(false);
            refreshSampling();
        }
        return FALSE;
    case kStereo: {
        // Each of the two outputs gets half the size.
        const UINT width = itemInt(kWidth);
        const UINT height = itemInt(kHeight);
        if (isChecked(kStereo)) {
            setItemInt(kWidth, width / 2);
            setItemInt(kHeight, height / 2);
        } else {
            setItemInt(kWidth, width * 2);
            setItemInt(kHeight, height * 2);
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

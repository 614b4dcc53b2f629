// The full setup dialog: every display, device and debugging option, the
// candidate lists of the chosen adapter, the archive, script and video
// output. Its run also reads the command line and keeps a few choices in
// the registry between runs.
#pragma once

#include "app/dialog.h"
#include "app/setup.h"

#include <string>
#include <vector>

class OldStyleSetupDialog : public Setup, public Dialog {
public:
    static constexpr const char* kTemplate = "SETUP";
    enum : int {
        kStart = 100,
        kExit = 101,
        kAdapter = 103,
        kWindowed = 104,
        kModes = 108,
        kWidth = 110,
        kHeight = 112,
        kDisplayFormat = 114,
        kReferenceRasterizer = 117,
        kRefreshRates = 119,
        kTextureFormats = 121,
        kRenderTargetFormats = 123,
        kDepthStencilFormats = 125,
        kSarArchive = 127,
        kVideoOutput = 129,
        kScript = 170,
        kMultisampling = 180,
        kDepthTargetFormats = 275,
        kSoftwareVertexProcessing = 276,
        kBackBufferFormat = 277,
        kBreakAlloc = 310,
        kPureDevice = 1073,
        kNoSound = 1074,
        kStereo = 1084,
        kNoDynamicDepth = 1099,
        kFixedFunction = 1111,
    };

    explicit OldStyleSetupDialog(DisplayManager* manager);

    // Registry, command line, then the dialog unless nosetup; the choices
    // go back to the registry. True to go on with the settings.
    bool run(HINSTANCE instance, HWND parent) override;

    // The cascade's slots, each filling its lists as it passes.
    void refreshFromMode() override;
    void selectClosestMode(D3DFORMAT format) override;
    void fillDisplayFormats() override;
    void fillTextureFormats(D3DDEVTYPE deviceType, D3DFORMAT baseFormat, BOOL windowed) override;
    void fillMultisampleTypes(D3DDEVTYPE deviceType, D3DFORMAT format, BOOL windowed) override;
    void fillDepthFormats(D3DDEVTYPE deviceType, D3DFORMAT baseFormat, D3DFORMAT backBufferFormat) override;

    void updateDeviceControls();
    void fillModes(D3DFORMAT format);
    // The rates of the mode at this position of the mode list.
    void fillRefreshRates(int position);
    void fillBackbufferFormats();
    void fillMultisampling(D3DDEVTYPE deviceType, D3DFORMAT format, BOOL windowed);
    void enableModeControls();
    // Controls into the settings, then apply; the video output (and its
    // prompts) only when asked.
    void readControls(bool withVideoOutput);

    BOOL onInitDialog() override;
    BOOL onCommand(int id, int code) override;

private:
    std::vector<std::string> compressors;

    // Index in the full mode list of the position-th mode of the display
    // format, or -1.
    int modeAtPosition(int position) const;
    std::string selectedText(int id) const;
    void fillTextCombo(int id, const char* const* names, int count, const char* current);
    void readVideoOutput();
};

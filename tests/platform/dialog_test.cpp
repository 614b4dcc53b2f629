#include "dialog_test_support.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const platform::DialogControlInfo* findControl(const std::vector<platform::DialogControlInfo>& controls, int id)
{
    for (const auto& c : controls)
        if (c.id == id)
            return &c;
    return nullptr;
}

// Runs the dialog and returns its result with what it wrote to stderr.
std::pair<INT_PTR, std::string> runCapturing(RecordingDialog& d, LPCSTR templateName)
{
    testing::internal::CaptureStderr();
    const INT_PTR result = d.run(templateName);
    return {result, testing::internal::GetCapturedStderr()};
}

// The controls and caption of the next dialog as it first shows.
void observeFirstView(std::vector<platform::DialogControlInfo>& controls, std::string& caption)
{
    platform::setDialogObserver([&](HWND dialog) {
        if (!controls.empty())
            return;
        controls = platform::dialogControls(dialog);
        char text[64];
        GetWindowTextA(dialog, text, sizeof text);
        caption = text;
    });
}

struct ExpectedControl {
    int id;
    platform::ControlKind kind;
    const char* text;
};

void expectControls(const std::vector<platform::DialogControlInfo>& controls,
                    const std::vector<ExpectedControl>& expected)
{
    for (const ExpectedControl& e : expected) {
        SCOPED_TRACE(e.id);
        const platform::DialogControlInfo* c = findControl(controls, e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->kind, e.kind);
        EXPECT_EQ(c->text, e.text);
    }
}

using StartDialogTest = HeadlessDialogTest;

TEST_F(StartDialogTest, WithoutScriptTheDefaultButtonStarts)
{
    RecordingDialog d;
    int focusId = 0;
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG)
            focusId = GetDlgCtrlID(reinterpret_cast<HWND>(wParam));
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    // The object lives on the stack, far above 4 GiB: a 32-bit user-data
    // slot would cut it and the procedure would lose it.
    ASSERT_GT(reinterpret_cast<uintptr_t>(&d), uintptr_t(0xFFFFFFFFu));
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 0);

    ASSERT_GE(d.messages.size(), 2u);
    EXPECT_EQ(d.messages[0].message, UINT(WM_INITDIALOG));
    EXPECT_EQ(d.messages[0].lParam, reinterpret_cast<LPARAM>(&d));
    EXPECT_EQ(focusId, 100) << "Start is the first tab stop";
    EXPECT_EQ(d.commands(100, BN_CLICKED), 1);
    EXPECT_THAT(transcript(), ElementsAre("open 120", "press 100 (default)", "end 120 0"));
    EXPECT_FALSE(IsWindow(d.handle)) << "the dialog is gone when DialogBoxParamA returns";
}

TEST_F(StartDialogTest, StartDialogHasItsButtonsAndPicture)
{
    std::vector<platform::DialogControlInfo> controls;
    std::string caption;
    observeFirstView(controls, caption);
    RecordingDialog d;
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 0);
    EXPECT_EQ(caption, "Pel 2004 - The Hollowmere");
    using K = platform::ControlKind;
    expectControls(controls, {{100, K::DefaultPushButton, "&Start"},
                              {1085, K::PushButton, "&Advanced Options"},
                              {101, K::PushButton, "E&xit"}});
    EXPECT_TRUE(std::any_of(controls.begin(), controls.end(),
                            [](const auto& c) { return c.kind == platform::ControlKind::Bitmap; }));
}

TEST_F(StartDialogTest, ExitAndCloseEndWithMinusOne)
{
    platform::setDialogScript("press 101");
    RecordingDialog exitDialog;
    EXPECT_EQ(exitDialog.run(MAKEINTRESOURCEA(120)), -1);

    platform::setDialogScript("close");
    RecordingDialog closeDialog;
    EXPECT_EQ(closeDialog.run(MAKEINTRESOURCEA(120)), -1);
    bool sawClose = false;
    for (const DialogMessage& m : closeDialog.messages)
        sawClose |= m.message == WM_SYSCOMMAND && (m.wParam & 0xFFF0) == SC_CLOSE;
    EXPECT_TRUE(sawClose);
    EXPECT_EQ(closeDialog.commands(100, BN_CLICKED), 0);
}

// The start path of the program: Advanced Options ends the start dialog
// with 1, then the advanced dialog runs; one script serves both.
TEST_F(StartDialogTest, ScriptSpansTheStartAndTheAdvancedDialog)
{
    platform::setDialogScript("press 1085; select 1092 1; check 1061; press 100");
    RecordingDialog start;
    ASSERT_EQ(start.run(MAKEINTRESOURCEA(120)), 1);

    RecordingDialog advanced;
    std::vector<platform::DialogControlInfo> beforeStart;
    advanced.handler = [&](RecordingDialog& d, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SendDlgItemMessageA(d.handle, 1092, CB_RESETCONTENT, 0, 0);
            SendDlgItemMessageA(d.handle, 1092, CB_ADDSTRING, 0, (LPARAM) "Adapter A");
            SendDlgItemMessageA(d.handle, 1092, CB_ADDSTRING, 0, (LPARAM) "Adapter B");
            SendDlgItemMessageA(d.handle, 1092, CB_SETCURSEL, 0, 0);
            SendDlgItemMessageA(d.handle, 1060, BM_SETCHECK, BST_CHECKED, 0);
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == 1092 && HIWORD(wParam) == CBN_SELENDOK) {
            EXPECT_EQ(reinterpret_cast<HWND>(lParam), GetDlgItem(d.handle, 1092));
            EXPECT_EQ(SendDlgItemMessageA(d.handle, 1092, CB_GETCURSEL, 0, 0), 1);
            return FALSE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == 100) {
            beforeStart = platform::dialogControls(d.handle);
            EndDialog(d.handle, 0);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(advanced.run(MAKEINTRESOURCEA(123)), 0);

    EXPECT_EQ(advanced.commands(1092, CBN_SELENDOK), 1);
    EXPECT_EQ(advanced.commands(1092, CBN_SELCHANGE), 1);
    EXPECT_EQ(advanced.commands(1061, BN_CLICKED), 1);
    ASSERT_FALSE(beforeStart.empty());
    EXPECT_EQ(findControl(beforeStart, 1092)->selection, 1);
    EXPECT_EQ(findControl(beforeStart, 1061)->check, BST_CHECKED);
    EXPECT_EQ(findControl(beforeStart, 1060)->check, BST_UNCHECKED) << "a click on a radio button clears its group";
    EXPECT_THAT(transcript(), ElementsAre("open 120", "press 1085", "end 120 1", "open 123", "select 1092 1",
                                          "check 1061", "press 100", "end 123 0"));
    EXPECT_TRUE(platform::pendingDialogActions().empty());
}

TEST_F(StartDialogTest, ObserverSeesTheStateAfterInitAndEachAction)
{
    platform::setDialogScript("select 1090 2; check 1061");
    std::vector<int> selections;
    std::vector<int> offChecks;
    platform::setDialogObserver([&](HWND dialog) {
        selections.push_back(int(SendDlgItemMessageA(dialog, 1090, CB_GETCURSEL, 0, 0)));
        offChecks.push_back(int(SendDlgItemMessageA(dialog, 1061, BM_GETCHECK, 0, 0)));
    });
    RecordingDialog d;
    d.handler = [](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            for (const char* mode : {"640 x 480 at 60 Hz", "800 x 600 at 60 Hz", "1024 x 768 at 60 Hz"})
                SendDlgItemMessageA(self.handle, 1090, CB_ADDSTRING, 0, (LPARAM)mode);
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == 100) {
            EndDialog(self.handle, 0);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(123)), 0);
    // After WM_INITDIALOG, the select, the check; the default press ends
    // the dialog, after which there is nothing to observe.
    EXPECT_THAT(selections, ElementsAre(CB_ERR, 2, 2));
    EXPECT_THAT(offChecks, ElementsAre(BST_UNCHECKED, BST_UNCHECKED, BST_CHECKED));
}

using DialogScriptErrorTest = HeadlessDialogTest;

TEST_F(DialogScriptErrorTest, MissingControlEndsTheDialogWithAnErrorLine)
{
    platform::setDialogScript("press 999; press 100");
    RecordingDialog d;
    const auto [result, err] = runCapturing(d, MAKEINTRESOURCEA(120));
    EXPECT_EQ(result, -1);
    EXPECT_THAT(err, HasSubstr("dialog 120"));
    EXPECT_THAT(err, HasSubstr("press 999"));
    EXPECT_THAT(err, HasSubstr("no control with id 999"));
    EXPECT_EQ(d.commands(100, BN_CLICKED), 0) << "the rest of the script is dropped, not played";
    EXPECT_TRUE(platform::pendingDialogActions().empty());
}

TEST_F(DialogScriptErrorTest, ActionsThatNoUserCouldDoAreErrors)
{
    const struct {
        const char* script;
        const char* message;
    } cases[] = {
        {"jump 100", "unknown action"},
        {"press", "expects a control id"},
        {"press abc", "expects a control id"},
        {"select 100 0", "is not a combo box"},
        {"select 1092 5", "has no entry 5"},
        {"select 1092 x", "expects an entry index"},
        {"uncheck 1060", "cannot be unchecked"},
        {"check 100", "not a check box"},
        {"text 1092 hello", "not an edit"},
        {"press 101 now", "takes only a control id"},
        {"save out.avi", "no save-file chooser"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        platform::setDialogScript(c.script);
        RecordingDialog d;
        const auto [result, err] = runCapturing(d, MAKEINTRESOURCEA(123));
        EXPECT_EQ(result, -1);
        EXPECT_THAT(err, HasSubstr(c.message));
        EXPECT_THAT(err, HasSubstr("dialog 123"));
    }
}

TEST_F(DialogScriptErrorTest, DisabledControlsCannotBeUsed)
{
    platform::setDialogScript("press 1085");
    RecordingDialog d;
    d.handler = [](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            EnableWindow(GetDlgItem(self.handle, 1085), FALSE);
            return TRUE;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    const auto [result, err] = runCapturing(d, MAKEINTRESOURCEA(120));
    EXPECT_EQ(result, -1);
    EXPECT_THAT(err, HasSubstr("control 1085 is disabled"));
    EXPECT_EQ(d.commands(1085, BN_CLICKED), 0);
}

TEST_F(DialogScriptErrorTest, MissingTemplateReturnsMinusOne)
{
    RecordingDialog d;
    testing::internal::CaptureStderr();
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(999)), -1);
    EXPECT_EQ(d.run("NO SUCH DIALOG"), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("999"));
    EXPECT_TRUE(d.messages.empty()) << "no window, no WM_INITDIALOG";
    EXPECT_THAT(transcript(), ElementsAre("missing 999", "missing NO SUCH DIALOG"));
}

TEST_F(DialogScriptErrorTest, ForeignBytesUnderRtDialogAreNotATemplate)
{
    static const unsigned char bytes[] = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0}; // a real DLGTEMPLATEEX start
    platform::registerResource(RT_DIALOG, 4242, bytes, sizeof bytes);
    RecordingDialog d;
    const auto [result, err] = runCapturing(d, MAKEINTRESOURCEA(4242));
    EXPECT_EQ(result, -1);
    EXPECT_THAT(err, HasSubstr("unusable dialog template 4242"));
    platform::unregisterResource(RT_DIALOG, MAKEINTRESOURCEA(4242));
}

TEST_F(DialogScriptErrorTest, AProcedureThatIgnoresEverythingDoesNotHang)
{
    RecordingDialog d;
    d.handler = nullptr; // answers FALSE to everything
    const auto [result, err] = runCapturing(d, MAKEINTRESOURCEA(120));
    EXPECT_EQ(result, -1);
    EXPECT_THAT(err, HasSubstr("did not end"));
    // Windows' defaults: the close box became WM_CLOSE, then IDCANCEL.
    EXPECT_TRUE(std::any_of(d.messages.begin(), d.messages.end(),
                            [](const DialogMessage& m) { return m.message == WM_CLOSE; }));
    EXPECT_EQ(d.commands(IDCANCEL, BN_CLICKED), 1);
    EXPECT_EQ(d.commands(100, BN_CLICKED), 1);
}

using DialogBehaviourTest = HeadlessDialogTest;

TEST_F(DialogBehaviourTest, EndDialogDuringInitSkipsTheUser)
{
    platform::setDialogScript("press 101");
    RecordingDialog d;
    d.handler = [](RecordingDialog& self, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            EXPECT_TRUE(EndDialog(self.handle, 7));
            EXPECT_TRUE(EndDialog(self.handle, 8)) << "a second call is accepted but changes nothing";
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 7);
    EXPECT_THAT(platform::pendingDialogActions(), ElementsAre("press 101"));
    EXPECT_FALSE(EndDialog(nullptr, 1));
}

// The prompt template has an IDCANCEL button; the procedure only handles
// the commands: close becomes IDCANCEL unless that button is disabled.
TEST_F(DialogBehaviourTest, CloseBecomesCancelUnlessTheCancelButtonIsDisabled)
{
    for (bool disabled : {false, true}) {
        SCOPED_TRACE(disabled ? "disabled" : "enabled");
        platform::setDialogScript("close; press 1");
        RecordingDialog d;
        d.handler = [disabled](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            if (message == WM_INITDIALOG) {
                EnableWindow(GetDlgItem(self.handle, IDCANCEL), !disabled);
                return TRUE;
            }
            if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
                EndDialog(self.handle, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        };
        EXPECT_EQ(d.run(platform::kTextPromptTemplate), disabled ? IDOK : IDCANCEL);
        EXPECT_EQ(d.commands(IDCANCEL, BN_CLICKED), disabled ? 0 : 1);
    }
}

TEST_F(DialogBehaviourTest, NestedDialogsShareTheScript)
{
    platform::setDialogScript("press 1085; check 1061; press 101; press 100");
    RecordingDialog inner;
    RecordingDialog outer;
    INT_PTR innerResult = 0;
    bool ownerDisabledDuringInner = false;
    inner.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            ownerDisabledDuringInner = !IsWindowEnabled(outer.handle);
            EXPECT_EQ(platform::activeDialog(), self.handle);
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    outer.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == 1085) {
            innerResult = inner.run(MAKEINTRESOURCEA(123), self.handle);
            EXPECT_TRUE(IsWindowEnabled(self.handle)) << "the owner is enabled again";
            EXPECT_EQ(platform::activeDialog(), self.handle);
            return TRUE;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(outer.run(MAKEINTRESOURCEA(120)), 0);
    EXPECT_EQ(innerResult, -1);
    EXPECT_TRUE(ownerDisabledDuringInner);
    EXPECT_EQ(inner.commands(1061, BN_CLICKED), 1);
    EXPECT_EQ(platform::activeDialog(), nullptr);
    EXPECT_THAT(transcript(), ElementsAre("open 120", "press 1085", "open 123", "check 1061", "press 101",
                                          "end 123 -1", "press 100", "end 120 0"));
}

TEST_F(DialogBehaviourTest, ShowWindowHidesAndShowsTheDialog)
{
    std::vector<bool> visible;
    RecordingDialog d;
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == 1085) {
            visible.push_back(IsWindowVisible(self.handle) != FALSE);
            ShowWindow(self.handle, SW_HIDE);
            visible.push_back(IsWindowVisible(self.handle) != FALSE);
            ShowWindow(self.handle, SW_SHOW);
            visible.push_back(IsWindowVisible(self.handle) != FALSE);
            return TRUE;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    platform::setDialogScript("press 1085");
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 0);
    EXPECT_THAT(visible, ElementsAre(true, false, true));
}

TEST_F(DialogBehaviourTest, InvalidOwnerFails)
{
    RecordingDialog d;
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120), reinterpret_cast<HWND>(0x7777)), -1);
    EXPECT_TRUE(d.messages.empty());
}

// The full setup dialog: every control the setup code addresses, with its
// kind and text.
TEST_F(DialogBehaviourTest, SetupTemplateHasEveryControl)
{
    using K = platform::ControlKind;
    const std::vector<ExpectedControl> expected = {
        {102, K::Label, "Adapter"}, {103, K::ComboBox, ""}, {104, K::CheckBox, "Windowed"},
        {106, K::GroupBox, "Resolution"}, {107, K::Label, "Resolution"}, {108, K::ComboBox, ""},
        {109, K::Label, "Width"}, {110, K::Edit, ""}, {111, K::Label, "Height"}, {112, K::Edit, ""},
        {118, K::Label, "Rate"}, {119, K::ComboBox, ""}, {113, K::GroupBox, "Format"}, {114, K::ComboBox, ""},
        {277, K::ComboBox, ""}, {180, K::ComboBox, ""}, {117, K::CheckBox, "Reference Rasterizer"},
        {276, K::CheckBox, "Force Software Vertexprocessing"}, {310, K::Edit, ""},
        {1073, K::CheckBox, "Pure Device"}, {120, K::Label, "Texture"}, {121, K::ComboBox, ""},
        {122, K::Label, "Render Target"}, {123, K::ComboBox, ""}, {275, K::ComboBox, ""},
        {124, K::Label, "DnS Buffer"}, {125, K::ComboBox, ""}, {128, K::Label, "Video Output"},
        {129, K::ComboBox, ""}, {149, K::Label, "Scriptfile"}, {170, K::ComboBox, ""},
        {100, K::DefaultPushButton, "&Start"}, {101, K::PushButton, "E&xit"}, {1074, K::CheckBox, "No Sound"},
        {1084, K::CheckBox, "Stereo"}, {1099, K::CheckBox, "No Dynamic Depth"}, {1111, K::CheckBox, "FFP"},
        {127, K::ComboBox, ""}, {126, K::Label, "Sar-Archive"},
    };
    std::vector<platform::DialogControlInfo> controls;
    std::string caption;
    observeFirstView(controls, caption);
    RecordingDialog d;
    EXPECT_EQ(d.run("setup"), 0) << "template names ignore case";
    EXPECT_EQ(caption, "Corvane Quillon 3D Setup");
    expectControls(controls, expected);
    int unnamedLabels = 0, unnamedGroups = 0;
    for (const auto& c : controls) {
        unnamedLabels += c.id == IDC_STATIC && c.kind == K::Label;
        unnamedGroups += c.id == IDC_STATIC && c.kind == K::GroupBox;
    }
    EXPECT_EQ(unnamedLabels, 5); // Display, Backbuffer, Multisampling, Break at Memory Alloc, Depth Target
    EXPECT_EQ(unnamedGroups, 3); // Debugging, Enumerations, Input/Output
}

using DialogControlTest = HeadlessDialogTest;

TEST_F(DialogControlTest, CheckBoxesToggleOnClickOnly)
{
    platform::setDialogScript("check 104; check 104; uncheck 1084; press 1111; press 1111; uncheck 104");
    RecordingDialog d;
    std::vector<UINT> windowed;
    platform::setDialogObserver([&](HWND dialog) { windowed.push_back(IsDlgButtonChecked(dialog, 104)); });
    EXPECT_EQ(d.run("SETUP"), 0);
    EXPECT_EQ(d.commands(104, BN_CLICKED), 2) << "check on a ticked box is no click";
    EXPECT_EQ(d.commands(1084, BN_CLICKED), 0);
    EXPECT_EQ(d.commands(1111, BN_CLICKED), 2);
    EXPECT_THAT(windowed, ElementsAre(0u, 1u, 1u, 1u, 1u, 1u, 0u));
}

TEST_F(DialogControlTest, RadioGroupsFollowWindowsRules)
{
    platform::setDialogScript("check 1060; press 1060; check 1061");
    RecordingDialog d;
    std::vector<std::pair<int, int>> states;
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            // BM_SETCHECK leaves the rest of the group alone: both ticked.
            CheckDlgButton(self.handle, 1060, BST_CHECKED);
            CheckDlgButton(self.handle, 1061, BST_CHECKED);
            states.emplace_back(IsDlgButtonChecked(self.handle, 1060), IsDlgButtonChecked(self.handle, 1061));
            return TRUE;
        }
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == 1060 || LOWORD(wParam) == 1061))
            states.emplace_back(IsDlgButtonChecked(self.handle, 1060), IsDlgButtonChecked(self.handle, 1061));
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(123)), 0);
    // "check" on a ticked radio button plays no click; a click ticks the
    // button and clears the rest of its group.
    EXPECT_THAT(states, ElementsAre(std::pair(1, 1), std::pair(1, 0), std::pair(0, 1)));
}

TEST_F(DialogControlTest, CheckRadioButtonSetsARange)
{
    RecordingDialog d;
    std::pair<UINT, UINT> after{9, 9};
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            CheckDlgButton(self.handle, 1060, BST_CHECKED);
            CheckRadioButton(self.handle, 1060, 1061, 1061);
            after = {IsDlgButtonChecked(self.handle, 1060), IsDlgButtonChecked(self.handle, 1061)};
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(123)), 0);
    EXPECT_EQ(after, std::make_pair(0u, 1u));
}

TEST_F(DialogControlTest, ComboBoxesKeepTheirListAndSelection)
{
    RecordingDialog d;
    d.handler = [](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message != WM_INITDIALOG)
            return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
        const HWND dlg = self.handle;
        const auto send = [&](UINT m, WPARAM w, LPARAM l) { return SendDlgItemMessageA(dlg, 1090, m, w, l); };
        EXPECT_EQ(send(CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(send(CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(send(CB_ADDSTRING, 0, (LPARAM) "640 x 480 at 60 Hz"), 0);
        EXPECT_EQ(send(CB_ADDSTRING, 0, (LPARAM) "800 x 600 at 75 Hz"), 1);
        EXPECT_EQ(send(CB_ADDSTRING, 0, (LPARAM) "1024 x 768 at 85 Hz"), 2);
        EXPECT_EQ(send(CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(send(CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(send(CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(send(CB_GETLBTEXTLEN, 2, 0), 19);
        char text[64] = {};
        EXPECT_EQ(send(CB_GETLBTEXT, 2, (LPARAM)text), 19);
        EXPECT_STREQ(text, "1024 x 768 at 85 Hz");
        EXPECT_EQ(send(CB_GETLBTEXT, 3, (LPARAM)text), CB_ERR);
        EXPECT_EQ(send(CB_GETLBTEXTLEN, -1, 0), CB_ERR);
        // A drop-down list's text is its selection.
        EXPECT_EQ(GetDlgItemTextA(dlg, 1090, text, sizeof text), 18u);
        EXPECT_STREQ(text, "800 x 600 at 75 Hz");
        EXPECT_EQ(send(CB_FINDSTRINGEXACT, WPARAM(-1), (LPARAM) "640 X 480 AT 60 HZ"), 0);
        // Out of range clears the selection.
        EXPECT_EQ(send(CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(send(CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(send(CB_SETCURSEL, 2, 0), 2);
        EXPECT_EQ(send(CB_SETCURSEL, WPARAM(-1), 0), CB_ERR);
        EXPECT_EQ(send(CB_GETCURSEL, 0, 0), CB_ERR);
        send(CB_SETCURSEL, 2, 0);
        EXPECT_EQ(send(CB_RESETCONTENT, 0, 0), CB_OKAY);
        EXPECT_EQ(send(CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(send(CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(send(CB_ADDSTRING, 0, 0), CB_ERR) << "a null text";
        return TRUE;
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(123)), 0);
}

TEST_F(DialogControlTest, EditsCarryTextAndNumbers)
{
    platform::setDialogScript("text 110 1024; text 112  -5 ; text 310 12abc");
    RecordingDialog d;
    std::vector<std::pair<UINT, BOOL>> readings;
    char small[4] = {};
    char height[16] = {};
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == 100) {
            const HWND dlg = self.handle;
            const auto read = [&](int id, BOOL isSigned) {
                BOOL ok = FALSE;
                const UINT v = GetDlgItemInt(dlg, id, &ok, isSigned);
                readings.emplace_back(v, ok);
            };
            read(110, FALSE);
            read(112, FALSE);
            read(112, TRUE);
            read(310, FALSE);
            GetDlgItemTextA(dlg, 112, height, sizeof height);
            EXPECT_EQ(GetDlgItemTextA(dlg, 110, small, sizeof small), 3u);
            SetDlgItemInt(dlg, 310, 4294967295u, FALSE);
            read(310, FALSE);
            SetDlgItemInt(dlg, 310, UINT(-2147483647 - 1), TRUE);
            read(310, TRUE);
            SetDlgItemTextA(dlg, 310, "4294967296");
            read(310, FALSE);
            SetDlgItemTextA(dlg, 310, "");
            read(310, FALSE);
            read(4711, FALSE);
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(d.run("SETUP"), 0);
    // The value is only checked where the reading succeeds.
    const struct {
        const char* what;
        BOOL ok;
        UINT value;
    } expected[] = {
        {"unsigned 1024", TRUE, 1024u},
        {"unsigned refuses a sign", FALSE, 0},
        {"signed -5 between spaces", TRUE, UINT(-5)},
        {"trailing letters", FALSE, 0},
        {"largest unsigned", TRUE, 4294967295u},
        {"smallest signed", TRUE, UINT(-2147483647 - 1)},
        {"overflow", FALSE, 0},
        {"empty", FALSE, 0},
        {"no such control", FALSE, 0},
    };
    ASSERT_EQ(readings.size(), std::size(expected));
    for (size_t i = 0; i < readings.size(); ++i) {
        SCOPED_TRACE(expected[i].what);
        EXPECT_EQ(readings[i].second, expected[i].ok);
        if (expected[i].ok) {
            EXPECT_EQ(readings[i].first, expected[i].value);
        }
    }
    EXPECT_STREQ(small, "102") << "cut to the buffer and terminated";
    EXPECT_STREQ(height, "-5");
    EXPECT_GE(d.commands(110, EN_CHANGE), 1);
}

TEST_F(DialogControlTest, SendDlgItemMessageToAMissingControlIsHarmless)
{
    RecordingDialog d;
    d.handler = [](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            EXPECT_EQ(GetDlgItem(self.handle, 4711), nullptr);
            EXPECT_EQ(SendDlgItemMessageA(self.handle, 4711, CB_GETCOUNT, 0, 0), 0);
            EXPECT_FALSE(SetDlgItemTextA(self.handle, 4711, "x"));
            char text[8] = "keep";
            EXPECT_EQ(GetDlgItemTextA(self.handle, 4711, text, sizeof text), 0u);
            EXPECT_STREQ(text, "");
            EXPECT_EQ(IsDlgButtonChecked(self.handle, 4711), 0u);
            return TRUE;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 0);
}

TEST_F(DialogControlTest, DlgMsgResultCarriesHandledResults)
{
    // A handled message answers through DWLP_MSGRESULT; WM_INITDIALOG
    // answers directly.
    RecordingDialog d;
    LRESULT answer = 0;
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_USER + 5) {
            SetWindowLongPtrA(self.handle, DWLP_MSGRESULT, 1234);
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == 1085) {
            answer = SendMessageA(self.handle, WM_USER + 5, 0, 0);
            return TRUE;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    platform::setDialogScript("press 1085");
    EXPECT_EQ(d.run(MAKEINTRESOURCEA(120)), 0);
    EXPECT_EQ(answer, 1234);
}

} // namespace

// Keyboard and mouse through window messages (GDIInput) and through the
// DirectInput stand-in (DIInput), fed by the stand-in's injected input.
#include "media/input.h"

#include "foundation/diagnostics.h"
#include "platform/win32/sdl_window.h"
#include "scoped_state.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Input* target = nullptr;

LRESULT CALLBACK forwardingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return target ? target->handleMessage(window, message, wParam, lParam)
                  : DefWindowProcA(window, message, wParam, lParam);
}

HWND makeInputWindow()
{
    static bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = forwardingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "InputTestWindow";
        return RegisterClassExA(&wc) != 0;
    }();
    (void)registered;
    HWND window = CreateWindowExA(0, "InputTestWindow", "input", WS_OVERLAPPEDWINDOW, 100, 50, 416, 339, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(window, SW_SHOW);
    platform::injectActivate(window, true);
    return window;
}

void pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setWindowBackend(platform::WindowBackend::RecordsOnly);
        platform::resetWindowState();
        platform::setManualClock(true);
        window = makeInputWindow();
        pump();
    }
    void TearDown() override
    {
        target = nullptr;
        DestroyWindow(window);
        platform::resetWindowState();
        platform::setManualClock(false);
        diagnosticsLevel = 0;
    }
    HWND window = nullptr;
    testsupport::Restore<u8> moves{countMoves}; // GDIInput::init sets it
};

TEST_F(InputTest, KeyMessagesLandOnTheKeyOfTheSamePlace)
{
    GDIInput input;
    ASSERT_TRUE(input.init(window));
    target = &input;
    struct Case {
        UINT message;
        WPARAM vk;
        bool extended;
        int key;      // entry expected to change
        u8 value;
    } cases[] = {
        {WM_KEYDOWN, VK_CONTROL, true, DIK_RCONTROL, 1},
        {WM_KEYDOWN, VK_CONTROL, false, DIK_LCONTROL, 1},
        {WM_KEYDOWN, VK_MENU, true, DIK_RMENU, 1},
        {WM_KEYUP, VK_CONTROL, true, DIK_RCONTROL, 0},
        {WM_KEYDOWN, 44, false, 255, 1}, // print screen has no entry
        {WM_KEYDOWN, 'A', false, DIK_A, 1},
        {WM_KEYDOWN, 0x141, false, DIK_A, 1}, // out of range: masked, boxed at level 3
    };
    diagnosticsLevel = 0;
    for (const Case& c : cases) {
        const LPARAM lParam = c.extended ? LPARAM(1) << 24 : 0;
        input.handleMessage(window, c.message, c.vk, lParam);
        EXPECT_EQ(input.keys[c.key], c.value) << "vk " << c.vk;
        if (c.message == WM_KEYDOWN) {
            EXPECT_EQ(input.lastKey, c.key);
        }
    }
}

// Alt, and a key pressed while it is held, come as system key messages.
TEST_F(InputTest, SystemKeysCount)
{
    GDIInput input;
    ASSERT_TRUE(input.init(window));
    target = &input;
    platform::injectKey(VK_MENU, true, true);
    platform::injectKey(VK_UP, true, true);
    pump();
    EXPECT_EQ(input.keys[DIK_RMENU], 1);
    EXPECT_EQ(input.keys[DIK_UP], 1);
    EXPECT_EQ(input.lastKey, DIK_UP);
    platform::injectKey(VK_MENU, false, true);
    pump();
    EXPECT_EQ(input.keys[DIK_RMENU], 0);
}

// Every virtual key of the table lands where DirectInput puts the same
// physical key (the plain or the extended one of that virtual key).
TEST_F(InputTest, VirtualKeyTableAgreesWithDirectInputCodes)
{
    GDIInput input;
    ASSERT_TRUE(input.init(window));
    target = &input;
    BYTE rawKey = 0;
    const int observer = platform::addRawInputObserver([&](const platform::RawInputEvent& event) {
        if (event.kind == platform::RawInputEvent::Key)
            rawKey = event.dik;
    });
    int compared = 0;
    for (UINT vk = 1; vk < 256; ++vk) {
        // Messages carry the generic modifiers, and F10 arrives as a system key.
        const bool generic = (vk >= VK_SHIFT && vk <= VK_MENU) || (vk >= VK_LSHIFT && vk <= VK_RMENU);
        if (input.vkToDik[vk] == 255 || generic || vk == VK_F10)
            continue;
        bool agrees = false, known = false;
        for (bool extended : {false, true}) {
            rawKey = 0;
            platform::injectKey(vk, true, extended);
            platform::injectKey(vk, false, extended);
            pump();
            known = known || (rawKey & 0x7F) != 0;
            agrees = agrees || rawKey == input.vkToDik[vk];
        }
        if (!known)
            continue; // the stand-in's keyboard has no such key
        ++compared;
        EXPECT_TRUE(agrees) << "vk " << vk << " gives " << int(input.vkToDik[vk]);
    }
    platform::removeRawInputObserver(observer);
    EXPECT_GT(compared, 90);
}

TEST_F(InputTest, MouseMessages)
{
    GDIInput input;
    ASSERT_TRUE(input.init(window));
    target = &input;
    platform::injectMouseWheel(window, 120);
    platform::injectMouseWheel(window, 120);
    platform::injectMouseButton(window, 1, true);
    pump();
    EXPECT_EQ(input.wheel, 240);
    EXPECT_EQ(input.buttons[0] + input.buttons[1] * 2 + input.buttons[2] * 4, 2);
    input.update();
    EXPECT_EQ(input.wheel, 0);

    platform::injectMouseMove(window, 10, 20);
    pump();
    input.update();
    platform::injectMouseMove(window, 13, 16);
    pump();
    EXPECT_EQ(input.dx, 3);
    EXPECT_EQ(input.dy, -4);
}

// A quarter second after the mouse stops, the cursor goes back to the
// centre, and the jump adds no movement.
TEST_F(InputTest, RecentringAddsNoMovement)
{
    GDIInput input;
    ASSERT_TRUE(input.init(window));
    target = &input;
    platform::injectMouseMove(window, 30, 40);
    pump();
    input.update();
    platform::advanceClock(260);
    pump();
    RECT client;
    GetClientRect(window, &client);
    POINT centre{client.right / 2, client.bottom / 2};
    ClientToScreen(window, &centre);
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, centre.x);
    EXPECT_EQ(cursor.y, centre.y);
    EXPECT_EQ(input.dx, 0);
    EXPECT_EQ(input.dy, 0);
    // The next real move counts from the centre.
    platform::injectMouseMove(window, client.right / 2 + 5, client.bottom / 2);
    pump();
    EXPECT_EQ(input.dx, 5);
}

class FakeDevice : public IDirectInputDevice8A {
public:
    std::vector<DIDEVICEOBJECTDATA> records;
    HRESULT readResult = DI_OK;
    int acquires = 0;
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetDataFormat(LPCDIDATAFORMAT) override { return DI_OK; }
    STDMETHODIMP SetCooperativeLevel(HWND, DWORD) override { return DI_OK; }
    STDMETHODIMP GetProperty(REFGUID, LPDIPROPHEADER) override { return DI_OK; }
    STDMETHODIMP SetProperty(REFGUID, LPCDIPROPHEADER) override { return DI_OK; }
    STDMETHODIMP Acquire() override { return ++acquires < 3 ? DIERR_INPUTLOST : DIERR_OTHERAPPHASPRIO; }
    STDMETHODIMP Unacquire() override { return DI_OK; }
    STDMETHODIMP GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA out, LPDWORD count, DWORD) override
    {
        *count = DWORD(records.size());
        std::copy(records.begin(), records.end(), out);
        return readResult;
    }
};

TEST_F(InputTest, DirectInputRecords)
{
    DIInput input;
    ASSERT_TRUE(input.init(window));
    pump();
    platform::injectMouseMove(window, 40, 30);
    pump();
    input.update();

    platform::injectMouseMove(window, 47, 28);
    platform::injectMouseWheel(window, -120);
    platform::injectMouseButton(window, 0, true);
    platform::injectMouseButton(window, 2, true);
    platform::injectKey('W', true);
    platform::injectKey(VK_SPACE, true);
    platform::injectKey(VK_SPACE, false);
    pump();
    EXPECT_TRUE(input.update());
    EXPECT_EQ(input.dx, 7);
    EXPECT_EQ(input.dy, -2);
    EXPECT_EQ(input.wheel, -120);
    EXPECT_EQ(input.buttons[0] + input.buttons[1] * 2 + input.buttons[2] * 4, 5);
    EXPECT_EQ(input.keys[DIK_W], 1);
    EXPECT_EQ(input.keys[DIK_SPACE], 0);
    EXPECT_EQ(input.lastKey, DIK_SPACE); // releases count too
    EXPECT_TRUE(input.update());
    EXPECT_EQ(input.dx, 0);
}

TEST_F(InputTest, DirectInputLostFocusAndOverflow)
{
    DIInput input;
    ASSERT_TRUE(input.init(window));
    // Focus elsewhere: the read fails, Acquire gives up at once, the key
    // table stays as it was.
    input.keys[DIK_Q] = 1;
    HWND other = makeInputWindow();
    pump();
    platform::injectKey('E', true);
    pump();
    EXPECT_FALSE(input.update());
    EXPECT_EQ(input.keys[DIK_Q], 1);
    EXPECT_EQ(input.keys[DIK_E], 0);
    DestroyWindow(other);
    platform::injectActivate(window, true);
    pump();
    input.acquire();
    platform::injectKey('T', true);
    pump();
    EXPECT_TRUE(input.update());
    EXPECT_EQ(input.keys[DIK_T], 1);

    // More than the buffer holds: the mouse read reports the overflow and
    // the keyboard is not read that frame.
    for (int i = 0; i < 1100; ++i)
        platform::injectMouseWheel(window, 120);
    platform::injectKey('T', false);
    pump();
    EXPECT_FALSE(input.update());
    EXPECT_EQ(input.keys[DIK_T], 1);
    EXPECT_TRUE(input.update());
    EXPECT_EQ(input.keys[DIK_T], 0);
}

// The stand-in's buffer holds exactly its size; one more record is lost and
// reported.
TEST_F(InputTest, DirectInputBufferHoldsItsSize)
{
    struct Case {
        int wheels;
        HRESULT result;
        DWORD records;
    } cases[] = {{2, DI_OK, 2}, {3, DI_BUFFEROVERFLOW, 2}};
    for (const Case& c : cases) {
        void* created = nullptr;
        ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &created,
                                     nullptr),
                  DI_OK);
        auto* directInput = static_cast<IDirectInput8A*>(created);
        IDirectInputDevice8A* mouse = nullptr;
        ASSERT_EQ(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
        DIPROPDWORD size = {};
        size.diph = {sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE};
        size.dwData = 2;
        ASSERT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
        ASSERT_EQ(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
        ASSERT_EQ(mouse->SetProperty(DIPROP_BUFFERSIZE, &size.diph), DI_OK);
        ASSERT_EQ(mouse->Acquire(), DI_OK);
        for (int i = 0; i < c.wheels; ++i)
            platform::injectMouseWheel(window, 120);
        pump();
        DIDEVICEOBJECTDATA records[4];
        DWORD count = 4;
        EXPECT_EQ(mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), records, &count, 0), c.result) << c.wheels;
        EXPECT_EQ(count, c.records) << c.wheels;
        mouse->Unacquire();
        mouse->Release();
        directInput->Release();
    }
}

// A device that reports offsets past the key table, then gets lost: the
// records are skipped and the re-acquire loop ends.
TEST_F(InputTest, DirectInputHostileDevice)
{
    DIInput input;
    FakeDevice mouse, keyboard;
    input.mouse = &mouse;
    input.keyboard = &keyboard;
    keyboard.records = {{300, 0x80, 0, 0, 0}, {DIK_R, 0x80, 0, 0, 0}};
    EXPECT_TRUE(input.update());
    EXPECT_EQ(input.keys[DIK_R], 1);
    EXPECT_EQ(input.lastKey, DIK_R);
    mouse.readResult = DIERR_INPUTLOST;
    EXPECT_FALSE(input.update());
    EXPECT_EQ(mouse.acquires, 3);
    input.mouse = nullptr;
    input.keyboard = nullptr;
}

} // namespace

#include "window_test_support.h"

namespace {

using WindowInputTest = WindowingTest;

struct KeyBits {
    unsigned repeat, scan;
    bool extended, context, previous, released;
};

KeyBits bitsOf(LPARAM lParam)
{
    DWORD l = (DWORD)lParam;
    return KeyBits{l & 0xFFFF, (l >> 16) & 0xFF, ((l >> 24) & 1) != 0, ((l >> 29) & 1) != 0,
                   ((l >> 30) & 1) != 0, ((l >> 31) & 1) != 0};
}

HWND focusedWindow()
{
    HWND w = makeWindow();
    ShowWindow(w, SW_SHOW);
    ValidateRect(w, nullptr);
    seenMessages().clear();
    return w;
}

TEST_F(WindowInputTest, KeyMessagesCarryTheDocumentedBits)
{
    HWND w = focusedWindow();
    platform::injectKey(VK_CONTROL, true, true); // right control
    platform::injectKey(VK_CONTROL, true, true); // auto-repeat
    platform::injectKey(VK_CONTROL, false, true);
    platform::injectKey(VK_LCONTROL, true);

    // Nothing reaches the queue before the thread looks into it.
    EXPECT_EQ(platform::queuedMessageCount(), 0u);
    std::vector<MSG> got = drainQueue();
    ASSERT_EQ(got.size(), 4u);
    for (const MSG& m : got) {
        EXPECT_EQ(m.hwnd, w);
        EXPECT_EQ(m.wParam, (WPARAM)VK_CONTROL);
    }
    EXPECT_EQ(got[0].message, (UINT)WM_KEYDOWN);
    KeyBits first = bitsOf(got[0].lParam);
    EXPECT_EQ(first.repeat, 1u);
    EXPECT_EQ(first.scan, 0x1Du);
    EXPECT_TRUE(first.extended);
    EXPECT_FALSE(first.context);
    EXPECT_FALSE(first.previous);
    EXPECT_FALSE(first.released);
    EXPECT_TRUE(bitsOf(got[1].lParam).previous);
    EXPECT_EQ(got[2].message, (UINT)WM_KEYUP);
    EXPECT_TRUE(bitsOf(got[2].lParam).previous);
    EXPECT_TRUE(bitsOf(got[2].lParam).released);
    EXPECT_FALSE(bitsOf(got[3].lParam).extended); // left control
    EXPECT_TRUE(GetKeyState(VK_LCONTROL) & 0x8000);
    EXPECT_FALSE(GetKeyState(VK_RCONTROL) & 0x8000);
    EXPECT_TRUE(GetKeyState(VK_CONTROL) & 0x8000);
}

TEST_F(WindowInputTest, TranslateMessagePostsCharactersOfTheUsLayout)
{
    focusedWindow();
    platform::injectKey('A', true);
    platform::injectKey('A', false);
    platform::injectKey(VK_SHIFT, true);
    platform::injectKey('A', true);
    platform::injectKey('1', true);
    platform::injectKey(VK_SHIFT, false);
    platform::injectKey(VK_F1, true); // no character
    platform::injectKey(VK_CONTROL, true);
    platform::injectKey('C', true);
    platform::injectKey(VK_CONTROL, false);
    platform::injectKey(VK_CAPITAL, true);
    platform::injectKey(VK_CAPITAL, false);
    platform::injectKey('B', true);

    std::vector<MSG> got = drainQueue();
    std::vector<WPARAM> chars;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].message == WM_CHAR) {
            chars.push_back(got[i].wParam);
            // The character follows its key-down directly.
            ASSERT_GT(i, 0u);
            EXPECT_EQ(got[i - 1].message, (UINT)WM_KEYDOWN);
            EXPECT_EQ(got[i].lParam, got[i - 1].lParam);
        }
    }
    EXPECT_EQ(chars, (std::vector<WPARAM>{'a', 'A', '!', 3, 'B'}));
    EXPECT_TRUE(GetKeyState(VK_CAPITAL) & 1); // toggled on

    MSG up{nullptr, WM_KEYUP, 'A', 0, 0, {0, 0}};
    EXPECT_TRUE(TranslateMessage(&up));
    MSG other{nullptr, WM_USER, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(TranslateMessage(&other));
    EXPECT_FALSE(TranslateMessage(nullptr));
}

TEST_F(WindowInputTest, AltGivesSystemKeysAndAltF4Closes)
{
    HWND w = focusedWindow();
    platform::injectKey(VK_MENU, true, true); // right alt
    platform::injectKey(VK_F4, true);
    std::vector<MSG> got = drainQueue();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0].message, (UINT)WM_SYSKEYDOWN);
    EXPECT_EQ(got[0].wParam, (WPARAM)VK_MENU);
    EXPECT_TRUE(bitsOf(got[0].lParam).extended);
    EXPECT_TRUE(bitsOf(got[0].lParam).context);
    EXPECT_EQ(got[1].message, (UINT)WM_SYSKEYDOWN);
    EXPECT_EQ(got[1].wParam, (WPARAM)VK_F4);
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(WindowInputTest, KeysGoToTheFocusWindow)
{
    HWND parent = focusedWindow();
    HWND child = CreateWindowExA(0, recordingClass(), "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr,
                                 nullptr, nullptr);
    SetFocus(child);
    platform::injectKey('X', true);
    std::vector<MSG> got = drainQueue();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].hwnd, child);

    // Without focus and activation keys change only the key state.
    ShowWindow(parent, SW_HIDE);
    ASSERT_EQ(GetFocus(), nullptr);
    platform::injectKey('Y', true);
    for (const MSG& m : drainQueue())
        EXPECT_NE(m.message, (UINT)WM_KEYDOWN);
    EXPECT_TRUE(GetAsyncKeyState('Y') & 0x8000);
}

TEST_F(WindowInputTest, MouseMessagesCarryClientCoordinatesAndButtons)
{
    HWND w = focusedWindow();
    platform::injectMouseMove(w, 10, 20);
    platform::injectMouseMove(w, -3, 40); // coalesces with the first
    platform::injectMouseButton(w, 0, true);
    platform::injectMouseMove(w, 12, 7);
    platform::injectMouseButton(w, 0, false);
    platform::injectMouseButton(w, 2, true);

    std::vector<MSG> got = drainQueue();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].message, (UINT)WM_MOUSEMOVE);
    EXPECT_EQ(GET_X_LPARAM(got[0].lParam), -3);
    EXPECT_EQ(GET_Y_LPARAM(got[0].lParam), 40);
    EXPECT_EQ(got[0].wParam, 0u);
    EXPECT_EQ(got[1].message, (UINT)WM_LBUTTONDOWN);
    EXPECT_EQ(got[1].wParam, (WPARAM)MK_LBUTTON);
    EXPECT_EQ(GET_X_LPARAM(got[1].lParam), -3);
    EXPECT_EQ(got[2].message, (UINT)WM_MOUSEMOVE);
    EXPECT_EQ(got[2].wParam, (WPARAM)MK_LBUTTON);
    EXPECT_EQ(got[3].message, (UINT)WM_LBUTTONUP);
    EXPECT_EQ(got[3].wParam, 0u);
    EXPECT_EQ(got[4].message, (UINT)WM_MBUTTONDOWN);
    EXPECT_EQ(got[4].wParam, (WPARAM)MK_MBUTTON);

    POINT cursor;
    GetCursorPos(&cursor);
    POINT expected{12, 7};
    ClientToScreen(w, &expected);
    EXPECT_EQ(cursor.x, expected.x);
    EXPECT_EQ(cursor.y, expected.y);
}

TEST_F(WindowInputTest, TwoWheelNotchesAddUpTo240)
{
    HWND w = focusedWindow();
    platform::injectMouseWheel(w, WHEEL_DELTA);
    platform::injectMouseWheel(w, WHEEL_DELTA);
    platform::injectMouseWheel(w, -WHEEL_DELTA);
    int total = 0, count = 0;
    for (const MSG& m : drainQueue()) {
        if (m.message == WM_MOUSEWHEEL) {
            total += GET_WHEEL_DELTA_WPARAM(m.wParam);
            ++count;
        }
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(total, 120);
}

TEST_F(WindowInputTest, SetCursorPosMovesTheCursorWithAMouseMove)
{
    HWND w = focusedWindow();
    POINT centre{320, 240};
    ClientToScreen(w, &centre);
    ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
    POINT now;
    GetCursorPos(&now);
    EXPECT_EQ(now.x, centre.x);
    std::vector<MSG> got = drainQueue();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, (UINT)WM_MOUSEMOVE);
    EXPECT_EQ(GET_X_LPARAM(got[0].lParam), 320);
    EXPECT_EQ(GET_Y_LPARAM(got[0].lParam), 240);
    // Outside every window the cursor moves silently.
    SetCursorPos(5000, 5000);
    EXPECT_TRUE(drainQueue().empty());
}

TEST_F(WindowInputTest, ActivationCarriesStateAndMinimisedFlag)
{
    HWND first = makeWindow("first");
    HWND second = makeWindow("second");
    seenMessages().clear();
    platform::injectActivate(first, true);
    platform::injectActivate(first, false, true);
    platform::injectActivate(second, true);
    platform::injectActivate(first, true);
    drainQueue(); // activation is sent, not posted, while the queue is looked at

    auto activations = seenOf(WM_ACTIVATE);
    ASSERT_EQ(activations.size(), 5u);
    EXPECT_EQ(activations[0].window, first);
    EXPECT_EQ(LOWORD(activations[0].wParam), WA_ACTIVE);
    EXPECT_EQ(HIWORD(activations[0].wParam), 0);
    EXPECT_EQ(LOWORD(activations[1].wParam), WA_INACTIVE);
    EXPECT_NE(HIWORD(activations[1].wParam), 0);
    EXPECT_EQ(activations[2].window, second);
    // Moving the activation deactivates the old window first.
    EXPECT_EQ(activations[3].window, second);
    EXPECT_EQ(LOWORD(activations[3].wParam), WA_INACTIVE);
    EXPECT_EQ(activations[4].window, first);
    EXPECT_EQ((HWND)activations[4].lParam, second);
    EXPECT_EQ(GetActiveWindow(), first);
}

TEST_F(WindowInputTest, MinimisingDeactivatesAndRestoringReactivates)
{
    HWND w = focusedWindow();
    platform::injectMinimise(w, true);
    drainQueue();
    EXPECT_TRUE(IsIconic(w));
    auto sizes = seenOf(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].wParam, (WPARAM)SIZE_MINIMIZED);
    auto activations = seenOf(WM_ACTIVATE);
    ASSERT_EQ(activations.size(), 1u);
    EXPECT_EQ(LOWORD(activations[0].wParam), WA_INACTIVE);
    EXPECT_NE(HIWORD(activations[0].wParam), 0);
    // A minimised window is not painted.
    InvalidateRect(w, nullptr, FALSE);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));

    seenMessages().clear();
    platform::injectMinimise(w, false);
    drainQueue();
    EXPECT_FALSE(IsIconic(w));
    sizes = seenOf(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].wParam, (WPARAM)SIZE_RESTORED);
    activations = seenOf(WM_ACTIVATE);
    ASSERT_EQ(activations.size(), 1u);
    EXPECT_EQ(LOWORD(activations[0].wParam), WA_ACTIVE);
    EXPECT_EQ(HIWORD(activations[0].wParam), 0);
    EXPECT_EQ(seenOf(WM_PAINT).size(), 1u);
}

TEST_F(WindowInputTest, ResizeUpdatesTheClientAreaAndRepaints)
{
    HWND w = focusedWindow();
    platform::injectResize(w, 800, 600);
    drainQueue();
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    auto sizes = seenOf(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(LOWORD(sizes[0].lParam), 800);
    EXPECT_EQ(HIWORD(sizes[0].lParam), 600);
    EXPECT_EQ(seenOf(WM_PAINT).size(), 1u);
}

TEST_F(WindowInputTest, RawObserversSeeDirectInputCodesAndMotion)
{
    HWND w = focusedWindow();
    std::vector<platform::RawInputEvent> raw;
    int id = platform::addRawInputObserver([&](const platform::RawInputEvent& e) { raw.push_back(e); });
    platform::injectKey(VK_CONTROL, true, true);
    platform::injectKey(VK_CONTROL, true, true); // repeats are not device events
    platform::injectKey(VK_CONTROL, false, true);
    platform::injectKey(VK_PAUSE, true);
    platform::injectKey(VK_NUMLOCK, true);
    platform::injectKey('W', true);
    platform::injectMouseMove(w, 10, 10);
    platform::injectMouseMove(w, 13, 6);
    platform::injectMouseWheel(w, 240);
    drainQueue();
    platform::removeRawInputObserver(id);
    platform::injectKey('S', true);
    drainQueue();

    std::vector<BYTE> keys;
    std::vector<std::pair<LONG, LONG>> motion;
    LONG wheel = 0;
    for (const auto& e : raw) {
        if (e.kind == platform::RawInputEvent::Key)
            keys.push_back(e.dik);
        if (e.kind == platform::RawInputEvent::MouseMotion)
            motion.emplace_back(e.dx, e.dy);
        if (e.kind == platform::RawInputEvent::MouseWheel)
            wheel += e.wheel;
    }
    EXPECT_EQ(keys, (std::vector<BYTE>{0x9D, 0x9D, 0xC5, 0x45, 0x11}));
    ASSERT_EQ(motion.size(), 2u);
    EXPECT_EQ(motion[1], (std::pair<LONG, LONG>{3, -4}));
    EXPECT_EQ(wheel, 240);
}

} // namespace

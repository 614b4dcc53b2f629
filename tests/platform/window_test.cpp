#include "window_test_support.h"

#include <cstring>

namespace {

using WindowTest = WindowingTest;

TEST_F(WindowTest, AdjustedSizeGivesTheRequestedClientArea)
{
    RECT rect{0, 0, 640, 480};
    ASSERT_TRUE(AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE));
    EXPECT_EQ(rect.left, -8);
    EXPECT_EQ(rect.top, -31);
    EXPECT_EQ(rect.right, 648);
    EXPECT_EQ(rect.bottom, 488);
    EXPECT_FALSE(AdjustWindowRect(nullptr, WS_OVERLAPPEDWINDOW, FALSE));
    RECT huge{INT32_MIN, 0, INT32_MAX, INT32_MAX};
    ASSERT_TRUE(AdjustWindowRect(&huge, WS_OVERLAPPEDWINDOW, FALSE));
    EXPECT_TRUE(huge.left == INT32_MIN && huge.right == INT32_MAX && huge.bottom == INT32_MAX); // saturated

    // Second of two windows side by side, as stereo output places them.
    HWND w = CreateWindowExA(0, recordingClass(), "Second", WS_OVERLAPPEDWINDOW, 640, 0, rect.right - rect.left,
                             rect.bottom - rect.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(w);
    RECT client;
    ASSERT_TRUE(GetClientRect(w, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    RECT outer;
    ASSERT_TRUE(GetWindowRect(w, &outer));
    EXPECT_EQ(outer.left, 640);
    EXPECT_EQ(outer.right - outer.left, 656);
    EXPECT_EQ(GetWindowLongA(w, GWL_STYLE), (LONG)WS_OVERLAPPEDWINDOW);
    char title[32];
    EXPECT_EQ(GetWindowTextA(w, title, sizeof title), 6);
    EXPECT_STREQ(title, "Second");

    POINT p{0, 0};
    ClientToScreen(w, &p);
    EXPECT_EQ(p.x, 648);
    EXPECT_EQ(p.y, 31);
    ScreenToClient(w, &p);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
}

TEST_F(WindowTest, CreationSendsItsMessagesAndUnknownClassesFail)
{
    struct Proc {
        static void*& seenParam()
        {
            static void* p;
            return p;
        }
        static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
        {
            if (m == WM_CREATE)
                seenParam() = ((CREATESTRUCTA*)lp)->lpCreateParams;
            return recordingProc(w, m, wp, lp);
        }
    };
    WNDCLASSEXA wc{};
    wc.cbSize = 48; // the 32-bit size some callers pass
    wc.lpfnWndProc = Proc::proc;
    wc.lpszClassName = "CreationOrder";
    ASSERT_TRUE(RegisterClassExA(&wc));
    EXPECT_FALSE(RegisterClassExA(&wc));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);

    int token = 0;
    HWND w = CreateWindowExA(0, "creationorder", "x", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                             nullptr, nullptr, &token);
    ASSERT_TRUE(w);
    EXPECT_EQ(Proc::seenParam(), &token);
    ASSERT_GE(seenMessages().size(), 3u);
    EXPECT_EQ(seenMessages()[0].message, (UINT)WM_NCCREATE);
    EXPECT_EQ(seenMessages()[1].message, (UINT)WM_CREATE);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(GetActiveWindow(), w);
    EXPECT_FALSE(UnregisterClassA("CreationOrder", nullptr)); // a window still uses it
    DestroyWindow(w);
    EXPECT_TRUE(UnregisterClassA("CreationOrder", nullptr));

    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(WindowTest, DestroyWindowSendsDestroyMessagesSynchronously)
{
    HWND parent = makeWindow("parent");
    HWND child = CreateWindowExA(0, recordingClass(), "child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent,
                                 (HMENU)(INT_PTR)77, nullptr, nullptr);
    ASSERT_TRUE(child);
    SetTimer(parent, 1, 100, nullptr);
    seenMessages().clear();

    ASSERT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<HWND, UINT>> order;
    for (const SeenMessage& m : seenMessages())
        if (m.message == WM_DESTROY || m.message == WM_NCDESTROY)
            order.emplace_back(m.window, m.message);
    std::vector<std::pair<HWND, UINT>> expected{
        {parent, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(DestroyWindow(parent));
    EXPECT_FALSE(KillTimer(parent, 1)); // went with the window
    // Handles are not reused.
    HWND next = makeWindow();
    EXPECT_NE(next, parent);
    EXPECT_NE(next, child);
}

TEST_F(WindowTest, CloseGoesThroughTheDefaultProcedureToDestroyAndQuit)
{
    struct Proc {
        static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
        {
            if (m == WM_DESTROY) {
                PostQuitMessage(0);
                return 0;
            }
            return recordingProc(w, m, wp, lp);
        }
    };
    HWND w = makeWindow();
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)&Proc::proc);
    ShowWindow(w, SW_SHOW);
    // The close button.
    platform::injectClose(w);
    MSG msg;
    int guard = 0;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        ASSERT_LT(++guard, 50);
        DispatchMessageA(&msg);
    }
    EXPECT_FALSE(IsWindow(w));
    auto commands = seenOf(WM_SYSCOMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, (WPARAM)SC_CLOSE);
    EXPECT_EQ(seenOf(WM_CLOSE).size(), 1u);
}

TEST_F(WindowTest, AProcedureThatKeepsWmCloseKeepsTheWindow)
{
    struct Proc {
        static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
        {
            return m == WM_CLOSE ? 0 : DefWindowProcA(w, m, wp, lp);
        }
    };
    HWND w = makeWindow();
    SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)&Proc::proc);
    SendMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(w));
    SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(w));
}

TEST_F(WindowTest, UserDataHoldsAWholePointer)
{
    HWND w = makeWindow();
    LONG_PTR big = (LONG_PTR)0x123456789ABCDEF0ll;
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, big), 0);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), big);
    EXPECT_EQ(GetWindowLongPtrA(w, GWL_USERDATA), big); // same slot under either name
    // The 32-bit call truncates what it returns, as on 64-bit Windows.
    EXPECT_EQ(GetWindowLongA(w, GWL_USERDATA), (LONG)0x9ABCDEF0);
    EXPECT_EQ(SetWindowLongA(w, GWL_USERDATA, -5), (LONG)0x9ABCDEF0);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), -5);

    int object = 0;
    SetWindowLongPtrA(w, GWLP_USERDATA, (LONG_PTR)&object);
    EXPECT_EQ((int*)GetWindowLongPtrA(w, GWLP_USERDATA), &object);

    // Extra window bytes: 16 in the recording class.
    EXPECT_EQ(SetWindowLongPtrA(w, 8, big), 0);
    EXPECT_EQ(GetWindowLongPtrA(w, 8), big);
    EXPECT_EQ(GetWindowLongA(w, 0), 0);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(w, 9), 0);
    EXPECT_EQ(GetLastError(), 1413u);
    EXPECT_EQ(GetWindowLongPtrA(nullptr, GWLP_USERDATA), 0);
}

TEST_F(WindowTest, VisibilityFollowsParentsAndShowWindowReportsThePreviousState)
{
    HWND parent = makeWindow();
    HWND child = CreateWindowExA(0, recordingClass(), "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr,
                                 nullptr, nullptr);
    EXPECT_FALSE(IsWindowVisible(parent));
    EXPECT_FALSE(IsWindowVisible(child)); // the parent is hidden
    EXPECT_FALSE(ShowWindow(parent, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(parent, SW_SHOW));
    EXPECT_TRUE(ShowWindow(parent, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(parent));
    EXPECT_FALSE(IsWindowVisible(child));
}

TEST_F(WindowTest, ShowingActivatesAndHidingDeactivates)
{
    HWND first = makeWindow("first");
    HWND second = makeWindow("second");
    ShowWindow(first, SW_SHOW);
    ShowWindow(second, SW_SHOW);
    EXPECT_EQ(GetActiveWindow(), second);
    auto activations = seenOf(WM_ACTIVATE);
    ASSERT_EQ(activations.size(), 3u);
    EXPECT_EQ(activations[0].window, first);
    EXPECT_EQ(LOWORD(activations[0].wParam), WA_ACTIVE);
    EXPECT_EQ(activations[1].window, first);
    EXPECT_EQ(LOWORD(activations[1].wParam), WA_INACTIVE);
    EXPECT_EQ(activations[2].window, second);
    // The default procedure gives the activated window the focus.
    EXPECT_EQ(GetFocus(), second);

    seenMessages().clear();
    ShowWindow(second, SW_HIDE);
    activations = seenOf(WM_ACTIVATE);
    ASSERT_EQ(activations.size(), 1u);
    EXPECT_EQ(LOWORD(activations[0].wParam), WA_INACTIVE);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(WindowTest, UpdateWindowPaintsOnlyWhenNeeded)
{
    HWND w = makeWindow();
    UpdateWindow(w); // hidden: nothing
    EXPECT_TRUE(seenOf(WM_PAINT).empty());
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    EXPECT_EQ(seenOf(WM_PAINT).size(), 1u);
    UpdateWindow(w); // validated by the default procedure
    EXPECT_EQ(seenOf(WM_PAINT).size(), 1u);
}

TEST_F(WindowTest, FocusMovesWithKillAndSetFocus)
{
    HWND parent = makeWindow();
    HWND child = CreateWindowExA(0, recordingClass(), "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent,
                                 (HMENU)(INT_PTR)12, nullptr, nullptr);
    ShowWindow(parent, SW_SHOW);
    seenMessages().clear();
    EXPECT_EQ(SetFocus(child), parent);
    EXPECT_EQ(GetFocus(), child);
    ASSERT_EQ(seenMessages().size(), 2u);
    EXPECT_EQ(seenMessages()[0].message, (UINT)WM_KILLFOCUS);
    EXPECT_EQ(seenMessages()[0].window, parent);
    EXPECT_EQ(seenMessages()[1].message, (UINT)WM_SETFOCUS);
    EXPECT_EQ(seenMessages()[1].wParam, (WPARAM)parent);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetParent(parent), nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), 12);
    EXPECT_TRUE(IsChild(parent, child));
    EXPECT_FALSE(IsChild(child, parent));
    // Disabling the focus window takes the focus away.
    EXPECT_FALSE(EnableWindow(child, FALSE));
    EXPECT_FALSE(IsWindowEnabled(child));
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_TRUE(EnableWindow(child, TRUE));
    EXPECT_EQ(seenOf(WM_ENABLE).size(), 2u);
}

TEST_F(WindowTest, TextIsTruncatedToTheBuffer)
{
    HWND w = makeWindow("original");
    ASSERT_TRUE(SetWindowTextA(w, "Quillon"));
    char buffer[4];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowTextA(w, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "Qui");
    EXPECT_EQ(GetWindowTextLengthA(w), 7);
    EXPECT_EQ(GetWindowTextA(w, buffer, 0), 0);
    EXPECT_TRUE(SetWindowTextA(w, nullptr));
    EXPECT_EQ(GetWindowTextLengthA(w), 0);
}

struct CountingExtension : platform::WindowExtension {
    explicit CountingExtension(int& destroyed) : destroyed(destroyed) {}
    ~CountingExtension() override { ++destroyed; }
    int& destroyed;
};

TEST_F(WindowTest, RecordsMadeForDialogsAreWindowsToo)
{
    int destroyed = 0;
    platform::WindowCreateParams dialog;
    dialog.className = "#32770";
    dialog.procedure = recordingProc;
    dialog.text = "Setup";
    dialog.style = WS_POPUP | WS_CAPTION;
    dialog.windowRect = RECT{10, 10, 310, 210};
    dialog.extraBytes = 3 * sizeof(LONG_PTR);
    dialog.extension = std::make_unique<CountingExtension>(destroyed);
    HWND d = platform::createWindowObject(std::move(dialog));
    ASSERT_TRUE(d);

    platform::WindowCreateParams button;
    button.className = "Button";
    button.procedure = recordingProc;
    button.text = "&Start";
    button.style = WS_CHILD | WS_VISIBLE;
    button.parent = d;
    button.controlId = 100;
    button.windowRect = RECT{5, 5, 80, 25};
    HWND b = platform::createWindowObject(std::move(button));
    ASSERT_TRUE(b);
    EXPECT_TRUE(seenMessages().empty()); // no messages at creation

    EXPECT_EQ(platform::findChildWindow(d, 100), b);
    EXPECT_EQ(platform::findChildWindow(d, 101), nullptr);
    EXPECT_EQ(GetDlgCtrlID(b), 100);
    EXPECT_EQ(GetParent(b), d);
    RECT client;
    GetClientRect(b, &client);
    EXPECT_EQ(client.right, 75);
    EXPECT_EQ(client.bottom, 20);
    EXPECT_EQ(SendMessageA(b, WM_USER, 1, 2), 0);
    EXPECT_EQ(seenMessages().back().window, b);
    EXPECT_EQ(SetWindowLongPtrA(d, 2 * sizeof(LONG_PTR), 99), 0); // a DWLP_USER-like slot
    EXPECT_EQ(GetWindowLongPtrA(d, 2 * sizeof(LONG_PTR)), 99);

    // A parent that is not a window is refused.
    platform::WindowCreateParams orphan;
    orphan.style = WS_CHILD;
    orphan.parent = (HWND)0x1234;
    EXPECT_EQ(platform::createWindowObject(std::move(orphan)), nullptr);

    DestroyWindow(d);
    EXPECT_FALSE(IsWindow(b));
    EXPECT_EQ(destroyed, 1);
}

TEST_F(WindowTest, CursorsIconsAndMetrics)
{
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    ASSERT_TRUE(cross);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_CROSS), cross);
    EXPECT_EQ(platform::cursorId(cross), 32515);
    EXPECT_EQ(platform::cursorId(LoadCursorA(nullptr, IDC_ARROW)), 32512);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(5)), nullptr); // not a system cursor

    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(118));
    EXPECT_TRUE(icon);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(118)), icon);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), icon);

    EXPECT_EQ(SetCursor(cross), nullptr);
    EXPECT_EQ(SetCursor(nullptr), cross); // hides it
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);

    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    // The program's own module is the instance its windows were made with;
    // no other module is loaded.
    const HMODULE self = GetModuleHandleA(nullptr);
    EXPECT_TRUE(self);
    EXPECT_EQ(GetWindowLongPtrA(makeWindow(), GWLP_HINSTANCE), reinterpret_cast<LONG_PTR>(self));
    EXPECT_EQ(GetModuleHandleA("user32.dll"), nullptr);
    InitCommonControls();
}

TEST_F(WindowTest, MoveWindowResizesTheClientArea)
{
    HWND w = makeWindow();
    seenMessages().clear();
    ASSERT_TRUE(MoveWindow(w, 100, 50, 336, 279, TRUE));
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 240);
    auto sizes = seenOf(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(LOWORD(sizes[0].lParam), 320);
    EXPECT_EQ(HIWORD(sizes[0].lParam), 240);
    ShowWindow(w, SW_SHOW);
    POINT inside{100 + 8 + 5, 50 + 31 + 5};
    EXPECT_EQ(WindowFromPoint(inside), w);
    EXPECT_EQ(WindowFromPoint(POINT{5, 5}), nullptr);
}

} // namespace

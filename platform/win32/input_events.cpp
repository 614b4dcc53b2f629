#include "platform/win32/input_events.h"

#include "platform/win32/clock.h"
#include "platform/win32/message_queue.h"
#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>

namespace {

using namespace platform;
using platform::detail::KeyInfo;

// One physical key of the US layout: its USB HID usage (which SDL's scan
// codes are), virtual key, set-1 scan code and extended flag.
struct PhysicalKey {
    int usage;
    UINT virtualKey;
    BYTE scanCode;
    bool extended;
};

const PhysicalKey physicalKeys[] = {
    {4, 'A', 0x1E, false}, {5, 'B', 0x30, false}, {6, 'C', 0x2E, false}, {7, 'D', 0x20, false},
    {8, 'E', 0x12, false}, {9, 'F', 0x21, false}, {10, 'G', 0x22, false}, {11, 'H', 0x23, false},
    {12, 'I', 0x17, false}, {13, 'J', 0x24, false}, {14, 'K', 0x25, false}, {15, 'L', 0x26, false},
    {16, 'M', 0x32, false}, {17, 'N', 0x31, false}, {18, 'O', 0x18, false}, {19, 'P', 0x19, false},
    {20, 'Q', 0x10, false}, {21, 'R', 0x13, false}, {22, 'S', 0x1F, false}, {23, 'T', 0x14, false},
    {24, 'U', 0x16, false}, {25, 'V', 0x2F, false}, {26, 'W', 0x11, false}, {27, 'X', 0x2D, false},
    {28, 'Y', 0x15, false}, {29, 'Z', 0x2C, false},
    {30, '1', 0x02, false}, {31, '2', 0x03, false}, {32, '3', 0x04, false}, {33, '4', 0x05, false},
    {34, '5', 0x06, false}, {35, '6', 0x07, false}, {36, '7', 0x08, false}, {37, '8', 0x09, false},
    {38, '9', 0x0A, false}, {39, '0', 0x0B, false},
    {40, VK_RETURN, 0x1C, false}, {41, VK_ESCAPE, 0x01, false}, {42, VK_BACK, 0x0E, false},
    {43, VK_TAB, 0x0F, false}, {44, VK_SPACE, 0x39, false}, {45, VK_OEM_MINUS, 0x0C, false},
    {46, VK_OEM_PLUS, 0x0D, false}, {47, VK_OEM_4, 0x1A, false}, {48, VK_OEM_6, 0x1B, false},
    {49, VK_OEM_5, 0x2B, false}, {50, VK_OEM_5, 0x2B, false}, {51, VK_OEM_1, 0x27, false},
    {52, VK_OEM_7, 0x28, false}, {53, VK_OEM_3, 0x29, false}, {54, VK_OEM_COMMA, 0x33, false},
    {55, VK_OEM_PERIOD, 0x34, false}, {56, VK_OEM_2, 0x35, false}, {57, VK_CAPITAL, 0x3A, false},
    {58, VK_F1, 0x3B, false}, {59, VK_F2, 0x3C, false}, {60, VK_F3, 0x3D, false}, {61, VK_F4, 0x3E, false},
    {62, VK_F5, 0x3F, false}, {63, VK_F6, 0x40, false}, {64, VK_F7, 0x41, false}, {65, VK_F8, 0x42, false},
    {66, VK_F9, 0x43, false}, {67, VK_F10, 0x44, false}, {68, VK_F11, 0x57, false}, {69, VK_F12, 0x58, false},
    {70, VK_SNAPSHOT, 0x37, true}, {71, VK_SCROLL, 0x46, false}, {72, VK_PAUSE, 0x45, false},
    {73, VK_INSERT, 0x52, true}, {74, VK_HOME, 0x47, true}, {75, VK_PRIOR, 0x49, true},
    {76, VK_DELETE, 0x53, true}, {77, VK_END, 0x4F, true}, {78, VK_NEXT, 0x51, true},
    {79, VK_RIGHT, 0x4D, true}, {80, VK_LEFT, 0x4B, true}, {81, VK_DOWN, 0x50, true}, {82, VK_UP, 0x48, true},
    {83, VK_NUMLOCK, 0x45, true}, {84, VK_DIVIDE, 0x35, true}, {85, VK_MULTIPLY, 0x37, false},
    {86, VK_SUBTRACT, 0x4A, false}, {87, VK_ADD, 0x4E, false}, {88, VK_RETURN, 0x1C, true},
    {89, VK_NUMPAD1, 0x4F, false}, {90, VK_NUMPAD2, 0x50, false}, {91, VK_NUMPAD3, 0x51, false},
    {92, VK_NUMPAD4, 0x4B, false}, {93, VK_NUMPAD5, 0x4C, false}, {94, VK_NUMPAD6, 0x4D, false},
    {95, VK_NUMPAD7, 0x47, false}, {96, VK_NUMPAD8, 0x48, false}, {97, VK_NUMPAD9, 0x49, false},
    {98, VK_NUMPAD0, 0x52, false}, {99, VK_DECIMAL, 0x53, false}, {100, VK_OEM_102, 0x56, false},
    {101, VK_APPS, 0x5D, true},
    {104, VK_F13, 0x64, false}, {105, VK_F14, 0x65, false}, {106, VK_F15, 0x66, false}, {107, VK_F16, 0x67, false},
    {108, VK_F17, 0x68, false}, {109, VK_F18, 0x69, false}, {110, VK_F19, 0x6A, false}, {111, VK_F20, 0x6B, false},
    {112, VK_F21, 0x6C, false}, {113, VK_F22, 0x6D, false}, {114, VK_F23, 0x6E, false}, {115, VK_F24, 0x76, false},
    {224, VK_CONTROL, 0x1D, false}, {225, VK_SHIFT, 0x2A, false}, {226, VK_MENU, 0x38, false},
    {227, VK_LWIN, 0x5B, true}, {228, VK_CONTROL, 0x1D, true}, {229, VK_SHIFT, 0x36, false},
    {230, VK_MENU, 0x38, true}, {231, VK_RWIN, 0x5C, true},
};

// The numeric pad without Num Lock: navigation keys on the pad's scan codes.
UINT numPadNavigation(UINT virtualKey)
{
    switch (virtualKey) {
    case VK_NUMPAD0: return VK_INSERT;
    case VK_NUMPAD1: return VK_END;
    case VK_NUMPAD2: return VK_DOWN;
    case VK_NUMPAD3: return VK_NEXT;
    case VK_NUMPAD4: return VK_LEFT;
    case VK_NUMPAD5: return VK_CLEAR;
    case VK_NUMPAD6: return VK_RIGHT;
    case VK_NUMPAD7: return VK_HOME;
    case VK_NUMPAD8: return VK_UP;
    case VK_NUMPAD9: return VK_PRIOR;
    case VK_DECIMAL: return VK_DELETE;
    default: return 0;
    }
}

BYTE directInputCode(const KeyInfo& key)
{
    // Pause and Num Lock swap their extended flags between the two worlds.
    if (key.virtualKey == VK_PAUSE)
        return 0xC5;
    if (key.virtualKey == VK_NUMLOCK)
        return 0x45;
    return (BYTE)((key.scanCode & 0x7F) | (key.extended ? 0x80 : 0));
}

// The left or right variant a generic modifier key message stands for.
UINT sidedKey(UINT virtualKey, BYTE scanCode, bool extended)
{
    switch (virtualKey) {
    case VK_SHIFT: return scanCode == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL: return extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU: return extended ? VK_RMENU : VK_LMENU;
    default: return 0;
    }
}

struct InjectedEvent {
    enum Kind { Key, MouseMove, MouseButton, MouseWheel, Activate, Minimise, Resize, Close } kind;
    HWND window = nullptr;
    KeyInfo key{};
    bool down = false;
    int x = 0, y = 0;
    int button = 0;
    int delta = 0;
    bool flag = false;
};

struct InputState {
    std::mutex mutex;
    BYTE asyncKeys[256] = {};   // bit 7: down now
    BYTE queueKeys[256] = {};   // as retrieved: bit 7 down, bit 0 toggled
    WPARAM buttons = 0;         // MK_ button bits
    POINT cursor{0, 0};
    std::deque<InjectedEvent> injected;
    std::map<int, std::function<void(const RawInputEvent&)>> observers;
    int nextObserverId = 1;
};

InputState& state()
{
    static InputState* instance = new InputState;
    return *instance;
}

void notifyObservers(const RawInputEvent& event)
{
    std::vector<std::function<void(const RawInputEvent&)>> observers;
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        for (auto& entry : s.observers)
            observers.push_back(entry.second);
    }
    for (auto& observer : observers)
        observer(event);
}

RawInputEvent rawEvent(RawInputEvent::Kind kind)
{
    RawInputEvent event{};
    event.kind = kind;
    event.time = GetTickCount();
    return event;
}

void inject(const InjectedEvent& event)
{
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.injected.push_back(event);
    }
    platform::detail::wakeAllQueues();
}

HWND keyboardTarget()
{
    HWND focus = GetFocus();
    return focus ? focus : platform::detail::activeWindow();
}

void deliverInjected(const InjectedEvent& event)
{
    using namespace platform::detail;
    switch (event.kind) {
    case InjectedEvent::Key:
        deliverKey(nullptr, event.key, event.down, false);
        break;
    case InjectedEvent::MouseMove:
        deliverMouseMove(event.window, POINT{event.x, event.y});
        break;
    case InjectedEvent::MouseButton:
        deliverMouseButton(event.window, event.button, event.down, false);
        break;
    case InjectedEvent::MouseWheel:
        deliverMouseWheel(event.window, event.delta);
        break;
    case InjectedEvent::Activate:
        if (event.down)
            activateWindow(event.window, event.flag);
        else
            deactivateWindow(event.window, event.flag);
        break;
    case InjectedEvent::Minimise:
        deliverMinimised(event.window, event.flag);
        break;
    case InjectedEvent::Resize:
        deliverResize(event.window, event.x, event.y);
        break;
    case InjectedEvent::Close:
        deliverClose(event.window);
        break;
    }
}

} // namespace

SHORT WINAPI GetKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    BYTE k = s.queueKeys[virtualKey];
    return (SHORT)(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

SHORT WINAPI GetAsyncKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return (s.asyncKeys[virtualKey] & 0x80) ? (SHORT)0x8000 : 0;
}

namespace platform {

void injectKey(UINT virtualKey, bool down, bool extended)
{
    InjectedEvent event{InjectedEvent::Key};
    event.key = detail::keyInfoForVirtualKey(virtualKey, extended);
    event.down = down;
    inject(event);
}

void injectMouseMove(HWND window, int x, int y)
{
    InjectedEvent event{InjectedEvent::MouseMove};
    event.window = window;
    event.x = x;
    event.y = y;
    inject(event);
}

void injectMouseButton(HWND window, int button, bool down)
{
    InjectedEvent event{InjectedEvent::MouseButton};
    event.window = window;
    event.button = button;
    event.down = down;
    inject(event);
}

void injectMouseWheel(HWND window, int delta)
{
    InjectedEvent event{InjectedEvent::MouseWheel};
    event.window = window;
    event.delta = delta;
    inject(event);
}

void injectActivate(HWND window, bool active, bool minimised)
{
    InjectedEvent event{InjectedEvent::Activate};
    event.window = window;
    event.down = active;
    event.flag = minimised;
    inject(event);
}

void injectMinimise(HWND window, bool minimised)
{
    InjectedEvent event{InjectedEvent::Minimise};
    event.window = window;
    event.flag = minimised;
    inject(event);
}

void injectResize(HWND window, int clientWidth, int clientHeight)
{
    InjectedEvent event{InjectedEvent::Resize};
    event.window = window;
    event.x = clientWidth;
    event.y = clientHeight;
    inject(event);
}

void injectClose(HWND window)
{
    InjectedEvent event{InjectedEvent::Close};
    event.window = window;
    inject(event);
}

void clearInjectedInput()
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.injected.clear();
}

int addRawInputObserver(std::function<void(const RawInputEvent&)> observer)
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    int id = s.nextObserverId++;
    s.observers.emplace(id, std::move(observer));
    return id;
}

void removeRawInputObserver(int id)
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.observers.erase(id);
}

namespace detail {

KeyInfo keyInfoForVirtualKey(UINT virtualKey, bool extended)
{
    switch (virtualKey) {
    case VK_LSHIFT: return KeyInfo{VK_SHIFT, 0x2A, false};
    case VK_RSHIFT: return KeyInfo{VK_SHIFT, 0x36, false};
    case VK_LCONTROL: return KeyInfo{VK_CONTROL, 0x1D, false};
    case VK_RCONTROL: return KeyInfo{VK_CONTROL, 0x1D, true};
    case VK_LMENU: return KeyInfo{VK_MENU, 0x38, false};
    case VK_RMENU: return KeyInfo{VK_MENU, 0x38, true};
    default: break;
    }
    const PhysicalKey* any = nullptr;
    for (const PhysicalKey& key : physicalKeys) {
        if (key.virtualKey != virtualKey)
            continue;
        if (key.extended == extended)
            return KeyInfo{virtualKey, key.scanCode, extended};
        if (!any)
            any = &key;
    }
    if (any)
        return KeyInfo{virtualKey, any->scanCode, extended};
    // Navigation keys of the numeric pad (Num Lock off) are the pad's keys.
    for (const PhysicalKey& key : physicalKeys) {
        if (!key.extended && numPadNavigation(key.virtualKey) == virtualKey)
            return KeyInfo{virtualKey, key.scanCode, extended};
    }
    return KeyInfo{virtualKey & 0xFF, 0, extended};
}

bool keyInfoForUsage(int usage, bool numLock, KeyInfo& info)
{
    for (const PhysicalKey& key : physicalKeys) {
        if (key.usage != usage)
            continue;
        info = KeyInfo{key.virtualKey, key.scanCode, key.extended};
        if (!numLock && usage >= 89 && usage <= 99)
            info.virtualKey = numPadNavigation(key.virtualKey);
        return true;
    }
    return false;
}

bool processInjectedEvents()
{
    std::vector<InjectedEvent> mine;
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.injected.empty())
            return false;
        auto me = std::this_thread::get_id();
        for (auto it = s.injected.begin(); it != s.injected.end();) {
            HWND target = it->kind == InjectedEvent::Key ? nullptr : it->window;
            std::thread::id owner = target ? windowThread(target) : std::thread::id();
            if (it->kind == InjectedEvent::Key) {
                // Resolved when delivered; a key without any target window
                // still changes the key state here.
                HWND t = GetFocus();
                if (!t)
                    t = activeWindow();
                owner = t ? windowThread(t) : me;
            }
            if (owner == me || owner == std::thread::id()) {
                if (owner == me)
                    mine.push_back(*it);
                it = s.injected.erase(it); // events for destroyed windows go too
            } else {
                ++it;
            }
        }
    }
    for (const InjectedEvent& event : mine)
        deliverInjected(event);
    return !mine.empty();
}

void noteRetrievedMessage(const MSG& message)
{
    bool down;
    switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: down = true; break;
    case WM_KEYUP:
    case WM_SYSKEYUP: down = false; break;
    default: return;
    }
    UINT vk = (UINT)(message.wParam & 0xFF);
    BYTE scan = (BYTE)((message.lParam >> 16) & 0xFF);
    bool extended = (message.lParam >> 24) & 1;
    bool wasDown = (message.lParam >> 30) & 1;
    UINT sided = sidedKey(vk, scan, extended);
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto set = [&](UINT key) {
        BYTE& k = s.queueKeys[key];
        if (down) {
            if (!wasDown)
                k ^= 1;
            k |= 0x80;
        } else {
            k &= (BYTE)~0x80;
        }
    };
    set(vk);
    if (sided) {
        set(sided);
        // The generic key stays down while either side is.
        UINT left = vk == VK_SHIFT ? VK_LSHIFT : vk == VK_CONTROL ? VK_LCONTROL : VK_LMENU;
        bool either = ((s.queueKeys[left] | s.queueKeys[left + 1]) & 0x80) != 0;
        s.queueKeys[vk] = (BYTE)((s.queueKeys[vk] & 1) | (either ? 0x80 : 0));
    }
}

UINT translateKeyToChar(const MSG& message)
{
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN)
        return 0;
    UINT vk = (UINT)(message.wParam & 0xFF);
    bool shift, caps, control, alt;
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        shift = s.queueKeys[VK_SHIFT] & 0x80;
        caps = s.queueKeys[VK_CAPITAL] & 1;
        control = s.queueKeys[VK_CONTROL] & 0x80;
        alt = s.queueKeys[VK_MENU] & 0x80;
    }
    if (control && alt)
        return 0;
    if (control) {
        if (vk >= 'A' && vk <= 'Z')
            return vk - 'A' + 1;
        switch (vk) {
        case VK_OEM_4: return 27;
        case VK_OEM_5: return 28;
        case VK_OEM_6: return 29;
        case VK_RETURN: return 10;
        case VK_BACK: return 127;
        case VK_SPACE: return ' ';
        default: return 0;
        }
    }
    if (vk >= 'A' && vk <= 'Z')
        return (shift != caps) ? vk : vk - 'A' + 'a';
    if (vk >= '0' && vk <= '9')
        return shift ? (UINT)")!@#$%^&*("[vk - '0'] : vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return '0' + (vk - VK_NUMPAD0);
    struct Pair {
        UINT vk;
        char plain, shifted;
    };
    static const Pair pairs[] = {
        {VK_SPACE, ' ', ' '},       {VK_RETURN, '\r', '\r'},   {VK_BACK, 8, 8},          {VK_TAB, 9, 9},
        {VK_ESCAPE, 27, 27},        {VK_MULTIPLY, '*', '*'},   {VK_ADD, '+', '+'},       {VK_SUBTRACT, '-', '-'},
        {VK_DECIMAL, '.', '.'},     {VK_DIVIDE, '/', '/'},     {VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'},
        {VK_OEM_COMMA, ',', '<'},   {VK_OEM_MINUS, '-', '_'},  {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
        {VK_OEM_3, '`', '~'},       {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},    {VK_OEM_6, ']', '}'},
        {VK_OEM_7, '\'', '"'},      {VK_OEM_102, '\\', '|'},
    };
    for (const Pair& p : pairs)
        if (p.vk == vk)
            return (UINT)(unsigned char)(shift ? p.shifted : p.plain);
    return 0;
}

void resetInputState()
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::fill(std::begin(s.asyncKeys), std::end(s.asyncKeys), 0);
    std::fill(std::begin(s.queueKeys), std::end(s.queueKeys), 0);
    s.buttons = 0;
    s.cursor = POINT{0, 0};
    s.injected.clear();
}

void setCursorPosition(POINT screen)
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.cursor = screen;
}

POINT cursorPosition()
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.cursor;
}

WPARAM mouseKeyFlags()
{
    InputState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    WPARAM flags = s.buttons;
    if (s.asyncKeys[VK_SHIFT] & 0x80)
        flags |= MK_SHIFT;
    if (s.asyncKeys[VK_CONTROL] & 0x80)
        flags |= MK_CONTROL;
    return flags;
}

void deliverKey(HWND target, const KeyInfo& key, bool down, bool repeat)
{
    UINT vk = key.virtualKey & 0xFF;
    UINT sided = sidedKey(vk, key.scanCode, key.extended);
    bool wasDown, altDown, controlDown;
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        UINT own = sided ? sided : vk;
        wasDown = (s.asyncKeys[own] & 0x80) != 0;
        auto set = [&](UINT k) { s.asyncKeys[k] = down ? 0x80 : 0; };
        set(vk);
        if (sided) {
            set(sided);
            UINT left = vk == VK_SHIFT ? VK_LSHIFT : vk == VK_CONTROL ? VK_LCONTROL : VK_LMENU;
            s.asyncKeys[vk] = ((s.asyncKeys[left] | s.asyncKeys[left + 1]) & 0x80) ? 0x80 : 0;
        }
        altDown = (s.asyncKeys[VK_MENU] & 0x80) != 0;
        controlDown = (s.asyncKeys[VK_CONTROL] & 0x80) != 0;
    }
    bool previous = down ? (wasDown || repeat) : true;

    RawInputEvent raw = rawEvent(RawInputEvent::Key);
    raw.dik = directInputCode(key);
    raw.down = down;
    if (!(down && previous)) // auto-repeat is not a device event
        notifyObservers(raw);

    // Keys go to the focus window when it lies in the target's window, else
    // to the target (for SDL: its top-level window).
    HWND focus = GetFocus();
    if (!target)
        target = keyboardTarget();
    else if (focus && rootWindow(focus) == rootWindow(target))
        target = focus;
    if (!target || !findWindowObject(target))
        return;

    bool altHeld = vk == VK_MENU ? down : altDown;
    bool system = vk == VK_F10 || vk == VK_MENU || (altHeld && !controlDown);
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    DWORD lParam = 1u | ((DWORD)key.scanCode << 16);
    if (key.extended)
        lParam |= 1u << 24;
    if (system && altHeld)
        lParam |= 1u << 29;
    if (previous)
        lParam |= 1u << 30;
    if (!down)
        lParam |= 1u << 31;
    postInputMessage(target, message, vk, (LPARAM)lParam);
}

void deliverMouseMove(HWND window, POINT client, const POINT* relative)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    POINT origin = clientOrigin(*record);
    POINT screen{origin.x + client.x, origin.y + client.y};
    POINT old = cursorPosition();
    setCursorPosition(screen);
    RawInputEvent raw = rawEvent(RawInputEvent::MouseMotion);
    raw.dx = relative ? relative->x : screen.x - old.x;
    raw.dy = relative ? relative->y : screen.y - old.y;
    if (raw.dx || raw.dy)
        notifyObservers(raw);
    postInputMessage(window, WM_MOUSEMOVE, mouseKeyFlags(), MAKELPARAM(client.x, client.y));
}

void deliverMouseButton(HWND window, int button, bool down, bool doubleClick)
{
    static const UINT messages[5][3] = {
        {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK},
        {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK},
        {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK},
        {WM_XBUTTONDOWN, WM_XBUTTONUP, WM_XBUTTONDBLCLK},
        {WM_XBUTTONDOWN, WM_XBUTTONUP, WM_XBUTTONDBLCLK},
    };
    static const WPARAM bits[5] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON, MK_XBUTTON1, MK_XBUTTON2};
    if (button < 0 || button > 4)
        return;
    {
        InputState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (down)
            s.buttons |= bits[button];
        else
            s.buttons &= ~bits[button];
    }
    RawInputEvent raw = rawEvent(RawInputEvent::MouseButton);
    raw.button = button;
    raw.down = down;
    notifyObservers(raw);

    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    POINT origin = clientOrigin(*record);
    POINT cursor = cursorPosition();
    WPARAM wParam = mouseKeyFlags();
    if (button >= 3)
        wParam |= (WPARAM)(button - 2) << 16; // XBUTTON1 = 1, XBUTTON2 = 2
    UINT message = messages[button][down ? (doubleClick ? 2 : 0) : 1];
    postInputMessage(window, message, wParam, MAKELPARAM(cursor.x - origin.x, cursor.y - origin.y));
}

void deliverMouseWheel(HWND window, int delta)
{
    RawInputEvent raw = rawEvent(RawInputEvent::MouseWheel);
    raw.wheel = delta;
    notifyObservers(raw);
    HWND focus = GetFocus();
    HWND target = focus ? focus : window;
    if (!findWindowObject(target))
        return;
    POINT cursor = cursorPosition();
    postInputMessage(target, WM_MOUSEWHEEL, MAKEWPARAM(mouseKeyFlags(), (WORD)(short)delta),
                     MAKELPARAM(cursor.x, cursor.y));
}

void deliverMinimised(HWND window, bool minimised)
{
    WindowObject* record = findWindowObject(window);
    if (!record || record->minimised == minimised)
        return;
    record->minimised = minimised;
    if (minimised) {
        SendMessageA(window, WM_SIZE, SIZE_MINIMIZED, 0);
        if (activeWindow() == window)
            deactivateWindow(window, true);
    } else {
        record = findWindowObject(window);
        if (!record)
            return;
        record->needsPaint = true;
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(record->clientWidth, record->clientHeight));
        if (findWindowObject(window))
            activateWindow(window, false);
    }
}

void deliverResize(HWND window, LONG clientWidth, LONG clientHeight)
{
    WindowObject* record = findWindowObject(window);
    if (!record || clientWidth < 0 || clientHeight < 0)
        return;
    if (record->clientWidth == clientWidth && record->clientHeight == clientHeight)
        return;
    RECT frame = frameInsets(record->style, record->exStyle);
    record->clientWidth = clientWidth;
    record->clientHeight = clientHeight;
    record->windowRect.right = record->windowRect.left + frame.left + clientWidth + frame.right;
    record->windowRect.bottom = record->windowRect.top + frame.top + clientHeight + frame.bottom;
    record->needsPaint = true;
    noteWindowNeedsPaint(window);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(clientWidth, clientHeight));
}

void deliverClose(HWND window)
{
    POINT cursor = cursorPosition();
    postInputMessage(window, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(cursor.x, cursor.y));
}

} // namespace detail

} // namespace platform

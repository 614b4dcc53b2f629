#include "platform/win32/window.h"

#include "platform/win32/crt.h"
#include "platform/win32/input_events.h"
#include "platform/win32/message_queue.h"
#include "platform/win32/windowing_internal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

using namespace platform;

namespace {

struct WindowClass {
    std::string name;
    ATOM atom;
    WNDCLASSEXA info;
};

struct ClassRegistry {
    std::mutex mutex;
    std::vector<WindowClass> classes;
    ATOM nextAtom = 0xC000;
};

ClassRegistry& classes()
{
    static ClassRegistry* instance = new ClassRegistry;
    return *instance;
}

// Looks a class up by name (case-insensitive) or atom; the registry lock
// must be held.
WindowClass* findClass(ClassRegistry& r, LPCSTR name)
{
    for (WindowClass& c : r.classes) {
        if (IS_INTRESOURCE(name) ? c.atom == (ATOM)(ULONG_PTR)name : _stricmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

std::atomic<HWND> focusWindow{nullptr};
std::atomic<HWND> activeHandle{nullptr};

const int headlessScreenWidth = 1024;
const int headlessScreenHeight = 768;

// Focus moves off window and everything inside it.
void dropFocusFrom(HWND window, HWND next)
{
    HWND focus = focusWindow.load();
    if (!focus || detail::rootWindow(focus) != detail::rootWindow(window))
        return;
    if (focus != window && !IsChild(window, focus))
        return;
    focusWindow = nullptr;
    SendMessageA(focus, WM_KILLFOCUS, (WPARAM)next, 0);
}

void sendDestroy(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    record->destroying = true;
    SendMessageA(window, WM_DESTROY, 0, 0);
    record = findWindowObject(window);
    if (!record)
        return;
    std::vector<HWND> children = record->children;
    for (HWND child : children)
        sendDestroy(child);
}

void finishDestroy(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    std::vector<HWND> children = record->children;
    for (HWND child : children)
        finishDestroy(child);
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    record = findWindowObject(window);
    if (!record)
        return;
    if (focusWindow.load() == window)
        focusWindow = nullptr;
    if (activeHandle.load() == window)
        activeHandle = nullptr;
    detail::forgetWindowMessages(window);
    if (record->sdlWindow) {
        detail::destroySdlWindow(record->sdlWindow);
        record->sdlWindow = nullptr;
    }
    detail::eraseWindowObject(window);
}

bool activatingCommand(int command)
{
    return command == SW_SHOWNORMAL || command == SW_SHOW || command == SW_SHOWMAXIMIZED ||
           command == SW_RESTORE || command == SW_SHOWDEFAULT;
}

// Extra-byte slot access; false when the slot lies outside cbWndExtra.
bool extraSlot(WindowObject& record, int index, size_t size, unsigned char*& slot)
{
    if (index < 0 || (size_t)index + size > record.extraBytes.size()) {
        SetLastError(1413); // ERROR_INVALID_INDEX
        return false;
    }
    slot = record.extraBytes.data() + index;
    return true;
}

// The record of a window; null, with ERROR_INVALID_WINDOW_HANDLE as the last
// error, for a handle that is no window or with arguments that are not usable.
WindowObject* checkedWindow(HWND window, bool argumentsUsable = true)
{
    WindowObject* record = findWindowObject(window);
    if (!record || !argumentsUsable) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return record;
}

} // namespace

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass)
{
    // cbSize is not checked: the 32-bit size (48) is as good as this build's.
    if (!windowClass || !windowClass->lpszClassName || IS_INTRESOURCE(windowClass->lpszClassName) ||
        !*windowClass->lpszClassName || windowClass->cbWndExtra < 0 || windowClass->cbWndExtra > 40000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ClassRegistry& r = classes();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (findClass(r, windowClass->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass c{windowClass->lpszClassName, r.nextAtom++, *windowClass};
    c.info.lpszMenuName = nullptr; // menus are not supported; the pointer is not kept
    c.info.lpszClassName = nullptr;
    r.classes.push_back(std::move(c));
    return r.classes.back().atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE)
{
    if (!className)
        return FALSE;
    ClassRegistry& r = classes();
    std::lock_guard<std::mutex> lock(r.mutex);
    WindowClass* c = findClass(r, className);
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    for (HWND window : allWindows()) {
        WindowObject* record = findWindowObject(window);
        if (record && _stricmp(record->className.c_str(), c->name.c_str()) == 0) {
            SetLastError(1412); // ERROR_CLASS_HAS_WINDOWS
            return FALSE;
        }
    }
    r.classes.erase(r.classes.begin() + (c - r.classes.data()));
    return TRUE;
}

BOOL WINAPI GetClassInfoExA(HINSTANCE, LPCSTR className, LPWNDCLASSEXA windowClass)
{
    if (!className || !windowClass)
        return FALSE;
    ClassRegistry& r = classes();
    std::lock_guard<std::mutex> lock(r.mutex);
    WindowClass* c = findClass(r, className);
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    *windowClass = c->info;
    windowClass->lpszClassName = className;
    return (BOOL)c->atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    if (!className) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    WindowCreateParams params;
    {
        ClassRegistry& r = classes();
        std::lock_guard<std::mutex> lock(r.mutex);
        WindowClass* c = findClass(r, className);
        if (!c) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        params.className = c->name;
        params.procedure = c->info.lpfnWndProc;
        params.extraBytes = (size_t)c->info.cbWndExtra;
    }
    bool child = (style & WS_CHILD) != 0;
    if (x == CW_USEDEFAULT) {
        x = 0;
        y = 0;
    }
    if (width == CW_USEDEFAULT) {
        width = 800;
        height = 600;
    }
    width = std::max(width, 0);
    height = std::max(height, 0);
    params.instance = instance;
    params.text = windowName ? windowName : "";
    params.style = style & ~(DWORD)WS_VISIBLE; // shown after WM_CREATE
    params.exStyle = exStyle;
    params.parent = parent;
    params.controlId = child ? (int)(INT_PTR)menu : 0;
    params.windowRect = RECT{x, y, x + width, y + height};
    params.sdlBacked = !child;
    HWND window = createWindowObject(std::move(params));
    if (!window)
        return nullptr;

    CREATESTRUCTA create{param, instance, menu, parent, height, width, y, x, (LONG)style, windowName, className,
                         exStyle};
    if (!SendMessageA(window, WM_NCCREATE, 0, (LPARAM)&create)) {
        if (IsWindow(window)) {
            SendMessageA(window, WM_NCDESTROY, 0, 0);
            finishDestroy(window);
        }
        return nullptr;
    }
    if (SendMessageA(window, WM_CREATE, 0, (LPARAM)&create) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    WindowObject* record = findWindowObject(window);
    if (!record)
        return nullptr;
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(record->clientWidth, record->clientHeight));
    if ((record = findWindowObject(window)) != nullptr) {
        POINT origin = detail::clientOrigin(*record);
        SendMessageA(window, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
    if (!IsWindow(window))
        return nullptr;
    if (style & WS_VISIBLE)
        ShowWindow(window, child ? SW_SHOWNA : SW_SHOW);
    return IsWindow(window) ? window : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    WindowObject* record = checkedWindow(window);
    if (!record)
        return FALSE;
    if (record->thread != std::this_thread::get_id()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (record->destroying)
        return TRUE;

    // Windows it owns go first.
    for (HWND other : allWindows()) {
        WindowObject* o = findWindowObject(other);
        if (o && !(o->style & WS_CHILD) && o->parent == window && !o->destroying)
            DestroyWindow(other);
    }
    if (!(record = findWindowObject(window)))
        return TRUE;
    if (record->visible) {
        record->visible = false;
        if (record->sdlWindow)
            detail::showSdlWindow(record->sdlWindow, false);
    }
    if (activeHandle.load() == window)
        detail::deactivateWindow(window, false);
    dropFocusFrom(window, nullptr);
    sendDestroy(window);
    finishDestroy(window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window)
{
    return findWindowObject(window) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command)
{
    WindowObject* record = checkedWindow(window);
    if (!record)
        return FALSE;
    BOOL wasVisible = record->visible ? TRUE : FALSE;
    bool child = (record->style & WS_CHILD) != 0;

    if (command == SW_HIDE) {
        if (!record->visible)
            return wasVisible;
        SendMessageA(window, WM_SHOWWINDOW, FALSE, 0);
        if (!(record = findWindowObject(window)))
            return wasVisible;
        record->visible = false;
        if (record->sdlWindow)
            detail::showSdlWindow(record->sdlWindow, false);
        if (activeHandle.load() == window)
            detail::deactivateWindow(window, false);
        dropFocusFrom(window, nullptr);
        return wasVisible;
    }

    if (!record->visible) {
        SendMessageA(window, WM_SHOWWINDOW, TRUE, 0);
        if (!(record = findWindowObject(window)))
            return wasVisible;
        record->visible = true;
        record->needsPaint = true;
        if (record->sdlWindow)
            detail::showSdlWindow(record->sdlWindow, true);
        detail::noteWindowNeedsPaint(window);
    }
    switch (command) {
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        if (!child) {
            if (record->sdlWindow)
                detail::minimiseSdlWindow(record->sdlWindow, true);
            detail::deliverMinimised(window, true);
        }
        return wasVisible;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
    case SW_SHOWDEFAULT:
        if (!child && record->minimised) {
            if (record->sdlWindow)
                detail::minimiseSdlWindow(record->sdlWindow, false);
            detail::deliverMinimised(window, false); // activates it
            return wasVisible;
        }
        break;
    default:
        break;
    }
    if (!child && activatingCommand(command) && activeHandle.load() != window)
        detail::activateWindow(window, false);
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    if (record->needsPaint && detail::reallyVisible(*record))
        SendMessageA(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record && detail::reallyVisible(*record) ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record && record->minimised ? TRUE : FALSE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL)
{
    // The update region is tracked as a whole: any invalid part makes the
    // window need a paint.
    if (!window) {
        for (HWND w : allWindows())
            InvalidateRect(w, nullptr, FALSE);
        return TRUE;
    }
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    record->needsPaint = true;
    detail::noteWindowNeedsPaint(window);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT*)
{
    // Any validation empties the region (see InvalidateRect).
    if (!window)
        return TRUE;
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    record->needsPaint = false;
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND window, LPRECT rect, BOOL)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    if (rect)
        *rect = record->needsPaint ? RECT{0, 0, record->clientWidth, record->clientHeight} : RECT{0, 0, 0, 0};
    return record->needsPaint ? TRUE : FALSE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint)
{
    WindowObject* record = findWindowObject(window);
    if (!record || !paint)
        return nullptr;
    std::memset(paint, 0, sizeof(*paint));
    paint->hdc = reinterpret_cast<HDC>(window); // no drawing through it
    paint->rcPaint = RECT{0, 0, record->clientWidth, record->clientHeight};
    record->needsPaint = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT*)
{
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect)
{
    WindowObject* record = checkedWindow(window, rect != nullptr);
    if (!record)
        return FALSE;
    *rect = RECT{0, 0, record->clientWidth, record->clientHeight};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect)
{
    WindowObject* record = checkedWindow(window, rect != nullptr);
    if (!record)
        return FALSE;
    *rect = record->windowRect;
    if ((record->style & WS_CHILD) && record->parent) {
        if (WindowObject* parent = findWindowObject(record->parent)) {
            POINT origin = detail::clientOrigin(*parent);
            rect->left += origin.x;
            rect->right += origin.x;
            rect->top += origin.y;
            rect->bottom += origin.y;
        }
    }
    return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu)
{
    return AdjustWindowRectEx(rect, style, menu, 0);
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle)
{
    if (!rect)
        return FALSE;
    // Saturates rather than wrapping: a caller's huge client size must not
    // turn into a negative window size.
    const RECT frame = frameInsets(style, exStyle, menu != FALSE);
    auto shift = [](LONG& side, LONG by) {
        side = static_cast<LONG>(std::clamp<int64_t>(int64_t(side) + by, INT32_MIN, INT32_MAX));
    };
    shift(rect->left, -frame.left);
    shift(rect->top, -frame.top);
    shift(rect->right, frame.right);
    shift(rect->bottom, frame.bottom);
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    width = std::max(width, 0);
    height = std::max(height, 0);
    RECT frame = frameInsets(record->style, record->exStyle);
    bool moved = record->windowRect.left != x || record->windowRect.top != y;
    LONG clientWidth = std::max<LONG>(0, width - frame.left - frame.right);
    LONG clientHeight = std::max<LONG>(0, height - frame.top - frame.bottom);
    bool sized = clientWidth != record->clientWidth || clientHeight != record->clientHeight;
    record->windowRect = RECT{x, y, x + width, y + height};
    record->clientWidth = clientWidth;
    record->clientHeight = clientHeight;
    if (record->sdlWindow)
        detail::placeSdlWindow(*record);
    if (repaint || sized) {
        record->needsPaint = true;
        detail::noteWindowNeedsPaint(window);
    }
    if (moved) {
        POINT origin = detail::clientOrigin(*record);
        SendMessageA(window, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
    if (sized)
        SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(clientWidth, clientHeight));
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point)
{
    WindowObject* record = findWindowObject(window);
    if (!record || !point)
        return FALSE;
    POINT origin = detail::clientOrigin(*record);
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL WINAPI ScreenToClient(HWND window, LPPOINT point)
{
    WindowObject* record = findWindowObject(window);
    if (!record || !point)
        return FALSE;
    POINT origin = detail::clientOrigin(*record);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

HWND WINAPI WindowFromPoint(POINT point)
{
    auto contains = [&](HWND window) {
        RECT rect;
        return IsWindowVisible(window) && GetWindowRect(window, &rect) && point.x >= rect.left &&
               point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
    };
    std::vector<HWND> windows = allWindows();
    // Later windows lie on top of earlier ones.
    HWND found = nullptr;
    for (auto it = windows.rbegin(); it != windows.rend() && !found; ++it) {
        WindowObject* record = findWindowObject(*it);
        if (record && !(record->style & WS_CHILD) && contains(*it))
            found = *it;
    }
    for (bool deeper = found != nullptr; deeper;) {
        deeper = false;
        WindowObject* record = findWindowObject(found);
        std::vector<HWND> children = record ? record->children : std::vector<HWND>();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (contains(*it)) {
                found = *it;
                deeper = true;
                break;
            }
        }
    }
    return found;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text)
{
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int size)
{
    if (!text || size <= 0)
        return 0;
    WindowObject* record = findWindowObject(window);
    if (!record) {
        text[0] = 0;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (record->thread == std::this_thread::get_id())
        return (int)SendMessageA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text);
    size_t n = std::min(record->text.size(), (size_t)size - 1);
    std::memcpy(text, record->text.data(), n);
    text[n] = 0;
    return (int)n;
}

int WINAPI GetWindowTextLengthA(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return 0;
    if (record->thread == std::this_thread::get_id())
        return (int)SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    return (int)record->text.size();
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    WindowObject* record = checkedWindow(window);
    if (!record)
        return 0;
    SetLastError(0);
    LONG_PTR previous = 0;
    switch (index) {
    case GWLP_USERDATA:
        previous = record->userData;
        record->userData = value;
        return previous;
    case GWLP_WNDPROC:
        previous = (LONG_PTR)record->procedure;
        record->procedure = (WNDPROC)value;
        return previous;
    case GWLP_HINSTANCE:
        previous = (LONG_PTR)record->instance;
        record->instance = (HINSTANCE)value;
        return previous;
    case GWLP_ID:
        previous = record->controlId;
        record->controlId = (int)value;
        return previous;
    case GWLP_HWNDPARENT:
        previous = (LONG_PTR)record->parent;
        if (!(record->style & WS_CHILD))
            record->parent = (HWND)value; // the owner of a top-level window
        return previous;
    case GWL_STYLE:
        previous = (LONG)GetWindowLongA(window, GWL_STYLE);
        record->style = (DWORD)value;
        record->visible = (record->style & WS_VISIBLE) != 0;
        record->enabled = (record->style & WS_DISABLED) == 0;
        return previous;
    case GWL_EXSTYLE:
        previous = (LONG)record->exStyle;
        record->exStyle = (DWORD)value;
        return previous;
    default: {
        unsigned char* slot;
        if (!extraSlot(*record, index, sizeof(LONG_PTR), slot))
            return 0;
        std::memcpy(&previous, slot, sizeof previous);
        std::memcpy(slot, &value, sizeof value);
        return previous;
    }
    }
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index)
{
    WindowObject* record = checkedWindow(window);
    if (!record)
        return 0;
    switch (index) {
    case GWLP_USERDATA: return record->userData;
    case GWLP_WNDPROC: return (LONG_PTR)record->procedure;
    case GWLP_HINSTANCE: return (LONG_PTR)record->instance;
    case GWLP_ID: return record->controlId;
    case GWLP_HWNDPARENT: return (LONG_PTR)record->parent;
    case GWL_STYLE: {
        DWORD style = record->style & ~(DWORD)(WS_VISIBLE | WS_DISABLED);
        if (record->visible)
            style |= WS_VISIBLE;
        if (!record->enabled)
            style |= WS_DISABLED;
        return (LONG)style;
    }
    case GWL_EXSTYLE: return (LONG)record->exStyle;
    default: {
        unsigned char* slot;
        LONG_PTR value = 0;
        if (!extraSlot(*record, index, sizeof(LONG_PTR), slot))
            return 0;
        std::memcpy(&value, slot, sizeof value);
        return value;
    }
    }
}

LONG WINAPI SetWindowLongA(HWND window, int index, LONG value)
{
    if (index >= 0) {
        WindowObject* record = findWindowObject(window);
        unsigned char* slot;
        if (!record || !extraSlot(*record, index, sizeof(LONG), slot))
            return 0;
        LONG previous;
        std::memcpy(&previous, slot, sizeof previous);
        std::memcpy(slot, &value, sizeof value);
        return previous;
    }
    return (LONG)SetWindowLongPtrA(window, index, (LONG_PTR)value);
}

LONG WINAPI GetWindowLongA(HWND window, int index)
{
    if (index >= 0) {
        WindowObject* record = findWindowObject(window);
        unsigned char* slot;
        if (!record || !extraSlot(*record, index, sizeof(LONG), slot))
            return 0;
        LONG value;
        std::memcpy(&value, slot, sizeof value);
        return value;
    }
    return (LONG)GetWindowLongPtrA(window, index);
}

LRESULT WINAPI CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return FALSE;
    BOOL wasDisabled = record->enabled ? FALSE : TRUE;
    bool on = enable != FALSE;
    if (record->enabled != on) {
        record->enabled = on;
        if (!on)
            dropFocusFrom(window, nullptr);
        SendMessageA(window, WM_ENABLE, on ? TRUE : FALSE, 0);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record && record->enabled ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return nullptr;
    // A child's parent, or the owner of a pop-up.
    if ((record->style & WS_CHILD) || (record->style & WS_POPUP))
        return record->parent;
    return nullptr;
}

BOOL WINAPI IsChild(HWND parent, HWND window)
{
    WindowObject* record = findWindowObject(window);
    while (record && (record->style & WS_CHILD) && record->parent) {
        if (record->parent == parent)
            return TRUE;
        record = findWindowObject(record->parent);
    }
    return FALSE;
}

int WINAPI GetDlgCtrlID(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record && (record->style & WS_CHILD) ? record->controlId : 0;
}

HWND WINAPI SetFocus(HWND window)
{
    HWND previous = focusWindow.load();
    if (window) {
        WindowObject* record = checkedWindow(window);
        if (!record)
            return nullptr;
        if (record->thread != std::this_thread::get_id()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (window == previous)
            return previous;
        HWND root = detail::rootWindow(window);
        if (activeHandle.load() != root)
            detail::activateWindow(root, findWindowObject(root)->minimised);
        if (!IsWindow(window))
            return previous;
    }
    HWND current = focusWindow.exchange(window);
    if (current == window)
        return previous;
    if (current && IsWindow(current))
        SendMessageA(current, WM_KILLFOCUS, (WPARAM)window, 0);
    if (window && IsWindow(window))
        SendMessageA(window, WM_SETFOCUS, (WPARAM)current, 0);
    return previous;
}

HWND WINAPI GetFocus()
{
    return focusWindow.load();
}

HWND WINAPI GetActiveWindow()
{
    return activeHandle.load();
}

HWND WINAPI SetActiveWindow(HWND window)
{
    HWND previous = activeHandle.load();
    if (window && !IsWindow(window))
        return nullptr;
    if (window && window != previous)
        detail::activateWindow(detail::rootWindow(window), false);
    return previous;
}

HWND WINAPI GetForegroundWindow()
{
    return activeHandle.load();
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    if (!IsWindow(window))
        return FALSE;
    SetActiveWindow(window);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(window, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(window, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(window, SW_MAXIMIZE); break;
        case SC_RESTORE: ShowWindow(window, SW_RESTORE); break;
        default: break;
        }
        return 0;
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4 && (lParam & (1 << 29)))
            SendMessageA(detail::rootWindow(window), WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_SETTEXT: {
        WindowObject* record = findWindowObject(window);
        if (!record)
            return FALSE;
        record->text = lParam ? (const char*)lParam : "";
        if (record->sdlWindow)
            detail::setSdlWindowTitle(record->sdlWindow, record->text.c_str());
        return TRUE;
    }
    case WM_GETTEXT: {
        WindowObject* record = findWindowObject(window);
        char* buffer = (char*)lParam;
        if (!record || !buffer || wParam == 0)
            return 0;
        size_t n = std::min(record->text.size(), (size_t)wParam - 1);
        std::memcpy(buffer, record->text.data(), n);
        buffer[n] = 0;
        return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH: {
        WindowObject* record = findWindowObject(window);
        return record ? (LRESULT)record->text.size() : 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0)
            SetFocus(window);
        return 0;
    case WM_MOUSEWHEEL: {
        WindowObject* record = findWindowObject(window);
        if (record && (record->style & WS_CHILD) && record->parent)
            return SendMessageA(record->parent, message, wParam, lParam);
        return 0;
    }
    default:
        return 0;
    }
}

int WINAPI GetSystemMetrics(int index)
{
    int width = headlessScreenWidth, height = headlessScreenHeight;
    switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN:
        if (windowsUseSdl())
            detail::sdlDesktopSize(width, height);
        return index == SM_CXSCREEN ? width : height;
    case SM_CYCAPTION: return 23;
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_CXPADDEDBORDER: return 4;
    case SM_CYMENU: return 20;
    case SM_CMONITORS: return 1;
    default: return 0;
    }
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    // The executable's own module; other modules are not loaded here.
    static char module;
    if (moduleName) {
        SetLastError(126); // ERROR_MOD_NOT_FOUND
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(&module);
}

void WINAPI InitCommonControls() {}

namespace platform {

void resetWindowState()
{
    auto me = std::this_thread::get_id();
    for (HWND window : allWindows()) {
        WindowObject* record = findWindowObject(window);
        if (record && record->thread == me && !(record->style & WS_CHILD))
            DestroyWindow(window);
    }
    detail::resetInputState();
    resetMessageQueue();
    focusWindow = nullptr;
    activeHandle = nullptr;
    detail::resetCursorState();
}

namespace detail {

void activateWindow(HWND window, bool minimised)
{
    if (!IsWindow(window))
        return;
    HWND previous = activeHandle.exchange(window);
    if (previous && previous != window && IsWindow(previous)) {
        WindowObject* old = findWindowObject(previous);
        SendMessageA(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, old && old->minimised ? 1 : 0), (LPARAM)window);
        dropFocusFrom(previous, window);
    }
    if (IsWindow(window))
        SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, minimised ? 1 : 0), (LPARAM)previous);
}

void deactivateWindow(HWND window, bool minimised)
{
    if (!IsWindow(window))
        return;
    HWND expected = window;
    activeHandle.compare_exchange_strong(expected, nullptr);
    SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, minimised ? 1 : 0), 0);
    dropFocusFrom(window, nullptr);
}

HWND activeWindow()
{
    return activeHandle.load();
}

UINT classStyle(const WindowObject& window)
{
    ClassRegistry& r = classes();
    std::lock_guard<std::mutex> lock(r.mutex);
    WindowClass* c = findClass(r, window.className.c_str());
    return c ? c->info.style : 0;
}

} // namespace detail

} // namespace platform

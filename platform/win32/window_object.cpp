#include "platform/win32/window_object.h"

#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace platform {

namespace {

struct WindowTable {
    std::mutex mutex;
    std::map<uintptr_t, std::unique_ptr<WindowObject>> windows; // by handle value = creation order
    uintptr_t nextHandle = 0x10000;
};

WindowTable& table()
{
    static WindowTable* instance = new WindowTable; // outlives static destructors of callers
    return *instance;
}

} // namespace

HWND createWindowObject(WindowCreateParams params)
{
    bool child = (params.style & WS_CHILD) != 0;
    if (params.parent && !findWindowObject(params.parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (child && !params.parent) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    if (!child)
        detail::watchTerminationSignals();
    auto record = std::make_unique<WindowObject>();
    record->className = std::move(params.className);
    record->procedure = params.procedure;
    record->instance = params.instance;
    record->style = params.style;
    record->exStyle = params.exStyle;
    record->text = std::move(params.text);
    record->visible = (params.style & WS_VISIBLE) != 0;
    record->enabled = (params.style & WS_DISABLED) == 0;
    record->parent = params.parent;
    record->controlId = child ? params.controlId : 0;
    record->windowRect = params.windowRect;
    if (record->windowRect.right < record->windowRect.left)
        record->windowRect.right = record->windowRect.left;
    if (record->windowRect.bottom < record->windowRect.top)
        record->windowRect.bottom = record->windowRect.top;
    RECT frame = frameInsets(record->style, record->exStyle);
    record->clientWidth = std::max<LONG>(0, record->windowRect.right - record->windowRect.left - frame.left - frame.right);
    record->clientHeight = std::max<LONG>(0, record->windowRect.bottom - record->windowRect.top - frame.top - frame.bottom);
    record->extraBytes.assign(params.extraBytes, 0);
    record->needsPaint = record->visible;
    record->thread = std::this_thread::get_id();
    record->extension = std::move(params.extension);

    HWND handle;
    WindowObject* raw = record.get();
    {
        WindowTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        handle = reinterpret_cast<HWND>(t.nextHandle);
        t.nextHandle += 0x10; // never reused: a stale handle stays invalid
        record->handle = handle;
        t.windows.emplace(reinterpret_cast<uintptr_t>(handle), std::move(record));
    }
    if (child) {
        if (WindowObject* parent = findWindowObject(params.parent))
            parent->children.push_back(handle);
    }
    if (params.sdlBacked && !child && windowsUseSdl()) {
        raw->sdlWindow = detail::createSdlWindow(*raw);
        if (!raw->sdlWindow)
            std::fprintf(stderr, "window \"%s\" has no SDL window; it runs without one\n", raw->text.c_str());
    }
    return handle;
}

WindowObject* findWindowObject(HWND window)
{
    if (!window)
        return nullptr;
    WindowTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.windows.find(reinterpret_cast<uintptr_t>(window));
    return it == t.windows.end() ? nullptr : it->second.get();
}

HWND findChildWindow(HWND parent, int controlId)
{
    WindowObject* record = findWindowObject(parent);
    if (!record)
        return nullptr;
    for (HWND child : record->children) {
        WindowObject* c = findWindowObject(child);
        if (c && c->controlId == controlId)
            return child;
    }
    return nullptr;
}

std::vector<HWND> allWindows()
{
    WindowTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::vector<HWND> result;
    result.reserve(t.windows.size());
    for (auto& entry : t.windows)
        result.push_back(entry.second->handle);
    return result;
}

RECT frameInsets(DWORD style, DWORD exStyle, bool menu)
{
    // Fixed metrics of a 96-dpi desktop: 8-pixel sizing frame (4 + 4
    // padding), 3-pixel fixed frame, 1-pixel border, 23-pixel caption,
    // 20-pixel menu bar, 2-pixel client edge.
    LONG side = 0;
    if (style & WS_THICKFRAME)
        side = 8;
    else if (style & WS_DLGFRAME)
        side = 3;
    else if (style & WS_BORDER)
        side = 1;
    if (exStyle & WS_EX_CLIENTEDGE)
        side += 2;
    LONG top = side;
    if ((style & WS_CAPTION) == WS_CAPTION)
        top += 23;
    if (menu && !(style & WS_CHILD))
        top += 20;
    return RECT{side, top, side, side};
}

LRESULT callWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return 0;
    WNDPROC procedure = record->procedure;
    if (!procedure)
        return DefWindowProcA(window, message, wParam, lParam);
    return procedure(window, message, wParam, lParam);
}

namespace detail {

void eraseWindowObject(HWND window)
{
    std::unique_ptr<WindowObject> doomed;
    {
        WindowTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.windows.find(reinterpret_cast<uintptr_t>(window));
        if (it == t.windows.end())
            return;
        doomed = std::move(it->second);
        t.windows.erase(it);
    }
    if (doomed->parent && (doomed->style & WS_CHILD)) {
        if (WindowObject* parent = findWindowObject(doomed->parent)) {
            auto& c = parent->children;
            c.erase(std::remove(c.begin(), c.end(), window), c.end());
        }
    }
    // The extension may look windows up while it goes; the table lock is
    // not held here.
    doomed.reset();
}

HWND rootWindow(HWND window)
{
    WindowObject* record = findWindowObject(window);
    while (record && (record->style & WS_CHILD) && record->parent) {
        WindowObject* parent = findWindowObject(record->parent);
        if (!parent)
            break;
        record = parent;
    }
    return record ? record->handle : nullptr;
}

bool reallyVisible(const WindowObject& window)
{
    const WindowObject* record = &window;
    while (record) {
        if (!record->visible)
            return false;
        if (!(record->style & WS_CHILD))
            return true;
        record = findWindowObject(record->parent);
    }
    return true;
}

POINT clientOrigin(const WindowObject& window)
{
    RECT frame = frameInsets(window.style, window.exStyle);
    POINT origin{window.windowRect.left + frame.left, window.windowRect.top + frame.top};
    if ((window.style & WS_CHILD) && window.parent) {
        if (WindowObject* parent = findWindowObject(window.parent)) {
            POINT parentOrigin = clientOrigin(*parent);
            origin.x += parentOrigin.x;
            origin.y += parentOrigin.y;
        }
    }
    return origin;
}

} // namespace detail

} // namespace platform

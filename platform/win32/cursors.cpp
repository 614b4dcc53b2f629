// Cursors and icons: a handle per distinct resource, the current cursor and
// the display count, passed on to SDL's cursor when there is a screen.
#include "platform/win32/window.h"

#include "platform/win32/windowing_internal.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace platform;

namespace {

// Cursor and icon handles: one small record per distinct resource.
struct UiResource {
    bool cursor;
    HINSTANCE instance;
    int id;
    std::string name;
};

struct UiResources {
    std::mutex mutex;
    std::vector<std::unique_ptr<UiResource>> items;
    HCURSOR current = nullptr;
    int displayCount = 0;
};

UiResources& uiResources()
{
    static UiResources* instance = new UiResources;
    return *instance;
}

void* uiHandle(bool cursor, HINSTANCE instance, LPCSTR name)
{
    UiResources& r = uiResources();
    std::lock_guard<std::mutex> lock(r.mutex);
    int id = IS_INTRESOURCE(name) ? (int)(ULONG_PTR)name : 0;
    std::string text = IS_INTRESOURCE(name) ? std::string() : std::string(name);
    for (auto& item : r.items) {
        if (item->cursor == cursor && item->instance == instance && item->id == id && item->name == text)
            return item.get();
    }
    r.items.push_back(std::make_unique<UiResource>(UiResource{cursor, instance, id, text}));
    return r.items.back().get();
}

bool isSystemCursorId(int id)
{
    return (id >= 32512 && id <= 32516) || (id >= 32640 && id <= 32651);
}

} // namespace

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    if (!name)
        return nullptr;
    if (!instance && !(IS_INTRESOURCE(name) && isSystemCursorId((int)(ULONG_PTR)name))) {
        SetLastError(1813); // ERROR_RESOURCE_TYPE_NOT_FOUND
        return nullptr;
    }
    return (HCURSOR)uiHandle(true, instance, name);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    // Icons are never drawn here; a handle per resource is all callers see.
    if (!name)
        return nullptr;
    return (HICON)uiHandle(false, instance, name);
}

HCURSOR WINAPI SetCursor(HCURSOR cursor)
{
    UiResources& r = uiResources();
    HCURSOR previous;
    int count;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        previous = r.current;
        r.current = cursor;
        count = r.displayCount;
    }
    detail::setSdlCursorShape(platform::cursorId(cursor));
    detail::setSdlCursorVisible(cursor && count >= 0);
    return previous;
}

HCURSOR WINAPI GetCursor()
{
    UiResources& r = uiResources();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.current;
}

int WINAPI ShowCursor(BOOL show)
{
    UiResources& r = uiResources();
    int count;
    bool haveCursor;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        count = (r.displayCount += show ? 1 : -1);
        haveCursor = r.current != nullptr;
    }
    detail::setSdlCursorVisible(haveCursor && count >= 0);
    return count;
}

BOOL WINAPI GetCursorPos(LPPOINT point)
{
    if (!point)
        return FALSE;
    *point = detail::cursorPosition();
    return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y)
{
    POINT screen{x, y};
    detail::setCursorPosition(screen);
    // The jump is a mouse move for the window under the cursor, as on Win32.
    HWND window = WindowFromPoint(screen);
    if (window) {
        POINT client = screen;
        ScreenToClient(window, &client);
        HWND root = detail::rootWindow(window);
        if (WindowObject* rootRecord = findWindowObject(root); rootRecord && rootRecord->sdlWindow) {
            POINT rootClient = screen;
            ScreenToClient(root, &rootClient);
            detail::warpSdlMouse(*rootRecord, rootClient);
        }
        detail::postInputMessage(window, WM_MOUSEMOVE, detail::mouseKeyFlags(), MAKELPARAM(client.x, client.y));
    }
    return TRUE;
}

namespace platform {

int cursorId(HCURSOR cursor)
{
    if (!cursor)
        return 0;
    UiResources& r = uiResources();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto& item : r.items) {
        if (item.get() == (void*)cursor)
            return item->cursor ? item->id : 0;
    }
    return 0;
}

int cursorDisplayCount()
{
    UiResources& r = uiResources();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.displayCount;
}

namespace detail {

void resetCursorState()
{
    UiResources& r = uiResources();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.current = nullptr;
    r.displayCount = 0;
}

} // namespace detail

} // namespace platform

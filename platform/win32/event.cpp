#include "platform/win32/event.h"

#include "platform/win32/kernel_object_internal.h"

#include <map>
#include <string>

using namespace platform::detail;

namespace {

struct EventObject : KernelObject {
    bool manualReset = false;
    bool state = false; // guarded by kernelLock()

    bool signalled() const override { return state; }
    void consume() override
    {
        if (!manualReset)
            state = false;
    }
};

struct NamedEvents {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<EventObject>> byName;
};

NamedEvents& namedEvents()
{
    static NamedEvents* names = new NamedEvents;
    return *names;
}

std::shared_ptr<EventObject> eventOf(HANDLE handle)
{
    return std::dynamic_pointer_cast<EventObject>(lookupHandle(handle));
}

} // namespace

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (name && *name) {
        NamedEvents& names = namedEvents();
        std::lock_guard<std::mutex> lock(names.mutex);
        auto& slot = names.byName[name];
        if (auto existing = slot.lock()) {
            HANDLE handle = insertHandle(existing);
            SetLastError(ERROR_ALREADY_EXISTS);
            return handle;
        }
        auto event = std::make_shared<EventObject>();
        event->manualReset = manualReset != FALSE;
        event->state = initialState != FALSE;
        slot = event;
        SetLastError(ERROR_SUCCESS);
        return insertHandle(event);
    }
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    event->state = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return insertHandle(event);
}

HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR name)
{
    if (name && *name) {
        NamedEvents& names = namedEvents();
        std::lock_guard<std::mutex> lock(names.mutex);
        auto it = names.byName.find(name);
        if (it != names.byName.end()) {
            if (auto existing = it->second.lock())
                return insertHandle(existing);
        }
    }
    SetLastError(2); // ERROR_FILE_NOT_FOUND
    return nullptr;
}

BOOL WINAPI SetEvent(HANDLE handle)
{
    auto event = eventOf(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(kernelLock());
        event->state = true;
    }
    kernelChanged().notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle)
{
    auto event = eventOf(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(kernelLock());
    event->state = false;
    return TRUE;
}

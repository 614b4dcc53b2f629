#include "platform/win32/kernel_object_internal.h"

#include <atomic>
#include <chrono>
#include <map>
#include <vector>

namespace platform::detail {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;
};

HandleTable& handles()
{
    static HandleTable* table = new HandleTable; // threads may outlive static destruction
    return *table;
}

std::atomic<int> liveObjects{0};

} // namespace

KernelObject::KernelObject()
{
    ++liveObjects;
}

KernelObject::~KernelObject()
{
    --liveObjects;
}

int liveKernelObjects()
{
    return liveObjects;
}

std::mutex& kernelLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::condition_variable& kernelChanged()
{
    static std::condition_variable* changed = new std::condition_variable;
    return *changed;
}

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& t = handles();
    std::lock_guard<std::mutex> lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle)
{
    HandleTable& t = handles();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool eraseHandle(HANDLE handle, std::shared_ptr<KernelObject>& erased)
{
    HandleTable& t = handles();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end())
        return false;
    erased = std::move(it->second);
    t.objects.erase(it);
    return true;
}

} // namespace platform::detail

using namespace platform::detail;

BOOL WINAPI CloseHandle(HANDLE handle)
{
    // The object lives on while a running thread or another handle holds it;
    // it is released here, outside the table lock.
    std::shared_ptr<KernelObject> erased;
    if (!eraseHandle(handle, erased)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, TRUE, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* list, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !list) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = lookupHandle(list[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    DWORD which = 0;
    auto ready = [&] {
        if (waitAll) {
            for (auto& object : objects)
                if (!object->signalled())
                    return false;
            return true;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (objects[i]->signalled()) {
                which = i;
                return true;
            }
        }
        return false;
    };
    std::unique_lock<std::mutex> lock(kernelLock());
    if (milliseconds == INFINITE)
        kernelChanged().wait(lock, ready);
    else if (!kernelChanged().wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
        return WAIT_TIMEOUT;
    if (waitAll) {
        for (auto& object : objects)
            object->consume();
        return WAIT_OBJECT_0;
    }
    objects[which]->consume();
    return WAIT_OBJECT_0 + which;
}

// The kernel objects behind handles, shared by threads and events. All
// objects share one lock and one condition variable: waits are few and
// short, and a wait for several objects needs no lock ordering.
#pragma once

#include "platform/win32/kernel_object.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform::detail {

// Signal state is read and changed only under kernelLock(); whoever changes
// it calls kernelChanged().notify_all() afterwards.
struct KernelObject {
    KernelObject();
    virtual ~KernelObject();
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual bool signalled() const = 0;
    // A satisfied wait consumes the signal (auto-reset events).
    virtual void consume() {}
};

// How many kernel objects exist now.
int liveKernelObjects();

std::mutex& kernelLock();
std::condition_variable& kernelChanged();
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);

} // namespace platform::detail

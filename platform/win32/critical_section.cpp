#include "platform/win32/critical_section.h"

#include <mutex>

namespace {

std::recursive_mutex& lockOf(LPCRITICAL_SECTION section)
{
    return *static_cast<std::recursive_mutex*>(section->lock);
}

} // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    section->lock = new std::recursive_mutex;
    section->recursion = 0;
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD)
{
    InitializeCriticalSection(section);
    return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section)
{
    lockOf(section).lock();
    ++section->recursion;
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section)
{
    if (!lockOf(section).try_lock())
        return FALSE;
    ++section->recursion;
    return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section)
{
    --section->recursion;
    lockOf(section).unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section)
{
    delete static_cast<std::recursive_mutex*>(section->lock);
    section->lock = nullptr;
}

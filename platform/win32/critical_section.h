// Critical sections: recursive locks owned by a thread. The record holds a
// pointer to the lock made by InitializeCriticalSection and freed by
// DeleteCriticalSection; entering an uninitialised section is a fault of
// the caller, as on Windows.
#pragma once

#include "platform/win32/win_types.h"

typedef struct _CRITICAL_SECTION {
    void* lock;
    LONG recursion; // for debugging only
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

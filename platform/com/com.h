// COM library calls: apartment initialisation per thread, CoCreateInstance
// over a registry of this platform's own classes, task memory.
#pragma once

#include "platform/com/unknwn.h"

#include <functional>

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

typedef enum tagCOINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
} COINIT;

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)

HRESULT WINAPI CoInitialize(LPVOID reserved);
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD coInit);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext, REFIID riid, LPVOID* ppv);
LPVOID WINAPI CoTaskMemAlloc(size_t size);
void WINAPI CoTaskMemFree(LPVOID p);

namespace platform {

// Makes a new object of a class with a reference count of 1, or null.
using ComClassFactory = std::function<IUnknown*()>;

// Registers (or replaces) the factory CoCreateInstance uses for clsid. The
// classes are in-process only.
void registerComClass(REFCLSID clsid, ComClassFactory factory);
// Removes a registration; false when clsid was not registered.
bool unregisterComClass(REFCLSID clsid);
bool isComClassRegistered(REFCLSID clsid);

// Adds the classes that come with the platform (DirectShow's); each stand-in
// that provides classes defines it. CoCreateInstance calls it before its
// first look-up; registrations made earlier, by tests, stay in place.
void registerBuiltInClasses();

// CoInitialize minus CoUninitialize calls so far on the calling thread.
int comInitializeCount();

} // namespace platform

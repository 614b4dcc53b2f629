// Monikers and the running object table: the naming side of COM that the
// device categories (device monikers with property bags) and the graph
// registration (item monikers in the table) use. Only the calls those
// users make exist; interfaces carry just those slots.
#pragma once

#include "platform/com/oleauto.h"

#include <string>
#include <vector>

class IBindCtx;
class IMoniker;

DEFINE_GUID(IID_IMoniker, 0x0000000f, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IBindCtx, 0x0000000e, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IRunningObjectTable, 0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

#define MK_E_UNAVAILABLE ((HRESULT)0x800401E3L)
#define MK_E_NOOBJECT ((HRESULT)0x800401E5L)
#define ROTFLAGS_REGISTRATIONKEEPSALIVE 0x1
#define ROTFLAGS_ALLOWANYCLIENT 0x2

class IErrorLog;

class IPropertyBag : public IUnknown {
public:
    STDMETHOD(Read)(LPCOLESTR propName, VARIANT* var, IErrorLog* errorLog) PURE;
    STDMETHOD(Write)(LPCOLESTR propName, VARIANT* var) PURE;
};

class IMoniker : public IUnknown {
public:
    STDMETHOD(BindToObject)(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppvResult) PURE;
    STDMETHOD(BindToStorage)(IBindCtx* bc, IMoniker* toLeft, REFIID riid, void** ppvObj) PURE;
    STDMETHOD(GetDisplayName)(IBindCtx* bc, IMoniker* toLeft, LPWSTR* displayName) PURE;
    STDMETHOD(IsEqual)(IMoniker* other) PURE;
};

class IEnumMoniker : public IUnknown {
public:
    STDMETHOD(Next)(ULONG celt, IMoniker** rgelt, ULONG* fetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumMoniker** ppenum) PURE;
};

class IBindCtx : public IUnknown {
};

class IRunningObjectTable : public IUnknown {
public:
    STDMETHOD(Register)(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) PURE;
    STDMETHOD(Revoke)(DWORD cookie) PURE;
    STDMETHOD(IsRunning)(IMoniker* name) PURE;
    STDMETHOD(GetObject)(IMoniker* name, IUnknown** object) PURE;
};

typedef IMoniker* LPMONIKER;
typedef IRunningObjectTable* LPRUNNINGOBJECTTABLE;

HRESULT WINAPI GetRunningObjectTable(DWORD reserved, LPRUNNINGOBJECTTABLE* pprot);
HRESULT WINAPI CreateItemMoniker(LPCOLESTR delim, LPCOLESTR item, LPMONIKER* ppmk);
HRESULT WINAPI CreateBindCtx(DWORD reserved, IBindCtx** ppbc);

namespace platform {

// Entries in the running object table now (for tests: registrations must
// be revoked).
size_t runningObjectCount();
// The display names of the table's entries, in registration order.
std::vector<std::wstring> runningObjectNames();

} // namespace platform

// A reference-holding pointer to a COM interface: releases what it holds,
// and asserts (the diagnostics box) on misuse instead of crashing.
#pragma once

#include "foundation/diagnostics.h"

#include <objbase.h>

template <class T>
class ComPtr {
public:
    T* p = nullptr;

    ComPtr() = default;
    explicit ComPtr(T* other) : p(other)
    {
        if (p)
            p->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p) {}
    ComPtr& operator=(const ComPtr& other)
    {
        if (other.p)
            other.p->AddRef();
        release();
        p = other.p;
        return *this;
    }
    ~ComPtr() { release(); }

    HRESULT coCreateInstance(REFCLSID clsid, REFIID iid)
    {
        ENGINE_ASSERT(p == 0);
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&p));
    }
    T* operator->() const
    {
        ENGINE_ASSERT(p!=0);
        return p;
    }
    // For calls that fill the pointer: it must be empty.
    T** operator&()
    {
        ENGINE_ASSERT(p==0);
        return &p;
    }
    operator T*() const { return p; }

    HRESULT copyTo(T** ppT)
    {
        ENGINE_ASSERT(ppT != 0);
        if (!ppT)
            return E_POINTER;
        if (p)
            p->AddRef();
        *ppT = p;
        return S_OK;
    }
    void release()
    {
        if (p)
            p->Release();
        p = nullptr;
    }
};

#include "platform/com/oleauto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length)
{
    const size_t bytes = size_t(length) * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const DWORD prefix = DWORD(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    BSTR s = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    if (text)
        std::memcpy(s, text, bytes);
    else
        std::memset(s, 0, bytes);
    s[length] = 0;
    return s;
}

BSTR WINAPI SysAllocString(const OLECHAR* text)
{
    return text ? SysAllocStringLen(text, UINT(std::wcslen(text))) : nullptr;
}

void WINAPI SysFreeString(BSTR text)
{
    if (text)
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(DWORD));
}

UINT WINAPI SysStringLen(BSTR text)
{
    if (!text)
        return 0;
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - sizeof(DWORD), sizeof bytes);
    return UINT(bytes / sizeof(OLECHAR));
}

void WINAPI VariantInit(VARIANT* v)
{
    if (v) {
        std::memset(v, 0, sizeof *v);
        v->vt = VT_EMPTY;
    }
}

HRESULT WINAPI VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    else if (v->vt == VT_UNKNOWN && v->punkVal)
        v->punkVal->Release();
    VariantInit(v);
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    VariantClear(dest);
    *dest = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!dest->bstrVal) {
            VariantInit(dest);
            return E_OUTOFMEMORY;
        }
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    }
    return S_OK;
}

// Automation strings and variants, as property bags hand them out. A BSTR
// is a counted wide string: the byte length sits in the 4 bytes before the
// characters, which end with a 0.
#pragma once

#include "platform/com/unknwn.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef const OLECHAR* LPCOLESTR;
typedef unsigned short VARTYPE;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
};

typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        ULONG ulVal;
        short iVal;
        short boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
    };
} VARIANT, *LPVARIANT;

#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)

BSTR WINAPI SysAllocString(const OLECHAR* text);
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
void WINAPI SysFreeString(BSTR text);
UINT WINAPI SysStringLen(BSTR text);
void WINAPI VariantInit(VARIANT* v);
HRESULT WINAPI VariantClear(VARIANT* v);
HRESULT WINAPI VariantCopy(VARIANT* dest, const VARIANT* src);

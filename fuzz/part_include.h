// The include handler of the effect fuzz targets: the bytes after the
// input's first 0x01 are served as "part.fxh"; any other name fails to open
// unless the target asks for "self.fxh", a file that includes itself.
#pragma once

#include <d3dx9.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

class PartInclude : public ID3DXInclude {
public:
    PartInclude(const char* data, size_t n, bool withSelf = false) : data_(data), n_(n), withSelf_(withSelf) {}
    int open = 0;

    STDMETHODIMP Open(D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID, LPCVOID* data, UINT* bytes) override
    {
        static const char self[] = "#include \"self.fxh\"\n";
        if (std::strcmp(name, "part.fxh") == 0) {
            *data = n_ ? data_ : nullptr;
            *bytes = UINT(n_);
        } else if (withSelf_ && std::strcmp(name, "self.fxh") == 0) {
            *data = self;
            *bytes = sizeof self - 1;
        } else {
            return E_FAIL;
        }
        ++open;
        return S_OK;
    }
    STDMETHODIMP Close(LPCVOID) override
    {
        --open;
        check(open >= 0);
        return S_OK;
    }

private:
    const char* data_;
    size_t n_;
    bool withSelf_;
};

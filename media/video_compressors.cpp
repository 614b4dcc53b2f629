#include "media/video_compressors.h"

#include <dshow.h>

std::vector<std::string> listVideoCompressors()
{
    std::vector<std::string> names;
    // The setup dialog may run before the program's own CoInitialize.
    const HRESULT init = CoInitialize(nullptr);
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   reinterpret_cast<void**>(&devices))) &&
        devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) == S_OK) {
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            std::string name = "(unknown compressor)";
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                VARIANT value;
                VariantInit(&value);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR) {
                    name.clear();
                    for (const OLECHAR* c = value.bstrVal; c && *c; ++c)
                        name += *c < 0x80 ? char(*c) : '?';
                }
                VariantClear(&value);
                bag->Release();
            }
            names.push_back(name);
            moniker->Release();
        }
    }
    if (monikers)
        monikers->Release();
    if (devices)
        devices->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    return names;
}

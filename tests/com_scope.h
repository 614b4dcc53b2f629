// COM initialised on this thread for the lifetime of a test.
#pragma once

#include <objbase.h>

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

#include "foundation/diagnostics.h"

#include "foundation/byte_string.h"

#include <windows.h>

int diagnosticsLevel = 0;

void reportAssertion(const char* expressionText)
{
    const String message(expressionText, '"', '"', "- internal error -");
    MessageBoxA(nullptr, message.c_str(), "Assertion failed", MB_ICONEXCLAMATION);
}

#include "display/display_settings.h"

#include <cstring>

DisplaySettings::DisplaySettings()
{
    setText(sarName, "demo.sar");
}

DisplaySettings::~DisplaySettings()
{
    setText(sarName, nullptr);
    setText(scriptName, nullptr);
    setText(videoOutput, nullptr);
}

void DisplaySettings::setText(char*& field, const char* text)
{
    char* copy = nullptr;
    if (text) {
        const size_t n = std::strlen(text) + 1;
        copy = new char[n];
        std::memcpy(copy, text, n);
    }
    delete[] field;
    field = copy;
}

// The full setup path's command line and its settings in the registry.
#include "app/setup.h"
#include "display/display_manager.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char kRegistryKey[] = "Software\\Corvane\\Quillon 3D";

const char kHelpText[] = "Valid commandline arguments are:\n"
                         "-setup         show setup dialog\n"
                         "-nosetup     suppress setup dialog\n"
                         "-help           show this helpscreen";

// The arguments as the kernel holds them, for a run whose entry point did
// not hand them over. Kept for the whole run: the pointers are handed out.
void readOwnArguments(int& count, char**& arguments)
{
    static std::string text;
    static std::vector<char*> pointers;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    pointers.clear();
    size_t start = 0;
    while (start < text.size()) {
        pointers.push_back(&text[start]);
        const size_t end = text.find('\0', start);
        if (end == std::string::npos)
            break; // the buffer's own terminator ends the last argument
        start = end + 1;
    }
    pointers.push_back(nullptr);
    count = static_cast<int>(pointers.size()) - 1;
    arguments = pointers.data();
}

// One byte of a value; false when it is missing or not one byte.
bool queryByte(HKEY key, const char* name, u8& value)
{
    BYTE data[1] = {0};
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || size != 1)
        return false;
    value = data[0];
    return true;
}

LSTATUS setByte(HKEY key, const char* name, u8 value)
{
    const BYTE data[1] = {value};
    return RegSetValueExA(key, name, 0, REG_BINARY, data, 1);
}

} // namespace

int Setup::processArgumentCount = -1;
char** Setup::processArguments = nullptr;

void Setup::setProcessArguments(int count, char** arguments)
{
    processArgumentCount = arguments ? count : 0;
    processArguments = arguments;
}

void Setup::ensureProcessArguments()
{
    if (processArgumentCount < 0)
        readOwnArguments(processArgumentCount, processArguments);
}

bool Setup::parseCommandLine(int count, char** arguments)
{
    if (count < 2 || !arguments)
        return true;

    for (int i = 1; i < count; ++i) {
        const char* argument = arguments[i];
        if (!argument || argument[0] != '-')
            continue;
        const char* option = argument + 1;
        if (_stricmp(option, "setup") == 0) {
            nosetup = 0;
        } else if (_stricmp(option, "nosetup") == 0) {
            nosetup = 1;
        } else if (_stricmp(option, "s") == 0) {
            if (i + 1 >= count || !arguments[i + 1])
                return false;
            DisplaySettings::setText(manager->settings->sarName, arguments[++i]);
        } else if (_stricmp(option, "help") == 0) {
            MessageBoxA(nullptr, kHelpText, "Help", MB_ICONINFORMATION);
            return false;
        } else {
            MessageBoxA(nullptr, "invald commandline parameter specified!", "error", MB_ICONEXCLAMATION);
            return false;
        }
    }
    return true;
}

LSTATUS Setup::loadFromRegistry()
{
    HKEY key = nullptr;
    const LSTATUS result = RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DisplaySettings& settings = *manager->settings;
    queryByte(key, "windowed", settings.windowed);
    queryByte(key, "nosound", settings.noSound);
    queryByte(key, "nosetup", nosetup);
    queryByte(key, "ffp", settings.fixedFunction);
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

LSTATUS Setup::saveToRegistry()
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS result = RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS)
        return result;
    const DisplaySettings& settings = *manager->settings;
    LSTATUS failure = ERROR_SUCCESS;
    auto keep = [&](LSTATUS r) {
        if (r != ERROR_SUCCESS && failure == ERROR_SUCCESS)
            failure = r;
    };
    keep(setByte(key, "windowed", settings.windowed));
    keep(setByte(key, "nosound", settings.noSound));
    keep(setByte(key, "ffp", settings.fixedFunction));
    // Written once: a later run keeps what the first one (or the user) stored.
    u8 stored = 0;
    if (!queryByte(key, "nosetup", stored))
        keep(setByte(key, "nosetup", nosetup));
    RegCloseKey(key);
    return failure;
}

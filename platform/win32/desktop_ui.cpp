#include "platform/win32/desktop_ui.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#ifndef QUILLON_GTK_MODULE_PATH
#define QUILLON_GTK_MODULE_PATH ""
#endif

namespace platform::desktop {

namespace {

constexpr const char* kModuleName = "libquillon_gtk.so";

bool envSet(const char* name)
{
    return std::getenv(name) != nullptr;
}

std::string displayName()
{
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return std::string(x && *x ? x : "") + "|" + (w && *w ? w : "");
}

std::string executableFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Backend* loadModule()
{
    std::vector<std::string> candidates;
    if (const char* explicitPath = std::getenv("QUILLON_GTK_MODULE"); explicitPath && *explicitPath)
        candidates.push_back(explicitPath);
    if (std::string folder = executableFolder(); !folder.empty())
        candidates.push_back(folder + "/" + kModuleName);
    if (*QUILLON_GTK_MODULE_PATH)
        candidates.push_back(QUILLON_GTK_MODULE_PATH);
    std::string errors;
    for (const std::string& path : candidates) {
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            errors += "\n  ";
            errors += ::dlerror();
            continue;
        }
        auto entry = reinterpret_cast<BackendEntry>(::dlsym(module, kBackendEntryName));
        if (Backend* b = entry ? entry() : nullptr)
            return b; // stays loaded for the rest of the process
        errors += "\n  " + path + ": no " + kBackendEntryName;
        ::dlclose(module);
    }
    std::fprintf(stderr, "desktop dialogs unavailable, the dialog driver answers instead:%s\n",
                 errors.empty() ? " no module found" : errors.c_str());
    return nullptr;
}

struct State {
    bool loaded = false;
    Backend* module = nullptr;
    bool initialised = false;
    std::string failedDisplay; // the display a failed initialisation tried
};

State& state()
{
    static State s;
    return s;
}

// The initialised backend, for callers that cannot wait for desktopLock():
// a box holds it for as long as it is open.
std::atomic<Backend*> initialisedBackend{nullptr};

} // namespace

std::recursive_mutex& desktopLock()
{
    static std::recursive_mutex m;
    return m;
}

bool displayPresent()
{
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

Backend* backend()
{
    std::lock_guard<std::recursive_mutex> lock(desktopLock());
    State& s = state();
    if (!displayPresent())
        return nullptr;
    if (s.initialised)
        return s.module;
    if (!s.loaded) {
        s.loaded = true;
        s.module = loadModule();
    }
    if (!s.module)
        return nullptr;
    const std::string display = displayName();
    if (display == s.failedDisplay)
        return nullptr;
    if (!s.module->initialise()) {
        std::fprintf(stderr, "cannot open the display; the dialog driver answers instead\n");
        s.failedDisplay = display;
        return nullptr;
    }
    s.initialised = true;
    initialisedBackend = s.module;
    return s.module;
}

void interruptDesktop()
{
    if (Backend* ui = initialisedBackend.load())
        ui->interrupt();
}

bool dialogsOnDesktop()
{
    if (!displayPresent() || envSet("QUILLON_DIALOG") || envSet("QUILLON_HEADLESS"))
        return false;
    return backend() != nullptr;
}

bool messageBoxesOnDesktop()
{
    return dialogsOnDesktop();
}

} // namespace platform::desktop

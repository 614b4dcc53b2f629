#include "platform/win32/message_box.h"

#include "platform/win32/desktop_ui.h"
#include "platform/win32/windowing_internal.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex& recorderMutex()
{
    static std::mutex m;
    return m;
}

std::vector<platform::MessageBoxRecord>& recorder()
{
    static std::vector<platform::MessageBoxRecord> records;
    return records;
}

} // namespace

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const char* t = text ? text : "";
    const char* c = caption ? caption : "Error";
    std::fprintf(stderr, "[%s] %s%s", c, t, (*t && t[std::char_traits<char>::length(t) - 1] == '\n') ? "" : "\n");
    std::fflush(stderr);
    {
        std::lock_guard<std::mutex> lock(recorderMutex());
        recorder().push_back({owner, t, c, type});
    }
    // On a desktop the user also sees the box and answers it. Tests and
    // unattended runs (QUILLON_HEADLESS, QUILLON_DIALOG) never block here,
    // nor does a program that was told to end.
    if (!platform::detail::terminationRequested() && platform::desktop::messageBoxesOnDesktop()) {
        std::lock_guard<std::recursive_mutex> lock(platform::desktop::desktopLock());
        if (platform::desktop::Backend* ui = platform::desktop::backend())
            return ui->messageBox(t, c, type);
    }
    return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
}

namespace platform {

const std::vector<MessageBoxRecord>& recordedMessageBoxes()
{
    return recorder();
}

void clearRecordedMessageBoxes()
{
    std::lock_guard<std::mutex> lock(recorderMutex());
    recorder().clear();
}

} // namespace platform

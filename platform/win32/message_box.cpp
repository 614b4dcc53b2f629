#include "platform/win32/message_box.h"

#include <cstdio>
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

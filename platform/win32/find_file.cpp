#include "platform/win32/find_file.h"

#include "platform/win32/file_io.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

struct FindSearch {
    int unused = 0;
};

// The open searches, so FindClose refuses a handle it never gave out or
// already closed instead of freeing it.
std::mutex searchesLock;
std::set<FindSearch*>& openSearches()
{
    static std::set<FindSearch*> searches;
    return searches;
}

constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ull;

FILETIME toFileTime(const timespec& t)
{
    const uint64_t ticks = kUnixEpochIn100ns + (uint64_t)t.tv_sec * 10000000ull + (uint64_t)t.tv_nsec / 100u;
    return FILETIME{(DWORD)ticks, (DWORD)(ticks >> 32)};
}

uint64_t ticksOf(const FILETIME& t)
{
    return (uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

// stat() of the name with Windows separators; a file whose name differs
// only in case is reached through the runtime's own lookup in _open.
bool statIgnoringCase(const char* name, struct stat& st)
{
    std::string path(name);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (::stat(path.c_str(), &st) == 0)
        return true;
    const int fd = _open(name, _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return false;
    const bool ok = ::fstat(fd, &st) == 0;
    _close(fd);
    return ok;
}

} // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data)
{
    struct stat st;
    const bool plain = name && *name && !std::strpbrk(name, "*?");
    if (!data || !plain || !statIgnoringCase(name, st)) {
        SetLastError(name && data ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::memset(data, 0, sizeof *data);
    if (S_ISDIR(st.st_mode))
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else if ((st.st_mode & S_IWUSR) == 0)
        data->dwFileAttributes = FILE_ATTRIBUTE_READONLY;
    else
        data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = toFileTime(st.st_ctim);
    data->ftLastAccessTime = toFileTime(st.st_atim);
    data->ftLastWriteTime = toFileTime(st.st_mtim);
    const uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    data->nFileSizeLow = (DWORD)size;
    // The found name is the last component of the asked name.
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;
    std::strncpy(data->cFileName, base, MAX_PATH - 1);
    auto* search = new FindSearch;
    std::lock_guard<std::mutex> hold(searchesLock);
    openSearches().insert(search);
    return search;
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA)
{
    bool known;
    {
        std::lock_guard<std::mutex> hold(searchesLock);
        known = openSearches().count(static_cast<FindSearch*>(search)) != 0;
    }
    SetLastError(known ? ERROR_NO_MORE_FILES : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI FindClose(HANDLE search)
{
    auto* s = static_cast<FindSearch*>(search);
    {
        std::lock_guard<std::mutex> hold(searchesLock);
        if (openSearches().erase(s) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete s;
    return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b)
{
    const uint64_t x = ticksOf(*a);
    const uint64_t y = ticksOf(*b);
    return x < y ? -1 : x > y ? 1 : 0;
}

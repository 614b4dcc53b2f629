// Finding a file and its attributes (FindFirstFileA), over stat(). Only
// plain names are matched, without wildcards: the engine asks for one
// known file at a time, to compare modification times. Like the runtime's
// _open, a name that differs from the file on disk only in letter case is
// still found.
#pragma once

#include "platform/win32/last_error.h"
#include "platform/win32/win_types.h"

#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef INVALID_HANDLE_VALUE
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2L
#endif
#ifndef ERROR_NO_MORE_FILES
#define ERROR_NO_MORE_FILES 18L
#endif

#ifndef FILE_ATTRIBUTE_READONLY
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#endif

// 100-nanosecond intervals since 1601-01-01 (UTC).
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// INVALID_HANDLE_VALUE (last error ERROR_FILE_NOT_FOUND) when nothing of
// that name exists; otherwise a search handle for FindClose.
HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data);
// A plain name matches one file only, so there is never a next one.
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE search);
// -1, 0 or 1 as a is earlier than, equal to or later than b.
LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b);

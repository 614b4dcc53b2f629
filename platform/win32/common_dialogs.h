// The save-file chooser and the text prompt. On a desktop they are GTK
// dialogs; without one (see dialog.h) the dialog driver answers: the
// script's "save <path>" or "cancel" when it is the next action, else the
// file name the caller proposed.
#pragma once

#include "platform/win32/win_types.h"

#include <cstddef>

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter; // pairs of texts, each ending in NUL; a second NUL ends the list
    LPWSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPWSTR lpstrFile; // in: the proposed name; out: the chosen path
    DWORD nMaxFile;   // characters, including the NUL
    LPWSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCWSTR lpstrInitialDir;
    LPCWSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCWSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCWSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
} OPENFILENAMEW, *LPOPENFILENAMEW;

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_NOCHANGEDIR 0x00000008
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_EXPLORER 0x00080000

#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_INVALIDFILENAME 0x3002
#define FNERR_BUFFERTOOSMALL 0x3003

BOOL WINAPI GetSaveFileNameW(LPOPENFILENAMEW request);
// Why the last chooser returned FALSE: 0 when the user cancelled.
DWORD WINAPI CommDlgExtendedError();

namespace platform {

// A modal prompt for one line of text (title, a line of explanation, an
// edit, OK and Cancel), built on the dialog template kTextPromptTemplate.
// `buffer` holds the proposed answer ("frame" when it is empty) and gets the
// answer, cut to size - 1 characters. False when the user cancelled; the
// buffer is then unchanged. Headless, the script answers like any dialog:
// "text 1001 <answer>; press 1".
bool promptText(const char* title, const char* text, char* buffer, size_t size, HWND owner = nullptr);

} // namespace platform

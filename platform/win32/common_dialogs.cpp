#include "platform/win32/common_dialogs.h"

#include "platform/platform_limits.h"
#include "platform/win32/desktop_ui.h"
#include "platform/win32/dialog.h"
#include "platform/win32/dialog_internal.h"
#include "platform/win32/file_io.h"
#include "platform/win32/utf8.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

thread_local DWORD lastChooserError = 0;

// Bounded reads of the caller's wide texts: stop at NUL or after `limit`
// characters, whichever comes first.
std::wstring wideText(LPCWSTR text, size_t limit = platform::limits::chooserTextChars)
{
    std::wstring out;
    for (size_t i = 0; text && i < limit && text[i]; ++i)
        out += text[i];
    return out;
}

std::string toUtf8(const std::wstring& text)
{
    std::string out;
    for (wchar_t wc : text) {
        uint32_t c = uint32_t(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        platform::appendUtf8(out, c);
    }
    return out;
}

// Invalid sequences become U+FFFD, one per byte.
std::wstring fromUtf8(const std::string& text)
{
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = length > 0 && i + size_t(length) <= n;
        for (int k = 1; ok && k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (!ok) {
            out += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        out += wchar_t(c);
        i += size_t(length);
    }
    return out;
}

// The description/pattern pairs of lpstrFilter.
std::vector<std::pair<std::string, std::string>> parseFilter(LPCWSTR filter)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    const wchar_t* p = filter;
    for (int n = 0; p && *p && n < platform::limits::chooserFilters; ++n) {
        const std::wstring name = wideText(p);
        p += name.size() + 1;
        if (!*p)
            break; // a description without patterns: the list is malformed
        const std::wstring patterns = wideText(p);
        p += patterns.size() + 1;
        pairs.emplace_back(toUtf8(name), toUtf8(patterns));
    }
    return pairs;
}

size_t nameStart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? 0 : slash + 1;
}

// Writes the chosen path back the way the chooser does: the default
// extension added when the name has none, offsets set, the title copied.
BOOL deliver(OPENFILENAMEW& request, std::wstring path)
{
    const size_t start = nameStart(path);
    size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < start) {
        const std::wstring extension = wideText(request.lpstrDefExt, platform::limits::chooserExtensionChars);
        if (!extension.empty()) {
            path += L'.';
            path += extension;
            dot = path.size() - extension.size() - 1;
        } else {
            dot = std::wstring::npos;
        }
    }
    if (path.size() + 1 > request.nMaxFile) {
        // As documented: the first character holds the size it needs.
        request.lpstrFile[0] = wchar_t(path.size() + 1);
        lastChooserError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    if (path.size() > 0xFFFF) {
        lastChooserError = FNERR_INVALIDFILENAME;
        return FALSE;
    }
    // An output is never written through a link at its name, nor into a
    // FIFO or a device: such a name is refused here already, so that nobody
    // confirms replacing a file that would not be written.
    const std::string disk = platform::diskPath(toUtf8(path).c_str());
    struct stat st {};
    if (::lstat(disk.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const std::string why = S_ISLNK(st.st_mode) ? "it is a symbolic link" : "it is not a regular file";
        std::fprintf(stderr, "save-file chooser: \"%s\" is refused: %s\n", disk.c_str(), why.c_str());
        platform::detail::noteDialogEvent("error: save-file chooser: \"" + disk + "\" is refused: " + why);
        lastChooserError = FNERR_INVALIDFILENAME;
        return FALSE;
    }
    std::wmemcpy(request.lpstrFile, path.c_str(), path.size() + 1);
    request.nFileOffset = WORD(start);
    request.nFileExtension = WORD(dot == std::wstring::npos ? path.size() : dot + 1);
    if (request.lpstrFileTitle && request.nMaxFileTitle > 0) {
        const std::wstring title = path.substr(start).substr(0, request.nMaxFileTitle - 1);
        std::wmemcpy(request.lpstrFileTitle, title.c_str(), title.size() + 1);
    }
    platform::detail::noteDialogEvent("save " + toUtf8(path));
    return TRUE;
}

BOOL cancelled()
{
    platform::detail::noteDialogEvent("cancel save");
    lastChooserError = 0;
    return FALSE;
}

struct PromptContext {
    const char* title;
    const char* text;
    std::string answer;
};

INT_PTR CALLBACK promptProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* context = reinterpret_cast<PromptContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        context = reinterpret_cast<PromptContext*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, context->title);
        SetDlgItemTextA(dialog, platform::kTextPromptLabel, context->text);
        SetDlgItemTextA(dialog, platform::kTextPromptEdit, context->answer.c_str());
        return TRUE;
    case WM_COMMAND:
        if (!context)
            return FALSE;
        if (LOWORD(wParam) == IDOK) {
            const HWND edit = GetDlgItem(dialog, platform::kTextPromptEdit);
            std::string text(size_t(GetWindowTextLengthA(edit)) + 1, '\0');
            text.resize(size_t(GetWindowTextA(edit, text.data(), int(text.size()))));
            context->answer = text;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

BOOL WINAPI GetSaveFileNameW(LPOPENFILENAMEW request)
{
    if (!request || request->lStructSize != sizeof(OPENFILENAMEW)) {
        lastChooserError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!request->lpstrFile || request->nMaxFile == 0) {
        lastChooserError = CDERR_INITIALIZATION;
        return FALSE;
    }
    lastChooserError = 0;
    const std::wstring proposed = wideText(request->lpstrFile, request->nMaxFile);

    if (platform::desktop::dialogsOnDesktop()) {
        std::lock_guard<std::recursive_mutex> lock(platform::desktop::desktopLock());
        if (platform::desktop::Backend* ui = platform::desktop::backend()) {
            platform::desktop::SaveFileRequest r;
            r.title = toUtf8(wideText(request->lpstrTitle));
            if (r.title.empty())
                r.title = "Save As";
            r.filters = parseFilter(request->lpstrFilter);
            const size_t start = nameStart(proposed);
            r.initialName = toUtf8(proposed.substr(start));
            r.initialFolder = toUtf8(start ? proposed.substr(0, start) : wideText(request->lpstrInitialDir));
            std::string chosen;
            if (!ui->saveFile(r, chosen))
                return cancelled();
            return deliver(*request, fromUtf8(chosen));
        }
    }

    // The driver: the script's answer if it is next, else the proposal.
    const std::string verb = platform::detail::peekDialogVerb();
    if (verb == "save" || verb == "cancel") {
        std::string action;
        platform::detail::popDialogAction(action);
        if (verb == "cancel")
            return cancelled();
        std::string path = action.substr(4);
        const size_t b = path.find_first_not_of(" \t");
        path = b == std::string::npos ? std::string() : path.substr(b);
        if (path.empty()) {
            std::fprintf(stderr, "save-file chooser: \"%s\": a path is missing\n", action.c_str());
            platform::detail::noteDialogEvent("error: save-file chooser: \"" + action + "\": a path is missing");
            return cancelled();
        }
        return deliver(*request, fromUtf8(path));
    }
    if (proposed.empty())
        return cancelled();
    return deliver(*request, proposed);
}

DWORD WINAPI CommDlgExtendedError()
{
    return lastChooserError;
}

namespace platform {

bool promptText(const char* title, const char* text, char* buffer, size_t size, HWND owner)
{
    if (!buffer || size == 0)
        return false;
    PromptContext context{title ? title : "", text ? text : "", std::string()};
    context.answer.assign(buffer, strnlen(buffer, size));
    if (context.answer.empty())
        context.answer = "frame";
    const INT_PTR result = DialogBoxParamA(nullptr, kTextPromptTemplate, owner, &promptProcedure,
                                           reinterpret_cast<LPARAM>(&context));
    if (result != IDOK)
        return false;
    const size_t n = std::min(context.answer.size(), size - 1);
    std::memcpy(buffer, context.answer.data(), n);
    buffer[n] = 0;
    return true;
}

} // namespace platform

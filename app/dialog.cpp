#include "app/dialog.h"

#include "foundation/diagnostics.h"
#include "foundation/log.h"

#include <string>

Dialog::Dialog(i32 templateId) : templateId(templateId)
{
}

Dialog::Dialog(const char* templateName) : templateName(templateName)
{
}

Dialog::~Dialog() = default;

int Dialog::run(HINSTANCE instance, HWND parent)
{
    const LPCSTR resource = templateName ? templateName : MAKEINTRESOURCEA(templateId);
    const int result = static_cast<int>(
        DialogBoxParamA(instance, resource, parent, &Dialog::dialogProc, reinterpret_cast<LPARAM>(this)));
    logStream << result << std::endl;
    return result;
}

INT_PTR CALLBACK Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // The user-data slot is pointer-sized, so the object survives 64 bits.
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        if (Dialog* dialog = reinterpret_cast<Dialog*>(lParam))
            dialog->handle = window;
    }
    Dialog* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!dialog)
        return FALSE;
    ENGINE_ASSERT(dialog->handle == window);
    return dialog->handleMessage(message, wParam, lParam);
}

BOOL Dialog::handleMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog();
    case WM_COMMAND:
        return onCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            onClose();
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL Dialog::onInitDialog()
{
    return TRUE;
}

BOOL Dialog::onCommand(int, int)
{
    return FALSE;
}

BOOL Dialog::onClose()
{
    EndDialog(handle, -1);
    return TRUE;
}

int Dialog::comboText(int id, int index, char* text, int size) const
{
    if (!text || size <= 0)
        return 0;
    text[0] = '\0';
    // CB_GETLBTEXT has no size argument: read the length first so a long
    // entry cannot overrun the caller's buffer.
    const LRESULT length = SendDlgItemMessageA(handle, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0)
        return 0;
    if (length < size)
        return static_cast<int>(
            SendDlgItemMessageA(handle, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
    std::string whole(static_cast<size_t>(length) + 1, '\0');
    SendDlgItemMessageA(handle, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(whole.data()));
    whole.copy(text, static_cast<size_t>(size - 1));
    text[size - 1] = '\0';
    return size - 1;
}

int Dialog::comboSelection(int id) const
{
    const LRESULT r = SendDlgItemMessageA(handle, id, CB_GETCURSEL, 0, 0);
    return r < 0 ? 0 : static_cast<int>(r);
}

int Dialog::comboCount(int id) const
{
    const LRESULT r = SendDlgItemMessageA(handle, id, CB_GETCOUNT, 0, 0);
    return r < 0 ? 0 : static_cast<int>(r);
}

void Dialog::comboSelect(int id, int index) const
{
    SendDlgItemMessageA(handle, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Dialog::comboAdd(int id, const char* text) const
{
    return static_cast<int>(SendDlgItemMessageA(handle, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void Dialog::comboClear(int id) const
{
    SendDlgItemMessageA(handle, id, CB_RESETCONTENT, 0, 0);
}

bool Dialog::isChecked(int id) const
{
    return SendDlgItemMessageA(handle, id, BM_GETCHECK, 0, 0) != 0;
}

void Dialog::setChecked(int id, bool checked) const
{
    SendDlgItemMessageA(handle, id, BM_SETCHECK, checked ? 1 : 0, 0);
}

UINT Dialog::itemInt(int id) const
{
    BOOL translated = FALSE;
    return GetDlgItemInt(handle, id, &translated, FALSE);
}

UINT Dialog::itemText(int id, char* text, int size) const
{
    return GetDlgItemTextA(handle, id, text, size);
}

void Dialog::setItemInt(int id, UINT value) const
{
    SetDlgItemInt(handle, id, value, FALSE);
}

void Dialog::setItemText(int id, const char* text) const
{
    SetDlgItemTextA(handle, id, text);
}

void Dialog::enableItem(int id, bool enable) const
{
    EnableWindow(GetDlgItem(handle, id), enable ? TRUE : FALSE);
}

void Dialog::show(bool visible) const
{
    ShowWindow(handle, visible ? SW_SHOW : SW_HIDE);
}

void Dialog::end(INT_PTR result) const
{
    EndDialog(handle, result);
}

#include "platform/win32/dialog.h"

#include "platform/win32/bmp_image.h"
#include "platform/win32/desktop_ui.h"
#include "platform/win32/dialog_internal.h"
#include "platform/win32/message_box.h"
#include "platform/win32/resources.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif
#ifndef ERROR_CONTROL_ID_NOT_FOUND
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#endif
#ifndef ERROR_RESOURCE_DATA_NOT_FOUND
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#endif

namespace platform {

namespace {

struct DialogStack {
    std::mutex mutex;
    std::vector<HWND> open; // innermost last
};

DialogStack& dialogStack()
{
    static DialogStack s;
    return s;
}

std::string templateLabel(LPCSTR name)
{
    if (!name)
        return "(null)";
    if (IS_INTRESOURCE(name))
        return std::to_string((unsigned)(WORD)(ULONG_PTR)name);
    return name;
}

LONG_PTR readSlot(HWND dialog, size_t offset)
{
    WindowObject* record = findWindowObject(dialog);
    LONG_PTR value = 0;
    if (record && record->extraBytes.size() >= offset + sizeof value)
        std::memcpy(&value, record->extraBytes.data() + offset, sizeof value);
    return value;
}

void writeSlot(HWND dialog, size_t offset, LONG_PTR value)
{
    WindowObject* record = findWindowObject(dialog);
    if (record && record->extraBytes.size() >= offset + sizeof value)
        std::memcpy(record->extraBytes.data() + offset, &value, sizeof value);
}

// Messages whose result is the dialog procedure's own return value rather
// than DWLP_MSGRESULT.
bool returnsDirectly(UINT message)
{
    return message == WM_INITDIALOG || (message >= 0x0132 && message <= 0x0138) || // WM_CTLCOLOR*
           message == 0x0039 || message == 0x002E || message == 0x002F ||          // COMPAREITEM, VKEYTOITEM, CHARTOITEM
           message == 0x0037;                                                       // WM_QUERYDRAGICON
}

LRESULT CALLBACK dialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefDlgProcA(dialog, message, wParam, lParam);
}

HWND createDialog(HINSTANCE instance, const DialogTemplate& source, const std::string& name, HWND owner)
{
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    const RECT frame = frameInsets(style, 0);
    const LONG outerWidth = source.width + frame.left + frame.right;
    const LONG outerHeight = source.height + frame.top + frame.bottom;
    // Centred on a nominal 1024 x 768 screen: asking for the real one could
    // start the window system's video just for a dialog, and the desktop
    // view centres the dialog itself.
    const LONG screenWidth = 1024, screenHeight = 768;
    const LONG left = std::max<LONG>(0, (screenWidth - outerWidth) / 2);
    const LONG top = std::max<LONG>(0, (screenHeight - outerHeight) / 2);

    WindowCreateParams params;
    params.className = WC_DIALOG;
    params.procedure = &dialogWindowProc;
    params.instance = instance;
    params.text = source.caption ? source.caption : "";
    params.style = style;
    params.parent = owner;
    params.windowRect = RECT{left, top, left + outerWidth, top + outerHeight};
    params.extraBytes = DLGWINDOWEXTRA;
    params.sdlBacked = false;
    auto data = std::make_unique<detail::DialogData>();
    data->name = name;
    data->source = &source;
    params.extension = std::move(data);
    const HWND dialog = createWindowObject(std::move(params));
    if (!dialog)
        return nullptr;

    for (size_t i = 0; i < source.controlCount; ++i) {
        const DialogControlTemplate& c = source.controls[i];
        WindowCreateParams cp;
        cp.className = detail::controlClassName(c.kind);
        cp.procedure = &detail::controlWindowProc;
        cp.instance = instance;
        cp.text = c.text ? c.text : "";
        cp.style = WS_CHILD | WS_VISIBLE | detail::controlStyle(c.kind);
        if (c.flags & kControlGroup)
            cp.style |= WS_GROUP;
        if (c.flags & kControlDisabled)
            cp.style |= WS_DISABLED;
        cp.parent = dialog;
        cp.controlId = c.id;
        cp.windowRect = RECT{c.x, c.y, c.x + c.width, c.y + c.height};
        auto control = std::make_unique<detail::ControlData>();
        control->kind = c.kind;
        control->image = c.image;
        cp.extension = std::move(control);
        createWindowObject(std::move(cp));
    }
    return dialog;
}

// The control that gets the focus first: the first visible, enabled tab stop.
HWND firstTabStop(HWND dialog)
{
    WindowObject* record = findWindowObject(dialog);
    if (!record)
        return nullptr;
    for (HWND child : record->children) {
        WindowObject* c = findWindowObject(child);
        if (c && (c->style & WS_TABSTOP) && c->visible && c->enabled)
            return child;
    }
    return nullptr;
}

bool dialogHasEnded(HWND dialog)
{
    detail::DialogData* data = detail::dialogData(dialog);
    return !data || data->ended;
}

desktop::Image loadPicture(ControlKind kind, WORD id)
{
    desktop::Image image;
    if (!id)
        return image;
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), kind == ControlKind::Icon ? RT_ICON : RT_BITMAP);
    if (!resource)
        return image;
    RgbaImage decoded;
    if (decodeBmp(LockResource(LoadResource(nullptr, resource)), SizeofResource(nullptr, resource), decoded)) {
        image.width = decoded.width;
        image.height = decoded.height;
        image.rgba = std::move(decoded.rgba);
    }
    return image;
}

// The dialog as the desktop view sees it; the user's input becomes the
// same gestures the driver plays.
class DesktopHost final : public desktop::DialogHost {
public:
    explicit DesktopHost(HWND dialog) : dialog_(dialog)
    {
        if (WindowObject* record = findWindowObject(dialog))
            controls_ = record->children;
        pictures_.resize(controls_.size());
    }

    std::string caption() override
    {
        WindowObject* record = findWindowObject(dialog_);
        return record ? record->text : std::string();
    }

    int clientWidth() override
    {
        detail::DialogData* data = detail::dialogData(dialog_);
        return data && data->source ? data->source->width : 0;
    }

    int clientHeight() override
    {
        detail::DialogData* data = detail::dialogData(dialog_);
        return data && data->source ? data->source->height : 0;
    }

    bool visible() override
    {
        WindowObject* record = findWindowObject(dialog_);
        return record && record->visible;
    }

    size_t controlCount() override { return controls_.size(); }

    desktop::ControlState control(size_t index) override
    {
        desktop::ControlState state;
        WindowObject* record = index < controls_.size() ? findWindowObject(controls_[index]) : nullptr;
        detail::ControlData* data = record ? detail::controlData(controls_[index]) : nullptr;
        if (!record || !data) {
            state.exists = false;
            return state;
        }
        state.id = record->controlId;
        state.kind = data->kind;
        state.text = record->text;
        state.x = record->windowRect.left;
        state.y = record->windowRect.top;
        state.width = record->windowRect.right - record->windowRect.left;
        state.height = record->windowRect.bottom - record->windowRect.top;
        state.enabled = record->enabled;
        state.visible = record->visible;
        state.groupStart = (record->style & WS_GROUP) != 0;
        state.check = data->check;
        state.items = data->items;
        state.selection = data->selection;
        if (data->kind == ControlKind::Bitmap || data->kind == ControlKind::Icon) {
            if (!pictures_[index].loaded) {
                pictures_[index].loaded = true;
                pictures_[index].image = loadPicture(data->kind, data->image);
            }
            state.image = pictures_[index].image;
        }
        return state;
    }

    void click(size_t index) override
    {
        const HWND control = usable(index);
        if (!control)
            return;
        WindowObject* record = findWindowObject(control);
        detail::ControlData* data = detail::controlData(control);
        const bool checkable = data->kind == ControlKind::CheckBox || data->kind == ControlKind::RadioButton;
        const std::string verb = checkable ? (data->kind == ControlKind::CheckBox && data->check ? "uncheck " : "check ")
                                           : "press ";
        detail::noteDialogEvent(verb + std::to_string(record->controlId));
        detail::clickControl(control);
        detail::notifyDialogObserver(dialog_);
    }

    void pick(size_t index, int item) override
    {
        const HWND control = usable(index);
        detail::ControlData* data = detail::controlData(control);
        if (!control || item < 0 || item >= int(data->items.size()) || item == data->selection)
            return;
        detail::noteDialogEvent("select " + std::to_string(GetDlgCtrlID(control)) + " " + std::to_string(item));
        detail::pickComboItem(control, item);
        detail::notifyDialogObserver(dialog_);
    }

    void edit(size_t index, const std::string& text) override
    {
        const HWND control = usable(index);
        if (!control)
            return;
        detail::noteDialogEvent("text " + std::to_string(GetDlgCtrlID(control)) + " " + text);
        detail::typeText(control, text);
        detail::notifyDialogObserver(dialog_);
    }

    void closeRequested() override
    {
        detail::noteDialogEvent("close");
        callWindowProcedure(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
        detail::notifyDialogObserver(dialog_);
    }

    void escapePressed() override
    {
        const HWND cancel = findChildWindow(dialog_, IDCANCEL);
        WindowObject* record = findWindowObject(cancel);
        if (record && !record->enabled)
            return;
        callWindowProcedure(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
    }

    bool nextAction(desktop::UserAction& out) override
    {
        using desktop::UserAction;
        std::string text;
        while (!dialogHasEnded(dialog_) && detail::popDialogAction(text)) {
            detail::DialogAction action;
            if (!detail::parseDialogAction(dialog_, text, action))
                return false;
            if (action.verb == "close") {
                out = UserAction{UserAction::Close, 0, 0, {}};
                return true;
            }
            const auto at = std::find(controls_.begin(), controls_.end(), action.control);
            WindowObject* record = findWindowObject(action.control);
            detail::ControlData* data = detail::controlData(action.control);
            const size_t index = size_t(at - controls_.begin());
            // Actions that would leave the widget as it is (or that concern
            // a control the view does not show) are played directly.
            bool direct = at == controls_.end() || !record || !data;
            if (!direct) {
                if (action.verb == "press")
                    out = UserAction{UserAction::Press, index, 0, {}};
                else if (action.verb == "check" || action.verb == "uncheck") {
                    direct = (data->check == BST_CHECKED) == (action.verb == "check");
                    out = UserAction{UserAction::Toggle, index, 0, {}};
                } else if (action.verb == "select") {
                    direct = action.item == data->selection;
                    out = UserAction{UserAction::Select, index, action.item, {}};
                } else {
                    direct = action.text == record->text;
                    out = UserAction{UserAction::Type, index, 0, action.text};
                }
            }
            if (!direct)
                return true;
            detail::performDialogAction(dialog_, action);
        }
        return false;
    }

    bool ended() override { return dialogHasEnded(dialog_); }

    void presented() override { detail::noteDesktopPresented(); }

private:
    struct Picture {
        bool loaded = false;
        desktop::Image image;
    };

    HWND dialog_;
    std::vector<HWND> controls_;
    std::vector<Picture> pictures_;

    HWND usable(size_t index)
    {
        if (ended() || index >= controls_.size())
            return nullptr;
        WindowObject* record = findWindowObject(controls_[index]);
        if (!record || !record->enabled || !detail::controlData(controls_[index]))
            return nullptr;
        return controls_[index];
    }
};

bool parseDialogInt(const std::string& text, bool isSigned, UINT& value)
{
    size_t i = 0;
    while (i < text.size() && std::isspace((unsigned char)text[i]))
        ++i;
    bool negative = false;
    if (isSigned && i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size() || !std::isdigit((unsigned char)text[i]))
        return false;
    unsigned long long magnitude = 0;
    for (; i < text.size() && std::isdigit((unsigned char)text[i]); ++i) {
        magnitude = magnitude * 10 + unsigned(text[i] - '0');
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    while (i < text.size() && std::isspace((unsigned char)text[i]))
        ++i;
    if (i != text.size())
        return false;
    if (isSigned) {
        if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull)
            return false;
        const long long v = negative ? -(long long)magnitude : (long long)magnitude;
        value = UINT(int(v));
    } else {
        value = UINT(magnitude);
    }
    return true;
}

std::string controlText(HWND control)
{
    const LRESULT length = callWindowProcedure(control, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0)
        return {};
    std::string text(size_t(length) + 1, '\0');
    const LRESULT n = callWindowProcedure(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(size_t(std::max<LRESULT>(0, std::min<LRESULT>(n, length))));
    return text;
}

} // namespace

namespace detail {

std::string describeDialog(HWND dialog)
{
    DialogData* data = dialogData(dialog);
    WindowObject* record = findWindowObject(dialog);
    std::string s = "dialog " + (data ? data->name : std::string("?"));
    if (record && !record->text.empty())
        s += " \"" + record->text + "\"";
    return s;
}

} // namespace detail

HWND activeDialog()
{
    DialogStack& s = dialogStack();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.open.empty() ? nullptr : s.open.back();
}

std::vector<DialogControlInfo> dialogControls(HWND dialog)
{
    std::vector<DialogControlInfo> result;
    WindowObject* record = detail::dialogData(dialog) ? findWindowObject(dialog) : nullptr;
    if (!record)
        return result;
    for (HWND child : record->children) {
        WindowObject* c = findWindowObject(child);
        detail::ControlData* data = detail::controlData(child);
        if (!c || !data)
            continue;
        DialogControlInfo info;
        info.id = c->controlId;
        info.kind = data->kind;
        info.text = c->text;
        info.enabled = c->enabled;
        info.visible = c->visible;
        info.check = data->check;
        info.items = data->items;
        info.selection = data->selection;
        result.push_back(std::move(info));
    }
    return result;
}

} // namespace platform

using namespace platform;

LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto procedure = reinterpret_cast<DLGPROC>(readSlot(dialog, DWLP_DLGPROC));
    if (procedure) {
        writeSlot(dialog, DWLP_MSGRESULT, 0);
        const INT_PTR handled = procedure(dialog, message, wParam, lParam);
        if (handled)
            return returnsDirectly(message) ? handled : readSlot(dialog, DWLP_MSGRESULT);
    }
    switch (message) {
    case WM_INITDIALOG:
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            callWindowProcedure(dialog, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE: {
        // Closing a dialog is its Cancel button; a disabled one forbids it.
        const HWND cancel = findChildWindow(dialog, IDCANCEL);
        WindowObject* record = findWindowObject(cancel);
        if (!record || record->enabled)
            callWindowProcedure(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcA(dialog, message, wParam, lParam);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                               LPARAM initParam)
{
    registerBuiltinDialogResources();
    const std::string name = templateLabel(templateName);
    HRSRC resource = templateName ? FindResourceA(instance, templateName, RT_DIALOG) : nullptr;
    const DialogTemplate* source =
        resource ? dialogTemplateFrom(LockResource(LoadResource(instance, resource)), SizeofResource(instance, resource))
                 : nullptr;
    if (!source) {
        std::fprintf(stderr, "DialogBoxParamA: %s dialog template %s\n", resource ? "unusable" : "no", name.c_str());
        detail::noteDialogEvent("missing " + name);
        SetLastError(resource ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    if (owner && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }

    const HWND dialog = createDialog(instance, *source, name, owner);
    if (!dialog)
        return -1;
    writeSlot(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(procedure));
    {
        DialogStack& s = dialogStack();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.open.push_back(dialog);
    }
    // A modal dialog disables its owner until it ends.
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);

    detail::noteDialogEvent("open " + name);
    callWindowProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop(dialog)), initParam);
    detail::notifyDialogObserver(dialog);
    if (!dialogHasEnded(dialog)) {
        ShowWindow(dialog, SW_SHOW);
        bool shown = false;
        if (desktop::dialogsOnDesktop()) {
            std::lock_guard<std::recursive_mutex> lock(desktop::desktopLock());
            if (desktop::Backend* ui = desktop::backend()) {
                DesktopHost host(dialog);
                ui->runDialog(host);
                shown = true;
            }
        }
        if (!shown)
            detail::driveDialog(dialog);
    }

    const detail::DialogData* data = detail::dialogData(dialog);
    const INT_PTR result = data ? data->result : -1;
    detail::noteDialogEvent("end " + name + " " + std::to_string(result));
    if (ownerWasEnabled)
        EnableWindow(owner, TRUE);
    {
        DialogStack& s = dialogStack();
        std::lock_guard<std::mutex> lock(s.mutex);
        std::erase(s.open, dialog);
    }
    DestroyWindow(dialog);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    detail::DialogData* data = detail::dialogData(dialog);
    if (!data) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The first EndDialog decides; the dialog goes once control is back in
    // its modal loop.
    if (!data->ended) {
        data->ended = true;
        data->result = result;
    }
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    HWND control = findChildWindow(dialog, id);
    if (!control)
        SetLastError(findWindowObject(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return control;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND control = GetDlgItem(dialog, id);
    return control ? callWindowProcedure(control, message, wParam, lParam) : 0;
}

UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned)
{
    if (translated)
        *translated = FALSE;
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return 0;
    UINT value = 0;
    if (!parseDialogInt(controlText(control), isSigned != FALSE, value))
        return 0;
    if (translated)
        *translated = TRUE;
    return value;
}

BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    const std::string text = isSigned ? std::to_string(int(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, text.c_str());
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size)
{
    if (!text || size <= 0)
        return 0;
    text[0] = 0;
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return 0;
    return UINT(callWindowProcedure(control, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(text)));
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    return callWindowProcedure(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check)
{
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    callWindowProcedure(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id)
{
    const HWND control = GetDlgItem(dialog, id);
    return control ? UINT(callWindowProcedure(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId)
{
    WindowObject* record = findWindowObject(dialog);
    if (!record)
        return FALSE;
    for (HWND child : std::vector<HWND>(record->children)) {
        const int id = GetDlgCtrlID(child);
        if (id >= firstId && id <= lastId)
            callWindowProcedure(child, BM_SETCHECK, id == checkId ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

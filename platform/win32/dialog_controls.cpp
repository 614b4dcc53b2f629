#include "platform/win32/dialog_internal.h"

#include "platform/win32/crt.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace platform::detail {

namespace {

bool isButtonKind(ControlKind kind)
{
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton ||
           kind == ControlKind::CheckBox || kind == ControlKind::RadioButton || kind == ControlKind::GroupBox;
}

LRESULT copyText(const std::string& text, WPARAM size, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    if (!out || size == 0)
        return 0;
    const size_t n = std::min<size_t>(text.size(), size_t(size) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
    return LRESULT(n);
}

// The auto radio buttons of the control's group: from the nearest WS_GROUP
// control at or before it to the next WS_GROUP control.
std::vector<HWND> radioGroup(HWND control)
{
    std::vector<HWND> group;
    WindowObject* record = findWindowObject(control);
    WindowObject* parent = record ? findWindowObject(record->parent) : nullptr;
    if (!parent)
        return group;
    const std::vector<HWND>& siblings = parent->children;
    auto self = std::find(siblings.begin(), siblings.end(), control);
    if (self == siblings.end())
        return group;
    auto first = self;
    while (first != siblings.begin()) {
        WindowObject* r = findWindowObject(*first);
        if (r && (r->style & WS_GROUP))
            break;
        --first;
    }
    for (auto it = first; it != siblings.end(); ++it) {
        WindowObject* r = findWindowObject(*it);
        if (!r)
            continue;
        if (it != first && (r->style & WS_GROUP))
            break;
        ControlData* data = controlData(*it);
        if (data && data->kind == ControlKind::RadioButton)
            group.push_back(*it);
    }
    return group;
}

std::optional<LRESULT> buttonMessage(HWND control, WindowObject& record, ControlData& data, UINT message,
                                     WPARAM wParam)
{
    const bool checkable = data.kind == ControlKind::CheckBox || data.kind == ControlKind::RadioButton;
    switch (message) {
    case BM_GETCHECK:
        return checkable ? data.check : BST_UNCHECKED;
    case BM_SETCHECK:
        // As on Windows this changes this button only, also for a radio
        // button: its group is left alone.
        if (checkable)
            data.check = (wParam == BST_CHECKED || wParam == BST_INDETERMINATE) ? int(wParam) : BST_UNCHECKED;
        return 0;
    case BM_GETSTATE:
        return checkable ? data.check : 0;
    case BM_CLICK:
        if (record.enabled)
            clickControl(control);
        return 0;
    default:
        return -1;
    }
}

std::optional<LRESULT> comboMessage(ControlData& data, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int count = int(data.items.size());
    const auto validIndex = [&](WPARAM w) { return int(w) >= 0 && int(w) < count && w < WPARAM(count); };
    switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (!text)
            return CB_ERR;
        int at = count;
        if (message == CB_INSERTSTRING && int(wParam) != -1) {
            if (!validIndex(wParam) && int(wParam) != count)
                return CB_ERR;
            at = int(wParam);
        }
        data.items.insert(data.items.begin() + at, text);
        data.itemData.insert(data.itemData.begin() + at, 0);
        if (data.selection >= at)
            ++data.selection;
        return at;
    }
    case CB_DELETESTRING: {
        if (!validIndex(wParam))
            return CB_ERR;
        const int at = int(wParam);
        data.items.erase(data.items.begin() + at);
        data.itemData.erase(data.itemData.begin() + at);
        if (data.selection == at)
            data.selection = CB_ERR;
        else if (data.selection > at)
            --data.selection;
        return LRESULT(data.items.size());
    }
    case CB_RESETCONTENT:
        data.items.clear();
        data.itemData.clear();
        data.selection = CB_ERR;
        return CB_OKAY;
    case CB_GETCOUNT:
        return count;
    case CB_GETCURSEL:
        return data.selection;
    case CB_SETCURSEL:
        // An index out of range (or -1) clears the selection and answers
        // CB_ERR.
        if (!validIndex(wParam)) {
            data.selection = CB_ERR;
            return CB_ERR;
        }
        data.selection = int(wParam);
        return data.selection;
    case CB_GETLBTEXT: {
        if (!validIndex(wParam) || !lParam)
            return CB_ERR;
        const std::string& item = data.items[wParam];
        std::memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
        return LRESULT(item.size());
    }
    case CB_GETLBTEXTLEN:
        return validIndex(wParam) ? LRESULT(data.items[wParam].size()) : CB_ERR;
    case CB_GETITEMDATA:
        return validIndex(wParam) ? data.itemData[wParam] : CB_ERR;
    case CB_SETITEMDATA:
        if (!validIndex(wParam))
            return CB_ERR;
        data.itemData[wParam] = lParam;
        return CB_OKAY;
    case CB_FINDSTRINGEXACT:
    case CB_FINDSTRING:
    case CB_SELECTSTRING: {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (!text || count == 0)
            return CB_ERR;
        const int start = (int(wParam) >= 0 && int(wParam) < count) ? int(wParam) + 1 : 0;
        const size_t length = std::strlen(text);
        for (int k = 0; k < count; ++k) {
            const int i = (start + k) % count;
            const std::string& item = data.items[i];
            const bool match = message == CB_FINDSTRINGEXACT
                                   ? _stricmp(item.c_str(), text) == 0
                                   : _strnicmp(item.c_str(), text, length) == 0;
            if (match) {
                if (message == CB_SELECTSTRING)
                    data.selection = i;
                return i;
            }
        }
        return CB_ERR;
    }
    case CB_GETDROPPEDSTATE:
    case CB_SHOWDROPDOWN:
        return FALSE;
    case WM_GETTEXT:
        return copyText(data.selection >= 0 ? data.items[data.selection] : std::string(), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return data.selection >= 0 ? LRESULT(data.items[data.selection].size()) : 0;
    case WM_SETTEXT: {
        // A drop-down list shows one of its entries: the text selects it.
        const char* text = reinterpret_cast<const char*>(lParam);
        for (int i = 0; text && i < count; ++i)
            if (_stricmp(data.items[i].c_str(), text) == 0) {
                data.selection = i;
                return TRUE;
            }
        return CB_ERR;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

ControlData* controlData(HWND control)
{
    WindowObject* record = findWindowObject(control);
    return record ? dynamic_cast<ControlData*>(record->extension.get()) : nullptr;
}

DialogData* dialogData(HWND dialog)
{
    WindowObject* record = findWindowObject(dialog);
    return record ? dynamic_cast<DialogData*>(record->extension.get()) : nullptr;
}

const char* controlClassName(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Edit:
        return "Edit";
    case ControlKind::ComboBox:
        return "ComboBox";
    case ControlKind::Label:
    case ControlKind::Bitmap:
    case ControlKind::Icon:
        return "Static";
    default:
        return "Button";
    }
}

DWORD controlStyle(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
        return BS_PUSHBUTTON | WS_TABSTOP;
    case ControlKind::DefaultPushButton:
        return BS_DEFPUSHBUTTON | WS_TABSTOP;
    case ControlKind::CheckBox:
        return BS_AUTOCHECKBOX | WS_TABSTOP;
    case ControlKind::RadioButton:
        return BS_AUTORADIOBUTTON;
    case ControlKind::GroupBox:
        return BS_GROUPBOX;
    case ControlKind::Label:
        return SS_LEFT;
    case ControlKind::Edit:
        return ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    case ControlKind::ComboBox:
        return CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
    case ControlKind::Bitmap:
        return SS_BITMAP;
    case ControlKind::Icon:
        return SS_ICON;
    }
    return 0;
}

void notifyParent(HWND control, WORD code)
{
    WindowObject* record = findWindowObject(control);
    if (!record || !record->parent)
        return;
    const HWND parent = record->parent;
    const int id = record->controlId;
    callWindowProcedure(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

void clickControl(HWND control)
{
    ControlData* data = controlData(control);
    if (!data)
        return;
    switch (data->kind) {
    case ControlKind::CheckBox:
        data->check = data->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        break;
    case ControlKind::RadioButton:
        for (HWND other : radioGroup(control))
            if (ControlData* d = controlData(other))
                d->check = other == control ? BST_CHECKED : BST_UNCHECKED;
        break;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
        break;
    default:
        return; // group boxes and statics do not notify
    }
    notifyParent(control, BN_CLICKED);
}

void pickComboItem(HWND control, int index)
{
    ControlData* data = controlData(control);
    if (!data || index < 0 || index >= int(data->items.size()))
        return;
    data->selection = index;
    notifyParent(control, CBN_SELCHANGE);
    notifyParent(control, CBN_SELENDOK);
}

void typeText(HWND control, const std::string& text)
{
    callWindowProcedure(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT CALLBACK controlWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowObject* record = findWindowObject(control);
    ControlData* data = controlData(control);
    if (!record || !data)
        return DefWindowProcA(control, message, wParam, lParam);

    if (data->kind == ControlKind::ComboBox) {
        if (std::optional<LRESULT> r = comboMessage(*data, message, wParam, lParam))
            return *r;
        if (message >= CB_GETEDITSEL && message <= CB_FINDSTRINGEXACT)
            return CB_ERR;
    }
    if (isButtonKind(data->kind)) {
        if (std::optional<LRESULT> r = buttonMessage(control, *record, *data, message, wParam))
            return *r;
    }
    switch (message) {
    case WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        record->text = text ? text : "";
        // Edits report every change of their text, also one made by a
        // program.
        if (data->kind == ControlKind::Edit)
            notifyParent(control, EN_CHANGE);
        return TRUE;
    }
    case WM_GETTEXT:
        return copyText(record->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return LRESULT(record->text.size());
    default:
        return DefWindowProcA(control, message, wParam, lParam);
    }
}

} // namespace platform::detail

// A modal Win32 dialog as an object: the dialog procedure finds the object
// through the window's user data and hands each message to its handlers.
// The control wrappers address controls of this dialog by id.
#pragma once

#include "foundation/types.h"

#include <windows.h>

class Dialog {
public:
    HWND handle = nullptr; // set at WM_INITDIALOG
    i32 templateId = 0;
    const char* templateName = nullptr; // for templates named by text

    explicit Dialog(i32 templateId);
    explicit Dialog(const char* templateName);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; returns (and logs) the EndDialog result, -1
    // when it could not be created.
    int run(HINSTANCE instance, HWND parent);

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    virtual BOOL handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL onInitDialog();
    virtual BOOL onCommand(int id, int code);
    virtual BOOL onClose();

    // Combo boxes. Selection and count are never negative.
    int comboText(int id, int index, char* text, int size) const;
    int comboSelection(int id) const;
    int comboCount(int id) const;
    void comboSelect(int id, int index) const;
    int comboAdd(int id, const char* text) const;
    void comboClear(int id) const;
    // Check boxes and radio buttons.
    bool isChecked(int id) const;
    void setChecked(int id, bool checked) const;
    // Edits and labels.
    UINT itemInt(int id) const;
    UINT itemText(int id, char* text, int size) const;
    void setItemInt(int id, UINT value) const;
    void setItemText(int id, const char* text) const;
    void enableItem(int id, bool enable) const;
    void show(bool visible) const;
    void end(INT_PTR result) const;
};

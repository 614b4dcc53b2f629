// A dialog procedure for tests: keeps its object in GWLP_USERDATA like the
// engine's dialogs, records every message and lets a test decide the
// answers.
#pragma once

#include <windows.h>

#include "scoped_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

struct DialogMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingDialog {
public:
    using Handler = std::function<INT_PTR(RecordingDialog&, UINT, WPARAM, LPARAM)>;

    HWND handle = nullptr;
    std::vector<DialogMessage> messages;
    Handler handler;

    // The start dialog's answers: Start 0, Exit -1, Advanced Options 1; the
    // close box ends with -1.
    static INT_PTR startDialogAnswers(RecordingDialog& d, UINT message, WPARAM wParam, LPARAM)
    {
        if (message == WM_COMMAND) {
            switch (LOWORD(wParam)) {
            case 100:
                EndDialog(d.handle, 0);
                return TRUE;
            case 101:
                EndDialog(d.handle, -1);
                return TRUE;
            case 1085:
                EndDialog(d.handle, 1);
                return TRUE;
            default:
                return FALSE;
            }
        }
        if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
            EndDialog(d.handle, -1);
            return TRUE;
        }
        return message == WM_INITDIALOG ? TRUE : FALSE;
    }

    RecordingDialog() : handler(&startDialogAnswers) {}

    INT_PTR run(LPCSTR templateName, HWND owner = nullptr)
    {
        return DialogBoxParamA(nullptr, templateName, owner, &procedure, reinterpret_cast<LPARAM>(this));
    }

    // WM_COMMAND messages with this control id and notification code.
    int commands(int id, int code) const
    {
        int n = 0;
        for (const DialogMessage& m : messages)
            if (m.message == WM_COMMAND && LOWORD(m.wParam) == id && HIWORD(m.wParam) == code)
                ++n;
        return n;
    }

    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG)
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        auto* self = reinterpret_cast<RecordingDialog*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (!self)
            return FALSE;
        if (message == WM_INITDIALOG)
            self->handle = dialog;
        EXPECT_EQ(self->handle, dialog);
        self->messages.push_back({message, wParam, lParam});
        return self->handler ? self->handler(*self, message, wParam, lParam) : FALSE;
    }
};

// Every dialog test runs headless with an empty script and transcript and
// no observer, and leaves them so.
class HeadlessDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setDialogScript(nullptr);
        platform::clearDialogTranscript();
        platform::setDialogObserver(nullptr);
    }

    void TearDown() override
    {
        platform::setDialogScript(nullptr);
        platform::clearDialogTranscript();
        platform::setDialogObserver(nullptr);
    }

    testsupport::ScopedEnv headless{"QUILLON_HEADLESS", "1"};

    static std::vector<std::string> transcript() { return platform::dialogTranscript(); }
};

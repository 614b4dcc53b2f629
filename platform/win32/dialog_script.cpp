// The dialog driver: the script of user actions, the transcript of what
// was shown and done, and the headless user who plays them.
#include "platform/win32/dialog_internal.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace platform {

namespace {

struct ScriptState {
    std::mutex mutex;
    bool seeded = false; // QUILLON_DIALOG read (or overridden)
    std::deque<std::string> actions;
    std::vector<std::string> transcript;
    std::function<void(HWND)> observer;
    std::atomic<int> presented{0};
};

ScriptState& script()
{
    static ScriptState* s = new ScriptState; // used until the very end of the process
    return *s;
}

std::string trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace((unsigned char)s[b]))
        ++b;
    while (e > b && std::isspace((unsigned char)s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

void appendActions(std::deque<std::string>& queue, const char* text)
{
    if (!text)
        return;
    std::string current;
    for (const char* p = text;; ++p) {
        if (*p == ';' || *p == 0) {
            std::string action = trim(current);
            if (!action.empty())
                queue.push_back(std::move(action));
            current.clear();
            if (*p == 0)
                break;
        } else {
            current += *p;
        }
    }
}

// Call with the mutex held.
void seed(ScriptState& s)
{
    if (s.seeded)
        return;
    s.seeded = true;
    appendActions(s.actions, std::getenv("QUILLON_DIALOG"));
}

// Splits off the first word of `rest`.
std::string nextWord(std::string& rest)
{
    rest = trim(rest);
    size_t end = 0;
    while (end < rest.size() && !std::isspace((unsigned char)rest[end]))
        ++end;
    std::string word = rest.substr(0, end);
    rest = trim(rest.substr(end));
    return word;
}

bool parseInt(const std::string& word, int& value)
{
    if (word.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (*end != 0 || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    value = int(v);
    return true;
}

HWND defaultButton(HWND dialog)
{
    WindowObject* record = findWindowObject(dialog);
    if (!record)
        return nullptr;
    for (HWND child : record->children)
        if (detail::ControlData* data = detail::controlData(child))
            if (data->kind == ControlKind::DefaultPushButton)
                return child;
    return findChildWindow(dialog, IDOK);
}

bool dialogEnded(HWND dialog)
{
    detail::DialogData* data = detail::dialogData(dialog);
    return !data || data->ended;
}

void failDialog(HWND dialog, const std::string& action, const std::string& reason)
{
    const std::string line = detail::describeDialog(dialog) + ": \"" + action + "\": " + reason;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    detail::noteDialogEvent("error: " + line);
    detail::dropDialogScript();
    if (detail::DialogData* data = detail::dialogData(dialog)) {
        data->ended = true;
        data->result = -1;
    }
}

} // namespace

void setDialogScript(const char* text)
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.seeded = true;
    s.actions.clear();
    appendActions(s.actions, text);
}

void queueDialogActions(const char* text)
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    seed(s);
    appendActions(s.actions, text);
}

std::vector<std::string> pendingDialogActions()
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    seed(s);
    return {s.actions.begin(), s.actions.end()};
}

std::vector<std::string> dialogTranscript()
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.transcript;
}

void clearDialogTranscript()
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.transcript.clear();
}

void setDialogObserver(std::function<void(HWND dialog)> observer)
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.observer = std::move(observer);
}

int desktopDialogsPresented()
{
    return script().presented.load();
}

namespace detail {

bool popDialogAction(std::string& action)
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    seed(s);
    if (s.actions.empty())
        return false;
    action = std::move(s.actions.front());
    s.actions.pop_front();
    return true;
}

std::string peekDialogVerb()
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    seed(s);
    if (s.actions.empty())
        return {};
    std::string rest = s.actions.front();
    return nextWord(rest);
}

void dropDialogScript()
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.seeded = true;
    s.actions.clear();
}

void noteDialogEvent(const std::string& event)
{
    ScriptState& s = script();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.transcript.push_back(event);
}

void notifyDialogObserver(HWND dialog)
{
    std::function<void(HWND)> observer;
    {
        ScriptState& s = script();
        std::lock_guard<std::mutex> lock(s.mutex);
        observer = s.observer;
    }
    if (observer && !dialogEnded(dialog))
        observer(dialog);
}

void noteDesktopPresented()
{
    ++script().presented;
}

bool parseDialogAction(HWND dialog, const std::string& text, DialogAction& action)
{
    std::string rest = text;
    action = DialogAction{};
    action.verb = nextWord(rest);
    const std::string& verb = action.verb;

    if (verb == "close") {
        if (!rest.empty()) {
            failDialog(dialog, text, "\"close\" takes no argument");
            return false;
        }
        return true;
    }
    if (verb == "save" || verb == "cancel") {
        failDialog(dialog, text, "no save-file chooser is open");
        return false;
    }
    if (verb != "press" && verb != "check" && verb != "uncheck" && verb != "select" && verb != "text") {
        failDialog(dialog, text, "unknown action \"" + verb + "\"");
        return false;
    }

    const std::string idWord = nextWord(rest);
    if (!parseInt(idWord, action.id)) {
        failDialog(dialog, text, "expects a control id, not \"" + idWord + "\"");
        return false;
    }
    const std::string id = std::to_string(action.id);
    action.control = findChildWindow(dialog, action.id);
    ControlData* data = controlData(action.control);
    WindowObject* record = findWindowObject(action.control);
    if (!data || !record) {
        failDialog(dialog, text, "no control with id " + id);
        return false;
    }
    if (!record->enabled) {
        failDialog(dialog, text, "control " + id + " is disabled");
        return false;
    }
    if (!record->visible) {
        failDialog(dialog, text, "control " + id + " is hidden");
        return false;
    }

    const ControlKind kind = data->kind;
    if (verb == "press") {
        if (kind != ControlKind::PushButton && kind != ControlKind::DefaultPushButton &&
            kind != ControlKind::CheckBox && kind != ControlKind::RadioButton) {
            failDialog(dialog, text, "control " + id + " is not a button");
            return false;
        }
        if (!rest.empty()) {
            failDialog(dialog, text, "\"press\" takes only a control id");
            return false;
        }
    } else if (verb == "check" || verb == "uncheck") {
        if (kind != ControlKind::CheckBox && kind != ControlKind::RadioButton) {
            failDialog(dialog, text, "control " + id + " is not a check box or radio button");
            return false;
        }
        if (verb == "uncheck" && kind == ControlKind::RadioButton) {
            failDialog(dialog, text, "a radio button cannot be unchecked by a click; check another one of its group");
            return false;
        }
    } else if (verb == "select") {
        if (kind != ControlKind::ComboBox) {
            failDialog(dialog, text, "control " + id + " is not a combo box");
            return false;
        }
        const std::string indexWord = nextWord(rest);
        if (!parseInt(indexWord, action.item) || !rest.empty()) {
            failDialog(dialog, text, "expects an entry index, not \"" + indexWord + rest + "\"");
            return false;
        }
        if (action.item < 0 || action.item >= int(data->items.size())) {
            failDialog(dialog, text,
                       "control " + id + " has no entry " + std::to_string(action.item) + " (it has " +
                           std::to_string(data->items.size()) + ")");
            return false;
        }
    } else { // text
        if (kind != ControlKind::Edit) {
            failDialog(dialog, text, "control " + id + " is not an edit");
            return false;
        }
        action.text = rest;
    }
    return true;
}

void performDialogAction(HWND dialog, const DialogAction& action)
{
    const std::string id = std::to_string(action.id);
    if (action.verb == "close") {
        noteDialogEvent("close");
        callWindowProcedure(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (action.verb == "press") {
        noteDialogEvent("press " + id);
        clickControl(action.control);
    } else if (action.verb == "check" || action.verb == "uncheck") {
        noteDialogEvent(action.verb + " " + id);
        ControlData* data = controlData(action.control);
        if (data && (data->check == BST_CHECKED) != (action.verb == "check"))
            clickControl(action.control);
    } else if (action.verb == "select") {
        noteDialogEvent("select " + id + " " + std::to_string(action.item));
        pickComboItem(action.control, action.item);
    } else if (action.verb == "text") {
        noteDialogEvent("text " + id + " " + action.text);
        typeText(action.control, action.text);
    }
    notifyDialogObserver(dialog);
}

bool playDialogAction(HWND dialog, const std::string& text)
{
    DialogAction action;
    if (!parseDialogAction(dialog, text, action))
        return false;
    performDialogAction(dialog, action);
    return true;
}

void driveDialog(HWND dialog)
{
    bool defaultPressed = false;
    bool closeTried = false;
    while (!dialogEnded(dialog)) {
        std::string action;
        if (popDialogAction(action)) {
            playDialogAction(dialog, action);
            continue;
        }
        if (!defaultPressed) {
            defaultPressed = true;
            const HWND button = defaultButton(dialog);
            WindowObject* record = findWindowObject(button);
            if (record && record->enabled && record->visible) {
                noteDialogEvent("press " + std::to_string(record->controlId) + " (default)");
                clickControl(button);
                notifyDialogObserver(dialog);
                continue;
            }
        }
        if (!closeTried) {
            closeTried = true;
            noteDialogEvent("close (default)");
            callWindowProcedure(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            notifyDialogObserver(dialog);
            continue;
        }
        failDialog(dialog, "(end of script)", "the dialog did not end after its default button and its close box");
    }
}

} // namespace detail

} // namespace platform

#include "platform/win32/message_queue.h"

#include "platform/win32/clock.h"
#include "platform/win32/thread.h"
#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace {

using namespace platform;

const size_t maxQueuedMessages = 10000;

struct MessageQueue;

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false; // guarded by the sender's mutex
    std::shared_ptr<MessageQueue> sender;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT period;
    TIMERPROC callback;
    uint64_t nextDue; // clock milliseconds
};

struct MessageQueue {
    std::thread::id thread;
    DWORD threadId = 0;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<MSG> posted;
    std::deque<MSG> input;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    UINT_PTR nextThreadTimerId = 0x7FF0;
    bool quit = false;
    int quitCode = 0;
    bool alive = true;
    // Everything that may let a waiting GetMessageA or WaitMessage return
    // bumps arrivals; seen is its value at the last look into the queue.
    uint64_t arrivals = 0;
    uint64_t seen = 0;
    uint64_t lastLookMs = 0;
    MSG lastMessage{};
};

struct QueueRegistry {
    std::mutex mutex;
    std::map<std::thread::id, std::shared_ptr<MessageQueue>> queues;
};

QueueRegistry& registry()
{
    static QueueRegistry* instance = new QueueRegistry; // used by thread exits after static destruction
    return *instance;
}

std::shared_ptr<MessageQueue> queueOf(std::thread::id thread, bool create)
{
    QueueRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.queues.find(thread);
    if (it != r.queues.end())
        return it->second;
    if (!create)
        return nullptr;
    auto queue = std::make_shared<MessageQueue>();
    queue->thread = thread;
    r.queues.emplace(thread, queue);
    return queue;
}

void completeSent(const std::shared_ptr<SentMessage>& sent, LRESULT result)
{
    {
        std::lock_guard<std::mutex> lock(sent->sender->mutex);
        sent->result = result;
        sent->done = true;
    }
    sent->sender->wake.notify_all();
}

// Owns the calling thread's queue; when the thread ends, its queue goes and
// senders waiting on it get 0.
struct QueueHolder {
    std::shared_ptr<MessageQueue> queue;
    ~QueueHolder()
    {
        if (!queue)
            return;
        std::deque<std::shared_ptr<SentMessage>> orphans;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            queue->alive = false;
            orphans.swap(queue->sent);
        }
        for (auto& sent : orphans)
            completeSent(sent, 0);
        QueueRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queues.erase(queue->thread);
    }
};

const std::shared_ptr<MessageQueue>& currentQueuePtr()
{
    thread_local QueueHolder holder;
    if (!holder.queue) {
        holder.queue = queueOf(std::this_thread::get_id(), true);
        std::lock_guard<std::mutex> lock(holder.queue->mutex);
        holder.queue->threadId = GetCurrentThreadId();
    }
    return holder.queue;
}

MessageQueue& currentQueue()
{
    return *currentQueuePtr();
}

void signal(MessageQueue& queue)
{
    // Caller holds queue.mutex.
    ++queue.arrivals;
    queue.wake.notify_all();
}

bool windowMatches(HWND target, HWND filter)
{
    if (!filter)
        return true;
    if (filter == (HWND)-1)
        return target == nullptr;
    return target == filter || IsChild(filter, target);
}

bool rangeMatches(UINT message, UINT filterMin, UINT filterMax)
{
    if (message == WM_QUIT || (filterMin == 0 && filterMax == 0))
        return true;
    if (filterMin <= filterMax)
        return message >= filterMin && message <= filterMax;
    // A reversed range selects what lies outside it.
    return message >= filterMin || message <= filterMax;
}

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    msg.pt = detail::cursorPosition();
    return msg;
}

void processSentMessages(MessageQueue& queue)
{
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard<std::mutex> lock(queue.mutex);
            if (queue.sent.empty())
                return;
            sent = queue.sent.front();
            queue.sent.pop_front();
        }
        LRESULT result = 0;
        if (WindowObject* record = findWindowObject(sent->window); record && record->thread == queue.thread)
            result = callWindowProcedure(sent->window, sent->message, sent->wParam, sent->lParam);
        completeSent(sent, result);
    }
}

void pumpIncoming(MessageQueue& queue)
{
    if (detail::isSdlThread())
        detail::pumpSdlEvents();
    detail::processInjectedEvents();
    processSentMessages(queue);
}

bool takeFrom(std::deque<MSG>& list, MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove)
{
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (windowMatches(it->hwnd, filter) && rangeMatches(it->message, filterMin, filterMax)) {
            *out = *it;
            if (remove)
                list.erase(it);
            return true;
        }
    }
    return false;
}

bool findPaint(MessageQueue& queue, MSG* out, HWND filter, UINT filterMin, UINT filterMax)
{
    if (!rangeMatches(WM_PAINT, filterMin, filterMax))
        return false;
    for (HWND window : allWindows()) {
        WindowObject* record = findWindowObject(window);
        if (!record || record->thread != queue.thread || !record->needsPaint || !windowMatches(window, filter))
            continue;
        if (!detail::reallyVisible(*record))
            continue;
        WindowObject* root = findWindowObject(detail::rootWindow(window));
        if (root && root->minimised)
            continue;
        *out = makeMessage(window, WM_PAINT, 0, 0);
        return true;
    }
    return false;
}

bool findTimer(MessageQueue& queue, MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove)
{
    if (!rangeMatches(WM_TIMER, filterMin, filterMax))
        return false;
    uint64_t now = clockMilliseconds();
    std::lock_guard<std::mutex> lock(queue.mutex);
    Timer* best = nullptr;
    for (Timer& timer : queue.timers) {
        if (timer.nextDue <= now && windowMatches(timer.window, filter) && (!best || timer.nextDue < best->nextDue))
            best = &timer;
    }
    if (!best)
        return false;
    *out = makeMessage(best->window, WM_TIMER, best->id, (LPARAM)best->callback);
    if (remove) {
        uint64_t periods = (now - best->nextDue) / best->period + 1;
        best->nextDue += periods * best->period;
    }
    return true;
}

bool peek(MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove)
{
    MessageQueue& queue = currentQueue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.seen = queue.arrivals;
        queue.lastLookMs = clockMilliseconds();
    }
    pumpIncoming(queue);

    bool found = false;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (takeFrom(queue.posted, out, filter, filterMin, filterMax, remove)) {
            found = true;
        } else if (queue.quit) {
            *out = makeMessage(nullptr, WM_QUIT, (WPARAM)(INT_PTR)queue.quitCode, 0);
            if (remove)
                queue.quit = false;
            found = true;
        } else if (takeFrom(queue.input, out, filter, filterMin, filterMax, remove)) {
            found = true;
        }
    }
    if (!found)
        found = findPaint(queue, out, filter, filterMin, filterMax) ||
                findTimer(queue, out, filter, filterMin, filterMax, remove);
    if (found && remove) {
        detail::noteRetrievedMessage(*out);
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.lastMessage = *out;
    }
    return found;
}

// Milliseconds until the next timer is due, -1 for none (or a manual clock,
// which only moves when a test advances it and then wakes every queue).
int64_t untilNextTimer(MessageQueue& queue)
{
    if (manualClock())
        return -1;
    uint64_t now = clockMilliseconds();
    int64_t best = -1;
    std::lock_guard<std::mutex> lock(queue.mutex);
    for (const Timer& timer : queue.timers) {
        int64_t left = timer.nextDue <= now ? 0 : (int64_t)(timer.nextDue - now);
        if (best < 0 || left < best)
            best = left;
    }
    return best;
}

void waitForArrival(MessageQueue& queue)
{
    int64_t timeout = untilNextTimer(queue);
    if (detail::isSdlThread()) {
        {
            std::lock_guard<std::mutex> lock(queue.mutex);
            if (queue.arrivals != queue.seen || !queue.sent.empty())
                return;
        }
        // Other threads wake the SDL wait with an event; the cap only
        // bounds how late a missed wake-up could be noticed.
        detail::waitSdlEvent((int)std::clamp<int64_t>(timeout < 0 ? 100 : timeout, 0, 100));
        return;
    }
    std::unique_lock<std::mutex> lock(queue.mutex);
    auto ready = [&] { return queue.arrivals != queue.seen || !queue.sent.empty(); };
    if (timeout < 0)
        queue.wake.wait(lock, ready);
    else
        queue.wake.wait_for(lock, std::chrono::milliseconds(timeout), ready);
}

bool postTo(MessageQueue& queue, std::deque<MSG> MessageQueue::*list, const MSG& msg, bool coalesceMoves)
{
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (!queue.alive)
            return false;
        std::deque<MSG>& target = queue.*list;
        if (coalesceMoves && msg.message == WM_MOUSEMOVE && !target.empty() &&
            target.back().message == WM_MOUSEMOVE && target.back().hwnd == msg.hwnd &&
            target.back().wParam == msg.wParam) {
            target.back() = msg;
        } else {
            if (queue.posted.size() + queue.input.size() >= maxQueuedMessages) {
                SetLastError(ERROR_NOT_ENOUGH_QUOTA);
                return false;
            }
            target.push_back(msg);
        }
        signal(queue);
    }
    if (queue.thread != std::this_thread::get_id())
        detail::wakeSdl();
    return true;
}

} // namespace

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (!message)
        return FALSE;
    if (window && window != (HWND)-1 && !IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return peek(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax)
{
    if (!message) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (;;) {
        if (window && window != (HWND)-1 && !IsWindow(window)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        if (peek(message, window, filterMin, filterMax, true))
            return message->message == WM_QUIT ? 0 : 1;
        waitForArrival(currentQueue());
    }
}

BOOL WINAPI TranslateMessage(const MSG* message)
{
    if (!message)
        return FALSE;
    switch (message->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        UINT character = platform::detail::translateKeyToChar(*message);
        if (character) {
            UINT charMessage = message->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
            PostMessageA(message->hwnd, charMessage, character, message->lParam);
        }
        return TRUE;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* message)
{
    if (!message)
        return 0;
    if (message->message == WM_TIMER && message->lParam) {
        // Only the callback of a live timer is called: lParam is not trusted.
        MessageQueue& queue = currentQueue();
        TIMERPROC callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(queue.mutex);
            for (const Timer& timer : queue.timers) {
                if (timer.window == message->hwnd && timer.id == message->wParam &&
                    (LPARAM)timer.callback == message->lParam)
                    callback = timer.callback;
            }
        }
        if (callback)
            callback(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
        return 0;
    }
    if (!message->hwnd)
        return 0;
    WindowObject* record = findWindowObject(message->hwnd);
    if (!record || record->thread != std::this_thread::get_id())
        return 0;
    return callWindowProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

void WINAPI PostQuitMessage(int exitCode)
{
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.quit = true;
    queue.quitCode = exitCode;
    signal(queue);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!window)
        return postTo(currentQueue(), &MessageQueue::posted, makeMessage(nullptr, message, wParam, lParam), false);
    if (window == HWND_BROADCAST) {
        for (HWND target : allWindows()) {
            WindowObject* record = findWindowObject(target);
            if (record && !(record->style & WS_CHILD))
                PostMessageA(target, message, wParam, lParam);
        }
        return TRUE;
    }
    WindowObject* record = findWindowObject(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto queue = queueOf(record->thread, true);
    return postTo(*queue, &MessageQueue::posted, makeMessage(window, message, wParam, lParam), false);
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<MessageQueue> queue;
    {
        QueueRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto& entry : r.queues) {
            std::lock_guard<std::mutex> queueLock(entry.second->mutex);
            if (entry.second->threadId == threadId)
                queue = entry.second;
        }
    }
    if (!queue) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return postTo(*queue, &MessageQueue::posted, makeMessage(nullptr, message, wParam, lParam), false);
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == HWND_BROADCAST) {
        for (HWND target : allWindows()) {
            WindowObject* record = findWindowObject(target);
            if (record && !(record->style & WS_CHILD))
                SendMessageA(target, message, wParam, lParam);
        }
        return 0;
    }
    WindowObject* record = findWindowObject(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (record->thread == std::this_thread::get_id())
        return callWindowProcedure(window, message, wParam, lParam);

    auto target = queueOf(record->thread, false);
    if (!target)
        return 0;
    const auto& own = currentQueuePtr();
    auto sent = std::make_shared<SentMessage>();
    sent->window = window;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    sent->sender = own;
    {
        std::lock_guard<std::mutex> lock(target->mutex);
        if (!target->alive)
            return 0;
        target->sent.push_back(sent);
        signal(*target);
    }
    detail::wakeSdl();
    // While waiting, serve messages that other threads send to this one, so
    // that two threads sending to each other do not lock up.
    for (;;) {
        processSentMessages(*own);
        std::unique_lock<std::mutex> lock(own->mutex);
        own->wake.wait(lock, [&] { return sent->done || !own->sent.empty(); });
        if (sent->done)
            return sent->result;
    }
}

BOOL WINAPI WaitMessage()
{
    MessageQueue& queue = currentQueue();
    for (;;) {
        pumpIncoming(queue);
        {
            std::lock_guard<std::mutex> lock(queue.mutex);
            uint64_t now = clockMilliseconds();
            bool timerFell = false;
            for (const Timer& timer : queue.timers)
                timerFell = timerFell || (timer.nextDue > queue.lastLookMs && timer.nextDue <= now);
            if (queue.arrivals != queue.seen || timerFell) {
                queue.seen = queue.arrivals;
                queue.lastLookMs = now;
                return TRUE;
            }
        }
        waitForArrival(queue);
    }
}

LONG WINAPI GetMessageTime()
{
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return (LONG)queue.lastMessage.time;
}

DWORD WINAPI GetMessagePos()
{
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return (DWORD)MAKELONG(queue.lastMessage.pt.x, queue.lastMessage.pt.y);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback)
{
    if (window) {
        WindowObject* record = findWindowObject(window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (record->thread != std::this_thread::get_id()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    uint64_t due = clockMilliseconds() + elapse;
    for (Timer& timer : queue.timers) {
        if (timer.window == window && timer.id == id && (window || id)) {
            timer.period = elapse;
            timer.callback = callback;
            timer.nextDue = due;
            return window ? (id ? id : 1) : id;
        }
    }
    if (!window) {
        // A thread timer gets an id of its own.
        do {
            id = queue.nextThreadTimerId++;
        } while (std::any_of(queue.timers.begin(), queue.timers.end(),
                             [&](const Timer& t) { return !t.window && t.id == id; }));
    }
    queue.timers.push_back(Timer{window, id, elapse, callback, due});
    signal(queue);
    return window ? (id ? id : 1) : id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id)
{
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    auto it = std::find_if(queue.timers.begin(), queue.timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == queue.timers.end())
        return FALSE;
    queue.timers.erase(it);
    return TRUE;
}

namespace platform {

void resetMessageQueue()
{
    MessageQueue& queue = currentQueue();
    std::deque<std::shared_ptr<SentMessage>> orphans;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.posted.clear();
        queue.input.clear();
        queue.timers.clear();
        queue.quit = false;
        queue.quitCode = 0;
        orphans.swap(queue.sent);
        queue.seen = queue.arrivals;
    }
    for (auto& sent : orphans)
        completeSent(sent, 0);
}

size_t queuedMessageCount()
{
    MessageQueue& queue = currentQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return queue.posted.size() + queue.input.size();
}

namespace detail {

void postInputMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    auto queue = queueOf(record->thread, true);
    postTo(*queue, &MessageQueue::input, makeMessage(window, message, wParam, lParam), true);
}

void forgetWindowMessages(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    auto queue = queueOf(record->thread, false);
    if (!queue)
        return;
    std::lock_guard<std::mutex> lock(queue->mutex);
    auto forWindow = [&](const MSG& m) { return m.hwnd == window; };
    queue->posted.erase(std::remove_if(queue->posted.begin(), queue->posted.end(), forWindow), queue->posted.end());
    queue->input.erase(std::remove_if(queue->input.begin(), queue->input.end(), forWindow), queue->input.end());
    queue->timers.erase(std::remove_if(queue->timers.begin(), queue->timers.end(),
                                       [&](const Timer& t) { return t.window == window; }),
                        queue->timers.end());
}

void wakeAllQueues()
{
    std::vector<std::shared_ptr<MessageQueue>> queues;
    {
        QueueRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto& entry : r.queues)
            queues.push_back(entry.second);
    }
    for (auto& queue : queues) {
        std::lock_guard<std::mutex> lock(queue->mutex);
        signal(*queue);
    }
    wakeSdl();
}

void postQuitToThread(std::thread::id thread, int exitCode)
{
    auto queue = queueOf(thread, false);
    if (!queue)
        return;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
        signal(*queue);
    }
    wakeSdl();
}

void noteWindowNeedsPaint(HWND window)
{
    WindowObject* record = findWindowObject(window);
    if (!record)
        return;
    auto queue = queueOf(record->thread, false);
    if (!queue)
        return;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        signal(*queue);
    }
    if (queue->thread != std::this_thread::get_id())
        wakeSdl();
}

std::thread::id windowThread(HWND window)
{
    WindowObject* record = findWindowObject(window);
    return record ? record->thread : std::thread::id();
}

void rebaseTimers()
{
    uint64_t now = clockMilliseconds();
    QueueRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto& entry : r.queues) {
        std::lock_guard<std::mutex> queueLock(entry.second->mutex);
        for (Timer& timer : entry.second->timers)
            timer.nextDue = now + timer.period;
        entry.second->lastLookMs = now;
    }
}

} // namespace detail

} // namespace platform

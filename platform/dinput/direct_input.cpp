// DirectInput 8 over the stand-in's raw input: keyboard and mouse devices
// whose buffers fill from the events the message pump translates, while the
// device is acquired and its window is in the foreground (or the device
// asked for background access).
#include "platform/dinput/dinput_interfaces.h"

#include "platform/com/com_object.h"
#include "platform/win32/input_events.h"
#include "platform/win32/kernel_object.h"
#include "platform/win32/window.h"
#include "platform/win32/windowing_internal.h"

#include <atomic>
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>

#ifndef CLASS_E_NOAGGREGATION
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#endif

// The formats are told apart by address only; their contents describe the
// records' sizes.
const DIDATAFORMAT c_dfDIMouse = {sizeof(DIDATAFORMAT), 24, 2, 16, 7, nullptr};
const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), 24, 2, 256, 256, nullptr};

namespace {

using platform::RawInputEvent;

std::atomic<DWORD> nextSequence{1};

// What a device shares with its raw-input observer, which may still run once
// after the device is gone.
struct DeviceState {
    explicit DeviceState(bool isMouse) : mouse(isMouse) {}

    // Called with mutex held.
    bool inForeground() const
    {
        if (flags & DISCL_BACKGROUND)
            return IsWindow(window);
        const HWND active = GetForegroundWindow();
        return active && IsWindow(window) &&
               platform::detail::rootWindow(active) == platform::detail::rootWindow(window);
    }

    void push(DWORD offset, DWORD data, DWORD time, DWORD sequence)
    {
        if (buffer.size() >= bufferSize) {
            overflow = true; // the newest data is what is lost
            return;
        }
        DIDEVICEOBJECTDATA entry = {};
        entry.dwOfs = offset;
        entry.dwData = data;
        entry.dwTimeStamp = time;
        entry.dwSequence = sequence;
        buffer.push_back(entry);
    }

    void record(const RawInputEvent& event)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!acquired || lost || !inForeground())
            return;
        const DWORD sequence = nextSequence++;
        if (mouse) {
            switch (event.kind) {
            case RawInputEvent::MouseMotion:
                // Both axes of one motion share a sequence number.
                if (event.dx)
                    push(DIMOFS_X, DWORD(event.dx), event.time, sequence);
                if (event.dy)
                    push(DIMOFS_Y, DWORD(event.dy), event.time, sequence);
                break;
            case RawInputEvent::MouseWheel:
                push(DIMOFS_Z, DWORD(event.wheel), event.time, sequence);
                break;
            case RawInputEvent::MouseButton:
                if (event.button >= 0 && event.button <= 3)
                    push(DIMOFS_BUTTON0 + DWORD(event.button), event.down ? 0x80 : 0, event.time, sequence);
                break;
            case RawInputEvent::Key:
                break;
            }
        } else if (event.kind == RawInputEvent::Key && event.dik != 0) {
            push(event.dik, event.down ? 0x80 : 0, event.time, sequence);
        }
    }

    const bool mouse;
    std::mutex mutex;
    LPCDIDATAFORMAT format = nullptr;
    HWND window = nullptr;
    DWORD flags = 0;
    DWORD bufferSize = 0;
    bool acquired = false;
    bool lost = false;
    bool overflow = false;
    std::deque<DIDEVICEOBJECTDATA> buffer;
};

class InputDevice final : public platform::ComObject<InputDevice, IDirectInputDevice8A, IID_IDirectInputDevice8A> {
public:
    explicit InputDevice(bool mouse) : m_state(std::make_shared<DeviceState>(mouse)) {}

    ~InputDevice()
    {
        Unacquire();
    }

    STDMETHODIMP SetDataFormat(LPCDIDATAFORMAT format) override
    {
        if (!format)
            return E_POINTER;
        if (format != (m_state->mouse ? &c_dfDIMouse : &c_dfDIKeyboard))
            return DIERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->acquired)
            return DIERR_ACQUIRED;
        m_state->format = format;
        return DI_OK;
    }

    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD flags) override
    {
        const DWORD access = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
        const DWORD scope = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
        if (access == 0 || access == (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE) || scope == 0 ||
            scope == (DISCL_FOREGROUND | DISCL_BACKGROUND))
            return DIERR_INVALIDPARAM;
        // An exclusive keyboard in the background would take every key of
        // the desktop; DirectInput refuses it.
        if (!m_state->mouse && access == DISCL_EXCLUSIVE && scope == DISCL_BACKGROUND)
            return DIERR_INVALIDPARAM;
        if (!IsWindow(window))
            return E_HANDLE;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->acquired)
            return DIERR_ACQUIRED;
        m_state->window = window;
        m_state->flags = flags;
        return DI_OK;
    }

    STDMETHODIMP GetProperty(REFGUID property, LPDIPROPHEADER header) override
    {
        if (!header)
            return E_POINTER;
        if (property != DIPROP_BUFFERSIZE || header->dwSize != sizeof(DIPROPDWORD) ||
            header->dwHeaderSize != sizeof(DIPROPHEADER) || header->dwHow != DIPH_DEVICE)
            return DIERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        reinterpret_cast<DIPROPDWORD*>(header)->dwData = m_state->bufferSize;
        return DI_OK;
    }

    STDMETHODIMP SetProperty(REFGUID property, LPCDIPROPHEADER header) override
    {
        if (!header)
            return E_POINTER;
        if (property != DIPROP_BUFFERSIZE || header->dwSize != sizeof(DIPROPDWORD) ||
            header->dwHeaderSize != sizeof(DIPROPHEADER) || header->dwObj != 0 || header->dwHow != DIPH_DEVICE)
            return DIERR_INVALIDPARAM;
        const DWORD size = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        // Far beyond any real buffer; keeps a hostile value from reserving
        // gigabytes.
        if (size > 1u << 20)
            return DIERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->acquired)
            return DIERR_ACQUIRED;
        m_state->bufferSize = size;
        return DI_OK;
    }

    STDMETHODIMP Acquire() override
    {
        DeviceState& s = *m_state;
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.format || !s.window)
            return DIERR_INVALIDPARAM;
        if (s.acquired && !s.lost)
            return DI_NOEFFECT;
        // Never DIERR_INPUTLOST here: callers retry while they get that.
        if (!s.inForeground())
            return DIERR_OTHERAPPHASPRIO;
        s.acquired = true;
        s.lost = false;
        s.overflow = false;
        s.buffer.clear();
        if (m_observer == 0) {
            std::shared_ptr<DeviceState> state = m_state;
            m_observer = platform::addRawInputObserver([state](const RawInputEvent& event) { state->record(event); });
        }
        if (s.mouse && (s.flags & DISCL_EXCLUSIVE))
            platform::detail::setSdlRelativeMouse(true);
        return DI_OK;
    }

    STDMETHODIMP Unacquire() override
    {
        DeviceState& s = *m_state;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (!s.acquired)
                return DI_NOEFFECT;
            s.acquired = false;
            s.lost = false;
            s.buffer.clear();
            if (s.mouse && (s.flags & DISCL_EXCLUSIVE))
                platform::detail::setSdlRelativeMouse(false);
        }
        if (m_observer)
            platform::removeRawInputObserver(m_observer);
        m_observer = 0;
        return DI_OK;
    }

    STDMETHODIMP GetDeviceData(DWORD recordSize, LPDIDEVICEOBJECTDATA records, LPDWORD inOut, DWORD flags) override
    {
        if (!inOut)
            return E_POINTER;
        if (recordSize != sizeof(DIDEVICEOBJECTDATA) || (flags & ~DWORD(DIGDD_PEEK)))
            return DIERR_INVALIDPARAM;
        DeviceState& s = *m_state;
        std::lock_guard<std::mutex> lock(s.mutex);
        const DWORD asked = *inOut;
        *inOut = 0;
        if (!s.acquired)
            return DIERR_NOTACQUIRED;
        if (s.lost || !s.inForeground()) {
            // Focus went elsewhere: the buffer is gone and the device must
            // be acquired again.
            s.lost = true;
            s.buffer.clear();
            return DIERR_INPUTLOST;
        }
        if (s.bufferSize == 0)
            return DIERR_NOTBUFFERED;
        DWORD count = 0;
        if (records) {
            count = std::min<DWORD>(asked, DWORD(s.buffer.size()));
            std::copy_n(s.buffer.begin(), count, records);
        } else if (asked == INFINITE) {
            count = DWORD(s.buffer.size()); // flush
        }
        const bool peek = flags & DIGDD_PEEK;
        const bool overflowed = s.overflow;
        if (!peek) {
            s.buffer.erase(s.buffer.begin(), s.buffer.begin() + count);
            s.overflow = false;
        }
        *inOut = count;
        return overflowed ? DI_BUFFEROVERFLOW : DI_OK;
    }

private:
    std::shared_ptr<DeviceState> m_state;
    int m_observer = 0; // raw-input observer while acquired
};

class DirectInput final : public platform::ComObject<DirectInput, IDirectInput8A, IID_IDirectInput8A> {
public:
    STDMETHODIMP CreateDevice(REFGUID device, LPDIRECTINPUTDEVICE8A* created, LPUNKNOWN outer) override
    {
        if (!created)
            return E_POINTER;
        *created = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (device == GUID_SysMouse)
            *created = new InputDevice(true);
        else if (device == GUID_SysKeyboard)
            *created = new InputDevice(false);
        else
            return DIERR_DEVICENOTREG;
        return DI_OK;
    }
};

} // namespace

HRESULT WINAPI DirectInput8Create(HINSTANCE, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (version < DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION)
        return DIERR_BETADIRECTINPUTVERSION;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (iid != IID_IDirectInput8A)
        return DIERR_NOINTERFACE;
    *out = static_cast<IDirectInput8A*>(new DirectInput);
    return DI_OK;
}

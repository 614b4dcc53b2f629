// The 3-D listener of a device's primary buffer. Settings are only kept:
// no buffer has 3-D control, so nothing audible depends on them. Deferred
// settings wait for CommitDeferredSettings; GetAllParameters reads the
// settings in effect.
#pragma once

#include "platform/com/com_object.h"
#include "platform/dsound/dsound_interfaces.h"

#include <mutex>

namespace platform::dsound {

class Listener final : public ComObject<Listener, IDirectSound3DListener, IID_IDirectSound3DListener> {
public:
    Listener();

    STDMETHODIMP GetAllParameters(LPDS3DLISTENER listener) override;
    STDMETHODIMP SetAllParameters(LPCDS3DLISTENER listener, DWORD apply) override;
    STDMETHODIMP CommitDeferredSettings() override;

private:
    std::mutex mutex;
    DS3DLISTENER current = {};
    DS3DLISTENER deferred = {};
    bool pending = false;
};

} // namespace platform::dsound

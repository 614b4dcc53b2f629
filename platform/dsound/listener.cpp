#include "platform/dsound/listener.h"

namespace platform::dsound {

Listener::Listener()
{
    // The documented defaults: at the origin, facing +z with +y up, unit factors.
    current.dwSize = sizeof(DS3DLISTENER);
    current.vOrientFront = {0.0f, 0.0f, 1.0f};
    current.vOrientTop = {0.0f, 1.0f, 0.0f};
    current.flDistanceFactor = 1.0f;
    current.flRolloffFactor = 1.0f;
    current.flDopplerFactor = 1.0f;
    deferred = current;
}

STDMETHODIMP Listener::GetAllParameters(LPDS3DLISTENER listener)
{
    if (!listener || listener->dwSize != sizeof(DS3DLISTENER))
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mutex);
    *listener = current;
    return DS_OK;
}

STDMETHODIMP Listener::SetAllParameters(LPCDS3DLISTENER listener, DWORD apply)
{
    if (!listener || listener->dwSize != sizeof(DS3DLISTENER) || apply > DS3D_DEFERRED)
        return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(mutex);
    if (apply == DS3D_DEFERRED) {
        deferred = *listener;
        pending = true;
    } else {
        current = *listener;
        deferred = current;
        pending = false;
    }
    return DS_OK;
}

STDMETHODIMP Listener::CommitDeferredSettings()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (pending)
        current = deferred;
    pending = false;
    return DS_OK;
}

} // namespace platform::dsound

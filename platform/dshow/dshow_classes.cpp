// The stand-in's DirectShow classes behind CoCreateInstance, FFmpeg's
// process-wide set-up, and the live-object count tests read.
#include "platform/com/com.h"
#include "platform/dshow/dshow_internal.h"
#include "platform/dshow/dshow_test_api.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <mutex>

namespace platform::dshow {

namespace {
std::atomic<long> liveObjects{0};
}

LiveObject::LiveObject()
{
    ++liveObjects;
}

LiveObject::~LiveObject()
{
    --liveObjects;
}

long liveObjectCount()
{
    return liveObjects.load();
}

void initFfmpeg()
{
    static std::once_flag once;
    // Errors reach callers as result codes; FFmpeg's own chatter stays off
    // standard error.
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace platform::dshow

namespace platform {

void registerBuiltInClasses()
{
    using namespace dshow;
    static std::once_flag once;
    std::call_once(once, [] {
        const struct {
            const CLSID* clsid;
            IUnknown* (*make)();
        } classes[] = {
            {&CLSID_FilterGraph, createFilterGraph},
            {&CLSID_CaptureGraphBuilder2, createCaptureGraphBuilder},
            {&CLSID_SystemDeviceEnum, createSystemDeviceEnum},
            {&CLSID_VideoMixingRenderer9, createVmr9},
        };
        for (const auto& c : classes)
            if (!isComClassRegistered(*c.clsid))
                registerComClass(*c.clsid, c.make);
    });
}

} // namespace platform

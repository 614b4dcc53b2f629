// What the stand-in's own filters and graphs share inside platform/dshow:
// the encoded-stream media type between encoder and multiplexer, the
// compressor list, and the factories behind CoCreateInstance.
#pragma once

#include "platform/dshow/base_classes.h"
#include "platform/dshow/vmr9_types.h"

#include <string>
#include <vector>

// Encoded video between the encoder and the AVI multiplexer: the format
// block is an EncodedVideoFormat followed by the codec's extra data.
DEFINE_GUID(MEDIASUBTYPE_EncodedVideo, 0x6f1e2a40, 0x3c11, 0x4b8e, 0x9a, 0x61, 0x51, 0x75, 0x69, 0x6c, 0x6c, 0x6e);
DEFINE_GUID(FORMAT_EncodedVideo, 0x6f1e2a41, 0x3c11, 0x4b8e, 0x9a, 0x61, 0x51, 0x75, 0x69, 0x6c, 0x6c, 0x6e);

namespace platform::dshow {

struct EncodedVideoFormat {
    int codecId; // AVCodecID
    int width;
    int height;
    int pixelFormat; // AVPixelFormat
    int timeBaseNum;
    int timeBaseDen;
    unsigned codecTag; // the encoder's own four-character code, 0 for none
    int bitsPerCodedSample;
    int extraSize; // bytes following this record
};

struct CompressorEntry {
    std::string encoder;      // FFmpeg encoder name
    std::string friendlyName; // empty with hasName false: no FriendlyName
    bool hasName = true;
};

// The encoders an AVI can hold, in their fixed order, those missing from
// this FFmpeg build left out; then any test entries.
std::vector<CompressorEntry> compressorEntries();

// Objects of the stand-in's DirectShow classes alive now.
struct LiveObject {
    LiveObject();
    ~LiveObject();
    LiveObject(const LiveObject&) : LiveObject() {}
    LiveObject& operator=(const LiveObject&) = default;
};

// Quiets FFmpeg's own logging once per process.
void initFfmpeg();

IBaseFilter* createEncoderFilter(const std::string& encoder);
// The AVI multiplexer writing to path; null with *hr set when the file
// cannot be created.
IBaseFilter* createAviMux(const std::string& path, HRESULT* hr);
IUnknown* createFilterGraph();
IUnknown* createCaptureGraphBuilder();
IUnknown* createSystemDeviceEnum();
IUnknown* createVmr9();

// A decoded picture source the renderer plays: FFmpeg over a file, or the
// deterministic test source.
class VideoSource {
public:
    virtual ~VideoSource() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The next frame, top row first, 4 bytes per pixel
    // (0xAARRGGBB), pitch width x 4; its start time in 100-ns units, or -1
    // when the stream has none. False at the end or on a decoding error.
    virtual bool nextFrame(std::vector<unsigned char>& pixels, REFERENCE_TIME& start) = 0;
};

// Opens a video file; null (with *hr) for a missing file, a file that is
// not a video, or one without a video stream.
VideoSource* openVideoFile(const std::string& path, HRESULT* hr);
// The same over a byte stream the caller reads (held while the source lives).
VideoSource* openVideoStream(IStream* stream, HRESULT* hr);
VideoSource* openTestVideoSource(const std::wstring& name);

// The renderer side of RenderFile: hands the source to a VMR9 filter of
// this stand-in (false when filter is not one).
HRESULT attachVideoSource(IBaseFilter* filter, VideoSource* source);
bool isVmr9(IBaseFilter* filter);

} // namespace platform::dshow

namespace platform::dshow {

// A wide file name as UTF-8.
std::string narrow(LPCWSTR text);
// The first pin of filter in direction dir that is not connected yet
// (AddRef'd), or null.
IPin* freePin(IBaseFilter* filter, PIN_DIRECTION dir);

} // namespace platform::dshow

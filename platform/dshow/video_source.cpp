// Picture sources of the renderer: a video file, or bytes read through a
// caller's IStream, decoded with libavformat and libavcodec; or the
// deterministic test source.
#include "platform/dshow/dshow_internal.h"
#include "platform/dshow/dshow_test_api.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <cstring>
#include <cwchar>

namespace platform::dshow {
namespace {

constexpr int kLargestSide = 8192;
constexpr int kIoBufferSize = 32768;
// The containers a video texture plays. Anything else, above all the
// playlists and concat lists whose probe FFmpeg would accept, could make
// the reader open other files by name.
constexpr const char* kFormats = "avi,mov,mp4,matroska,webm,mpeg,mpegts,asf,ogg";
// Undecodable packets in a row before the file counts as ended.
constexpr int kMaxErrors = 64;

class FileVideoSource final : public VideoSource {
public:
    ~FileVideoSource() override
    {
        sws_freeContext(m_scaler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_decoder);
        avformat_close_input(&m_format);
        if (m_io)
            av_freep(&m_io->buffer);
        avio_context_free(&m_io);
        if (m_bytes)
            m_bytes->Release();
    }

    HRESULT open(const std::string& path)
    {
        struct stat st;
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return HRESULT(0x80070002L); // file not found
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        return openFormat(path.c_str(), &options);
    }

    HRESULT open(IStream* stream)
    {
        m_bytes = stream;
        m_bytes->AddRef();
        unsigned char* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
        if (buffer)
            m_io = avio_alloc_context(buffer, kIoBufferSize, 0, stream, readStream, nullptr, seekStream);
        if (!m_io) {
            av_free(buffer);
            return E_OUTOFMEMORY;
        }
        m_format = avformat_alloc_context();
        if (!m_format)
            return E_OUTOFMEMORY;
        m_format->pb = m_io;
        m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
        // No protocol at all: whatever the bytes name, nothing else opens.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "", 0);
        return openFormat("", &options);
    }

    int width() const override { return m_width; }
    int height() const override { return m_height; }

    bool nextFrame(std::vector<unsigned char>& pixels, REFERENCE_TIME& start) override
    {
        int errors = 0;
        for (;;) {
            const int r = avcodec_receive_frame(m_decoder, m_frame);
            if (r == 0)
                return convert(pixels, start);
            if (r == AVERROR_EOF)
                return false;
            if (r != AVERROR(EAGAIN) && ++errors > kMaxErrors)
                return false;
            if (m_draining)
                return false;
            if (av_read_frame(m_format, m_packet) < 0) {
                m_draining = true;
                avcodec_send_packet(m_decoder, nullptr);
                continue;
            }
            if (m_packet->stream_index == m_stream && avcodec_send_packet(m_decoder, m_packet) < 0 &&
                ++errors > kMaxErrors) {
                av_packet_unref(m_packet);
                return false;
            }
            av_packet_unref(m_packet);
        }
    }

private:
    HRESULT openFormat(const char* url, AVDictionary** options)
    {
        av_dict_set(options, "format_whitelist", kFormats, 0);
        const int opened = avformat_open_input(&m_format, url, nullptr, options);
        av_dict_free(options);
        if (opened < 0)
            return VFW_E_UNKNOWN_FILE_TYPE;
        if (avformat_find_stream_info(m_format, nullptr) < 0)
            return VFW_E_INVALID_FILE_FORMAT;
        const AVCodec* codec = nullptr;
        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (m_stream < 0 || !codec)
            return VFW_E_UNSUPPORTED_STREAM;
        const AVCodecParameters* par = m_format->streams[m_stream]->codecpar;
        m_width = par->width;
        m_height = par->height;
        if (m_width <= 0 || m_height <= 0 || m_width > kLargestSide || m_height > kLargestSide)
            return VFW_E_INVALID_FILE_FORMAT;
        m_decoder = avcodec_alloc_context3(codec);
        if (!m_decoder || avcodec_parameters_to_context(m_decoder, par) < 0)
            return E_OUTOFMEMORY;
        if (avcodec_open2(m_decoder, codec, nullptr) < 0)
            return VFW_E_UNSUPPORTED_STREAM;
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_frame || !m_packet)
            return E_OUTOFMEMORY;
        m_timeBase = m_format->streams[m_stream]->time_base;
        return S_OK;
    }

    static int readStream(void* opaque, uint8_t* buf, int size)
    {
        ULONG got = 0;
        const HRESULT hr = static_cast<IStream*>(opaque)->Read(buf, ULONG(size), &got);
        if (FAILED(hr))
            return AVERROR(EIO);
        return got == 0 ? AVERROR_EOF : int(got);
    }

    static int64_t seekStream(void* opaque, int64_t offset, int whence)
    {
        auto* stream = static_cast<IStream*>(opaque);
        LARGE_INTEGER move{};
        ULARGE_INTEGER at{};
        if (whence & AVSEEK_SIZE) {
            // The size from a seek to the end, then back where it was.
            ULARGE_INTEGER end{};
            if (FAILED(stream->Seek(move, STREAM_SEEK_CUR, &at)) || FAILED(stream->Seek(move, STREAM_SEEK_END, &end)))
                return AVERROR(EIO);
            move.QuadPart = LONGLONG(at.QuadPart);
            stream->Seek(move, STREAM_SEEK_SET, nullptr);
            return int64_t(end.QuadPart);
        }
        const int origin = whence & ~AVSEEK_FORCE;
        if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)
            return AVERROR(EINVAL);
        move.QuadPart = offset;
        if (FAILED(stream->Seek(move, DWORD(origin), &at)))
            return AVERROR(EIO);
        return int64_t(at.QuadPart);
    }

    bool convert(std::vector<unsigned char>& pixels, REFERENCE_TIME& start)
    {
        // A frame of another size (a damaged stream) is scaled to the size
        // the surfaces were made for.
        m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height, AVPixelFormat(m_frame->format),
                                        m_width, m_height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        if (!m_scaler || m_frame->width <= 0 || m_frame->height <= 0) {
            av_frame_unref(m_frame);
            return false;
        }
        pixels.resize(size_t(m_width) * size_t(m_height) * 4);
        uint8_t* dst[1] = {pixels.data()};
        const int dstStride[1] = {m_width * 4};
        sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_frame->height, dst, dstStride);
        const int64_t pts = m_frame->best_effort_timestamp;
        start = pts == AV_NOPTS_VALUE ? -1 : av_rescale_q(pts, m_timeBase, AVRational{1, int(UNITS)});
        av_frame_unref(m_frame);
        return true;
    }

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_decoder = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    AVIOContext* m_io = nullptr;  // reading m_bytes, when the bytes come through one
    IStream* m_bytes = nullptr;
    AVRational m_timeBase{1, 25};
    int m_stream = -1;
    int m_width = 0, m_height = 0;
    bool m_draining = false;
};

class TestVideoSource final : public VideoSource {
public:
    TestVideoSource(int width, int height, int frames, int mode)
        : m_width(width), m_height(height), m_frames(frames), m_mode(mode)
    {
    }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool nextFrame(std::vector<unsigned char>& pixels, REFERENCE_TIME& start) override
    {
        if (m_next >= m_frames)
            return false;
        const uint32_t colour = testFrameColour(m_next);
        pixels.resize(size_t(m_width) * size_t(m_height) * 4);
        for (size_t i = 0; i < pixels.size(); i += 4)
            std::memcpy(&pixels[i], &colour, 4);
        start = REFERENCE_TIME(m_next) * 400000;
        if (m_mode == 1 && m_next % 2)
            start = -1; // stamps missing
        if (m_mode == 2 && m_next % 3 == 2)
            start = 0; // a stamp going back
        ++m_next;
        return true;
    }

private:
    int m_width, m_height, m_frames, m_mode;
    int m_next = 0;
};

} // namespace

namespace {

template <class Input>
VideoSource* openSource(Input input, HRESULT* hr)
{
    initFfmpeg();
    auto* source = new FileVideoSource;
    *hr = source->open(input);
    if (FAILED(*hr)) {
        delete source;
        return nullptr;
    }
    return source;
}

} // namespace

VideoSource* openVideoFile(const std::string& path, HRESULT* hr)
{
    return openSource<const std::string&>(path, hr);
}

VideoSource* openVideoStream(IStream* stream, HRESULT* hr)
{
    return openSource(stream, hr);
}

VideoSource* openTestVideoSource(const std::wstring& name)
{
    int width = 0, height = 0, frames = 0;
    wchar_t option[8] = {};
    const int fields = std::swscanf(name.c_str(), L"%d,%d,%d,%7ls", &width, &height, &frames, option);
    if (fields < 3 || width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide || frames < 0)
        return nullptr;
    const int mode = std::wcscmp(option, L"gap") == 0 ? 1 : std::wcscmp(option, L"back") == 0 ? 2 : 0;
    return new TestVideoSource(width, height, frames, mode);
}

uint32_t testFrameColour(int frame)
{
    const uint32_t k = uint32_t(frame);
    return 0xFF000000u | ((k * 40u + 10u) & 0xFFu) << 16 | ((k * 7u + 100u) & 0xFFu) << 8 | ((255u - k) & 0xFFu);
}

} // namespace platform::dshow

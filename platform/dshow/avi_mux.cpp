// The AVI multiplexer with its file writer: encoded video in, an AVI file
// out through libavformat, whose AVI muxer switches to the OpenDML layout
// past 1 GB. The file is opened once, when the multiplexer is made, and
// libavformat writes through that descriptor: no second open by name, which
// a link or a FIFO planted meanwhile could turn elsewhere or hold up. It is
// written from the start each time the graph starts and finished when it
// stops.
#include "platform/dshow/dshow_internal.h"
#include "platform/win32/file_io.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace platform::dshow {
namespace {

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

constexpr int kIoBufferBytes = 1 << 16;

int writeToFile(void* opaque, WrittenBytes data, int size)
{
    errno = 0;
    const int written = _write(*static_cast<const int*>(opaque), data, unsigned(size));
    if (written == size)
        return size;
    return errno ? AVERROR(errno) : AVERROR(EIO);
}

int64_t seekInFile(void* opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<const int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

class AviMux;

class MuxInputPin final : public CBaseInputPin {
public:
    MuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;

private:
    AviMux* m_mux;
};

class AviMux final : public CBaseFilter {
public:
    // Takes the open file.
    AviMux(std::string path, int fd)
        : CBaseFilter("AVI Mux", nullptr, &m_lock, CLSID_AviDest), m_path(std::move(path)), m_fd(fd),
          m_input(this, &m_lock, nullptr)
    {
    }
    ~AviMux() override
    {
        finish();
        close(m_fd);
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_input : nullptr; }

    HRESULT start()
    {
        finish();
        const CMediaType& mt = m_input.CurrentMediaType();
        EncodedVideoFormat f;
        std::memcpy(&f, mt.Format(), sizeof f);
        if (avformat_alloc_output_context2(&m_format, nullptr, "avi", m_path.c_str()) < 0 || !m_format)
            return E_FAIL;
        m_stream = avformat_new_stream(m_format, nullptr);
        if (!m_stream)
            return fail(E_OUTOFMEMORY);
        AVCodecParameters* par = m_stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AVCodecID(f.codecId);
        par->width = f.width;
        par->height = f.height;
        par->format = f.pixelFormat;
        // Some encoders (Ut Video) tell their layout only by the tag.
        par->codec_tag = f.codecTag;
        par->bits_per_coded_sample = f.bitsPerCodedSample;
        if (f.extraSize > 0 && mt.FormatLength() >= sizeof f + size_t(f.extraSize)) {
            par->extradata = static_cast<uint8_t*>(av_mallocz(size_t(f.extraSize) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!par->extradata)
                return fail(E_OUTOFMEMORY);
            std::memcpy(par->extradata, mt.Format() + sizeof f, size_t(f.extraSize));
            par->extradata_size = f.extraSize;
        }
        m_timeBase = AVRational{f.timeBaseNum, f.timeBaseDen};
        m_stream->time_base = m_timeBase;
        m_stream->avg_frame_rate = AVRational{f.timeBaseDen, f.timeBaseNum};
        if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0)
            return fail(E_ACCESSDENIED);
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
        m_format->pb = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, &m_fd, nullptr, &writeToFile, &seekInFile)
                              : nullptr;
        if (!m_format->pb) {
            av_free(buffer);
            return fail(E_OUTOFMEMORY);
        }
        m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (avformat_write_header(m_format, nullptr) < 0)
            return fail(E_FAIL);
        m_headerWritten = true;
        return S_OK;
    }

    HRESULT write(IMediaSample* sample)
    {
        CAutoLock lock(&m_lock);
        if (!m_format || m_State == State_Stopped)
            return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        if (!data || length < 0)
            return E_INVALIDARG;
        AVPacket* packet = av_packet_alloc();
        if (!packet || av_new_packet(packet, int(length)) < 0) {
            av_packet_free(&packet);
            return E_OUTOFMEMORY;
        }
        std::memcpy(packet->data, data, size_t(length));
        REFERENCE_TIME start = 0, end = 0;
        if (sample->GetTime(&start, &end) == S_OK)
            packet->pts = av_rescale_q(start, AVRational{1, int(UNITS)}, m_stream->time_base);
        else
            packet->pts = m_nextPts;
        // Time stamps must rise in an AVI index.
        if (packet->pts < m_nextPts)
            packet->pts = m_nextPts;
        m_nextPts = packet->pts + 1;
        packet->dts = packet->pts;
        packet->duration = 1;
        packet->stream_index = m_stream->index;
        if (sample->IsSyncPoint() == S_OK)
            packet->flags |= AV_PKT_FLAG_KEY;
        const int r = av_write_frame(m_format, packet);
        av_packet_free(&packet);
        return r < 0 ? E_FAIL : S_OK;
    }

    void finish()
    {
        if (m_format) {
            if (m_headerWritten)
                av_write_trailer(m_format);
            if (m_format->pb) {
                avio_flush(m_format->pb);
                av_freep(&m_format->pb->buffer);
                avio_context_free(&m_format->pb);
            }
            avformat_free_context(m_format);
        }
        m_format = nullptr;
        m_stream = nullptr;
        m_headerWritten = false;
        m_nextPts = 0;
    }

private:
    HRESULT fail(HRESULT hr)
    {
        finish();
        return hr;
    }

    CCritSec m_lock;
    std::string m_path;
    int m_fd;
    MuxInputPin m_input;
    AVFormatContext* m_format = nullptr;
    AVStream* m_stream = nullptr;
    AVRational m_timeBase{1, 25};
    bool m_headerWritten = false;
    int64_t m_nextPts = 0;
    LiveObject m_live;
};

MuxInputPin::MuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin("AVI Mux input", mux, lock, hr, L"Input 01"), m_mux(mux)
{
}

HRESULT MuxInputPin::CheckMediaType(const CMediaType* pmt)
{
    if (*pmt->Type() != MEDIATYPE_Video || *pmt->FormatType() != FORMAT_EncodedVideo ||
        pmt->FormatLength() < sizeof(EncodedVideoFormat))
        return VFW_E_TYPE_NOT_ACCEPTED;
    EncodedVideoFormat f;
    std::memcpy(&f, pmt->Format(), sizeof f);
    if (f.width <= 0 || f.height <= 0 || f.timeBaseNum <= 0 || f.timeBaseDen <= 0 || f.extraSize < 0 ||
        pmt->FormatLength() < sizeof f + size_t(f.extraSize))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT MuxInputPin::Active()
{
    return m_mux->start();
}

HRESULT MuxInputPin::Inactive()
{
    m_mux->finish();
    return CBaseInputPin::Inactive();
}

STDMETHODIMP MuxInputPin::Receive(IMediaSample* pSample)
{
    if (!pSample)
        return E_POINTER;
    return m_mux->write(pSample);
}

} // namespace

IBaseFilter* createAviMux(const std::string& path, HRESULT* hr)
{
    initFfmpeg();
    // Opened now: a missing or read-only folder, a link or anything but a
    // regular file under the name fails here rather than when the graph
    // starts.
    const int fd = platform::openOutputFile(path);
    if (fd < 0) {
        std::fprintf(stderr, "dshow: the AVI file \"%s\" is not written: %s\n", path.c_str(),
                     platform::outputRefusal(errno).c_str());
        *hr = E_ACCESSDENIED;
        return nullptr;
    }
    *hr = S_OK;
    return new AviMux(path, fd);
}

} // namespace platform::dshow

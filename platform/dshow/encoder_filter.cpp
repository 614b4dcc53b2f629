// A video compressor of the category: RGB32 frames in (bottom-up, as a DIB),
// turned upright and converted with libswscale, encoded with libavcodec,
// packets out to the multiplexer.
#include "platform/dshow/dshow_internal.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace platform::dshow {
namespace {

// The first of the encoder's pixel formats that keeps RGB exactly, else
// the encoder's own first choice.
AVPixelFormat choosePixelFormat(const AVCodec* codec)
{
    const AVPixelFormat preferred[] = {AV_PIX_FMT_BGR0, AV_PIX_FMT_BGRA, AV_PIX_FMT_GBRP};
    if (!codec->pix_fmts)
        return AV_PIX_FMT_NONE;
    for (AVPixelFormat want : preferred)
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == want)
                return want;
    return codec->pix_fmts[0];
}

class EncoderFilter;

class EncoderInputPin final : public CBaseInputPin {
public:
    EncoderInputPin(EncoderFilter* filter, CCritSec* lock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;

private:
    EncoderFilter* m_encoder;
};

class EncoderOutputPin final : public CBaseOutputPin {
public:
    EncoderOutputPin(EncoderFilter* filter, CCritSec* lock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* props) override;

private:
    EncoderFilter* m_encoder;
};

class EncoderFilter final : public CBaseFilter {
public:
    explicit EncoderFilter(const AVCodec* codec)
        : CBaseFilter("FFmpeg encoder", nullptr, &m_lock, GUID_NULL)
        , m_codec(codec)
        , m_input(this, &m_lock, nullptr)
        , m_output(this, &m_lock, nullptr)
    {
    }
    ~EncoderFilter() override { close(); }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override
    {
        return n == 0 ? static_cast<CBasePin*>(&m_input) : n == 1 ? static_cast<CBasePin*>(&m_output) : nullptr;
    }

    STDMETHODIMP Pause() override
    {
        CAutoLock lock(&m_lock);
        if (m_State == State_Stopped && !m_context && m_input.IsConnected() && !open())
            return E_FAIL;
        return CBaseFilter::Pause();
    }

    // Packets the encoder still holds go downstream before the pins stop.
    STDMETHODIMP Stop() override
    {
        CAutoLock lock(&m_lock);
        if (m_State != State_Stopped && m_context) {
            encode(nullptr);
            close();
        }
        return CBaseFilter::Stop();
    }

    // Opens the encoder for the connected input's size; false when the
    // encoder refuses it.
    bool open()
    {
        close();
        m_nextPts = 0;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(m_input.CurrentMediaType().Format());
        m_width = int(vih->bmiHeader.biWidth);
        m_height = int(vih->bmiHeader.biHeight);
        int num = 0, den = 0;
        av_reduce(&num, &den, vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 400000, UNITS, 1 << 30);
        m_context = avcodec_alloc_context3(m_codec);
        if (!m_context)
            return false;
        m_context->width = m_width;
        m_context->height = m_height;
        m_context->time_base = AVRational{num, den};
        m_context->framerate = AVRational{den, num};
        m_context->pix_fmt = choosePixelFormat(m_codec);
        m_context->gop_size = 12;
        m_context->max_b_frames = 0; // the AVI index has one time per frame
        if (m_codec->id == AV_CODEC_ID_MJPEG) {
            m_context->flags |= AV_CODEC_FLAG_QSCALE;
            m_context->global_quality = 2 * FF_QP2LAMBDA;
        }
        if (m_context->pix_fmt == AV_PIX_FMT_NONE || avcodec_open2(m_context, m_codec, nullptr) < 0) {
            close();
            return false;
        }
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        m_scaler = sws_getContext(m_width, m_height, AV_PIX_FMT_BGRA, m_width, m_height, m_context->pix_fmt,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_frame || !m_packet || !m_scaler) {
            close();
            return false;
        }
        m_frame->format = m_context->pix_fmt;
        m_frame->width = m_width;
        m_frame->height = m_height;
        if (av_frame_get_buffer(m_frame, 0) < 0) {
            close();
            return false;
        }
        return true;
    }

    void close()
    {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_context);
    }

    HRESULT receive(IMediaSample* sample)
    {
        CAutoLock lock(&m_lock);
        if (m_State == State_Stopped || !m_context)
            return VFW_E_WRONG_STATE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long rowBytes = long(m_width) * 4;
        if (!data || sample->GetActualDataLength() < rowBytes * m_height)
            return E_INVALIDARG;
        if (av_frame_make_writable(m_frame) < 0)
            return E_OUTOFMEMORY;
        // The DIB's last row is the picture's top: read it backwards.
        const uint8_t* src[1] = {data + size_t(m_height - 1) * size_t(rowBytes)};
        const int srcStride[1] = {int(-rowBytes)};
        sws_scale(m_scaler, src, srcStride, 0, m_height, m_frame->data, m_frame->linesize);
        REFERENCE_TIME start = 0, end = 0;
        if (sample->GetTime(&start, &end) == S_OK)
            m_frame->pts = av_rescale_q(start, AVRational{1, int(UNITS)}, m_context->time_base);
        else
            m_frame->pts = m_nextPts;
        // Encoders refuse times that do not rise: a frame stamped back in
        // time follows the last one.
        if (m_frame->pts < m_nextPts)
            m_frame->pts = m_nextPts;
        m_nextPts = m_frame->pts + 1;
        if (m_codec->id == AV_CODEC_ID_MJPEG)
            m_frame->quality = m_context->global_quality;
        return encode(m_frame);
    }

    HRESULT encode(AVFrame* frame)
    {
        if (avcodec_send_frame(m_context, frame) < 0)
            return E_FAIL;
        for (;;) {
            const int r = avcodec_receive_packet(m_context, m_packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return S_OK;
            if (r < 0)
                return E_FAIL;
            const HRESULT hr = deliver(m_packet);
            av_packet_unref(m_packet);
            if (FAILED(hr))
                return hr;
        }
    }

    HRESULT deliver(const AVPacket* packet)
    {
        IMediaSample* out = nullptr;
        HRESULT hr = m_output.GetDeliveryBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE* data = nullptr;
        out->GetPointer(&data);
        if (packet->size > out->GetSize()) {
            out->Release();
            return VFW_E_BUFFER_OVERFLOW;
        }
        std::memcpy(data, packet->data, size_t(packet->size));
        out->SetActualDataLength(packet->size);
        REFERENCE_TIME start = av_rescale_q(packet->pts, m_context->time_base, AVRational{1, int(UNITS)});
        REFERENCE_TIME end = av_rescale_q(packet->pts + 1, m_context->time_base, AVRational{1, int(UNITS)});
        out->SetTime(&start, &end);
        out->SetSyncPoint((packet->flags & AV_PKT_FLAG_KEY) != 0);
        hr = m_output.Deliver(out);
        out->Release();
        return hr;
    }

    bool connectedFormat(CMediaType* mt) const
    {
        if (!m_context)
            return false;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Video);
        mt->SetSubtype(&MEDIASUBTYPE_EncodedVideo);
        mt->SetFormatType(&FORMAT_EncodedVideo);
        mt->SetSampleSize(0);
        mt->SetTemporalCompression(TRUE);
        const int extra = m_context->extradata ? m_context->extradata_size : 0;
        BYTE* block = mt->AllocFormatBuffer(ULONG(sizeof(EncodedVideoFormat) + size_t(extra)));
        if (!block)
            return false;
        EncodedVideoFormat f{int(m_codec->id), m_width, m_height, int(m_context->pix_fmt),
                             m_context->time_base.num, m_context->time_base.den, m_context->codec_tag,
                             m_context->bits_per_coded_sample, extra};
        std::memcpy(block, &f, sizeof f);
        if (extra)
            std::memcpy(block + sizeof f, m_context->extradata, size_t(extra));
        return true;
    }

    size_t maxPacketSize() const { return size_t(m_width) * size_t(m_height) * 8 + 65536; }

private:
    CCritSec m_lock;
    const AVCodec* m_codec;
    EncoderInputPin m_input;
    EncoderOutputPin m_output;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_width = 0, m_height = 0;
    int64_t m_nextPts = 0;
    LiveObject m_live;
};

EncoderInputPin::EncoderInputPin(EncoderFilter* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin("FFmpeg encoder input", filter, lock, hr, L"In"), m_encoder(filter)
{
}

HRESULT EncoderInputPin::CheckMediaType(const CMediaType* pmt)
{
    if (*pmt->Type() != MEDIATYPE_Video || *pmt->Subtype() != MEDIASUBTYPE_RGB32 ||
        *pmt->FormatType() != FORMAT_VideoInfo || pmt->FormatLength() < sizeof(VIDEOINFOHEADER))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
    const BITMAPINFOHEADER& bih = vih->bmiHeader;
    // Bottom-up DIBs only, of a size an encoder can address.
    if (bih.biBitCount != 32 || bih.biCompression != BI_RGB || bih.biWidth <= 0 || bih.biHeight <= 0 ||
        bih.biWidth > 16384 || bih.biHeight > 16384)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT EncoderInputPin::CompleteConnect(IPin*)
{
    // The encoder must take this size now, or the connection fails.
    return m_encoder->open() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP EncoderInputPin::Receive(IMediaSample* pSample)
{
    if (!pSample)
        return E_POINTER;
    return m_encoder->receive(pSample);
}

EncoderOutputPin::EncoderOutputPin(EncoderFilter* filter, CCritSec* lock, HRESULT* hr)
    : CBaseOutputPin("FFmpeg encoder output", filter, lock, hr, L"Out"), m_encoder(filter)
{
}

HRESULT EncoderOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType)
{
    if (!pMediaType)
        return E_POINTER;
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return m_encoder->connectedFormat(pMediaType) ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT EncoderOutputPin::CheckMediaType(const CMediaType* pmt)
{
    CMediaType own;
    return m_encoder->connectedFormat(&own) && own == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT EncoderOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* props)
{
    ALLOCATOR_PROPERTIES request = *props;
    request.cBuffers = 1;
    request.cbBuffer = long(m_encoder->maxPacketSize());
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cBuffers >= 1 && actual.cbBuffer >= request.cbBuffer ? S_OK : E_FAIL;
}

} // namespace

IBaseFilter* createEncoderFilter(const std::string& encoder)
{
    initFfmpeg();
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        return nullptr;
    return new EncoderFilter(codec);
}

} // namespace platform::dshow

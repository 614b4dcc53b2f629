// 200 frames of 1024 x 768 RGB32 (bottom-up, as the grabber delivers them)
// recorded as Motion JPEG AVI twice in this process: through the capture
// graph (a push source, the compressor from the category, the AVI mux) and
// through direct libswscale/libavcodec/libavformat calls with the same
// encoder, settings and conversion. Prints ms per frame of both; the last
// line is ratio=R: graph time over direct time.
#include <dshow.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kFrames = 200;
constexpr int kPatterns = 8;
constexpr REFERENCE_TIME kFrameTime = 400000;

using Frame = std::vector<unsigned char>;

std::vector<Frame> makeFrames()
{
    std::vector<Frame> frames(kPatterns, Frame(size_t(kWidth) * kHeight * 4));
    for (int f = 0; f < kPatterns; ++f)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                unsigned char* p = &frames[size_t(f)][(size_t(y) * kWidth + size_t(x)) * 4];
                p[0] = (unsigned char)(x + f * 9);
                p[1] = (unsigned char)(y * 2 - f * 5);
                p[2] = (unsigned char)((x / 32 + y / 32 + f) % 2 ? 200 : 40);
                p[3] = 0xFF;
            }
    return frames;
}

class SourcePin : public CBaseOutputPin {
public:
    SourcePin(CBaseFilter* filter, CCritSec* lock) : CBaseOutputPin("BenchPin", filter, lock, nullptr, L"Out") {}
    HRESULT GetMediaType(int position, CMediaType* mt) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        vih->AvgTimePerFrame = kFrameTime;
        vih->bmiHeader = {40, kWidth, kHeight, 1, 32, BI_RGB, DWORD(kWidth * kHeight * 4), 0, 0, 0, 0};
        mt->SetType(&MEDIATYPE_Video);
        mt->SetSubtype(&MEDIASUBTYPE_RGB32);
        mt->SetFormatType(&FORMAT_VideoInfo);
        mt->SetSampleSize(vih->bmiHeader.biSizeImage);
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* mt) override
    {
        CMediaType own;
        GetMediaType(0, &own);
        return own == *mt ? S_OK : E_FAIL;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override
    {
        props->cBuffers = 1;
        props->cbBuffer = kWidth * kHeight * 4;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(props, &actual);
    }
};

class SourceFilter : public CBaseFilter {
public:
    SourceFilter() : CBaseFilter("BenchSource", nullptr, &lock, GUID_NULL), pin(this, &lock) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin : nullptr; }
    CCritSec lock;
    SourcePin pin;
};

double graphRun(const std::vector<Frame>& frames)
{
    CoInitialize(nullptr);
    ICaptureGraphBuilder2* builder = nullptr;
    IBaseFilter* mux = nullptr;
    IGraphBuilder* graph = nullptr;
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    IMoniker* moniker = nullptr;
    IBaseFilter* compressor = nullptr;
    IMediaControl* control = nullptr;
    auto* source = new SourceFilter;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     reinterpret_cast<void**>(&builder));
    builder->SetOutputFileName(&MEDIASUBTYPE_Avi, L"bench_graph.avi", &mux, nullptr);
    builder->GetFiltergraph(&graph);
    graph->AddFilter(source, L"Source");
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&devices));
    devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0);
    monikers->Next(1, &moniker, nullptr); // Motion JPEG comes first
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&compressor));
    graph->AddFilter(compressor, L"Compressor");
    if (FAILED(builder->RenderStream(nullptr, nullptr, static_cast<IBaseFilter*>(source), compressor, mux))) {
        std::fprintf(stderr, "graph could not be built\n");
        std::exit(1);
    }
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    const auto t0 = std::chrono::steady_clock::now();
    control->Run();
    for (int f = 0; f < kFrames; ++f) {
        IMediaSample* sample = nullptr;
        source->pin.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, frames[size_t(f % kPatterns)].data(), frames[0].size());
        REFERENCE_TIME start = f * kFrameTime, end = (f + 1) * kFrameTime;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        source->pin.Deliver(sample);
        sample->Release();
    }
    control->Stop();
    const auto t1 = std::chrono::steady_clock::now();
    control->Release();
    compressor->Release();
    moniker->Release();
    monikers->Release();
    devices->Release();
    source->Release();
    graph->Release();
    mux->Release();
    builder->Release();
    CoUninitialize();
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// The same work without the graph: the encoder set up as the compressor
// sets it up, rows read bottom-up, packets written as they come.
double directRun(const std::vector<Frame>& frames)
{
    const auto t0 = std::chrono::steady_clock::now();
    const AVCodec* codec = avcodec_find_encoder_by_name("mjpeg");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = kWidth;
    c->height = kHeight;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->pix_fmt = codec->pix_fmts[0];
    c->gop_size = 12;
    c->max_b_frames = 0;
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = 2 * FF_QP2LAMBDA;
    avcodec_open2(c, codec, nullptr);
    AVFormatContext* fmt = nullptr;
    avformat_alloc_output_context2(&fmt, nullptr, "avi", "bench_direct.avi");
    AVStream* st = avformat_new_stream(fmt, nullptr);
    avcodec_parameters_from_context(st->codecpar, c);
    st->time_base = c->time_base;
    avio_open(&fmt->pb, "bench_direct.avi", AVIO_FLAG_WRITE);
    if (avformat_write_header(fmt, nullptr) < 0) {
        std::fprintf(stderr, "direct AVI could not be started\n");
        std::exit(1);
    }
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, c->pix_fmt, SWS_BILINEAR,
                                     nullptr, nullptr, nullptr);
    AVFrame* frame = av_frame_alloc();
    frame->format = c->pix_fmt;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame, 0);
    AVPacket* packet = av_packet_alloc();
    std::vector<unsigned char> buffer(frames[0].size());
    auto drain = [&] {
        while (avcodec_receive_packet(c, packet) == 0) {
            packet->stream_index = st->index;
            packet->dts = packet->pts;
            av_packet_rescale_ts(packet, c->time_base, st->time_base);
            av_write_frame(fmt, packet);
            av_packet_unref(packet);
        }
    };
    for (int f = 0; f < kFrames; ++f) {
        std::memcpy(buffer.data(), frames[size_t(f % kPatterns)].data(), buffer.size());
        av_frame_make_writable(frame);
        const uint8_t* src[1] = {buffer.data() + size_t(kHeight - 1) * kWidth * 4};
        const int stride[1] = {-kWidth * 4};
        sws_scale(sws, src, stride, 0, kHeight, frame->data, frame->linesize);
        frame->pts = f;
        frame->quality = c->global_quality;
        avcodec_send_frame(c, frame);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_write_trailer(fmt);
    avio_closep(&fmt->pb);
    const auto t1 = std::chrono::steady_clock::now();
    avformat_free_context(fmt);
    av_packet_free(&packet);
    av_frame_free(&frame);
    sws_freeContext(sws);
    avcodec_free_context(&c);
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

} // namespace

int main()
{
    av_log_set_level(AV_LOG_QUIET);
    const std::vector<Frame> frames = makeFrames();
    double graph = 1e300, direct = 1e300;
    // Interleaved, best of three.
    for (int i = 0; i < 3; ++i) {
        graph = std::min(graph, graphRun(frames));
        direct = std::min(direct, directRun(frames));
    }
    std::remove("bench_graph.avi");
    std::remove("bench_direct.avi");
    std::printf("graph:  %.3f ms per frame\n", graph / kFrames);
    std::printf("direct: %.3f ms per frame\n", direct / kFrames);
    std::printf("ratio=%.3f\n", graph / direct);
    return 0;
}

// The recorded AVI read back packet by packet: each frame's time stamp and
// key-frame flag as the file's index holds them.
#include "capture_test_support.h"
#include "com_scope.h"

#include "media/video_compressors.h"

#include "platform/dshow/dshow_test_api.h"
#include "scoped_state.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace capturetest;

namespace {

struct Packet {
    int64_t pts;
    bool key;      // flagged in the file
    bool intra;    // what the decoder finds in it
};

// The video packets of file with data (the muxer's gap fillers are empty).
std::vector<Packet> readPackets(const char* file)
{
    std::vector<Packet> packets;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file, nullptr, nullptr) < 0)
        return packets;
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* decoder = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (decoder && avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar) >= 0 &&
        avcodec_open2(decoder, codec, nullptr) >= 0) {
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && packet->size > 0) {
                // The flag as the file's index holds it: the demuxer's parser
                // would set its own from the picture.
                const AVIndexEntry* entry =
                    avformat_index_get_entry_from_timestamp(format->streams[stream], packet->pts, AVSEEK_FLAG_ANY);
                const bool key = entry && entry->timestamp == packet->pts && (entry->flags & AVINDEX_KEYFRAME);
                Packet p{packet->pts, key, false};
                if (avcodec_send_packet(decoder, packet) >= 0 && avcodec_receive_frame(decoder, frame) >= 0)
                    p.intra = frame->pict_type == AV_PICTURE_TYPE_I;
                packets.push_back(p);
            }
            av_packet_unref(packet);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return packets;
}

} // namespace

// An encoder with a group of pictures: frames numbered with a gap keep
// their numbers as times, and exactly the intra frames are key frames.
TEST(AviPacketsTest, TimeStampsAndKeyFramesReachTheFile)
{
    ComScope com;
    CaptureEngine e;
    REQUIRE_CAPTURE(e);
    platform::dshow::addTestCompressor("mpeg4", "MPEG-4 part 2");
    testsupport::OnExit unlist(platform::dshow::clearTestCompressors);
    const i32 index = i32(listVideoCompressors().size()) - 1;
    FrameGrabber grabber(&e.engine->currentDevice, e.settings());
    grabber.width = 64;
    grabber.height = 48;
    ASSERT_EQ(grabber.startAvi("stamps.avi", index), S_OK);
    std::vector<int64_t> numbers;
    for (int n = 0; n < 30; ++n)
        numbers.push_back(n < 14 ? n : n + 6);
    for (int64_t n : numbers) {
        e.draw(int(n));
        grabber.grabAviFrame(int(n));
    }
    grabber.stopGraph();

    const std::vector<Packet> packets = readPackets("stamps.avi");
    ASSERT_EQ(packets.size(), numbers.size());
    int keys = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(packets[i].pts, numbers[i]);
        EXPECT_EQ(packets[i].key, packets[i].intra);
        keys += packets[i].key;
    }
    EXPECT_TRUE(packets[0].key);
    EXPECT_GE(keys, 2); // the group restarts
    EXPECT_LT(keys, int(packets.size()));
    std::filesystem::remove("stamps.avi");
}

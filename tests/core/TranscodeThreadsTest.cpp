// The encoder thread: its packets are written by the reading thread at fixed
// points, so a helper that runs slow or fast changes no byte of the file and
// no place where a limit cuts; its queue is bounded by the bytes it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/EncoderWorker.h"

#include "tests/common/VideoCheck.h"
#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

// Slows every encoder thread down while it lives.
class TSlowHelper {
public:
    TSlowHelper() { EncoderWorkerDelay = &Sleep; }
    ~TSlowHelper() { EncoderWorkerDelay = nullptr; }

private:
    static void Sleep() { std::this_thread::sleep_for(std::chrono::milliseconds(3)); }
};

// Keeps every processor busy while it lives, so that the threads of a run are
// set aside at moments a quiet machine never shows.
class TBusyProcessors {
public:
    TBusyProcessors() {
        for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            spinners_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~TBusyProcessors() {
        stop_ = true;
        for (std::thread& t : spinners_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> spinners_;
};

// A pool of n tiny audio frames.
std::vector<TFramePtr> Pool(size_t n) {
    std::vector<TFramePtr> pool;
    for (size_t i = 0; i < n; ++i) {
        TFramePtr frame(avutil.av_frame_alloc());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = 4;
        avutil.av_channel_layout_default(&frame->ch_layout, 1);
        EXPECT_GE(avutil.av_frame_get_buffer(frame.get(), 0), 0);
        pool.push_back(std::move(frame));
    }
    return pool;
}

// The worker on its own: a stand-in encoder gives one packet per frame whose
// size is the frame's number (and a last packet when drained). Each packet is
// written when the reading side comes back to its slot, whatever the delay.
TEST(EncoderWorkerTest, PacketsAreWrittenAtFixedPointsOfTheReadingSide) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    struct TWritten {
        int frame;     // which frame the packet came from (-1: the drain)
        int acquired;  // frames the reading side had acquired when it was written
    };
    for (const size_t slots : {size_t{2}, size_t{5}}) {
        for (const bool slow : {false, true}) {
            SCOPED_TRACE(std::to_string(slots) + (slow ? " slots, slow helper" : " slots"));
            std::unique_ptr<TSlowHelper> delay;
            if (slow) delay = std::make_unique<TSlowHelper>();
            int acquired = 0;
            std::vector<TWritten> written;
            TEncoderWorker worker(
                [](const AVFrame* frame, TPacketBatch& out) {
                    AVPacket* pkt = out.Next();
                    ASSERT_GE(avcodec.av_new_packet(pkt, frame ? static_cast<int>(frame->pts) + 1 : 1), 0);
                    pkt->pts = frame ? frame->pts : -1;
                    out.Keep();
                },
                [&](AVPacket* pkt) { written.push_back({static_cast<int>(pkt->pts), acquired}); }, Pool(slots));
            constexpr int kFrames = 12;
            for (int k = 0; k < kFrames; ++k) {
                AVFrame* frame = worker.Acquire();
                ++acquired;
                frame->pts = k;
                worker.Submit();
            }
            worker.Finish();
            ASSERT_EQ(written.size(), static_cast<size_t>(kFrames + 1));
            for (int k = 0; k < kFrames; ++k) {
                EXPECT_EQ(written[k].frame, k);
                // Written when frame k + slots was acquired, or at the end.
                EXPECT_EQ(written[k].acquired, std::min<int>(k + static_cast<int>(slots), kFrames)) << k;
            }
            EXPECT_EQ(written.back().frame, -1);
        }
    }
}

// A failing encoder: the reading side gets the failure at its next call, and
// nothing after the failed frame is written.
TEST(EncoderWorkerTest, AFailureOfTheEncoderIsRaisedOnTheReadingSide) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    int writes = 0;
    std::string raised;
    {
        TEncoderWorker worker(
            [](const AVFrame* frame, TPacketBatch& out) {
                if (frame && frame->pts == 3) throw std::runtime_error("encoder failed");
                AVPacket* pkt = out.Next();
                ASSERT_GE(avcodec.av_new_packet(pkt, 1), 0);
                out.Keep();
            },
            [&](AVPacket*) { ++writes; }, Pool(2));
        try {
            for (int k = 0; k < 100; ++k) {
                worker.Acquire()->pts = k;
                worker.Submit();
            }
            worker.Finish();
        } catch (const std::runtime_error& e) {
            raised = e.what();
        }
    }  // the destructor after the failure does not hang
    EXPECT_EQ(raised, "encoder failed");
    EXPECT_LE(writes, 3);
}

// The queue holds what fits in its bytes, never fewer than two frames: a
// 1080p picture gets two places, a small audio frame many.
TEST(EncoderWorkerTest, TheQueueIsBoundedByItsBytes) {
    struct TCase {
        size_t frame_bytes, budget, frames;
    };
    const TCase cases[] = {
        {1920 * 1080 * 3 / 2, 128 * 1024, 2},
        {1920 * 1080 * 3 / 2, 16 * 1024 * 1024, 5},
        {1152 * 2 * 2, 128 * 1024, 28},
        {1024 * 2 * 4, 1, 2},
    };
    for (const TCase& c : cases) EXPECT_EQ(EncoderPoolFrames(c.frame_bytes, c.budget), c.frames) << c.frame_bytes;
}

class TranscodeThreadsTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }
    // The bytes of one conversion of src to dst (written afresh).
    std::string ConvertBytes(const std::string& src, const std::string& dst,
                             const std::function<void(TCustomFFmpeg&)>& options) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        EXPECT_TRUE(core.OpenInputFile(src)) << core.last_error;
        options(core);
        EXPECT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        const std::string error = Run();
        EXPECT_EQ(error, "") << AllLines();
        return ReadFileBytes(dst);
    }
};

void H264Aac(TCustomFFmpeg& c) {
    c.SetCodecName('v', "libx264");
    c.SetCodecName('a', "aac");
    c.SetChannels(2);
    c.SetSampleRate(44100);
}

// Each limit cuts every kind at the same place whether the audio encoder's
// thread keeps up or lags behind on a loaded machine: the files are the same
// to the byte, and the limit is met.
TEST_F(TranscodeThreadsTest, LimitsCutAtTheSamePlaceHoweverFastTheHelperRuns) {
    struct TKind {
        const char* file;
        std::function<void(TCustomFFmpeg&)> options;
    };
    const TKind kinds[] = {
        {"out.mp4", H264Aac},
        {"out.mkv", H264Aac},
        {"out.mpg", [](TCustomFFmpeg& c) { c.SetTargetOption("pal-dvd"); }},
    };
    struct TLimit {
        const char* name;
        const char* value;
    };
    const TLimit limits[] = {{"vframes", "20"}, {"t", "1.2"}, {"fs", "60000"}};
    const std::string src =
        MakeFixture(dir, "in.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "3"});
    for (const TKind& kind : kinds) {
        for (const TLimit& limit : limits) {
            SCOPED_TRACE(std::string(kind.file) + " " + limit.name + " " + limit.value);
            auto options = [&](TCustomFFmpeg& c) {
                kind.options(c);
                c.SetOption(limit.name, limit.value);
            };
            const std::string plain = ConvertBytes(src, dir.File(kind.file), options);
            std::string slow;
            {
                TBusyProcessors load;
                TSlowHelper delay;
                slow = ConvertBytes(src, dir.File(kind.file), options);
            }
            ASSERT_GT(plain.size(), 1000u);
            EXPECT_TRUE(plain == slow) << "sizes " << plain.size() << " and " << slow.size();
            // The limit took effect.
            const std::string path = dir.File(kind.file);
            const int pictures = std::atoi(MediaInfoField(path, "Video", "FrameCount").c_str());
            if (std::string(limit.name) == "vframes") EXPECT_EQ(pictures, 20);
            if (std::string(limit.name) == "t") EXPECT_NEAR(pictures, 30, 1);
            // Matroska writes a cluster (5 s) at a time: a 3-second file grows only at its end.
            if (std::string(limit.name) == "fs" && std::string(kind.file) != "out.mkv") EXPECT_LT(pictures, 75);
        }
    }
}

// A queue of two frames (the least) on a loaded machine gives the same file as
// the default one on a quiet machine.
TEST_F(TranscodeThreadsTest, ASmallQueueWritesTheSameFile) {
    const std::string src =
        MakeFixture(dir, "in.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "2"});
    const std::string wide = ConvertBytes(src, dir.File("out.mp4"), H264Aac);
    core.encoder_queue_bytes = 1;
    std::string narrow;
    {
        TBusyProcessors load;
        narrow = ConvertBytes(src, dir.File("out.mp4"), H264Aac);
    }
    ASSERT_GT(wide.size(), 1000u);
    EXPECT_TRUE(wide == narrow);
    const DecodedAudio audio = ReadWav(DecodeToWav(dir.File("out.mp4"), dir.File("back.wav")));
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_NEAR(audio.Seconds(), 2.0, 0.1);
}

}  // namespace
}  // namespace transcodetest

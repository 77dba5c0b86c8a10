// Runs at the edges: bitstream filters that fail or hold data back, the size
// limit with an encoder thread, paced reading stopped midway, bit rates of
// both media types, extreme volumes, inputs without audio, inputs that end
// early and headers that lie about their rate.
#include <unistd.h>

#include <atomic>
#include <climits>
#include <fstream>
#include <thread>

#include "tests/core/CoreTestSupport.h"
#include "tests/common/TranscodeFixture.h"

using namespace transcodetest;
using coretest::MessageOf;

namespace {

// A copy of a RealMedia file that keeps its headers and its data chunk's own
// header, but not one packet.
std::string HeadersOnly(const std::string& src, const std::string& dst) {
    const std::string bytes = ReadFileBytes(src);
    const size_t data = bytes.find("DATA");
    if (data == std::string::npos) throw FixtureError("no DATA chunk in " + src);
    std::ofstream(dst, std::ios::binary) << bytes.substr(0, data + 18);
    return dst;
}

class TranscodeEdgeTest : public TranscodeTest {
protected:
    // A stream copy of src to dst with the output options set by `options`.
    std::string Copy(const std::string& src, const std::string& dst, const std::function<void()>& options) {
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        core.SetCodecName('a', "copy");
        options();
        if (!core.OpenOutputFile(dst)) return "output: " + core.last_error;
        return Run();
    }
};

TEST_F(TranscodeEdgeTest, BitstreamFiltersLoseNoPacketAndGiveOutWhatTheyHold) {
    const std::string mp3 = MakeMp3(dir, "in.mp3", 2.0, 44100, 2, 128);
    const std::string damaged = Corrupt(mp3, dir.File("damaged.mp3"), 0.3, 13);
    const std::string wav = MakeWav(dir, "in.wav", 10.0, 44100, 2);

    // The damaged MP3 copied as it is: the reference for the filtered copies.
    const std::string plain = dir.File("plain.mp3");
    ASSERT_EQ(Copy(damaged, plain, [] {}), "") << AllLines();
    const std::string plain_bytes = ReadFileBytes(plain);
    ASSERT_GT(plain_bytes.size(), 10000u);

    struct TCase {
        const char* name;
        const char* filters;  // absf values, in chain order
        bool xerror;
    };
    for (const TCase& c : {TCase{"failing filter", "mp3decomp", false},
                           TCase{"failing filter between two", "null,mp3decomp,null", false},
                           TCase{"failing filter with xerror", "mp3decomp", true}}) {
        SCOPED_TRACE(c.name);
        core.ResetOptionState();
        lines.clear();
        const std::string dst = dir.File("filtered.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        const std::string error = Copy(damaged, dst, [&] {
            std::string all = c.filters;
            for (size_t start = 0; start <= all.size();) {
                const size_t comma = std::min(all.find(',', start), all.size());
                core.SetOption("absf", all.substr(start, comma - start));
                start = comma + 1;
            }
            if (c.xerror) core.SetOption("xerror", "1");
        });
        if (c.xerror) {
            EXPECT_EQ(error.rfind("mp3decomp failed for stream 0, codec copy: ", 0), 0u) << error;
            EXPECT_FALSE(core.finished);
            continue;
        }
        ASSERT_EQ(error, "") << AllLines();
        EXPECT_TRUE(Logged("0 mp3decomp failed for stream 0, codec copy: ")) << AllLines();
        // Every packet the filter failed on is written as it came.
        EXPECT_TRUE(ReadFileBytes(dst) == plain_bytes) << FileSize(dst) << " bytes, not " << plain_bytes.size();
    }

    // A rechunking filter holds the last short chunk until the end of the stream.
    core.ResetOptionState();
    const std::string rechunked = dir.File("rechunked.wav");
    ASSERT_EQ(Copy(wav, rechunked, [&] { core.SetOption("absf", "pcm_rechunk"); }), "") << AllLines();
    const DecodedAudio in = ReadWav(wav);
    const DecodedAudio out = ReadWav(rechunked);
    ASSERT_TRUE(in.ok && out.ok) << in.error << out.error;
    ASSERT_GE(out.frames, in.frames) << "the tail of " << in.frames % 1024 << " samples is lost";
    EXPECT_LT(out.frames, in.frames + 1024) << "padded to whole chunks, no more";
    const auto in16 = in.ToInt16();
    const auto out16 = out.ToInt16();
    EXPECT_TRUE(std::equal(in16.begin(), in16.end(), out16.begin()));
}

TEST_F(TranscodeEdgeTest, TheSizeLimitHoldsWithinOnePacket) {
    const std::string src = MakeRealAc3(dir, "in.rm", 6.0, 44100, 2);
    constexpr long kLimit = 40000;
    for (const bool threaded : {true, false}) {
        for (const int kbps : {128, 320}) {
            SCOPED_TRACE(std::string(threaded ? "encoder thread" : "one thread") + ", " + std::to_string(kbps));
            core.ResetOptionState();
            core.encode_in_thread = threaded;
            const std::string dst = dir.File("fs.mp3");
            // Each case writes afresh: a file already there is never replaced.
            std::filesystem::remove(dst);
            ASSERT_TRUE(Open(src, dst, 2, 44100, kbps, [&] { core.SetOption("fs", std::to_string(kLimit)); }));
            ASSERT_EQ(Run(), "") << AllLines();
            const long packet = 144L * kbps * 1000 / 44100 + 1;  // the largest MP3 frame at this rate
            EXPECT_GT(FileSize(dst), kLimit);
            EXPECT_LE(FileSize(dst), kLimit + packet);
            const DecodedAudio mp3 = DecodeMp3(dst);
            ASSERT_TRUE(mp3.ok) << mp3.error;
            EXPECT_NEAR(DominantFrequency(Slice(mp3.Channel(0), mp3.rate, 0.2, mp3.Seconds() - 0.2), mp3.rate),
                        440.0, 3.0);
        }
    }
}

// A timestamp an hour ahead makes paced reading wait; a stop still ends the
// task, with a valid file.
TEST_F(TranscodeEdgeTest, PacedReadingEndsAtAStop) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    core.SetOption("re", "");
    core.SetOption("itsoffset", "3600");
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    // The stop comes once the set-up is over and the first packet waits.
    std::atomic<bool> set_up{false};
    std::atomic<bool> done{false};
    core.OnLog = [&](TCustomFFmpeg*, int, const std::string& msg) {
        if (msg == "Stream mapping:") set_up = true;
    };
    std::string error = "(not run)";
    std::thread runner([&] {
        error = Run();
        done = true;
    });
    while (!set_up && !done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    core.stop_requested = true;
    runner.join();
    EXPECT_EQ(error, "");
    EXPECT_TRUE(set_up);
    EXPECT_FALSE(core.finished);
    EXPECT_FALSE(core.EndedShort()) << "a stopped run is not told as short";
    EXPECT_TRUE(DecodeMp3(dst).ok || FileSize(dst) < 2000) << "a valid file, if any audio went out";
}

// "b" is the video bit rate and "ab" the audio one, in whatever order.
TEST_F(TranscodeEdgeTest, VideoBitRateLeavesTheAudioBitRateAlone) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0, 44100, 2);
    struct TCase {
        std::vector<std::pair<std::string, std::string>> options;
        int kbps;
    };
    for (const TCase& c : {TCase{{{"ab", "128000"}, {"b", "900000"}}, 128},
                           TCase{{{"b", "900000"}, {"ab", "96000"}}, 96},
                           TCase{{{"ab", "160000"}, {"b", "900000"}, {"bt", "500000"}}, 160}}) {
        SCOPED_TRACE(c.kbps);
        core.ResetOptionState();
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
        core.SetCodecName('a', "libmp3lame");
        for (const auto& [name, value] : c.options) core.SetOption(name, value);
        int64_t video_rate = 0;
        avutil.av_opt_get_int(core.generic_options.codec_options[0], "b", 0, &video_rate);
        EXPECT_EQ(video_rate, 900000);
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        ASSERT_EQ(Run(), "") << AllLines();
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_EQ(mp3.bitrateKbps, c.kbps);
        EXPECT_EQ(mp3.maxBitrateKbps, c.kbps);
    }
}

// Any volume the option takes: samples clip, nothing overflows (UBSan watches).
TEST_F(TranscodeEdgeTest, ExtremeVolumesClipWithoutOverflow) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.5, 44100, 1, {440.0});
    struct TCase {
        int volume;
        double peak_min, peak_max;
    };
    for (const TCase& c : {TCase{0, 0.0, 0.01}, TCase{256 * 1000, 0.95, 1.1}, TCase{INT_MAX, 0.95, 1.1},
                           TCase{INT_MAX / 256 + 1, 0.95, 1.1}}) {
        SCOPED_TRACE(c.volume);
        core.ResetOptionState();
        core.SetVolume(c.volume);
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        ASSERT_EQ(Convert(src, dst, 1, 44100, 128), "") << AllLines();
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        const auto mid = Slice(mp3.Channel(0), mp3.rate, 0.3, 1.2);
        EXPECT_GE(Peak(mid), c.peak_min);
        EXPECT_LE(Peak(mid), c.peak_max);
        if (c.volume > 0) EXPECT_NEAR(DominantFrequency(mid, mp3.rate), 440.0, 3.0);
    }
}

// Inputs that open but hold no audio a decoder can read end as failures with
// a message, never as a "completed" empty MP3.
TEST_F(TranscodeEdgeTest, AnInputWithoutDecodableAudioFails) {
    const std::string ac3 = MakeRealAc3(dir, "full.rm", 2.0, 44100, 2);
    const std::string ra = MakeRealAudio144(dir, "full.ra", 2.0);
    std::vector<std::string> inputs = {HeadersOnly(ac3, dir.File("headers.rm")),
                                       HeadersOnly(ra, dir.File("headers.ra"))};
    if (access(SamplesDir().c_str(), R_OK) == 0) {
        inputs.push_back(SamplePath("header-only.rm"));
    } else {
        std::cout << "[ SKIPPED  ] the real header-only sample: " << SamplesDir() << " is absent\n";
    }
    for (const std::string& src : inputs) {
        SCOPED_TRACE(src);
        core.ResetOptionState();
        lines.clear();
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        if (!core.OpenInputFile(src)) {
            // Refused at the door is as good: no run, no file.
            EXPECT_FALSE(core.last_error.empty());
            continue;
        }
        core.SetCodecName('a', "libmp3lame");
        ASSERT_TRUE(core.SetGenericIntOption("ab", 128000));
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        EXPECT_EQ(Run(), "No audio could be decoded from the input") << AllLines();
        EXPECT_FALSE(core.finished);
        std::remove(dst.c_str());
    }
}

// How much was converted against how much the input declared: a cut file, a
// file cut while it is read, and runs that are short on purpose.
TEST_F(TranscodeEdgeTest, ConvertedLengthTellsAnInputThatEndedEarly) {
    const std::string full = MakeRealAc3(dir, "full.rm", 10.0, 44100, 2);
    const double full_seconds = ReadMediaInfo(full).AudioSeconds();
    struct TCase {
        const char* name;
        double cut_percent;          // < 100: the input is a cut copy
        double cut_while_reading;    // > 0: the input is cut to this share at the first report
        const char* option;          // a limit set on purpose
        const char* value;
        bool short_expected;
        double seconds;              // converted, about
    };
    const TCase cases[] = {
        {"whole file", 100, 0, nullptr, nullptr, false, full_seconds},
        {"cut to 30 %", 30, 0, nullptr, nullptr, true, 3.0},
        {"cut to 97 %", 97, 0, nullptr, nullptr, false, 9.7},
        {"cut while read", 100, 0.25, nullptr, nullptr, true, 2.5},
        {"recording time", 100, 0, "t", "4", false, 4.0},
        {"start offset", 100, 0, "ss", "6", false, full_seconds - 6},
        {"size limit", 100, 0, "fs", "40000", false, 2.5},
        {"frame limit", 100, 0, "aframes", "100", false, 2.7},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        core.ResetOptionState();
        core.OnProgress = nullptr;
        std::string src = dir.File("in.rm");
        std::ofstream(src, std::ios::binary) << ReadFileBytes(full);
        if (c.cut_percent < 100) src = MakeCut(full, c.cut_percent, dir.File("cut.rm"));
        if (c.cut_while_reading > 0) {
            const off_t keep = static_cast<off_t>(static_cast<double>(FileSize(src)) * c.cut_while_reading);
            core.progress_interval = 0;
            core.OnProgress = [&, keep](TCustomFFmpeg*, int, int, int, float, float, int64_t, int) {
                if (FileSize(src) > keep) ASSERT_EQ(truncate(src.c_str(), keep), 0);
            };
        }
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128, [&] {
            if (c.option) core.SetOption(c.option, c.value);
        }));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_TRUE(core.finished);
        EXPECT_EQ(core.EndedShort(), c.short_expected)
            << core.converted_ms << " ms of " << core.ExpectedOutputMs() << " ms";
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        // The figure the front ends show is the length of the file written.
        EXPECT_NEAR(core.converted_ms / 1000.0, mp3.Seconds(), 0.1);
        // The decoder reads whole packets: cuts land within a packet or two.
        EXPECT_NEAR(mp3.Seconds(), c.seconds, c.cut_while_reading > 0 ? 1.0 : 0.3);
    }
}

// Headers that claim a rate far from their data's: refused when no encoder
// could take it, stopped when the output runs far past the declared length.
TEST_F(TranscodeEdgeTest, HeadersThatLieAboutTheRateNeverWriteWithoutBound) {
    struct TCase {
        const char* name;
        const char* kind;
        const char* claimed;
        double seconds;
        const char* message_start;
    };
    const TCase cases[] = {
        {"wav at 1 Hz", "wav", "1", 1.0, "Input stream #0.0: a sample rate of 1 Hz cannot be converted"},
        {"14.4 at 1 Hz", "rm-ra144", "1", 2.0, "Input stream #0.0: a sample rate of 1 Hz cannot be converted"},
        {"14.4 at 1000 Hz", "rm-ra144", "1000", 20.0,
         "The input decodes to far more than its declared length ("},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        core.ResetOptionState();
        const std::string src = MakeFixture(dir, std::string("in.") + (c.kind[0] == 'w' ? "wav" : "rm"), c.kind,
                                            {"--seconds", std::to_string(c.seconds), "--claim-rate", c.claimed});
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        if (!core.OpenInputFile(src)) {
            ADD_FAILURE() << "the file opens; the run must refuse it: " << core.last_error;
            continue;
        }
        core.SetCodecName('a', "libmp3lame");
        core.SetChannels(1);
        core.SetSampleRate(8000);
        ASSERT_TRUE(core.SetGenericIntOption("ab", 32000));
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        const std::string error = Run();
        EXPECT_EQ(error.rfind(c.message_start, 0), 0u) << error;
        // At 32 kbit/s, the declared length twice and a minute more is well under 1 MB.
        EXPECT_LT(FileSize(dst), 1 << 20);
        std::remove(dst.c_str());
    }
}

// Drift within the threshold, after the start has been brought into step,
// stretches the audio through the resampler: the output follows timestamps
// that run 2 % fast, and the tone goes down with the stretch.
TEST_F(TranscodeEdgeTest, AsyncStretchesTheAudioToFollowDriftingTimestamps) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0, 44100, 2);
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    struct TCase {
        const char* async;
        bool stretched;
    };
    for (const TCase& c : {TCase{"1", false}, TCase{"1000", true}}) {
        SCOPED_TRACE(c.async);
        core.ResetOptionState();
        lines.clear();
        core.SetVerbosity(3);
        avutil.av_log_set_level(AV_LOG_QUIET);  // the core's lines only
        core.SetOption("async", c.async);
        core.SetOption("itsoffset", "0.2");  // padded at the start: the stream is in step after that
        core.SetOption("itsscale", "0:1.02");
        const std::string dst = dir.File("out.mp3");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_EQ(Logged("1 compensating audio timestamp drift:"), c.stretched) << AllLines();
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        const double expected = 0.2 + in_seconds * (c.stretched ? 1.02 : 1.0);
        EXPECT_NEAR(mp3.Seconds(), expected, 0.02) << "unstretched: " << 0.2 + in_seconds;
        const double tone = DominantFrequency(Slice(mp3.Channel(0), mp3.rate, 1.5, mp3.Seconds() - 0.2), mp3.rate);
        if (c.stretched)
            EXPECT_LT(tone, 437.0);
        else
            EXPECT_NEAR(tone, 440.0, 1.0);
    }
}

}  // namespace

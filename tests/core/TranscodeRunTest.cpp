// The run as a whole: stop requests, progress records, inputs with video,
// truncated and corrupted inputs, failing writes, tasks this version refuses.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/common/TranscodeFixture.h"

using namespace transcodetest;

namespace {

class TranscodeRunTest : public TranscodeTest {
protected:
    std::vector<TProgress> progress;

    void RecordProgress() {
        core.OnProgress = [this](TCustomFFmpeg*, int frame, int fps, int current, float quality, float bitrate,
                                 int64_t size, int total) {
            progress.push_back({frame, fps, current, quality, bitrate, size, total});
        };
    }
};

TEST_F(TranscodeRunTest, ProgressRecordsGrowAndEndAtTheInputsLength) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    RecordProgress();
    core.progress_interval = 0;  // a record after every packet
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    const int expected_ms = core.expected_duration_ms;
    EXPECT_NEAR(expected_ms, in_seconds * 1000, 150);
    ASSERT_EQ(Run(), "") << AllLines();

    ASSERT_GE(progress.size(), 3u);
    for (size_t i = 0; i < progress.size(); ++i) {
        const TProgress& p = progress[i];
        // An audio-only task has no frame counter, speed or quantiser.
        EXPECT_EQ(p.frame_number, -1);
        EXPECT_EQ(p.fps, -1);
        EXPECT_FLOAT_EQ(p.quality, -1.0f);
        EXPECT_EQ(p.total_ms, expected_ms);
        EXPECT_GE(p.current_ms, 0);
        if (i > 0) {
            EXPECT_GE(p.current_ms, progress[i - 1].current_ms) << "record " << i;
            EXPECT_GE(p.size, progress[i - 1].size) << "record " << i;
        }
    }
    const TProgress& last = progress.back();
    EXPECT_NEAR(last.current_ms, in_seconds * 1000, 1000.0 * Mp3FrameSeconds(44100) + 30);
    EXPECT_EQ(last.size, FileSize(dst));
    EXPECT_NEAR(last.bitrate, 128.0, 12.0);
    // Without a progress handler the final statistics still reach the log.
    EXPECT_TRUE(Logged("muxing overhead")) << AllLines();
}

// A video output's last record reaches the end of its last picture, in
// containers that count in milliseconds, in their own ticks and in frames.
TEST_F(TranscodeRunTest, VideoProgressEndsAtTheEndOfTheLastPicture) {
    const std::string src =
        MakeFixture(dir, "in.rm", "rm-video", {"--seconds", "4", "--fps", "25", "--audio", "none"});
    for (const char* ext : {".mkv", ".mp4", ".avi"}) {
        SCOPED_TRACE(ext);
        const std::string dst = dir.File(std::string("out") + ext);
        core.ResetOptionState();
        progress.clear();
        RecordProgress();
        core.progress_interval = 0;
        ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
        core.SetCodecName('v', "mpeg4");
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        ASSERT_EQ(Run(), "") << AllLines();
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().current_ms, 4000);
        EXPECT_EQ(core.converted_ms, 4000);
        EXPECT_FALSE(core.EndedShort());
    }
}

TEST_F(TranscodeRunTest, TextReportAndByteStatisticsGoToTheLogWithoutAProgressHandler) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0, 48000, 1);
    const std::string dst = dir.File("out.mp3");
    ASSERT_TRUE(Open(src, dst, 1, 48000, 64));
    ASSERT_EQ(Run(), "");
    EXPECT_TRUE(Logged("1 Stream mapping:")) << AllLines();
    EXPECT_TRUE(Logged("1   Stream #0.0 -> #0.0")) << AllLines();
    EXPECT_TRUE(Logged("size=")) << AllLines();
    EXPECT_TRUE(Logged("bitrate=")) << AllLines();
    bool stats = false;
    for (const auto& line : lines) {
        if (line.rfind("1 video:0kB audio:", 0) != 0) continue;
        stats = true;
        EXPECT_NE(line.find("global headers:0kB muxing overhead "), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - 3), "%\r\n") << line;
        // Two decimals before the percent sign.
        const size_t pct = line.rfind('%');
        ASSERT_GE(pct, 3u);
        EXPECT_EQ(line[pct - 3], '.') << line;
    }
    EXPECT_TRUE(stats) << AllLines();
}

TEST_F(TranscodeRunTest, AStopMidRunLeavesAValidShorterFile) {
    const std::string src = MakeRealAc3(dir, "in.rm", 8.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    core.progress_interval = 0;
    int reports_after_stop = 0;
    core.OnProgress = [&](TCustomFFmpeg* sender, int, int, int current, float, float, int64_t, int) {
        if (sender->stop_requested) ++reports_after_stop;
        if (current >= 1000) sender->stop_requested = true;
    };
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    ASSERT_EQ(Run(), "") << AllLines();
    EXPECT_FALSE(core.finished);
    EXPECT_EQ(reports_after_stop, 1) << "only the final report follows the stop";

    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GT(mp3.Seconds(), 0.9);
    EXPECT_LT(mp3.Seconds(), 2.0);
    const auto mid = Slice(mp3.Channel(0), mp3.rate, 0.2, mp3.Seconds() - 0.2);
    EXPECT_NEAR(DominantFrequency(mid, mp3.rate), 440.0, 3.0);
}

TEST_F(TranscodeRunTest, AStopBeforeTheFirstPacketStillWritesAValidFile) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    core.stop_requested = true;
    ASSERT_EQ(Run(), "");
    EXPECT_FALSE(core.finished);
    // Header and trailer only: no audio, but a file the decoder accepts as empty.
    EXPECT_TRUE(FileExists(dst));
}

TEST_F(TranscodeRunTest, VideoAndAudioInputGivesAnAudioOnlyMp3) {
    const std::string src = MakeRealVideo(dir, "in.rm", 2.0, "rv10", RealAudio::Ac3);
    const std::string dst = dir.File("out.mp3");
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    ASSERT_EQ(Convert(src, dst, 2, 44100, 192), "") << AllLines();
    EXPECT_TRUE(core.finished);
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_EQ(mp3.channels, 2);
    EXPECT_EQ(mp3.bitrateKbps, 192);
    EXPECT_NEAR(mp3.Seconds(), in_seconds, Mp3FrameSeconds(44100));
    EXPECT_NEAR(DominantFrequency(Slice(mp3.Channel(0), mp3.rate, 0.3, 1.5), mp3.rate), 440.0, 3.0);
    EXPECT_NEAR(DominantFrequency(Slice(mp3.Channel(1), mp3.rate, 0.3, 1.5), mp3.rate), 1000.0, 3.0);
}

TEST_F(TranscodeRunTest, TruncatedInputsEndCleanlyWithWhatTheyHold) {
    const std::string full = MakeRealAc3(dir, "full.rm", 4.0, 44100, 2);
    for (double percent : {75.0, 50.0, 10.0}) {
        SCOPED_TRACE(percent);
        const std::string src = MakeCut(full, percent, dir.File("cut.rm"));
        const std::string dst = dir.File("out.mp3");
        core.ResetOptionState();
        ASSERT_EQ(Convert(src, dst, 2, 44100, 128), "") << AllLines();
        EXPECT_TRUE(core.finished);
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_LT(mp3.Seconds(), 4.0 * percent / 100 + 0.3);
        if (percent >= 50) EXPECT_GT(mp3.Seconds(), 4.0 * percent / 100 - 0.6);
    }
}

TEST_F(TranscodeRunTest, CorruptedInputLogsDecodingErrorsAndStillGivesAValidFile) {
    const std::string good = MakeRealAc3(dir, "good.rm", 3.0, 44100, 2);
    const std::string src = Corrupt(good, dir.File("bad.rm"), 0.3, 97);
    const std::string dst = dir.File("out.mp3");
    ASSERT_EQ(Convert(src, dst, 2, 44100, 128), "") << AllLines();
    EXPECT_TRUE(Logged("1 Error while decoding stream #0.0")) << AllLines();
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GT(mp3.Seconds(), 0.5);
}

TEST_F(TranscodeRunTest, CorruptedInputWithXerrorEndsTheRunWithTheDecodingError) {
    const std::string good = MakeRealAc3(dir, "good.rm", 3.0, 44100, 2);
    const std::string src = Corrupt(good, dir.File("bad.rm"), 0.3, 97);
    const std::string dst = dir.File("out.mp3");
    core.SetOption("xerror", "1");
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    EXPECT_EQ(Run(), "Error while decoding stream #0.0");
    EXPECT_FALSE(core.finished);
}

TEST_F(TranscodeRunTest, AFailingWriteEndsTheRunWithTheWritersMessage) {
    const std::string src = MakeRealAc3(dir, "in.rm", 4.0, 44100, 2);
    ASSERT_TRUE(Open(src, "/dev/full", 2, 44100, 320, [&] { core.SetOption("f", "mp3"); }));
    const std::string error = Run();
    // /dev/full fails every write as a full disk does: the user reads the system's reason.
    EXPECT_EQ(error, "av_interleaved_write_frame(): No space left on device");
    EXPECT_EQ(core.write_error, AVERROR(ENOSPC));
    EXPECT_FALSE(core.finished);
}

// The file-size limit of the process stands in for a full disk: nothing can be
// written, the run fails with the writer's message and no empty file is left.
TEST_F(TranscodeRunTest, NothingWrittenLeavesNoEmptyFile) {
    const std::string src = MakeRealAc3(dir, "in.rm", 4.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto child = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{0, 0};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 0;
            setrlimit(RLIMIT_FSIZE, &limit);
            if (!Open(src, dst, 2, 44100, 320)) std::_Exit(2);
            if (FileExists(dst)) std::_Exit(3);
            const std::string error = Run();
            if (error.rfind("av_interleaved_write_frame(): ", 0) != 0) {
                std::fprintf(stderr, "run ended with: %s\n", error.c_str());
                std::_Exit(4);
            }
            std::_Exit(FileExists(dst) ? 5 : 0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(FileExists(dst));
}

TEST_F(TranscodeRunTest, StreamCopyWritesThePacketsAsTheyCame) {
    const std::string src = MakeMp3(dir, "in.mp3", 2.0, 44100, 2, 128);
    const std::string dst = dir.File("out.mp3");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "copy");
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    ASSERT_EQ(Run(), "") << AllLines();
    const DecodedAudio in = DecodeMp3(src);
    const DecodedAudio out = DecodeMp3(dst);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.bitrateKbps, 128);
    EXPECT_EQ(out.mpegFrames, in.mpegFrames);
}

TEST_F(TranscodeRunTest, CopyWithVolumeIsRefused) {
    const std::string src = MakeMp3(dir, "in.mp3", 1.0, 44100, 2, 128);
    const std::string dst = dir.File("out.mp3");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "copy");
    core.SetVolume(512);
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    EXPECT_EQ(Run(), "-acodec copy and -vol are incompatible (frames are not decoded)");
}

TEST_F(TranscodeRunTest, VolumeScalesTheLevel) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 44100, 1, {440.0});
    const std::string dst = dir.File("out.mp3");
    core.SetVolume(384);  // 1.5 x
    ASSERT_EQ(Convert(src, dst, 1, 44100, 128), "") << AllLines();
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_NEAR(ToneMagnitude(Slice(mp3.Channel(0), mp3.rate, 0.3, 1.7), mp3.rate, 440.0), 0.75, 0.08);
}

TEST_F(TranscodeRunTest, MapChecksComeWithTheirMessages) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0, 44100, 2);
    ASSERT_TRUE(Open(src, dir.File("a.mp3"), 2, 44100, 128));
    core.stream_map = {TStreamMap{0, 1, 0, 1}};
    EXPECT_EQ(Run(), "Could not find input stream #0.1");

    core.ResetOptionState();
    ASSERT_TRUE(Open(src, dir.File("b.mp3"), 2, 44100, 128));
    core.stream_map = {TStreamMap{0, 0, 0, 0}, TStreamMap{0, 0, 0, 0}};
    EXPECT_EQ(Run(), "Number of stream maps must match number of output streams");

    core.ResetOptionState();
    ASSERT_TRUE(Open(src, dir.File("c.mp3"), 2, 44100, 128));
    core.stream_map = {TStreamMap{0, 0, 1, 0}};
    EXPECT_EQ(Run(), "Could not find sync stream #1.0");

    core.ResetOptionState();
    ASSERT_TRUE(Open(src, dir.File("d.mp3"), 2, 44100, 128));
    core.metadata_map = {TMetadataMap{3, 0}};
    EXPECT_EQ(Run(), "Invalid output file index 3 map_meta_data(3,0)");
    EXPECT_FALSE(core.run);  // gone with the codecs it opened
}

TEST_F(TranscodeRunTest, AsyncPadsALateStartWithSilenceAndKeepsTheTone) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 44100, 2);
    const std::string dst = dir.File("out.mp3");
    core.SetOption("async", "1");
    core.SetOption("itsoffset", "0.5");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "libmp3lame");
    ASSERT_TRUE(core.SetGenericIntOption("ab", 128000));
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    ASSERT_EQ(Run(), "") << AllLines();
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    const auto left = mp3.Channel(0);
    EXPECT_LT(Rms(Slice(left, mp3.rate, 0.0, 0.45)), 0.01) << "silence in front";
    EXPECT_NEAR(ToneMagnitude(Slice(left, mp3.rate, 0.8, 2.2), mp3.rate, 440.0), 0.5, 0.1);
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    EXPECT_NEAR(mp3.Seconds(), in_seconds + 0.5, 2 * Mp3FrameSeconds(44100));
}

TEST_F(TranscodeRunTest, LimitsEndTheRunEarly) {
    const std::string src = MakeRealAc3(dir, "in.rm", 6.0, 44100, 2);
    {
        SCOPED_TRACE("recording time");
        const std::string dst = dir.File("t.mp3");
        core.SetOption("t", "2");
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
        ASSERT_EQ(Run(), "");
        EXPECT_TRUE(core.finished);
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_GT(mp3.Seconds(), 1.9);
        EXPECT_LT(mp3.Seconds(), 2.3);
    }
    {
        SCOPED_TRACE("audio frames");
        core.ResetOptionState();
        const std::string dst = dir.File("a.mp3");
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128, [&] { core.SetOption("aframes", "20"); }));
        ASSERT_EQ(Run(), "");
        const DecodedAudio mp3 = DecodeMp3(dst);
        ASSERT_TRUE(mp3.ok) << mp3.error;
        // 20 MP3 frames were written when the loop stopped reading; the drain adds
        // what was already decoded.
        EXPECT_GE(mp3.mpegFrames, 20);
        EXPECT_LT(mp3.mpegFrames, 30);
    }
    {
        SCOPED_TRACE("file size");
        core.ResetOptionState();
        const std::string dst = dir.File("fs.mp3");
        core.SetOption("fs", "40000");
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
        ASSERT_EQ(Run(), "");
        // The limit is checked against what reached the file, before each read.
        EXPECT_GT(FileSize(dst), 32000);
        EXPECT_LT(FileSize(dst), 80000);
        EXPECT_TRUE(DecodeMp3(dst).ok);
    }
}

TEST_F(TranscodeRunTest, EncoderThreadWritesTheSameBytesAsTheReadingThread) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0, 48000, 2);
    const std::string threaded = dir.File("threaded.mp3");
    const std::string direct = dir.File("direct.mp3");
    ASSERT_EQ(Convert(src, threaded, 2, 44100, 160), "") << AllLines();
    core.ResetOptionState();
    core.encode_in_thread = false;
    ASSERT_EQ(Convert(src, direct, 2, 44100, 160), "") << AllLines();
    const std::string a = ReadFileBytes(threaded);
    ASSERT_GT(a.size(), 10000u);
    EXPECT_TRUE(a == ReadFileBytes(direct));
}

TEST_F(TranscodeRunTest, BitstreamFiltersPassPacketsOnAndARefusingFilterIsLeftOut) {
    const std::string src = MakeMp3(dir, "in.mp3", 2.0, 44100, 2, 128);
    const std::string plain = dir.File("plain.mp3");
    const std::string filtered = dir.File("filtered.mp3");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "copy");
    ASSERT_TRUE(core.OpenOutputFile(plain)) << core.last_error;
    ASSERT_EQ(Run(), "");

    core.ResetOptionState();
    lines.clear();
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "copy");
    core.SetOption("absf", "null");
    core.SetOption("absf", "h264_mp4toannexb");  // refuses MP3
    core.SetOption("absf", "null");
    ASSERT_TRUE(core.OpenOutputFile(filtered)) << core.last_error;
    ASSERT_EQ(Run(), "") << AllLines();
    EXPECT_TRUE(Logged("0 h264_mp4toannexb failed for stream 0, codec copy")) << AllLines();
    EXPECT_TRUE(ReadFileBytes(plain) == ReadFileBytes(filtered));

    core.ResetOptionState();
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('a', "copy");
    core.SetOption("absf", "h264_mp4toannexb");
    core.SetOption("xerror", "1");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("x.mp3"))) << core.last_error;
    EXPECT_EQ(Run().rfind("h264_mp4toannexb failed for stream 0, codec copy", 0), 0u);
}

TEST_F(TranscodeRunTest, AsyncCutsAnEarlyStart) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 44100, 2);
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    const std::string dst = dir.File("cut.mp3");
    core.SetOption("async", "1");
    core.SetOption("itsoffset", "-0.5");
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    ASSERT_EQ(Run(), "") << AllLines();
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_NEAR(mp3.Seconds(), in_seconds - 0.5, 2 * Mp3FrameSeconds(44100));
    EXPECT_NEAR(ToneMagnitude(Slice(mp3.Channel(1), mp3.rate, 0.2, 1.3), mp3.rate, 1000.0), 0.5, 0.1);
}

// Noise behind a RealMedia signature, and RealMedia files with their middles
// overwritten by noise: whatever opens must run to an end without a crash.
TEST_F(TranscodeRunTest, HostileInputsEndCleanly) {
    const std::string good = MakeRealAc3(dir, "good.rm", 2.0, 44100, 2);
    const std::string good_bytes = ReadFileBytes(good);
    int ran = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        std::string src;
        if (seed <= 3) {
            src = MakeRandom(dir, "noise.rm", 20000 * seed, seed, true);
        } else {
            // The header kept, the rest from another seed's noise.
            const std::string noise = ReadFileBytes(MakeRandom(dir, "n.bin", good_bytes.size(), seed));
            std::string bytes = good_bytes;
            for (size_t i = 600 + seed * 100; i < bytes.size(); i += seed) bytes[i] = noise[i];
            src = dir.File("mixed.rm");
            std::ofstream(src, std::ios::binary) << bytes;
        }
        core.ResetOptionState();
        if (!core.OpenInputFile(src)) continue;
        core.SetCodecName('a', "libmp3lame");
        ASSERT_TRUE(core.SetGenericIntOption("ab", 128000));
        const std::string dst = dir.File("out.mp3");
        if (!core.OpenOutputFile(dst)) {
            core.FreeFiles();
            continue;
        }
        ++ran;
        const std::string error = Run();
        if (error.empty() && FileExists(dst)) EXPECT_TRUE(DecodeMp3(dst).ok || FileSize(dst) < 2000);
        std::remove(dst.c_str());
    }
    EXPECT_GE(ran, 3) << "the damaged RealMedia files still open";
}

TEST_F(TranscodeRunTest, VideoAndAudioStreamCopyKeepsEveryPacket) {
    const std::string src = MakeRealVideo(dir, "in.rm", 2.0, "rv10", RealAudio::Ac3);
    const std::string dst = dir.File("out.avi");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('v', "copy");
    core.SetCodecName('a', "copy");
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    ASSERT_EQ(Run(), "") << AllLines();
    EXPECT_TRUE(core.finished);
    const MediaInfo in = ReadMediaInfo(src);
    const MediaInfo out = ReadMediaInfo(dst);
    ASSERT_EQ(out.Get("streams"), "2");
    for (const char* type : {"video", "audio"}) {
        SCOPED_TRACE(type);
        auto packets = [&](const MediaInfo& m) {
            for (int i = 0; i < 2; ++i)
                if (m.Get("stream." + std::to_string(i) + ".type") == type)
                    return m.Number("stream." + std::to_string(i) + ".packets");
            return -1.0;
        };
        EXPECT_GT(packets(in), 10);
        EXPECT_EQ(packets(out), packets(in));
    }
    EXPECT_NEAR(out.AudioSeconds(), in.AudioSeconds(), 0.05);
}

}  // namespace

// What is under the final name after a run, for every way a run can end.
TEST_F(TranscodeRunTest, AnExistingFileIsReplacedOnlyByAFinishedRunWithOverwriting) {
    enum TEnd { Finish, Stop, Fail };
    enum TOld { Free, There, TakenMeanwhile };
    struct TCase {
        const char* what;
        TEnd end;
        TOld old;
        bool overwrite;
        const char* final_holds;     // "new", "old" or "" (no file)
        const char* numbered_holds;  // what out(1).mp3 holds
    };
    const TCase cases[] = {
        {"finished, free name", Finish, Free, false, "new", ""},
        {"finished over a file, overwriting", Finish, There, true, "new", ""},
        {"finished over a file, not overwriting", Finish, There, false, "old", "new"},
        {"name taken during the run, not overwriting", Finish, TakenMeanwhile, false, "old", "new"},
        {"stopped, free name", Stop, Free, true, "new", ""},
        {"stopped over a file, overwriting", Stop, There, true, "old", ""},
        {"stopped, name taken during the run", Stop, TakenMeanwhile, false, "old", ""},
        {"failed over a file, overwriting", Fail, There, true, "old", ""},
        {"failed, free name", Fail, Free, true, "", ""},
    };
    const std::string good = MakeRealAc3(dir, "good.rm", 3.0, 44100, 2);
    const std::string bad = Corrupt(good, dir.File("bad.rm"), 0.3, 97);
    int folder_number = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir.File("out" + std::to_string(folder_number++));
        std::filesystem::create_directory(folder);
        const std::string dst = folder + "/out.mp3";
        if (c.old == There) std::ofstream(dst) << "old";
        core.ResetOptionState();
        core.stop_requested = false;
        core.progress_interval = 0;
        core.OnProgress = [&](TCustomFFmpeg* sender, int, int, int current, float, float, int64_t, int) {
            if (c.end == Stop && current >= 1000) sender->stop_requested = true;
        };
        overwrite = c.overwrite;
        // A decoding error with xerror stands for any error that ends a run midway.
        if (c.end == Fail) core.SetOption("xerror", "1");
        ASSERT_TRUE(Open(c.end == Fail ? bad : good, dst, 2, 44100, 128));
        if (c.old == TakenMeanwhile) std::ofstream(dst) << "old";
        const std::string error = Run();
        EXPECT_EQ(error, c.end == Fail ? "Error while decoding stream #0.0" : "");
        for (const auto& [path, holds] : {std::pair{dst, c.final_holds}, {folder + "/out(1).mp3", c.numbered_holds}}) {
            SCOPED_TRACE(path);
            const std::string expected = holds;
            if (expected.empty()) {
                EXPECT_FALSE(FileExists(path));
            } else if (expected == "old") {
                EXPECT_EQ(ReadFileBytes(path), "old");
            } else {
                const DecodedAudio mp3 = DecodeMp3(path);
                ASSERT_TRUE(mp3.ok) << mp3.error;
                if (c.end == Finish) EXPECT_NEAR(mp3.Seconds(), 3.0, 0.1);
                else EXPECT_LT(mp3.Seconds(), 2.5);
            }
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            EXPECT_NE(entry.path().filename().string().rfind(".ardx-", 0), 0u) << "left behind: " << entry.path();
    }
}

TEST_F(TranscodeRunTest, AFolderThatGoesDuringTheRunFailsItWithTheReason) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0, 44100, 2);
    std::filesystem::create_directory(dir.File("out"));
    const std::string dst = dir.File("out/song.mp3");
    core.progress_interval = 0;
    bool moved = false;
    core.OnProgress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int) {
        if (!moved) moved = ::rename(dir.File("out").c_str(), dir.File("elsewhere").c_str()) == 0;
    };
    ASSERT_TRUE(Open(src, dst, 2, 44100, 128));
    EXPECT_EQ(Run(), "Could not save '" + dst + "': No such file or directory");
    EXPECT_TRUE(moved);
    EXPECT_FALSE(FileExists(dst));
    EXPECT_FALSE(FileExists(dir.File("elsewhere/song.mp3")));
}

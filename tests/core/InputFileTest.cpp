// Opening input files: what the option state learns from the file, the
// resets, the failures with their texts, and hostile files.
#include <cmath>

#include "tests/core/InputFileFixture.h"

using namespace filetest;

namespace {

class InputFileTest : public FileTest {};

// Time of the first packet read after opening, in microseconds.
int64_t FirstPacketTime(AVFormatContext* ic) {
    AVPacket* pkt = avcodec.av_packet_alloc();
    int64_t us = AV_NOPTS_VALUE;
    while (avformat.av_read_frame(ic, pkt) >= 0) {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ts != AV_NOPTS_VALUE) {
            us = avutil.av_rescale_q(ts, ic->streams[pkt->stream_index]->time_base, AVRational{1, 1000000});
            avcodec.av_packet_unref(pkt);
            break;
        }
        avcodec.av_packet_unref(pkt);
    }
    avcodec.av_packet_free(&pkt);
    return us;
}

}  // namespace

TEST_F(InputFileTest, RealAudio144FillsTheAudioSettingsAndIsRecorded) {
    const std::string src = MakeRealAudio144(dir, "tone.ra", 2.0);
    core.SetCodecName('v', "rv10");  // a valid decoder name, consumed by this file
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;

    EXPECT_EQ(core.input_file_count, 1);
    ASSERT_NE(Input(0), nullptr);
    ASSERT_EQ(Input(0)->nb_streams, 1u);
    ASSERT_EQ(core.input_files[0].decoders.size(), 1u);
    const AVCodecContext* dec = core.input_files[0].decoders[0].get();
    EXPECT_EQ(dec->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(dec->codec_id, AV_CODEC_ID_RA_144);
    EXPECT_EQ(core.audio_sample_rate, 8000);
    EXPECT_EQ(core.audio_channels, 1);
    EXPECT_EQ(core.audio_sample_fmt, dec->sample_fmt);
    EXPECT_EQ(core.audio_channel_layout, static_cast<int64_t>(AV_CH_LAYOUT_MONO));
    EXPECT_EQ(core.input_decoder_count, 1);
    EXPECT_EQ(core.input_decoders[0], nullptr);
    EXPECT_NEAR(core.expected_duration_ms, 2000, 150);
    // Consumed by the file: the next file starts without them.
    EXPECT_TRUE(core.video_codec_name.empty());
    EXPECT_EQ(core.forced_input_format, nullptr);
    // The file's start time is taken off its timestamps.
    const int64_t start = Input(0)->start_time == AV_NOPTS_VALUE ? 0 : Input(0)->start_time;
    EXPECT_EQ(core.input_ts_offsets[0], -start);
    EXPECT_NE(LibText().find("Input #0"), std::string::npos) << "the description goes through the library's log";
}

TEST_F(InputFileTest, Ac3StereoGivesRateChannelsAndLayout) {
    const std::string src = MakeRealAc3(dir, "stereo.rm", 1.0, 48000, 2);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(core.audio_sample_rate, 48000);
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_EQ(core.audio_channel_layout, static_cast<int64_t>(AV_CH_LAYOUT_STEREO));
    EXPECT_EQ(core.input_files[0].decoders[0]->codec_id, AV_CODEC_ID_AC3);
}

TEST_F(InputFileTest, VideoFileFillsPictureSettingsAndOneEntryPerStream) {
    const std::string src = MakeRealVideo(dir, "clip.rm", 1.0, "rv10", RealAudio::Ac3);
    Listen();
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    ASSERT_EQ(Input(0)->nb_streams, 2u);
    EXPECT_EQ(core.frame_width, 176);
    EXPECT_EQ(core.frame_height, 144);
    EXPECT_EQ(core.frame_pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_NEAR(core.frame_aspect, 176.0 / 144.0, 1e-5);
    EXPECT_GT(core.frame_rate.num, 0);
    EXPECT_GT(core.frame_rate.den, 0);
    EXPECT_EQ(core.audio_sample_rate, 44100);
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_EQ(core.input_decoder_count, 2);
    EXPECT_EQ(core.input_files[0].decoders.size(), 2u);
    for (const std::string& line : lines) EXPECT_EQ(line.find("Seems stream"), std::string::npos) << line;
}

TEST_F(InputFileTest, DisabledTypesAreDiscarded) {
    const std::string src = MakeRealVideo(dir, "clip.rm", 1.0, "rv10", RealAudio::Ac3);
    core.SetOption("vn", "");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    for (unsigned i = 0; i < Input(0)->nb_streams; ++i) {
        const AVStream* st = Input(0)->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            EXPECT_EQ(st->discard, AVDISCARD_ALL);
        else
            EXPECT_NE(st->discard, AVDISCARD_ALL);
    }
}

TEST_F(InputFileTest, VideoDiscardLevelIsKeptInRange) {
    const std::string src = MakeRealVideo(dir, "clip.rm", 1.0, "rv10", RealAudio::Ac3);
    core.SetOption("vdt", "8");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("vdt", "1000");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    for (int f = 0; f < 2; ++f)
        for (unsigned i = 0; i < Input(f)->nb_streams; ++i) {
            const AVStream* st = Input(f)->streams[i];
            if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                EXPECT_EQ(st->discard, f == 0 ? AVDISCARD_NONREF : AVDISCARD_ALL);
            else
                EXPECT_EQ(st->discard, AVDISCARD_DEFAULT);
        }
}

TEST_F(InputFileTest, MissingFileFailsWithItsNameAndResets) {
    const std::string missing = dir.File("nothing-here.rm");
    core.SetInputFormat("rm");
    core.SetCodecName('a', "ac3");
    core.SetOption("vc", "3");
    core.SetStartTimeUs(1000000);
    EXPECT_FALSE(core.OpenInputFile(missing));
    EXPECT_EQ(core.last_error, missing + ": no such file or directory");
    EXPECT_EQ(core.input_file_count, 0);
    EXPECT_EQ(core.input_decoder_count, 0);
    EXPECT_EQ(Input(0), nullptr);
    EXPECT_EQ(core.forced_input_format, nullptr);
    EXPECT_TRUE(core.audio_codec_name.empty());
    EXPECT_EQ(core.video_channel, 0);
    EXPECT_EQ(core.start_time, 1000000) << "the position waits for a file that opens";
}

TEST_F(InputFileTest, CodecNamesAreCheckedBeforeTheFileIsRead) {
    const std::string src = MakeRealAudio144(dir, "tone.ra", 1.0);
    core.SetOption("vcodec", "no_such_decoder");
    EXPECT_FALSE(core.OpenInputFile(src));
    EXPECT_EQ(core.last_error, "Unknown decoder 'no_such_decoder'");
    EXPECT_TRUE(core.video_codec_name.empty());

    core.SetOption("acodec", "rv10");
    EXPECT_FALSE(core.OpenInputFile(src));
    EXPECT_EQ(core.last_error, "Invalid decoder type 'rv10'");
    EXPECT_TRUE(core.audio_codec_name.empty());

    core.SetOption("scodec", "ac3");
    EXPECT_FALSE(core.OpenInputFile(src));
    EXPECT_EQ(core.last_error, "Invalid decoder type 'ac3'");
    EXPECT_EQ(core.input_file_count, 0);

    // An encoder-only name is no decoder.
    core.SetOption("acodec", "libmp3lame");
    EXPECT_FALSE(core.OpenInputFile(src));
    EXPECT_EQ(core.last_error, "Unknown decoder 'libmp3lame'");

    EXPECT_TRUE(core.OpenInputFile(src)) << "nothing of the failures stays behind: " << core.last_error;
}

TEST_F(InputFileTest, FindCodecIdChecksNameAndType) {
    AVCodecID id = AV_CODEC_ID_MP2;
    EXPECT_TRUE(core.FindCodecId("", AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    const AVCodec* found = nullptr;
    EXPECT_TRUE(core.FindCodecId("libmp3lame", AVMEDIA_TYPE_AUDIO, true, id, &found));
    EXPECT_EQ(id, AV_CODEC_ID_MP3);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name, "libmp3lame");
    EXPECT_FALSE(core.FindCodecId("libmp3lame", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(core.last_error, "Invalid encoder type 'libmp3lame'");
    EXPECT_FALSE(core.FindCodecId("Libmp3lame ", AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(core.last_error, "Unknown encoder 'Libmp3lame '");
}

TEST_F(InputFileTest, StartPositionSeeksOnceAndIsCleared) {
    const std::string src = MakeRealVideo(dir, "long.rm", 4.0, "rv10", RealAudio::Ac3);

    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    const int64_t start = Input(0)->start_time == AV_NOPTS_VALUE ? 0 : Input(0)->start_time;
    EXPECT_LT(FirstPacketTime(Input(0)), start + 200000) << "no seek without a position";

    core.SetStartTimeUs(2000000);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(core.start_time, 0);
    const int64_t start2 = Input(1)->start_time == AV_NOPTS_VALUE ? 0 : Input(1)->start_time;
    EXPECT_EQ(core.input_ts_offsets[1], -(2000000 + start2));
    const int64_t first = FirstPacketTime(Input(1));
    EXPECT_GT(first, 1000000) << "reading starts near the position";
    EXPECT_LE(first, 2000000 + start2);

    // The position was used up by the second file.
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(core.input_ts_offsets[2], -start);
}

TEST_F(InputFileTest, FailedSeekStillReadsTheWholeFile) {
    // The demuxer cannot seek in this file (no index, no usable timestamps in
    // the middle); it must not be left at the end of it.
    const std::string src = MakeRealAc3(dir, "noindex.rm", 4.0, 44100, 2);
    core.SetStartTimeUs(2000000);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(core.start_time, 0);
    const int64_t first = FirstPacketTime(Input(0));
    EXPECT_NE(first, AV_NOPTS_VALUE) << "packets can still be read";
}

TEST_F(InputFileTest, CopiedTimestampsKeepOnlyTheOffset) {
    const std::string src = MakeRealAc3(dir, "a.rm", 2.0);
    core.SetOption("copyts", "");
    core.SetOption("itsoffset", "1.5");
    core.SetStartTimeUs(500000);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(core.input_ts_offsets[0], 1500000);
}

TEST_F(InputFileTest, SecondInputDoesNotSeeTheFirstOnesCodecNames) {
    const std::string a = MakeRealAc3(dir, "a.rm", 1.0);
    const std::string b = MakeRealAc3(dir, "b.rm", 1.0);
    core.SetOption("acodec", "ac3");
    ASSERT_TRUE(core.OpenInputFile(a)) << core.last_error;
    ASSERT_TRUE(core.OpenInputFile(b)) << core.last_error;
    EXPECT_EQ(core.input_file_count, 2);
    EXPECT_EQ(core.input_decoder_count, 2);
    ASSERT_NE(core.input_decoders[0], nullptr);
    EXPECT_STREQ(core.input_decoders[0]->name, "ac3");
    EXPECT_EQ(core.input_decoders[1], nullptr);
    EXPECT_NE(Input(0), Input(1));
}

TEST_F(InputFileTest, TwoInputsWithDifferentStreamsLineUpTheirEntries) {
    const std::string video = MakeRealVideo(dir, "v.rm", 1.0, "rv20", RealAudio::Ra144);
    const std::string audio = MakeRealAudio144(dir, "a.ra", 1.0);
    core.SetOption("vcodec", "rv20");
    ASSERT_TRUE(core.OpenInputFile(video)) << core.last_error;
    core.SetOption("acodec", "real_144");
    ASSERT_TRUE(core.OpenInputFile(audio)) << core.last_error;
    ASSERT_EQ(core.input_decoder_count, 3);
    // File 0: its streams in order; file 1 follows.
    for (unsigned i = 0; i < Input(0)->nb_streams; ++i) {
        const bool is_video = Input(0)->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (is_video) {
            ASSERT_NE(core.input_decoders[i], nullptr);
            EXPECT_STREQ(core.input_decoders[i]->name, "rv20");
        } else {
            EXPECT_EQ(core.input_decoders[i], nullptr);
        }
    }
    ASSERT_NE(core.input_decoders[2], nullptr);
    EXPECT_STREQ(core.input_decoders[2]->name, "real_144");
}

TEST_F(InputFileTest, LongestDurationIsExpected) {
    const std::string a = MakeRealAc3(dir, "short.rm", 1.0);
    const std::string b = MakeRealAc3(dir, "long.rm", 3.0);
    ASSERT_TRUE(core.OpenInputFile(b)) << core.last_error;
    const int longest = core.expected_duration_ms;
    EXPECT_NEAR(longest, 3000, 150);
    ASSERT_TRUE(core.OpenInputFile(a)) << core.last_error;
    EXPECT_EQ(core.expected_duration_ms, longest);
}

TEST_F(InputFileTest, QuietCoreWritesNoDescription) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    core.verbosity = -1;
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_EQ(LibText().find("Input #0"), std::string::npos);
}

// ---- hostile and broken files: a clear failure, nothing recorded, no crash ----

class BadInputTest : public InputFileTest {
protected:
    int outputs = 0;

    // Opens path; on failure checks that the message names the file and that
    // nothing stayed registered.
    void ExpectRefusedOrSound(const std::string& path, bool must_fail) {
        const bool opened = core.OpenInputFile(path);
        if (must_fail) EXPECT_FALSE(opened) << path;
        if (!opened) {
            EXPECT_EQ(core.last_error.rfind(path, 0), 0u) << core.last_error;
            EXPECT_EQ(core.input_file_count, 0);
            EXPECT_EQ(core.input_decoder_count, 0);
            EXPECT_EQ(Input(0), nullptr);
        } else {
            EXPECT_EQ(core.input_file_count, 1);
            EXPECT_EQ(core.input_files[0].decoders.size(), Input(0)->nb_streams);
            EXPECT_EQ(core.input_decoder_count, static_cast<int>(Input(0)->nb_streams));
            // Whatever the file made of the settings, an output can be set up from them.
            const std::string out = dir.File("from-bad-" + std::to_string(++outputs) + ".mka");
            if (core.OpenOutputFile(out))
                EXPECT_EQ(core.output_files[0].streams.size(), Output(0)->nb_streams);
            else
                EXPECT_EQ(core.output_file_count, 0) << core.last_error;
        }
    }
};

TEST_F(BadInputTest, EmptyFileIsAnUnknownFormat) {
    const std::string path = MakeEmpty(dir, "empty.rm");
    EXPECT_FALSE(core.OpenInputFile(path));
    EXPECT_EQ(core.last_error, path + ": Unknown format");
    EXPECT_EQ(core.input_file_count, 0);
}

TEST_F(BadInputTest, RandomBytesAreRefused) {
    ExpectRefusedOrSound(MakeRandom(dir, "noise.rm", 8192, 7), true);
}

TEST_F(BadInputTest, RandomBytesBehindARealMediaSignature) {
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        core.FreeFiles();
        core.ResetOptionState();
        const std::size_t bytes = 256u << (seed % 7);
        ExpectRefusedOrSound(MakeRandom(dir, "noise" + std::to_string(seed) + ".rm", bytes, seed, true), false);
    }
}

TEST_F(BadInputTest, TruncatedFilesNeverHalfRegister) {
    const std::string full = MakeRealVideo(dir, "full.rm", 1.0, "rv10", RealAudio::Ac3);
    for (double percent : {1.0, 5.0, 20.0, 60.0, 99.0}) {
        core.FreeFiles();
        core.ResetOptionState();
        const std::string cut = MakeCut(full, percent, dir.File("cut" + std::to_string(int(percent)) + ".rm"));
        ExpectRefusedOrSound(cut, false);
    }
}

TEST_F(BadInputTest, TruncatedAudioFiles) {
    const std::string ra = MakeRealAudio144(dir, "full.ra", 1.0);
    const std::string ac3 = MakeRealAc3(dir, "full.rm", 1.0);
    int n = 0;
    for (const std::string& full : {ra, ac3})
        for (double percent : {0.5, 3.0, 10.0, 50.0}) {
            core.FreeFiles();
            core.ResetOptionState();
            ExpectRefusedOrSound(MakeCut(full, percent, dir.File("cut" + std::to_string(n++))), false);
        }
}

TEST_F(BadInputTest, AFolderIsNoInput) { ExpectRefusedOrSound(dir.Path(), true); }

TEST_F(BadInputTest, RealSamplesGiveAClearMessageOrAnEmptyInput) {
    if (!SamplesPresent()) GTEST_SKIP() << SamplesMissingText();
    for (const char* name : {"header-only.rm", "header-only.ra", "link.ram"}) {
        core.FreeFiles();
        core.ResetOptionState();
        SCOPED_TRACE(name);
        ExpectRefusedOrSound(SamplePath(name), false);
    }
}


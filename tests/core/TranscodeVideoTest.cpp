// Video conversions through the core, checked with mediainfo (container,
// codecs, picture size, frame rate) and by decoding the sound back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>

#include "core/VideoFilters.h"

#include "tests/common/VideoCheck.h"
#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

class TranscodeVideoTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }

    // Opens src and dst with the given encoders; before_output sets further options.
    bool OpenVideo(const std::string& src, const std::string& dst, const std::string& vcodec,
                   const std::string& acodec, const std::function<void()>& before_output = {}) {
        if (!core.OpenInputFile(src)) {
            ADD_FAILURE() << "input: " << core.last_error;
            return false;
        }
        core.SetCodecName('v', vcodec);
        core.SetCodecName('a', acodec);
        core.SetChannels(2);
        core.SetSampleRate(44100);
        if (before_output) before_output();
        if (!core.OpenOutputFile(dst)) {
            ADD_FAILURE() << "output: " << core.last_error;
            return false;
        }
        return true;
    }

    // src into dst afresh (a file already there is never replaced) with the
    // given encoders: Run()'s result.
    std::string ConvertAfresh(const std::string& src, const std::string& dst, const std::string& vcodec,
                              const std::string& acodec, const std::function<void()>& before_output) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        if (!OpenVideo(src, dst, vcodec, acodec, before_output)) return "not opened";
        return Run();
    }
};

std::string Fps(int fps) { return std::to_string(fps) + ".000"; }

// Every container and codec pair the terminal front end offers for video, from
// every kind of RealMedia video the generator writes.
TEST_F(TranscodeVideoTest, RealVideoConvertsToEachContainerWithItsCodecsSizeAndRate) {
    struct Case {
        std::string video, audio, ext, vcodec, acodec;
        int fps;
        std::string container, vformat, aformat;
    };
    const Case cases[] = {
        {"rv10", "ac3", ".mp4", "libx264", "aac", 15, "MPEG-4", "AVC", "AAC"},
        {"rv20", "ra144", ".mp4", "libx264", "aac", 25, "MPEG-4", "AVC", "AAC"},
        {"rv20", "ac3", ".mkv", "libx264", "aac", 30, "Matroska", "AVC", "AAC"},
        {"rv10", "ra144", ".mkv", "mpeg4", "libmp3lame", 25, "Matroska", "MPEG-4 Visual", "MPEG Audio"},
        {"rv20", "ac3", ".avi", "mpeg4", "libmp3lame", 15, "AVI", "MPEG-4 Visual", "MPEG Audio"},
        // no codec named: the container's own choice
        {"rv10", "ac3", ".avi", "", "", 25, "AVI", "MPEG-4 Visual", "MPEG Audio"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video + "/" + c.audio + " -> " + c.ext + " " + c.vcodec);
        const std::string src = MakeFixture(dir, c.video + c.audio + std::to_string(c.fps) + ".rm", "rm-video",
                                            {"--video", c.video, "--audio", c.audio, "--fps",
                                             std::to_string(c.fps), "--seconds", "2"});
        const std::string dst = dir.File("out" + c.ext);
        std::filesystem::remove(dst);  // each case writes afresh: a file already there is never replaced
        core.ResetOptionState();
        lines.clear();
        ASSERT_TRUE(OpenVideo(src, dst, c.vcodec, c.acodec));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_EQ(MediaInfoField(dst, "General", "Format"), c.container);
        EXPECT_EQ(MediaInfoField(dst, "Video", "Format"), c.vformat);
        EXPECT_EQ(MediaInfoField(dst, "Video", "Width"), "176");
        EXPECT_EQ(MediaInfoField(dst, "Video", "Height"), "144");
        EXPECT_EQ(MediaInfoField(dst, "Video", "FrameRate"), Fps(c.fps));
        EXPECT_EQ(MediaInfoField(dst, "Audio", "Format"), c.aformat);
        // Two seconds of pictures, give or take the last one.
        const int frames = std::atoi(MediaInfoField(dst, "Video", "FrameCount").c_str());
        EXPECT_NEAR(frames, 2 * c.fps, 1);
        const DecodedAudio audio = ReadWav(DecodeToWav(dst, dir.File("back.wav")));
        ASSERT_TRUE(audio.ok) << audio.error;
        EXPECT_NEAR(audio.Seconds(), 2.0, 0.1);
    }
}


// The synchronisation rules on their own. Variable-rate and pass-through
// outputs: whether a picture due at a given time is encoded, and the frame
// clock after. Constant-rate outputs: where the slots of a held picture end
// when the next picture comes.
TEST_F(TranscodeVideoTest, SynchronisationDropsResynchronisesAndFillsSlotsByTheRule) {
    struct Case {
        const char* what;
        int vsync, tb_den;
        int64_t clock, pts_us;  // frame clock before; the picture's time
        bool vfr;               // the container takes variable frame rates
        int frames;
        int64_t clock_after;
        int drop;
    };
    // A time base of 1/4 keeps every threshold exact in binary.
    const Case cases[] = {
        {"vsync 2: 0.7 ahead moves the clock", 2, 4, 0, 175000, false, 1, 1, 0},
        {"vsync 2: -0.625 is dropped", 2, 4, 10, 2343750, false, 0, 10, 1},
        {"vsync 2: -0.5 is kept", 2, 4, 10, 2375000, false, 1, 10, 0},
        {"automatic with a variable-rate container acts as 2", -1, 4, 0, 750000, true, 1, 3, 0},
        {"automatic with a fine time base follows the input", -1, 90000, 5, 1000000, false, 1, 90000, 0},
        {"vsync 0 never drops", 0, 4, 10, 0, false, 1, 0, 0},
        {"vsync 0 never duplicates", 0, 4, 0, 2500000, false, 1, 10, 0},
    };
    AVOutputFormat cfr{};
    AVOutputFormat vfr{};
    vfr.flags = AVFMT_VARIABLE_FPS;
    AVFormatContext os{};
    TInputStreamState ist;
    TOutputStreamState ost;
    TCodecContextPtr enc(avcodec.avcodec_alloc_context3(nullptr));
    ost.enc = enc.get();
    ost.sync_input = &ist;
    core.verbosity = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        core.video_sync_method = c.vsync;
        core.run = std::make_unique<TRunState>();
        lines.clear();
        os.oformat = c.vfr ? &vfr : &cfr;
        enc->time_base = AVRational{1, c.tb_den};
        EXPECT_FALSE(core.ConstantRateSlots(&os, ost));
        ost.sample_clock = c.clock;
        ist.pts = c.pts_us;
        EXPECT_EQ(core.SyncVideoFrames(&os, ost), c.frames);
        EXPECT_EQ(ost.sample_clock, c.clock_after);
        EXPECT_EQ(core.run->drop_frames, c.drop);
        EXPECT_EQ(Logged("*** drop!"), c.drop > 0);
    }

    struct Slots {
        const char* what;
        double held_at, held_span, next_at;  // encoder ticks
        int64_t end;                         // the first slot that is not the held picture's
    };
    const Slots slots[] = {
        {"same rate: one slot each", 3, 1, 4, 4},
        {"30 -> 25: the slot nearer to the next goes to it", 1.6667, 0.8333, 2.5, 3},
        {"30 -> 25: a picture between two slots gets none", 2.5, 0.8333, 3.3333, 3},
        {"15 -> 25: the held picture takes the slots nearer to it", 1.6667, 1.6667, 3.3333, 3},
        {"a slot just between the two shows the earlier", 2, 1, 3, 3},
        {"two frames apart is no gap", 2, 1, 4, 4},
        {"a longer gap is held until the next picture's own slot", 2, 1, 9.4, 9},
    };
    for (const Slots& c : slots) {
        SCOPED_TRACE(c.what);
        ost.held_at = c.held_at;
        ost.held_span = c.held_span;
        EXPECT_EQ(core.SlotsBefore(ost, c.next_at), c.end);
    }
}

// The deinterlacer against the filter written out plainly: even rows kept,
// odd rows (-1 4 2 4 -1)/8 of their neighbours, rows beyond the edges repeated.
TEST_F(TranscodeVideoTest, DeinterlacingIsTheFiveTapFilterOnOddRows) {
    struct Case {
        AVPixelFormat format;
        int width, height, hshift, vshift, planes;
        bool refused;
    };
    const Case cases[] = {
        {AV_PIX_FMT_YUV420P, 16, 12, 1, 1, 3, false}, {AV_PIX_FMT_YUV422P, 24, 8, 1, 0, 3, false},
        {AV_PIX_FMT_YUV444P, 8, 8, 0, 0, 3, false},   {AV_PIX_FMT_YUV411P, 32, 4, 2, 0, 3, false},
        {AV_PIX_FMT_GRAY8, 4, 20, 0, 0, 1, false},    {AV_PIX_FMT_YUVJ420P, 720, 576, 1, 1, 3, false},
        {AV_PIX_FMT_YUV420P, 18, 12, 1, 1, 3, true},  {AV_PIX_FMT_YUV420P, 16, 14, 1, 1, 3, true},
        {AV_PIX_FMT_RGB24, 16, 16, 0, 0, 1, true},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(avutil.av_get_pix_fmt_name(c.format)) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        std::vector<std::vector<uint8_t>> src(3), dst(3);
        TPictureView in, out;
        for (int p = 0; p < 3; ++p) {
            const int w = p ? c.width >> c.hshift : c.width;
            const int h = p ? c.height >> c.vshift : c.height;
            src[p].resize(static_cast<size_t>(w + 8) * h);
            dst[p].assign(src[p].size(), 0);
            for (auto& v : src[p]) v = static_cast<uint8_t>(random());
            in.data[p] = src[p].data();
            out.data[p] = dst[p].data();
            in.linesize[p] = out.linesize[p] = w + 8;
        }
        const int r = DeinterlacePicture(out, in, c.format, c.width, c.height);
        if (c.refused) {
            EXPECT_EQ(r, -1);
            continue;
        }
        ASSERT_EQ(r, 0);
        for (int p = 0; p < c.planes; ++p) {
            const int w = p ? c.width >> c.hshift : c.width;
            const int h = p ? c.height >> c.vshift : c.height;
            const int stride = w + 8;
            auto at = [&](int x, int y) { return static_cast<int>(src[p][std::clamp(y, 0, h - 1) * stride + x]); };
            int wrong = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int want = at(x, y);
                    if (y % 2 == 1)
                        want = std::clamp((-at(x, y - 2) + 4 * at(x, y - 1) + 2 * at(x, y) + 4 * at(x, y + 1) -
                                           at(x, y + 2) + 4) >> 3,
                                          0, 255);
                    wrong += dst[p][y * stride + x] != want;
                }
            EXPECT_EQ(wrong, 0) << "plane " << p;
        }
    }
}

// The bands in layouts the libraries read back differently: packed, semi-planar,
// 16-bit, big-endian, bit fields, alpha. Read back as 8-bit YUV by the
// scaler, every band pixel is video-range black and the inside is untouched.
TEST_F(TranscodeVideoTest, PadPictureFillsTheBandsOfAnyLayout) {
    constexpr int kSize = 32, kBand = 8;
    for (AVPixelFormat format : {AV_PIX_FMT_YUYV422, AV_PIX_FMT_UYVY422, AV_PIX_FMT_NV12, AV_PIX_FMT_P010LE,
                                 AV_PIX_FMT_YUV420P16BE, AV_PIX_FMT_RGB565BE, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGBA64BE,
                                 AV_PIX_FMT_X2RGB10LE, AV_PIX_FMT_YUVA444P, AV_PIX_FMT_GBRP16LE}) {
        SCOPED_TRACE(avutil.av_get_pix_fmt_name(format));
        TFramePtr padded(avutil.av_frame_alloc()), back(avutil.av_frame_alloc());
        padded->width = back->width = kSize;
        padded->height = back->height = kSize;
        padded->format = format;
        back->format = AV_PIX_FMT_YUV444P;
        ASSERT_GE(avutil.av_frame_get_buffer(padded.get(), 0), 0);
        ASSERT_GE(avutil.av_frame_get_buffer(back.get(), 0), 0);
        for (int p = 0; p < 4 && padded->buf[p]; ++p) std::fill_n(padded->buf[p]->data, padded->buf[p]->size, 0xff);
        TPictureView view;
        for (int p = 0; p < 4; ++p) {
            view.data[p] = padded->data[p];
            view.linesize[p] = padded->linesize[p];
        }
        ASSERT_EQ(PadPicture(view, nullptr, kSize, kSize, format, kBand, kBand, kBand, kBand, {16, 128, 128}), 0);
        TSwsPtr sws(swscale.sws_getContext(kSize, kSize, format, kSize, kSize, AV_PIX_FMT_YUV444P, SWS_POINT,
                                           nullptr, nullptr, nullptr));
        ASSERT_TRUE(sws);
        swscale.sws_scale(sws.get(), padded->data, padded->linesize, 0, kSize, back->data, back->linesize);
        int wrong = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const bool band = x < kBand || y < kBand || x >= kSize - kBand || y >= kSize - kBand;
                const int luma = back->data[0][y * back->linesize[0] + x];
                const int u = back->data[1][y * back->linesize[1] + x], v = back->data[2][y * back->linesize[2] + x];
                if (band) wrong += std::abs(luma - 16) > 2 || std::abs(u - 128) > 2 || std::abs(v - 128) > 2;
                else wrong += luma < 200;  // the white it was filled with
            }
        EXPECT_EQ(wrong, 0);
    }
    EXPECT_EQ(PadPicture(TPictureView{}, nullptr, kSize, kSize, AV_PIX_FMT_PAL8, 2, 2, 2, 2, {16, 128, 128}), -1);
}

// What the picture options do, seen in the decoded pictures of the output. The
// generator's first picture has a bright square in its top left corner.
TEST_F(TranscodeVideoTest, PictureOptionsShapeTheDecodedPictures) {
    struct Case {
        const char* what;
        std::function<void(TCustomFFmpeg&)> options;
        int width, height, frames;     // frames: -1 any
        int bright_x, bright_y;        // a point inside the square in the output, -1 none
        int dark_x, dark_y;            // a point that must not be bright
    };
    const Case cases[] = {
        {"as it comes", [](TCustomFFmpeg&) {}, 176, 144, -1, 8, 8, 8, 130},
        {"vframes", [](TCustomFFmpeg& c) { c.max_frames[mfVideo] = 10; }, 176, 144, 10, 8, 8, 8, 130},
        {"a flip then a scale", [](TCustomFFmpeg& c) { c.video_filters = "vflip,scale=88:72"; }, 88, 72, -1, 4, 68,
         4, 4},
        {"a new size", [](TCustomFFmpeg& c) { c.SetFrameSize("352x288"); }, 352, 288, -1, 16, 16, 16, 260},
        {"crop bands cut the square off (and the size)", [](TCustomFFmpeg& c) {
             c.SetCropTop(32);
             c.SetCropLeft(32);
         }, 144, 112, -1, -1, -1, 8, 8},
        {"pad bands around a smaller picture", [](TCustomFFmpeg& c) {
             c.SetFrameSize("176x112");
             c.SetPadTop(16);
             c.SetPadBottom(16);
         }, 176, 144, -1, 8, 24, 8, 4},
        {"deinterlaced", [](TCustomFFmpeg& c) { c.deinterlace = true; }, 176, 144, -1, 8, 8, 8, 130},
    };
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv20", RealAudio::Ac3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dst = dir.File("pictures.mkv");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        ASSERT_TRUE(OpenVideo(src, dst, "mpeg4", "libmp3lame", [&] { c.options(core); }));
        ASSERT_EQ(Run(), "") << AllLines();
        std::string error;
        const std::vector<DecodedPicture> pictures = DecodePictures(dst, &error);
        ASSERT_FALSE(pictures.empty()) << error;
        const DecodedPicture& first = pictures.front();
        EXPECT_EQ(first.width, c.width);
        EXPECT_EQ(first.height, c.height);
        if (c.frames >= 0) EXPECT_EQ(static_cast<int>(pictures.size()), c.frames);
        if (c.bright_x >= 0) EXPECT_GT(first.Y(c.bright_x, c.bright_y), 200);
        EXPECT_LT(first.Y(c.dark_x, c.dark_y), 200);
        EXPECT_EQ(MediaInfoField(dst, "Video", "Width"), std::to_string(c.width));
    }
    // The bands' colour: PadBandsAreBlackInEveryPixelFormat.
}

// threads reaches the picture encoder, whose settings the file carries: a
// count as given, and 0 or no count at all the libraries' own choice.
TEST_F(TranscodeVideoTest, ThreadsSetsTheEncodersCount) {
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv10", RealAudio::Ac3);
    std::vector<std::string> settings;  // threads=N as the file says, for each count ("" not given)
    for (const char* threads : {"", "0", "1", "3"}) {
        SCOPED_TRACE(threads);
        const std::string dst = dir.File("threads.mp4");
        ASSERT_EQ(ConvertAfresh(src, dst, "libx264", "aac", [&] {
            if (*threads) core.SetOption("threads", threads);
        }), "") << AllLines();
        const std::string text = MediaInfoField(dst, "Video", "Encoded_Library_Settings");
        const size_t at = text.find(" threads=");
        ASSERT_NE(at, std::string::npos) << text;
        settings.push_back(text.substr(at + 1, text.find(' ', at + 1) - at - 1));
    }
    ASSERT_EQ(settings.size(), 4u);
    EXPECT_EQ(settings[2], "threads=1");
    EXPECT_EQ(settings[3], "threads=3");
    EXPECT_EQ(settings[0], settings[1]);
    EXPECT_NE(settings[0], "threads=1");
}

// The pictures' aspect as the chain leaves it reaches the file: setsar, and a
// scale after it that stretches the pixels.
TEST_F(TranscodeVideoTest, TheChainsSampleAspectIsTheOutputs) {
    struct Case {
        const char* chain;
        const char* pixel_aspect;
        const char* display_aspect;
    };
    const Case cases[] = {
        {"", "1.000", "1.222"},
        {"setsar=2", "2.000", "2.444"},
        {"setsar=2,scale=88:144", "4.000", "2.444"},
    };
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv10", RealAudio::Ac3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chain);
        const std::string dst = dir.File("aspect.mkv");
        ASSERT_EQ(ConvertAfresh(src, dst, "mpeg4", "libmp3lame", [&] {
            if (*c.chain) core.SetOption("vfilters", c.chain);
        }), "") << AllLines();
        EXPECT_EQ(MediaInfoField(dst, "Video", "PixelAspectRatio"), c.pixel_aspect);
        EXPECT_EQ(MediaInfoField(dst, "Video", "DisplayAspectRatio"), c.display_aspect);
    }
}

// Pad bands in formats of other depths and layouts: every picture is written,
// the bands are video-range black, the picture sits inside them. Through the
// scaler (a new size) and straight from a chain that keeps the size.
TEST_F(TranscodeVideoTest, PadBandsAreBlackInEveryPixelFormat) {
    struct Case {
        const char* ext;
        const char* vcodec;
        const char* pix_fmt;
        const char* chain;  // "" none: the scaler brings the picture to 144x112
        int width, height;
    };
    const Case cases[] = {
        {".mkv", "mpeg4", "yuv420p", "", 176, 144},
        {".mkv", "ffv1", "yuv420p10le", "", 176, 144},
        {".nut", "rawvideo", "yuyv422", "hflip,hflip", 208, 176},
        {".mkv", "ffv1", "bgr0", "null", 208, 176},
    };
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv20", RealAudio::Ac3);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pix_fmt) + " " + c.chain);
        const std::string dst = dir.File(std::string("padded") + c.ext);
        ASSERT_EQ(ConvertAfresh(src, dst, c.vcodec, "libmp3lame", [&] {
            core.SetOption("pix_fmt", c.pix_fmt);
            if (*c.chain) core.SetOption("vfilters", c.chain);
            else core.SetFrameSize("144x112");
            for (const char* side : {"padtop", "padbottom", "padleft", "padright"}) core.SetOption(side, "16");
        }), "") << AllLines();
        std::string error;
        const std::vector<DecodedPicture> pictures = DecodePictures(dst, &error);
        EXPECT_NEAR(static_cast<int>(pictures.size()), 15, 1) << error;
        ASSERT_FALSE(pictures.empty());
        const DecodedPicture& p = pictures.front();
        ASSERT_EQ(p.width, c.width);
        ASSERT_EQ(p.height, c.height);
        for (int y : {2, 13, c.height - 14, c.height - 3}) EXPECT_NEAR(p.Y(c.width / 2, y), 16, 4) << "row " << y;
        for (int x : {2, 13, c.width - 14, c.width - 3}) EXPECT_NEAR(p.Y(x, c.height / 2), 16, 4) << "column " << x;
        EXPECT_GT(p.Y(24, 24), 200);  // the square at the top left, inside the bands
    }
}

TEST_F(TranscodeVideoTest, PadWithAChainThatChangesTheSizeIsRefused) {
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv10", RealAudio::Ac3);
    ASSERT_TRUE(OpenVideo(src, dir.File("out.mkv"), "mpeg4", "libmp3lame", [&] {
        core.SetPadTop(16);
        core.video_filters = "hflip,pad=200:160";
    }));
    EXPECT_EQ(Run(),
              "Error opening filters: Cannot enable pad options and the filters which resize frame at the same time. "
              "(crop, rotate, scale, transpose, etc.)");
}

// The libraries' own threads (frame and slice threads of the decoders and
// encoders) do not change a byte: two runs write the same file.
TEST_F(TranscodeVideoTest, TwoRunsOfATaskWriteTheSameBytes) {
    struct Case {
        const char* name;
        std::function<void(TCustomFFmpeg&)> options;
    };
    const Case cases[] = {
        {"same.mp4", [](TCustomFFmpeg& c) {
             c.SetCodecName('v', "libx264");
             c.SetCodecName('a', "aac");
         }},
        {"same.mkv", [](TCustomFFmpeg& c) {
             c.SetCodecName('v', "libx264");
             c.SetCodecName('a', "aac");
         }},
        {"same.mpg", [](TCustomFFmpeg& c) { c.SetTargetOption("pal-dvd"); }},
    };
    const std::string src = MakeFixture(dir, "in.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "2"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes[2];
        for (std::string& b : bytes) {
            core.ResetOptionState();
            ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
            c.options(core);
            ASSERT_TRUE(core.OpenOutputFile(dir.File(c.name))) << core.last_error;
            ASSERT_EQ(Run(), "") << AllLines();
            b = ReadFileBytes(dir.File(c.name));
        }
        EXPECT_GT(bytes[0].size(), 1000u);
        EXPECT_TRUE(bytes[0] == bytes[1]) << "the two runs differ";
    }
}

// The generator draws a bright square that moves 4 columns right with every
// picture: its left edge is the picture's number, through lossy coding too.
int PictureNumber(const DecodedPicture& p) {
    for (int x = 0; x < p.width; ++x) {
        int bright = 0;
        for (int y = 0; y < p.height; ++y) bright += p.Y(x, y) > 228;
        if (bright >= 16) return (x + 2) / 4;
    }
    return -1;
}

// Frame accuracy across rate changes: the numbers read from the decoded output
// show each slot the input picture nearest its time (within half an input
// frame; the input's times are whole milliseconds), in order; a slower input
// shows every picture; the output ends where the last picture does; the
// report's counters are the repeats and the pictures left out.
TEST_F(TranscodeVideoTest, EachOutputSlotShowsThePictureNearestItsTime) {
    struct Case {
        int in_fps;
        const char* out_rate;
        double out_fps;
        double seconds;
        const char* shown_rate;  // as mediainfo reads it
    };
    const Case cases[] = {
        {30, "25", 25, 1.2, "25.000"},
        {15, "25", 25, 1.2, "25.000"},
        {25, "30000/1001", 30000.0 / 1001, 1.2, "29.970"},
        {30, "30000/1001", 30000.0 / 1001, 1.2, "29.970"},
        {25, "24000/1001", 24000.0 / 1001, 1.2, "23.976"},
        // One picture in 1001 left out, and only one.
        {30, "30000/1001", 30000.0 / 1001, 34, "29.970"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in_fps) + " -> " + c.out_rate + " fps, " + std::to_string(c.seconds) + " s");
        const std::string src = MakeFixture(dir, "n.rm", "rm-video",
                                            {"--video", "rv20", "--fps", std::to_string(c.in_fps), "--seconds",
                                             std::to_string(c.seconds), "--audio", "none"});
        const std::string dst = dir.File("numbers.avi");
        // Each case writes afresh: a file already there is never replaced.
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        ASSERT_TRUE(OpenVideo(src, dst, "mpeg4", "libmp3lame", [&] {
            core.SetFrameRate(c.out_rate);
            core.SetQScale(2);
        }));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_EQ(MediaInfoField(dst, "Video", "FrameRate"), c.shown_rate);
        const std::vector<DecodedPicture> pictures = DecodePictures(dst);
        const int in_pictures = static_cast<int>(std::lround(c.seconds * c.in_fps));
        const double ratio = c.out_fps / c.in_fps;
        EXPECT_EQ(static_cast<int>(pictures.size()),
                  static_cast<int>(std::floor((in_pictures - 1) * ratio + ratio / 2)) + 1);
        const bool numbered = in_pictures * 4 < pictures.front().width;
        int repeats = 0, skipped = 0, last = -1;
        for (size_t k = 0; numbered && k < pictures.size(); ++k) {
            const int n = PictureNumber(pictures[k]);
            ASSERT_GE(n, last) << "output picture " << k;
            const double own = static_cast<double>(n) / c.in_fps;
            EXPECT_LE(std::fabs(own - static_cast<double>(k) / c.out_fps), 0.5 / c.in_fps + 0.0015)
                << "output picture " << k << " shows " << n;
            if (n == last) ++repeats;
            skipped += std::max(0, n - last - 1);
            last = n;
        }
        if (!numbered) {
            EXPECT_EQ(core.dup_frames, 0);
            EXPECT_EQ(core.drop_frames, in_pictures - static_cast<int>(pictures.size()));
            continue;
        }
        skipped += in_pictures - 1 - last;
        if (c.in_fps < c.out_fps) EXPECT_EQ(skipped, 0);
        EXPECT_EQ(core.dup_frames, repeats);
        EXPECT_EQ(core.drop_frames, skipped);
    }
}

// A copy of a RealVideo file whose header declares another frame rate (the
// 16.16 fixed-point field the libraries read as the stream's rate).
std::string WithDeclaredRate(const std::string& src, const std::string& dst, uint32_t rate_16_16) {
    std::string bytes = ReadFileBytes(src);
    const size_t vido = bytes.find("VIDO");
    if (vido == std::string::npos || vido + 22 > bytes.size()) throw FixtureError("no VIDO header in " + src);
    for (int i = 0; i < 4; ++i) bytes[vido + 18 + i] = static_cast<char>(rate_16_16 >> (24 - 8 * i));
    std::ofstream(dst, std::ios::binary) << bytes;
    return dst;
}

// A declared rate a hair off the packets' own (983035/65536 for 15 fps) keeps
// every picture at its time, never earlier than one container tick (1 ms);
// one that contradicts them (1/65536, a damaged field) is not trusted.
TEST_F(TranscodeVideoTest, PicturesKeepTheirTimesWhateverRateTheHeaderDeclares) {
    const std::string src = MakeFixture(dir, "in.rm", "rm-video",
                                        {"--video", "rv10", "--fps", "15", "--seconds", "2", "--audio", "none"});
    for (const uint32_t declared : {0x000EFFFBu, 0x00000001u}) {
        const std::string odd = WithDeclaredRate(src, dir.File("odd.rm"), declared);
        for (const char* extension : {".mp4", ".mkv"}) {
            SCOPED_TRACE(std::to_string(declared) + "/65536 fps to " + extension);
            const std::string dst = dir.File(std::string("odd") + extension);
            std::filesystem::remove(dst);
            core.ResetOptionState();
            // Nearly lossless, so that repeated pictures read back as their numbers.
            ASSERT_TRUE(OpenVideo(odd, dst, "libx264", "aac", [&] { ASSERT_TRUE(core.SetGenericOption("crf", "1")); }));
            ASSERT_EQ(Run(), "") << AllLines();
            // Near 15 fps the output keeps the input's pictures one for one;
            // without a rate to trust it takes its default and repeats some.
            const bool trusted = declared != 1;
            const std::vector<DecodedPicture> pictures = DecodePictures(dst);
            if (trusted) ASSERT_EQ(pictures.size(), 30u);
            int last = -1;
            for (const DecodedPicture& picture : pictures) {
                const int n = PictureNumber(picture);
                EXPECT_TRUE(n == last || n == last + 1) << "after " << last << " comes " << n;
                last = n;
                const double own = std::round(n * 1000.0 / 15) / 1000;  // the input's millisecond times
                const double shown = picture.seconds - pictures.front().seconds;
                EXPECT_GE(shown, own - (trusted ? 0.001 : 0.5 / 15) - 1e-9) << "picture " << n << " early";
                EXPECT_LE(shown, own + 0.5 / 15) << "picture " << n << " late";
            }
            EXPECT_EQ(last, 29);
        }
    }
}

// Pass 1 writes the statistics file, pass 2 reads it and meets the asked rate.
TEST_F(TranscodeVideoTest, TwoPassEncodingMeetsTheAskedBitRate) {
    const std::string src = MakeFixture(dir, "in.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "6",
                                                                     "--size", "352x288", "--audio", "none"});
    const std::string stats = dir.File("stats");
    const std::string dst = dir.File("two.avi");
    for (const int pass : {1, 2}) {
        SCOPED_TRACE(pass);
        std::filesystem::remove(dst);  // pass 2 writes the file again, not a second one beside it
        core.ResetOptionState();
        ASSERT_TRUE(OpenVideo(src, dst, "mpeg4", "libmp3lame", [&] {
            core.SetPass(pass);
            core.pass_log_prefix = stats;
            ASSERT_TRUE(core.SetGenericOption("b", "400000"));
        }));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_TRUE(FileExists(stats + "-0.log"));
    }
    EXPECT_GT(FileSize(stats + "-0.log"), 100);
    const double rate = std::atof(MediaInfoField(dst, "Video", "BitRate").c_str());
    EXPECT_NEAR(rate, 400000, 400000 * 0.05) << "mediainfo's video bit rate";

    // Pass 2 without the file of pass 1 is refused with its message.
    core.ResetOptionState();
    ASSERT_TRUE(OpenVideo(src, dir.File("none.avi"), "mpeg4", "libmp3lame", [&] {
        core.SetPass(2);
        core.pass_log_prefix = dir.File("missing");
    }));
    EXPECT_EQ(Run(), "Cannot read log file " + dir.File("missing") + "-0.log for pass-2 encoding");
}

// One statistics line per encoded picture, with its frame number and type.
TEST_F(TranscodeVideoTest, VideoStatisticsHaveALinePerPicture) {
    const std::string src = MakeRealVideo(dir, "in.rm", 1.0, "rv20", RealAudio::None);
    const std::string vstats = dir.File("vstats.log");
    ASSERT_TRUE(OpenVideo(src, dir.File("stats.avi"), "mpeg4", "libmp3lame", [&] {
        core.SetVstatsFile(vstats);
        core.max_frames[mfVideo] = 12;
    }));
    ASSERT_EQ(Run(), "") << AllLines();
    const std::string text = ReadFileBytes(vstats);
    int count = 0;
    for (size_t at = text.find("frame="); at != std::string::npos; at = text.find("frame=", at + 1)) ++count;
    EXPECT_EQ(count, 12);
    EXPECT_NE(text.find("type= I"), std::string::npos) << text;
    EXPECT_NE(text.find("frame=     1 q="), std::string::npos) << text;
}

}  // namespace
}  // namespace transcodetest

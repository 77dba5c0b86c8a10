// Subtitle conversions through the core, read back with the media libraries
// (every packet decoded on its own) and described by mediainfo.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/SubtitleCheck.h"
#include "tests/common/VideoCheck.h"
#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

// The fixture generator's cues: start and end in milliseconds, and the text.
struct TCue {
    int start, end;
    const char* text;
};
constexpr TCue kCues[] = {{200, 700, "First cue"}, {900, 1400, "Second cue"}, {1500, 1900, "Third"}};

class SubtitleTest : public TranscodeTest {
protected:
    // Converts only the subtitles of src (pictures and sound left out) with the
    // given options; the error text, or "" on success.
    std::string ConvertSubtitles(const std::string& src, const std::string& dst,
                                 const std::vector<std::pair<std::string, std::string>>& options) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        core.SetOption("vn", "");
        core.SetOption("an", "");
        for (const auto& [name, value] : options) core.SetOption(name, value);
        if (!core.OpenOutputFile(dst)) return "output: " + core.last_error;
        return Run();
    }
};

// SubRip cues become ASS in Matroska (asked for, or the container's own
// choice) and MP4's timed text: each cue once, at its own time, for as long as
// it lasted, with its words.
TEST_F(SubtitleTest, SubRipCuesKeepTheirTimesAndWordsInEachTextFormat) {
    const std::string src =
        MakeFixture(dir, "cues.mkv", "mkv-srt", {"--size", "64x48", "--fps", "5", "--audio", "none"});
    struct Case {
        const char* name;
        const char* scodec;  // "" the container's choice
        const char* codec;   // read back
        const char* mediainfo_format;
    };
    const Case cases[] = {
        {"out.mkv", "ass", "ass", "ASS"},
        {"default.mkv", "", "ass", "ASS"},
        {"out.mp4", "mov_text", "mov_text", "Timed Text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dst = dir.File(c.name);
        std::vector<std::pair<std::string, std::string>> options;
        if (c.scodec[0]) options.push_back({"scodec", c.scodec});
        ASSERT_EQ(ConvertSubtitles(src, dst, options), "") << AllLines();
        const SubtitleStream subs = ReadSubtitles(dst);
        EXPECT_EQ(subs.error, "");
        EXPECT_EQ(subs.codec, c.codec);
        // MP4's timed text fills the gaps between cues with empty samples.
        std::vector<SubtitlePacket> cues;
        for (const SubtitlePacket& p : subs.packets)
            if (!p.text.empty()) cues.push_back(p);
        ASSERT_EQ(cues.size(), std::size(kCues));
        for (size_t i = 0; i < std::size(kCues); ++i) {
            const SubtitlePacket& p = cues[i];
            EXPECT_NEAR(p.seconds, kCues[i].start / 1000.0, 0.002) << i;
            EXPECT_NEAR(static_cast<double>(p.duration) * subs.tb_num / subs.tb_den,
                        (kCues[i].end - kCues[i].start) / 1000.0, 0.002)
                << i;
            EXPECT_EQ(p.rects, 1) << i;
            EXPECT_NE(p.text.find(kCues[i].text), std::string::npos) << p.text;
        }
        if (HaveMediaInfo()) EXPECT_EQ(MediaInfoField(dst, "Text", "Format"), c.mediainfo_format);
    }
}

// DVB pages re-encoded into a transport stream: a page and the empty page that
// clears it for each page shown, the clearing page at the shown page's end.
TEST_F(SubtitleTest, DvbPagesAreShownAndClearedAtTheirTimes) {
    const std::string src =
        MakeFixture(dir, "pages.ts", "ts-dvbsub", {"--size", "64x48", "--fps", "5", "--audio", "none"});
    const SubtitleStream in = ReadSubtitles(src);
    ASSERT_EQ(in.error, "");
    const std::string dst = dir.File("out.ts");
    ASSERT_EQ(ConvertSubtitles(src, dst, {{"scodec", "dvbsub"}}), "") << AllLines();
    const SubtitleStream out = ReadSubtitles(dst);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.codec, "dvb_subtitle");
    // The input holds the pages as the generator made them: shown, cleared.
    ASSERT_EQ(in.packets.size(), 2 * std::size(kCues));
    std::vector<SubtitlePacket> shown;
    for (const SubtitlePacket& p : out.packets)
        if (p.rects > 0) shown.push_back(p);
    ASSERT_EQ(shown.size(), std::size(kCues)) << out.packets.size() << " packets";
    // Both files start at a muxing delay of their own: times are compared from the first page.
    const double out0 = out.packets[0].seconds;
    for (size_t i = 0; i < std::size(kCues); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(shown[i].seconds - out0, (kCues[i].start - kCues[0].start) / 1000.0, 0.002);
        EXPECT_EQ(shown[i].width, in.packets[2 * i].width);
        EXPECT_EQ(shown[i].height, in.packets[2 * i].height);
    }
    // Every page shown is followed by one without rectangles at its end.
    for (size_t k = 0; k < out.packets.size(); ++k) {
        if (out.packets[k].rects <= 0) continue;
        bool cleared = false;
        for (size_t j = k + 1; j < out.packets.size() && !cleared; ++j)
            cleared = out.packets[j].rects == 0;
        EXPECT_TRUE(cleared) << "page " << k << " stays on screen";
    }
    if (HaveMediaInfo()) EXPECT_EQ(MediaInfoField(dst, "Text", "Format"), "DVB Subtitle");
}

// Damaged subtitle inputs (cut short, bytes flipped) end as a conversion or a
// failure with a message, never as a crash; what is written reads back.
TEST_F(SubtitleTest, DamagedSubtitleInputsEndCleanly) {
    const std::vector<std::string> small = {"--size", "64x48", "--fps", "5", "--audio", "none"};
    const std::string srt = MakeFixture(dir, "cues.mkv", "mkv-srt", small);
    const std::string dvb = MakeFixture(dir, "pages.ts", "ts-dvbsub", small);
    struct Case {
        std::string src, scodec, ext;
    };
    const Case cases[] = {
        {MakeCut(srt, 70, dir.File("cut.mkv")), "ass", ".mkv"},
        {Corrupt(srt, dir.File("flipped.mkv"), 0.3, 7), "mov_text", ".mp4"},
        {MakeCut(dvb, 60, dir.File("cut.ts")), "dvbsub", ".ts"},
        {Corrupt(dvb, dir.File("flipped.ts"), 0.2, 5), "dvbsub", ".ts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src + " -> " + c.scodec);
        const std::string dst = dir.File("damaged" + c.ext);
        const std::string error = ConvertSubtitles(c.src, dst, {{"scodec", c.scodec}});
        if (!error.empty() || !FileExists(dst)) continue;
        EXPECT_EQ(ReadSubtitles(dst).error, "") << AllLines();
    }
}

}  // namespace
}  // namespace transcodetest

namespace transcodetest {
namespace {

// One subtitle handed to the encoding step: its packet's time (1/90000 s) and
// its display times (milliseconds); bad: a palette of more colours than DVB has.
struct TGiven {
    int64_t pts;
    uint32_t start, end;
    bool bad = false;
};

// The encoding step on its own, into a transport stream that keeps the
// timestamps as written: the packets written, decoded back.
class SubtitleEncodeTest : public TranscodeTest {
protected:
    void TearDown() override {
        Close();
        TranscodeTest::TearDown();
    }

    void Close() {
        avcodec.avcodec_free_context(&enc);
        if (oc) {
            avformat.avio_closep(&oc->pb);
            avformat.avformat_free_context(oc);
        }
        if (ic) avformat.avformat_free_context(ic);
        oc = ic = nullptr;
        ost.pending_clear.reset();
        core.run.reset();
    }

    void Open(const std::string& path) {
        core.run = std::make_unique<TRunState>();
        ASSERT_GE(avformat.avformat_alloc_output_context2(&oc, nullptr, "mpegts", path.c_str()), 0);
        AVStream* st = avformat.avformat_new_stream(oc, nullptr);
        const AVCodec* codec = avcodec.avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
        ASSERT_TRUE(st && codec);
        enc = avcodec.avcodec_alloc_context3(codec);
        enc->width = 720;
        enc->height = 576;
        enc->time_base = AV_TIME_BASE_Q;
        ASSERT_GE(avcodec.avcodec_open2(enc, codec, nullptr), 0);
        ASSERT_GE(avcodec.avcodec_parameters_from_context(st->codecpar, enc), 0);
        ASSERT_GE(avformat.avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
        // No muxing delay: the timestamps are written as they are given.
        oc->max_delay = 0;
        ASSERT_GE(avformat.avformat_write_header(oc, nullptr), 0);
        ost.enc = enc;
        ost.stream = st;
        ost.index = 0;
        ic = avformat.avformat_alloc_context();
        AVStream* in = avformat.avformat_new_stream(ic, nullptr);
        ASSERT_TRUE(in);
        in->time_base = AVRational{1, 90000};
        ist.stream = in;
    }

    // Hands each subtitle to the encoding step, then ends the stream; the
    // error text, or "".
    std::string Encode(const std::vector<TGiven>& given) {
        uint8_t pixels[8 * 4];
        for (size_t i = 0; i < sizeof pixels; ++i) pixels[i] = static_cast<uint8_t>(i % 4);
        std::vector<uint32_t> palette(1024, 0xFFFFFFFFu);
        palette[0] = 0;
        std::string error;
        try {
            for (const TGiven& g : given) {
                AVSubtitleRect rect{};
                rect.type = SUBTITLE_BITMAP;
                rect.x = 100;
                rect.y = 500;
                rect.w = 8;
                rect.h = 4;
                rect.nb_colors = g.bad ? 1000 : 4;
                rect.data[0] = pixels;
                rect.linesize[0] = 8;
                rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
                AVSubtitleRect* rects[1] = {&rect};
                AVSubtitle sub{};
                sub.start_display_time = g.start;
                sub.end_display_time = g.end;
                sub.num_rects = 1;
                sub.rects = rects;
                core.EncodeSubtitle(oc, ost, ist, &sub, g.pts);
            }
            core.FlushSubtitles(oc, ost);
        } catch (const Exception& e) {
            error = e.Message;
        }
        EXPECT_GE(avformat.av_write_trailer(oc), 0);
        avformat.avio_closep(&oc->pb);
        return error;
    }

    AVFormatContext* oc = nullptr;
    AVFormatContext* ic = nullptr;  // holds the input stream
    AVCodecContext* enc = nullptr;
    TOutputStreamState ost;
    TInputStreamState ist;
};

TEST_F(SubtitleEncodeTest, DvbPagesGoOutAsAPageAndAPageThatClearsIt) {
    constexpr int64_t kNoPts = AV_NOPTS_VALUE;
    struct Case {
        const char* name;
        std::vector<TGiven> given;
        bool xerror;
        std::vector<int64_t> pts;  // of the packets written, in 1/90000 s
        std::vector<int> rects;    // of each, decoded back
        const char* error;         // "" none
        const char* logged;        // "" nothing at level 0
    };
    constexpr int64_t s = 90000;  // one second
    const Case cases[] = {
        {"shown from 1 s to 3 s", {{0, 1000, 3000}}, false, {s, 3 * s}, {1, 0}, "", ""},
        {"two pages apart", {{s, 0, 1000}, {3 * s, 0, 500}}, false, {s, 2 * s, 3 * s, 3 * s + s / 2}, {1, 0, 1, 0},
         "", ""},
        // The second page comes before the first one's end and replaces it.
        {"a page replaced early", {{s, 0, 3000}, {2 * s, 0, 500}}, false, {s, 2 * s, 2 * s + s / 2}, {1, 1, 0}, "", ""},
        // Without an end time a page stays until the next one.
        {"a page without an end", {{s, 0, 0}, {2 * s, 0, 0}}, false, {s, 2 * s}, {1, 1}, "", ""},
        {"no pts", {{kNoPts, 0, 1000}}, false, {}, {}, "", "Subtitle packets must have a pts"},
        {"no pts with xerror", {{kNoPts, 0, 1000}}, true, {}, {}, "Subtitle packets must have a pts", ""},
        // A page the encoder refuses: nothing is written, the reason is logged.
        {"refused", {{s, 0, 1000, true}}, false, {}, {}, "", "avcodec_encode_subtitle()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Close();
        lines.clear();
        core.exit_on_error = c.xerror;
        const std::string path = dir.File("direct.ts");
        std::filesystem::remove(path);
        Open(path);
        EXPECT_EQ(Encode(c.given), c.error);
        const SubtitleStream back = ReadSubtitles(path, 0, "mpegts");
        std::vector<int64_t> pts;
        std::vector<int> rects;
        for (const SubtitlePacket& p : back.packets) {
            pts.push_back(p.pts);
            rects.push_back(p.rects);
        }
        EXPECT_EQ(pts, c.pts);
        EXPECT_EQ(rects, c.rects);
        int level0 = 0;
        for (const std::string& line : lines) level0 += line.rfind("0 ", 0) == 0;
        if (c.logged[0]) {
            EXPECT_TRUE(Logged(c.logged)) << AllLines();
            EXPECT_EQ(level0, 1) << AllLines();
        } else {
            EXPECT_EQ(level0, 0) << AllLines();
        }
    }
}

}  // namespace
}  // namespace transcodetest

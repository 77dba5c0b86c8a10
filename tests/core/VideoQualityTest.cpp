// The video path against real-world inputs: a variable-rate RealVideo file
// with a gap, odd picture sizes, the input's quantiser with sameq, and inputs
// that are damaged or change size midway. Pictures are read back by decoding,
// files described by mediainfo.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

#include "tests/common/VideoCheck.h"
#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

// The terminal front end's video kinds as engine options.
struct TKind {
    const char* name;
    const char* extension;
    std::vector<std::pair<std::string, std::string>> options;
};

const TKind Mp4{"mp4", ".mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}, {"crf", "23"}, {"movflags", "+faststart"}}};
const TKind Mkv{"mkv", ".mkv", {{"vcodec", "libx264"}, {"acodec", "aac"}, {"crf", "23"}}};

class VideoQualityTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }

    // Converts src to dst as the kind; options run before the output opens.
    std::string ConvertAs(const std::string& src, const std::string& dst, const TKind& kind,
                          const std::function<void()>& options = {}) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        lines.clear();
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        for (const auto& [name, value] : kind.options) core.SetOption(name, value);
        if (options) options();
        if (!core.OpenOutputFile(dst)) return "output: " + core.last_error;
        return Run();
    }

    // The dup and drop counters of the last report line ("... dup=%d drop=%d").
    std::pair<int, int> ReportedDupDrop() const {
        std::pair<int, int> counts{-1, -1};
        for (const std::string& line : lines) {
            const size_t at = line.rfind(" dup=");
            if (at != std::string::npos) std::sscanf(line.c_str() + at, " dup=%d drop=%d", &counts.first, &counts.second);
        }
        return counts;
    }
};

const TKind PalDvd{"pal-dvd", ".mpg", {{"target", "pal-dvd"}}};

// The picture times of the generator's rm-vfr kind at 25 fps, in seconds: 12
// pictures at 25 fps, half a second without any, 10 at half the rate, 12 at 25
// fps again.
std::vector<double> GapTimes() {
    std::vector<double> times;
    double t = 0;
    for (int n = 0; n < 34; ++n) {
        if (n > 0) t += n == 12 ? 0.54 : (n > 12 && n <= 22) ? 0.08 : 0.04;
        times.push_back(t);
    }
    return times;
}

// A variable-rate input end to end: every output picture shows the latest input
// picture due by its time (give or take one output frame), so a gap repeats the
// picture before it and never shows the next one early; the report's counters
// are the repeats and drops seen; the ticks in the sound stay with their
// pictures as they were in the input, within half an input frame.
TEST_F(VideoQualityTest, AVariableRateInputKeepsEveryPictureAndTickAtItsTime) {
    const std::string src = MakeFixture(dir, "gaps.rm", "rm-vfr", {"--video", "rv20", "--fps", "25"});
    const std::vector<double> own = GapTimes();
    // The input as the libraries read it: the numbers and times the generator meant.
    {
        const std::vector<DecodedPicture> in = DecodePictures(src);
        ASSERT_EQ(in.size(), own.size());
        for (size_t n = 0; n < in.size(); ++n) {
            EXPECT_EQ(ReadPictureNumber(in[n]), static_cast<int>(n));
            EXPECT_NEAR(in[n].seconds, own[n], 0.0015) << "input picture " << n;
        }
    }
    // The ticks as the input has them, each against its picture's own time.
    const std::vector<double> in_ticks = TickTimes(DecodeSound(src));
    ASSERT_EQ(in_ticks.size(), (own.size() + 3) / 4);
    for (const TKind* kind : {&PalDvd, &Mp4, &Mkv}) {
        SCOPED_TRACE(kind->name);
        const std::string dst = dir.File(std::string("gaps") + kind->extension);
        ASSERT_EQ(ConvertAs(src, dst, *kind, [&] { core.verbosity = 2; }), "") << AllLines();
        const std::vector<DecodedPicture> out = DecodePictures(dst);
        ASSERT_GE(out.size(), own.size());
        const double frame = 1.0 / 25;
        const double zero = out.front().seconds;
        int repeats = 0, skipped = 0, last = -1;
        std::vector<double> first_shown(own.size(), -1);
        for (size_t k = 0; k < out.size(); ++k) {
            const int n = ReadPictureNumber(out[k]);
            ASSERT_GE(n, 0) << "output picture " << k << " shows no number";
            ASSERT_LT(n, static_cast<int>(own.size()));
            const double t = out[k].seconds - zero;
            // Not early, and not stale: the next picture is not yet due.
            EXPECT_LE(own[n], t + frame + 1e-6) << "picture " << n << " shown early at " << t;
            if (n + 1 < static_cast<int>(own.size()))
                EXPECT_GT(own[n + 1], t - frame - 1e-6) << "picture " << n << " still shown at " << t;
            EXPECT_GE(n, last) << "out of order at " << t;
            if (n == last) ++repeats;
            if (n > last + 1) skipped += n - last - 1;
            if (first_shown[n] < 0) first_shown[n] = out[k].seconds;
            last = n;
        }
        skipped += static_cast<int>(own.size()) - 1 - last;
        EXPECT_EQ(core.dup_frames, repeats);
        EXPECT_EQ(core.drop_frames, skipped);
        EXPECT_EQ(ReportedDupDrop(), std::make_pair(repeats, skipped)) << AllLines();
        // The gap (0.44 s to 0.98 s) is filled on a constant-rate output;
        // Matroska keeps each picture's own time instead.
        if (kind == &Mkv)
            EXPECT_EQ(repeats, 0);
        else
            EXPECT_GE(repeats, 12);

        std::string error;
        const DecodedSound sound = DecodeSound(dst, &error);
        ASSERT_GT(sound.rate, 0) << error;
        const std::vector<double> ticks = TickTimes(sound);
        ASSERT_EQ(ticks.size(), (own.size() + 3) / 4);
        for (size_t i = 0; i < ticks.size(); ++i) {
            const size_t n = i * 4;
            ASSERT_GE(first_shown[n], 0) << "picture " << n << " never shown";
            EXPECT_NEAR(ticks[i] - first_shown[n], in_ticks[i] - own[n], frame / 2 + 0.001)
                << "tick of picture " << n;
        }
    }
}


// A copy of a RealMedia file with each packet of stream 0 changed by patch,
// given the packet's bytes (its 12-byte header first).
std::string PatchRmPackets(const std::string& src, const std::string& dst,
                           const std::function<void(char* packet, size_t length)>& patch) {
    std::string bytes = ReadFileBytes(src);
    const size_t data = bytes.find("DATA");
    if (data == std::string::npos) throw FixtureError("no DATA chunk in " + src);
    const auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
        return v;
    };
    for (size_t at = data + 18; at + 12 <= bytes.size();) {
        const size_t length = be(at + 2, 2);
        if (length < 12 || at + length > bytes.size()) break;
        if (be(at + 4, 2) == 0) patch(&bytes[at], length);
        at += length;
    }
    std::ofstream(dst, std::ios::binary) << bytes;
    return dst;
}

// Damaged video never ends as "Completed": a packet time far beyond the
// declared length fails the file before hours of copies are written, and a
// file whose every picture is damaged fails with its reason; nothing is kept.
TEST_F(VideoQualityTest, DamagedVideoFailsWithItsReasonAndKeepsNothing) {
    const std::string src = MakeFixture(dir, "in.rm", "rm-video", {"--seconds", "1", "--audio", "none"});
    uint32_t last_time = 0;
    PatchRmPackets(src, dir.File("scan.rm"), [&](char* p, size_t) {
        last_time = std::max(last_time, static_cast<uint32_t>(static_cast<uint8_t>(p[6])) << 24 |
                                            static_cast<uint8_t>(p[7]) << 16 | static_cast<uint8_t>(p[8]) << 8 |
                                            static_cast<uint8_t>(p[9]));
    });
    const std::string jump = PatchRmPackets(src, dir.File("jump.rm"), [&](char* p, size_t) {
        const uint32_t t = static_cast<uint32_t>(static_cast<uint8_t>(p[6])) << 24 | static_cast<uint8_t>(p[7]) << 16 |
                           static_cast<uint8_t>(p[8]) << 8 | static_cast<uint8_t>(p[9]);
        if (t != last_time) return;
        const uint32_t hour = 3600000;  // milliseconds
        for (int i = 0; i < 4; ++i) p[6 + i] = static_cast<char>(hour >> (24 - 8 * i));
    });
    const std::string blank = PatchRmPackets(src, dir.File("blank.rm"), [](char* p, size_t length) {
        std::memset(p + 12, 0xff, length - 12);
    });
    const TKind PalDvd{"pal-dvd", ".mpg", {{"target", "pal-dvd"}}};
    const std::string too_long = "The input decodes to far more than its declared length (1.0 s); conversion stopped";
    struct Case {
        std::string input;
        const TKind* kind;
        std::string error;
    };
    const Case cases[] = {
        {jump, &PalDvd, too_long},
        {jump, &Mp4, too_long},
        {jump, &Mkv, too_long},
        {blank, &PalDvd, "No picture could be decoded from the input"},
        {blank, &Mp4, "No picture could be decoded from the input"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + " as " + c.kind->name);
        const std::string dst = dir.File(std::string("out") + c.kind->extension);
        EXPECT_EQ(ConvertAs(c.input, dst, *c.kind), c.error) << AllLines();
        EXPECT_FALSE(FileExists(dst));
    }
}

// A damaged last picture is an error the decoder's frame threads give only
// while they are drained: the pictures before it, and those the encoder still
// holds, all reach the file, whatever the number of threads.
TEST_F(VideoQualityTest, ADamagedLastPictureLosesNothingElseWithAnyNumberOfThreads) {
    const std::string src =
        MakeFixture(dir, "damaged.mkv", "mkv-mpeg4", {"--seconds", "4", "--audio", "none", "--damage-last", "1"});
    std::vector<size_t> counts;
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        const std::string dst = dir.File("damaged.mp4");
        ASSERT_EQ(ConvertAs(src, dst, Mp4, [&] { core.SetOption("threads", threads); }), "") << AllLines();
        counts.push_back(DecodePictures(dst).size());
    }
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_GE(counts[0], 59u);  // of 60
}

// sameq: the encoder takes each picture's quantiser from the input picture, so
// a finely quantised input gives a large output and a coarse one a small
// output, where the encoder's own rate control makes both alike.
TEST_F(VideoQualityTest, SameQualityFollowsTheInputsQuantiser) {
    struct Case {
        int qscale;
        bool same;
    };
    const Case cases[] = {{3, true}, {20, true}, {3, false}, {20, false}};
    std::map<std::pair<int, bool>, long> sizes;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.qscale) + (c.same ? " sameq" : ""));
        const std::string src = dir.File("q" + std::to_string(c.qscale) + ".mkv");
        if (!FileExists(src))
            MakeFixture(dir, "q" + std::to_string(c.qscale) + ".mkv", "mkv-mpeg4",
                        {"--qscale", std::to_string(c.qscale), "--audio", "none", "--seconds", "1"});
        const std::string dst = dir.File("sameq.avi");
        const std::string vstats = dir.File("vstats.log");
        std::filesystem::remove(vstats);
        ASSERT_EQ(ConvertAs(src, dst, TKind{"avi", ".avi", {{"vcodec", "mpeg4"}}}, [&] {
                      core.same_quality = c.same;
                      core.SetVstatsFile(vstats);
                  }),
                  "")
            << AllLines();
        sizes[{c.qscale, c.same}] = FileSize(dst);
        EXPECT_EQ(DecodePictures(dst).size(), 15u);
        // Every picture was coded with the input's quantiser.
        const std::string text = ReadFileBytes(vstats);
        int lines_with_q = 0;
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "q= %2.1f ", static_cast<double>(c.qscale));
        for (size_t at = text.find("q= "); at != std::string::npos; at = text.find("q= ", at + 1))
            lines_with_q += c.same ? text.compare(at, std::strlen(wanted), wanted) == 0 : 1;
        EXPECT_EQ(lines_with_q, 15) << text;
    }
    const auto size = [&](int qscale, bool same) { return sizes[{qscale, same}]; };
    EXPECT_GT(size(3, true), size(20, true) * 3 / 2);
    EXPECT_NEAR(size(3, false), size(20, false), size(20, false) / 4);
}

// A picture turned upside down, as the "vflip" filter does.
DecodedPicture Flipped(DecodedPicture p) {
    for (int y = 0; y < p.height / 2; ++y)
        std::swap_ranges(p.y.begin() + static_cast<ptrdiff_t>(y) * p.width,
                         p.y.begin() + static_cast<ptrdiff_t>(y + 1) * p.width,
                         p.y.begin() + static_cast<ptrdiff_t>(p.height - 1 - y) * p.width);
    return p;
}

// An input whose pictures change size midway (176x144, then 320x240 from half a
// second on): every picture reaches the output at the output's size and looks
// like its input picture (with the filter chain applied), with or without a
// chain; the chain is built anew for the new size.
TEST_F(VideoQualityTest, ASizeChangeMidwayKeepsEveryPictureWholeWithOrWithoutAChain) {
    struct Case {
        const char* what;
        std::string filters;
        std::string size;   // -s; "" the input's first size
        bool flipped;
        int width, height;
    };
    const Case cases[] = {
        {"no chain", "", "", false, 176, 144},
        {"no chain, a new size", "", "240x160", false, 240, 160},
        {"a flip", "vflip", "", true, 176, 144},
        {"a flip then a scale", "vflip,scale=88:72", "", true, 88, 72},
        {"a flip and a new size", "vflip", "240x160", true, 240, 160},
    };
    const std::string src = MakeFixture(dir, "resized.mkv", "mkv-mpeg4",
                                        {"--resize", "320x240@0.5", "--seconds", "1", "--audio", "none"});
    const std::vector<DecodedPicture> in = DecodePictures(src);
    ASSERT_EQ(in.size(), 15u);
    ASSERT_EQ(in.back().width, 320);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dst = dir.File("resized.avi");
        ASSERT_EQ(ConvertAs(src, dst, TKind{"avi", ".avi", {{"vcodec", "mpeg4"}}}, [&] {
                      core.video_filters = c.filters;
                      core.filters_in_use = !c.filters.empty();
                      core.SetQScale(2);
                      if (!c.size.empty()) core.SetFrameSize(c.size);
                  }),
                  "")
            << AllLines();
        const std::vector<DecodedPicture> out = DecodePictures(dst);
        ASSERT_EQ(out.size(), in.size());
        for (size_t k = 0; k < out.size(); ++k) {
            EXPECT_EQ(out[k].width, c.width) << "picture " << k;
            EXPECT_EQ(out[k].height, c.height) << "picture " << k;
            EXPECT_LT(PictureDifference(out[k], c.flipped ? Flipped(in[k]) : in[k]), 12) << "picture " << k;
        }
    }
}

// Damaged input: cut files and flipped bytes in the packets. Decoding errors are
// logged and the output is still a file the checkers read; with xerror the task
// fails with the same message instead. Nothing crashes (run under the sanitizers).
TEST_F(VideoQualityTest, DamagedVideoGivesAValidFileOrFailsWithXerror) {
    struct Case {
        const char* what;
        std::string file;
    };
    const std::string rm = MakeFixture(dir, "clip.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "2"});
    const std::string mkv = MakeFixture(dir, "clip.mkv", "mkv-mpeg4", {"--seconds", "2", "--size", "161x121"});
    const Case cases[] = {
        {"RealVideo, bytes flipped from a third on", Corrupt(rm, dir.File("flipped.rm"), 0.3, 211)},
        {"RealVideo, every 31st byte from half way", Corrupt(rm, dir.File("dense.rm"), 0.5, 31)},
        {"RealVideo cut inside a packet", MakeCut(rm, 63.3, dir.File("cut.rm"))},
        {"MPEG-4 in Matroska, bytes flipped", Corrupt(mkv, dir.File("flipped.mkv"), 0.2, 97)},
        {"MPEG-4 in Matroska cut", MakeCut(mkv, 41.7, dir.File("cut.mkv"))},
    };
    int failing = 0;  // conversions that met a picture the decoder refused
    for (const Case& c : cases) {
        for (const TKind* kind : {&Mkv, &PalDvd}) {
            SCOPED_TRACE(std::string(c.what) + " -> " + kind->name);
            const std::string dst = dir.File(std::string("damaged") + kind->extension);
            const std::string error = ConvertAs(c.file, dst, *kind);
            ASSERT_EQ(error, "") << AllLines();
            const bool errors_logged = Logged("Error while decoding stream #0.");
            const std::vector<DecodedPicture> pictures = DecodePictures(dst);
            EXPECT_GT(pictures.size(), 5u);
            EXPECT_EQ(MediaInfoField(dst, "Video", "Format"), kind == &Mkv ? "AVC" : "MPEG Video");
            if (!errors_logged) continue;
            ++failing;
            // The same input with xerror stops at the first damaged packet.
            const std::string strict = ConvertAs(c.file, dst, *kind, [&] { core.exit_on_error = true; });
            EXPECT_EQ(strict.rfind("Error while decoding stream #0.", 0), 0u) << strict;
            EXPECT_FALSE(FileExists(dst));
        }
    }
    EXPECT_GE(failing, 4);
}

// The video path's failures, each with its message: a chain the libraries cannot
// build; a picture the deinterlacer cannot take (used as decoded); crop bands
// that a picture (smaller after a size change) cannot hold, and a pad the
// encoder's format cannot take (the picture left out, or the task failed with
// xerror).
TEST_F(VideoQualityTest, EachVideoFailureHasItsMessageAndOutcome) {
    struct Case {
        const char* what;
        std::string input;  // "odd", "shrinking", "rm"
        std::function<void(TCustomFFmpeg&)> options;
        std::string error;   // Run()'s result
        std::string logged;  // a line at level 0, "" none
        int pictures;        // decoded from the output, -1: no output
    };
    const auto filters = [](const char* chain) {
        return [chain](TCustomFFmpeg& c) {
            c.video_filters = chain;
            c.filters_in_use = true;
        };
    };
    const auto crop = [](bool strict) {
        return [strict](TCustomFFmpeg& c) {
            c.SetCropTop(160);
            c.exit_on_error = strict;
        };
    };
    const auto pad = [](bool strict) {
        return [strict](TCustomFFmpeg& c) {
            c.SetCodecName('v', "png");
            c.SetOption("pix_fmt", "monob");
            c.SetPadTop(16);
            c.exit_on_error = strict;
        };
    };
    const Case cases[] = {
        {"an unknown filter", "rm", filters("nosuchfilter"), "Error opening filters!", "", -1},
        {"a filter with bad arguments", "rm", filters("scale=w=abc"), "Error opening filters!", "", -1},
        {"deinterlacing an odd size", "odd", [](TCustomFFmpeg& c) { c.deinterlace = true; }, "",
         "0 Deinterlacing failed.", 15},
        {"crop bands past a smaller picture", "shrinking", crop(false), "", "0 error cropping picture", 8},
        {"the same with xerror", "shrinking", crop(true), "error cropping picture", "", -1},
        {"pad bands around a picture of one bit per pixel, with xerror", "rm", pad(true), "error padding picture", "", -1},
    };
    std::map<std::string, std::string> inputs = {
        {"rm", MakeFixture(dir, "in.rm", "rm-video", {"--seconds", "1", "--audio", "none"})},
        {"odd", MakeFixture(dir, "odd.mkv", "mkv-mpeg4", {"--size", "561x321", "--seconds", "1", "--audio", "none"})},
        {"shrinking", MakeFixture(dir, "shrinking.mkv", "mkv-mpeg4",
                                  {"--size", "320x240", "--resize", "176x144@0.5", "--seconds", "1", "--audio", "none"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dst = dir.File("failure.mkv");
        const std::string error = ConvertAs(inputs[c.input], dst, TKind{"mkv", ".mkv", {{"vcodec", "mpeg4"}}},
                                            [&] { c.options(core); });
        EXPECT_EQ(error, c.error) << AllLines();
        if (!c.logged.empty()) EXPECT_TRUE(Logged(c.logged)) << AllLines();
        if (c.pictures < 0) {
            EXPECT_FALSE(FileExists(dst));
            continue;
        }
        const std::vector<DecodedPicture> pictures = DecodePictures(dst);
        EXPECT_EQ(static_cast<int>(pictures.size()), c.pictures);
    }
}

}  // namespace
}  // namespace transcodetest

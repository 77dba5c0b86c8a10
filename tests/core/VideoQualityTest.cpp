// The video path against real-world inputs: a variable-rate RealVideo file
// with a gap, odd picture sizes, the input's quantiser with sameq, and inputs
// that are damaged or change size midway. Pictures are read back by decoding,
// files described by mediainfo.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "tests/common/VideoCheck.h"
#include "tests/core/TranscodeFixture.h"

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
// are the repeats and drops seen; the ticks in the sound stay with their pictures.
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
    for (const TKind* kind : {&PalDvd, &Mp4}) {
        SCOPED_TRACE(kind->name);
        const std::string dst = dir.File(std::string("gaps") + kind->extension);
        ASSERT_EQ(ConvertAs(src, dst, *kind, [&] { core.verbosity = 2; }), "") << AllLines();
        const std::vector<DecodedPicture> out = DecodePictures(dst);
        ASSERT_GT(out.size(), 40u);
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
        // The gap (0.44 s to 0.98 s) is filled on a constant-rate output.
        if (kind == &PalDvd) EXPECT_GE(repeats, 12);

        std::string error;
        const DecodedSound sound = DecodeSound(dst, &error);
        ASSERT_GT(sound.rate, 0) << error;
        const std::vector<double> ticks = TickTimes(sound);
        ASSERT_EQ(ticks.size(), (own.size() + 3) / 4);
        for (size_t i = 0; i < ticks.size(); ++i) {
            const size_t n = i * 4;
            ASSERT_GE(first_shown[n], 0) << "picture " << n << " never shown";
            EXPECT_NEAR(ticks[i], first_shown[n], frame) << "tick of picture " << n;
        }
    }
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

}  // namespace
}  // namespace transcodetest

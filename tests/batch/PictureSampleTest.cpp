// The pictures sampled at listing, as the media libraries' cropdetect and idet
// find them in generated inputs, and what ardentix-convert makes of them.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/Converter.h"
#include "batch/PictureSample.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/common/ConvertTool.h"
#include "tests/common/Fixtures.h"
#include "tests/common/VideoCheck.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

TPictureSample Sampled(const std::string& file) {
    TAVProbe probe;
    return ListFiles(probe, {file}).Files.at(0).Source.Pictures;
}

// A PAL picture of good quality, so the fields' combing survives the coding.
std::vector<std::string> Pal(std::vector<std::string> more) {
    const std::vector<std::string> pal = {"--size", "720x576", "--fps", "25", "--seconds", "4", "--audio", "none",
                                          "--qscale", "4"};
    more.insert(more.begin(), pal.begin(), pal.end());
    return more;
}

class PictureSampleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError(); }
    TempDir dir;
};

}  // namespace

// Bars are the bands black on every picture with content: a dark first half
// neither crops into the picture nor hides the bars; combing is found in
// woven fields only; a file with nothing to sample gives an empty sample.
TEST_F(PictureSampleTest, FindsTheBarsOfEveryPictureAndTheCombingOfWovenFields) {
    struct Row {
        const char* name;
        std::string kind;
        std::vector<std::string> options;
        int top, bottom;
        bool interlaced;
        int sampled;  // 1 yes, 0 no, -1 either (a decoder may conceal damage as pictures)
    };
    const Row rows[] = {
        {"bars", "mkv-mpeg4", Pal({"--bars", "72"}), 72, 72, false, 1},
        {"plain", "mkv-mpeg4", Pal({}), 0, 0, false, 1},
        {"dark", "mkv-mpeg4", Pal({"--dark-first"}), 0, 0, false, 1},
        {"darkbars", "mkv-mpeg4", Pal({"--dark-first", "--bars", "72"}), 72, 72, false, 1},
        {"woven", "mkv-mpeg4", Pal({"--woven"}), 0, 0, true, 1},
        {"one", "mkv-mpeg4", {"--seconds", "0.04", "--fps", "25", "--audio", "none"}, 0, 0, false, 0},
        {"damaged", "mkv-mpeg4", {"--seconds", "1", "--damage-last", "15"}, 0, 0, false, -1},
        {"sound", "rm-ac3", {"--seconds", "0.5"}, 0, 0, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TPictureSample s = Sampled(MakeFixture(dir, std::string(row.name) + ".x", row.kind, row.options));
        if (row.sampled >= 0) {
            EXPECT_EQ(s.Pictures > 0, row.sampled == 1) << s.Pictures;
        }
        EXPECT_EQ(s.CropTop, row.top);
        EXPECT_EQ(s.CropBottom, row.bottom);
        EXPECT_EQ(s.CropLeft + s.CropRight, 0);
        EXPECT_EQ(s.Interlaced(), row.interlaced) << s.CombedPictures << " combed, " << s.ProgressivePictures;
    }
}

// The set of woven and progressive clips of the same scenes: smooth motion,
// fine texture (noise, text, foliage) and a still scene. Every woven clip with
// motion reads as interlaced, in its field order where the fields' matching
// tells it; no progressive clip does, nor a still one, whose fields show no
// combing. idet alone (CombingSeen) misses the textured ones; its counts and
// both decisions are printed.
TEST_F(PictureSampleTest, FieldMatchingFindsWovenFieldsThatTextureHidesFromIdet) {
    struct Row {
        const char* scene;
        const char* fields;  // "" progressive
        const char* motion;
        bool interlaced;
    };
    const Row rows[] = {
        {"smooth", "tff", "4", true},    {"smooth", "bff", "4", true},    {"smooth", "", "4", false},
        {"noise", "tff", "2", true},     {"noise", "", "2", false},       {"text", "tff", "2", true},
        {"text", "", "2", false},        {"foliage", "bff", "2", true},   {"foliage", "", "2", false},
        {"noise", "tff", "0", false},    {"text", "", "0", false},
    };
    for (const Row& row : rows) {
        const std::string name = std::string(row.scene) + "-" + (row.fields[0] ? row.fields : "progressive") + "-" +
                                 row.motion;
        SCOPED_TRACE(name);
        std::vector<std::string> options = Pal({"--scene", row.scene, "--motion", row.motion, "--seconds", "1"});
        if (row.fields[0]) options.insert(options.end(), {"--fields", row.fields});
        const TPictureSample s = Sampled(MakeFixture(dir, name + ".mkv", "mkv-mpeg4", options));
        std::printf("%-24s idet %2d combed %2d progressive: %-11s rows %2d combed %2d smooth: %-11s order %2d tff %2d bff\n",
                    name.c_str(), s.CombedPictures, s.ProgressivePictures,
                    s.CombingSeen() ? "interlaced" : "progressive", s.RowCombedPictures, s.RowSmoothPictures,
                    s.Interlaced() ? "interlaced" : "progressive", s.TopFirstMatches, s.BottomFirstMatches);
        EXPECT_EQ(s.Interlaced(), row.interlaced);
        if (row.interlaced && s.TopFirstMatches + s.BottomFirstMatches > 0)
            EXPECT_EQ(s.TopFieldFirst(), std::string(row.fields) == "tff");
    }
}

// Through the terminal: the bars cut to 720x432 (as mediainfo reads it), the
// woven fields deinterlaced (combing measured again on the output), the plain
// input left as it is; the log says what was done, to each file only.
TEST_F(PictureSampleTest, TheTerminalCutsBarsAndDeinterlacesWhereTheSampleSaysSo) {
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    const std::string bars = MakeFixture(dir, "bars.mkv", "mkv-mpeg4", Pal({"--bars", "72"}));
    const std::string woven = MakeFixture(dir, "woven.mkv", "mkv-mpeg4", Pal({"--woven"}));
    const std::string plain = MakeFixture(dir, "plain.mkv", "mkv-mpeg4", Pal({}));
    const std::string out = dir.File("out") + "/";
    fs::create_directories(dir.File("config"));
    const pid_t pid = SpawnConvertTool({"-v", "-j", "1", "--to", "mp4", "-o", out, bars, woven, plain}, dir.Path(),
                                       dir.File("config"), dir.File("stdout"), dir.File("stderr"));
    ASSERT_EQ(WaitForConvertTool(pid), 0);
    std::stringstream log;
    log << std::ifstream(dir.File("stderr")).rdbuf();
    EXPECT_NE(log.str().find("[0] Removing black bars: 72 top, 72 bottom\n"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("[1] Input looks interlaced: deinterlacing\n"), std::string::npos);
    EXPECT_EQ(log.str().find("Removing black bars", log.str().find("[1] ")), std::string::npos);
    EXPECT_EQ(log.str().find("[2] Input looks interlaced"), std::string::npos);
    const struct {
        std::string file, height;
    } sizes[] = {{"bars.mp4", "432"}, {"woven.mp4", "576"}, {"plain.mp4", "576"}};
    for (const auto& [file, height] : sizes) {
        EXPECT_EQ(MediaInfoField(out + file, "Video", "Width"), "720") << file;
        EXPECT_EQ(MediaInfoField(out + file, "Video", "Height"), height) << file;
    }
    EXPECT_TRUE(Sampled(woven).Interlaced());
    const TPictureSample after = Sampled(out + "woven.mp4");
    EXPECT_GT(after.Pictures, 0);
    EXPECT_FALSE(after.Interlaced()) << after.CombedPictures << " combed, " << after.ProgressivePictures;
    // Turned off, nothing is done; a value the options do not know is a usage error.
    const std::string kept = dir.File("kept") + "/";
    const pid_t off = SpawnConvertTool({"-v", "--crop", "none", "--deinterlace=off", "--to", "mkv", "-o", kept, bars},
                                       dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"));
    ASSERT_EQ(WaitForConvertTool(off), 0);
    EXPECT_EQ(MediaInfoField(kept + "bars.mkv", "Video", "Height"), "576");
    for (const char* bad : {"--crop=some", "--deinterlace=yes"}) {
        const pid_t refused = SpawnConvertTool({bad, "-o", kept, bars}, dir.Path(), dir.File("config"),
                                               dir.File("stdout"), dir.File("stderr"));
        EXPECT_EQ(WaitForConvertTool(refused), 2) << bad;
    }
}

// Chapters and sound tracks through ardentix-convert: what a user who converts
// a Matroska file with both finds in each kind, read by mediainfo.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/common/ConvertTool.h"
#include "tests/common/Fixtures.h"
#include "tests/common/VideoCheck.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

// Runs the program with a configuration folder of its own; "" when it exited 0.
std::string Convert(const TempDir& dir, std::vector<std::string> args) {
    const std::string config = dir.File("config");
    fs::create_directories(config);
    const int status =
        WaitForConvertTool(SpawnConvertTool(args, dir.Path(), config, dir.File("stdout"), dir.File("stderr")));
    std::stringstream err;
    err << std::ifstream(dir.File("stderr")).rdbuf();
    return status == 0 ? "" : "exit " + std::to_string(status) + ": " + err.str();
}

TEST(ChapterConvert, Mp4AndMkvKeepTheChaptersOfTheirPartAndTheDiscAndTapeKindsNone) {
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    TempDir dir;
    const std::string src = MakeFixture(dir, "film.mkv", "mkv-mpeg4", {"--seconds", "3", "--chapters", "3"});
    struct Case {
        std::string to, ext;
        std::vector<std::string> options;
        std::vector<std::string> titles;
        double second_start;  // seconds
    };
    // The real program once each way; the core's tests cover every kind, ss and t.
    const Case cases[] = {
        {"mp4", ".mp4", {"--option", "ss=1.5"}, {"Chapter 2", "Chapter 3"}, 0.5},
        {"pal-dvd", ".mpg", {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to + (c.options.empty() ? "" : " " + c.options[1]));
        const std::string out = dir.File("out-" + c.to + std::to_string(c.options.size())) + "/";
        std::vector<std::string> args = {"-q", "-j", "1", "-o", out, "--to", c.to};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(src);
        ASSERT_EQ(Convert(dir, args), "");
        const auto chapters = MediaInfoChapters(out + "film" + c.ext);
        ASSERT_EQ(chapters.size(), c.titles.size());
        for (size_t k = 0; k < chapters.size(); ++k) EXPECT_EQ(chapters[k].title, c.titles[k]);
        if (chapters.size() < 2) continue;
        EXPECT_NEAR(chapters[0].start, 0.0, 0.001);
        EXPECT_NEAR(chapters[1].start, c.second_start, 0.001);
    }
}

// Each track keeps its language, title, rate and channels ("Automatic"), the
// first is the default; given settings apply to every track.
TEST(ChapterConvert, Mp4AndMkvKeepEverySoundTrack) {
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    TempDir dir;
    const std::string src = MakeFixture(dir, "two.mkv", "mkv-mpeg4", {"--seconds", "1", "--second-audio"});
    const std::string main = "AAC,en,Main,Yes,2,44100/", commentary = "AAC,de,Commentary,No,1,48000/";
    const struct {
        std::string to;
        std::vector<std::string> options;
        std::string tracks;
    } cases[] = {
        {"mkv", {}, main + commentary},
        {"mp4", {"--audio-tracks", "first"}, main},
        {"mp4", {"-c", "2", "-r", "32000"}, "AAC,en,Main,Yes,2,32000/AAC,de,Commentary,No,2,32000/"},
    };
    for (const auto& c : cases) {
        const std::string out = dir.File("out-" + c.to + std::to_string(c.options.size())) + "/";
        std::vector<std::string> args = {"-q", "-j", "1", "-o", out, "--to", c.to};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(src);
        ASSERT_EQ(Convert(dir, args), "") << c.to;
        // One line a track, each ending in "/" (and the "%" that closes the field list).
        std::string tracks = MediaInfoField(out + "two." + c.to, "Audio",
                                            "Format%,%Language%,%Title%,%Default%,%Channels%,%SamplingRate%/");
        std::erase(tracks, '%');
        EXPECT_EQ(tracks, c.tracks) << c.to << " " << c.options.size();
    }
}

}  // namespace

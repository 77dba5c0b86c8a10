// The pictures of the disc and tape kinds through ardentix-convert, as a
// decoder and mediainfo read them: their shape kept, film found by its rate,
// fields kept as fields.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "binding/FFmpegLoader.h"
#include "tests/common/ConvertTool.h"
#include "tests/common/DvdCheck.h"
#include "tests/common/Fixtures.h"
#include "tests/common/VideoCheck.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

// A shape's width to its height as shown: the second moments of the bright
// pixels (sub-pixel exact for a disc), the columns at the pixels' aspect.
double ShownShape(const DecodedPicture& p) {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.Y(x, y) > 125) {
                n += 1;
                sx += x;
                sy += y;
                sxx += static_cast<double>(x) * x;
                syy += static_cast<double>(y) * y;
            }
    if (n < 16) return 0;
    const double vx = sxx / n - (sx / n) * (sx / n), vy = syy / n - (sy / n) * (sy / n);
    return std::sqrt(vx) * p.pixel_aspect / std::sqrt(vy);
}

class DiscPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        avutil.av_log_set_level(AV_LOG_QUIET);
        fs::create_directories(dir.File("config"));
    }
    // Runs ardentix-convert -v over the files into out/KIND/; its log.
    std::string Convert(const std::string& kind, const std::vector<std::string>& files,
                        std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"-v", "-j", "1", "--to", kind, "-o", dir.File("out/" + kind)};
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), files.begin(), files.end());
        const pid_t pid = SpawnConvertTool(args, dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"));
        EXPECT_EQ(WaitForConvertTool(pid), 0) << kind;
        std::stringstream log;
        log << std::ifstream(dir.File("stderr")).rdbuf();
        return log.str();
    }
    std::string Output(const std::string& kind, const std::string& name) { return dir.File("out/" + kind + "/" + name); }
    TempDir dir;
};

}  // namespace

// A white disc keeps its shape in every kind (within 1 %, as the decoder
// shows it): bars where the source's shape is not the frame's, the 16:9
// frame of DVD and DV for a 16:9 source; the log says which.
TEST_F(DiscPictureTest, EveryKindKeepsTheShapeOfThePicture) {
    const std::vector<std::string> circle = {"--scene", "circle", "--seconds", "0.4", "--audio", "none", "--qscale", "2"};
    auto make = [&](const char* name, std::vector<std::string> more) {
        more.insert(more.end(), circle.begin(), circle.end());
        return MakeFixture(dir, name, "mkv-mpeg4", more);
    };
    const std::vector<std::string> inputs = {
        make("square.mkv", {"--size", "720x576", "--fps", "25"}),                   // 5:4
        make("small.mkv", {"--size", "176x144", "--fps", "25"}),                    // 11:9
        make("wide.mkv", {"--size", "720x576", "--sar", "64:45", "--fps", "25"}),  // 16:9 PAL
        make("ntsc.mkv", {"--size", "1024x576", "--fps", "30000/1001"}),            // 16:9 NTSC
    };
    const struct {
        const char* kind;
        const char* notes[4];  // the log's line for each input, in order
    } rows[] = {
        {"vcd", {"Pillarboxing 5:4 into 4:3: 10 columns left, 12 right", "Pillarboxing 11:9 into 4:3: 14 columns left, 16 right",
                 "Letterboxing 16:9 into 4:3: 36 lines top and bottom", "Letterboxing 16:9 into 4:3: 30 lines top and bottom"}},
        {"svcd", {"Pillarboxing 5:4 into 4:3: 14 columns left, 16 right", "Pillarboxing 11:9 into 4:3: 20 columns left and right",
                  "Letterboxing 16:9 into 4:3: 72 lines top and bottom", "Letterboxing 16:9 into 4:3: 60 lines top and bottom"}},
        {"dvd", {"Pillarboxing 5:4 into 4:3: 22 columns left and right", "Pillarboxing 11:9 into 4:3: 30 columns left and right",
                 "Writing 16:9 in the 16:9 frame", "Writing 16:9 in the 16:9 frame"}},
        {"dv", {"Pillarboxing 5:4 into 4:3: 20 columns left, 24 right", "Pillarboxing 11:9 into 4:3: 28 columns left, 32 right",
                "Writing 16:9 in the 16:9 frame", "Writing 16:9 in the 16:9 frame"}},
        {"dv50", {"Pillarboxing 5:4 into 4:3: 20 columns left, 24 right", "Pillarboxing 11:9 into 4:3: 28 columns left, 32 right",
                  "Writing 16:9 in the 16:9 frame", "Writing 16:9 in the 16:9 frame"}},
    };
    for (const auto& row : rows) {
        const std::string log = Convert(row.kind, inputs);
        for (size_t i = 0; i < inputs.size(); ++i) {
            const std::string name = fs::path(inputs[i]).stem().string();
            SCOPED_TRACE(std::string(row.kind) + " " + name);
            EXPECT_NE(log.find("[" + std::to_string(i) + "] " + row.notes[i] + "\n"), std::string::npos) << log;
            const std::vector<DecodedPicture> in = DecodePictures(inputs[i]);
            std::string error;
            const std::vector<DecodedPicture> out = DecodePictures(
                Output(row.kind, name + (std::string(row.kind).find("vcd") == std::string::npos && std::string(row.kind) != "dvd" ? ".dv" : ".mpg")), &error);
            ASSERT_FALSE(in.empty());
            ASSERT_FALSE(out.empty()) << error;
            EXPECT_NEAR(ShownShape(out[0]) / ShownShape(in[0]), 1.0, 0.01);
        }
    }
    // The user's own aspect wins: no bars, the picture stretched to it.
    const std::string log = Convert("pal-dvd", {inputs[0]}, {"--option", "aspect=4:3"});
    EXPECT_EQ(log.find("Pillarboxing"), std::string::npos) << log;
    EXPECT_NEAR(ShownShape(DecodePictures(Output("pal-dvd", "square.mpg"))[0]), 4.0 / 3 / 1.25, 0.02);
}

// Film (23.976 or 24 pictures a second) finds the film target by itself,
// DVD's as soft 2:3 pulldown; a norm given keeps it.
TEST_F(DiscPictureTest, FilmFindsTheFilmTarget) {
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    const std::vector<std::string> film = {"--size", "720x480", "--sar", "8:9", "--seconds", "1", "--audio", "none"};
    std::vector<std::string> ntsc_film = film, exact_film = film;
    ntsc_film.insert(ntsc_film.end(), {"--fps", "24000/1001"});
    exact_film.insert(exact_film.end(), {"--fps", "24"});
    const std::string inputs[] = {MakeFixture(dir, "ntscfilm.mkv", "mkv-mpeg4", ntsc_film),
                                  MakeFixture(dir, "film.mkv", "mkv-mpeg4", exact_film)};
    const struct {
        const char* kind;
        const char* rate;
        const char* order;  // mediainfo's ScanOrder
    } rows[] = {{"dvd", "23.976", "2:3 Pulldown"}, {"ntsc-dvd", "29.970", ""}, {"svcd", "23.976", ""},
                {"vcd", "23.976", ""}};
    for (const auto& row : rows) {
        Convert(row.kind, {inputs[0], inputs[1]});
        for (const char* name : {"ntscfilm.mpg", "film.mpg"}) {
            SCOPED_TRACE(std::string(row.kind) + " " + name);
            EXPECT_EQ(MediaInfoField(Output(row.kind, name), "Video", "FrameRate"), row.rate);
            EXPECT_EQ(MediaInfoField(Output(row.kind, name), "Video", "ScanOrder"), row.order);
        }
    }
}

// An interlaced source in the target's norm stays interlaced, its first
// field in the headers (DV always bottom first, a top-first source's fields
// swapped); a progressive one stays progressive; dvdauthor takes the DVDs.
TEST_F(DiscPictureTest, FieldsStayFieldsInTheSourcesNorm) {
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    // 4:3 pictures: the rows are kept, no bars.
    auto make = [&](const char* name, const char* size, const char* fps, const char* fields) {
        std::vector<std::string> options = {"--scene", "smooth", "--size", size, "--fps", fps, "--seconds", "2",
                                            "--sar", size[4] == '5' ? "16:15" : "8:9", "--qscale", "3",
                                            "--audio", "none"};
        if (fields[0]) options.insert(options.end(), {"--fields", fields});
        return MakeFixture(dir, name, "mkv-mpeg4", options);
    };
    const std::vector<std::string> inputs = {make("tff.mkv", "720x576", "25", "tff"),
                                             make("bff.mkv", "720x576", "25", "bff"),
                                             make("progressive.mkv", "720x576", "25", ""),
                                             make("ntsc.mkv", "720x480", "30000/1001", "tff")};
    const struct {
        const char* kind;
        const char* ext;
        const char* scans[4];  // mediainfo's ScanType and ScanOrder of each input's output
    } rows[] = {
        {"dvd", ".mpg", {"Interlaced TFF", "Interlaced BFF", "Progressive ", "Interlaced TFF"}},
        {"svcd", ".mpg", {"Interlaced TFF", "Interlaced BFF", "Progressive ", "Interlaced TFF"}},
        {"dv", ".dv", {"Interlaced BFF", "Interlaced BFF", "Progressive ", "Interlaced BFF"}},
    };
    for (const auto& row : rows) {
        const std::string log = Convert(row.kind, inputs);
        for (size_t i = 0; i < inputs.size(); ++i) {
            const std::string file = Output(row.kind, fs::path(inputs[i]).stem().string() + row.ext);
            SCOPED_TRACE(file);
            EXPECT_EQ(MediaInfoField(file, "Video", "ScanType") + " " + MediaInfoField(file, "Video", "ScanOrder"),
                      row.scans[i]) << log;
        }
    }
    for (const char* name : {"tff.mpg", "bff.mpg"}) {
        const DvdAuthoring dvd = AuthorDvdTitle(Output("dvd", name), dir.File(std::string("author-") + name));
        if (!dvd.started) GTEST_SKIP() << "dvdauthor is not installed (scripts/deps installs it)";
        EXPECT_EQ(dvd.status, 0) << dvd.said;
        EXPECT_EQ(dvd.said.find("WARN"), std::string::npos) << dvd.said;
    }
}

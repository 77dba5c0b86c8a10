// What the plan does to the pictures from a sample: the bars it cuts (with the
// display aspect and the size limit of what is left) and when it deinterlaces.
#include <gtest/gtest.h>

#include "batch/OutputPlan.h"
#include "binding/FFmpegLoader.h"
#include "tests/batch/PlanChoices.h"

namespace {

// A PAL source of square pixels whose sample found 72-pixel bars, combed or not.
TSourceFacts Pal(bool combed, int width = 720, int height = 576, int bars = 72) {
    TSourceFacts facts;
    facts.VideoStreams = 1;
    facts.Streams = {{TProbedStream::Video, width, height}};
    TPictureSample& s = facts.Pictures;
    s.Pictures = 50;
    s.Width = width;
    s.Height = height;
    s.CropTop = s.CropBottom = bars;
    s.CombedPictures = combed ? 40 : 0;
    s.ProgressivePictures = combed ? 0 : 40;
    s.RateNum = 25;
    return facts;
}

}  // namespace

TEST(PicturePlan, BarsAreCutForMp4AndMkvUnlessTurnedOffOrCroppedByHand) {
    struct TRow {
        const char* kind;
        bool remove;
        std::vector<std::string> options;
        bool cut;
    };
    const TRow rows[] = {
        {"mp4", true, {}, true},           {"mkv", true, {}, true},
        {"mp4", false, {}, false},         {"mp4", true, {"cropleft=8"}, false},
        {"mkv", true, {"vfilters=hflip"}, false}, {"pal-dvd", true, {}, false},
        {"dv", true, {}, false},           {"mp3", true, {}, false},
    };
    for (const TRow& row : rows) {
        TPlanChoice choice;
        choice.To = Kind(row.kind);
        choice.RemoveBlackBars = row.remove;
        choice.Options = row.options;
        const TOutputOptions out = PlanOutput(choice, Pal(false));
        SCOPED_TRACE(std::string(row.kind) + (row.remove ? " on " : " off ") + out.ExtOptions);
        EXPECT_EQ(HasLine(out.ExtOptions, "croptop=72") && HasLine(out.ExtOptions, "cropbottom=72"), row.cut);
        EXPECT_EQ(out.ExtOptions.find("cropleft=0"), std::string::npos);
        EXPECT_EQ(out.AspectRatio, row.cut ? "5:3" : "");
        EXPECT_EQ(out.Notes, row.cut ? std::vector<std::string>{"Removing black bars: 72 top, 72 bottom"}
                                     : std::vector<std::string>{});
    }
}

// The limit and the aspect are those of the picture the crop leaves; the note
// names only the sides cut.
TEST(PicturePlan, TheCroppedPictureIsWhatTheSizeLimitAndTheAspectSee) {
    TPlanChoice choice;
    choice.To = Kind("mkv");
    choice.MaxPicture = {1280, 720};
    TSourceFacts wide = Pal(false, 1920, 1080, 140);
    const TOutputOptions limited = PlanOutput(choice, wide);
    EXPECT_EQ(limited.FrameSize, "1280x534");
    EXPECT_EQ(limited.AspectRatio, "12:5");
    TSourceFacts pillar = Pal(false, 720, 576, 0);
    pillar.Streams[0].SampleAspectNum = 16;
    pillar.Streams[0].SampleAspectDen = 15;
    pillar.Pictures.CropLeft = pillar.Pictures.CropRight = 90;
    const TOutputOptions sides = PlanOutput(choice, pillar);
    EXPECT_EQ(sides.FrameSize, "");
    EXPECT_EQ(sides.AspectRatio, "1:1");  // 540 columns of 16:15 pixels by 576 rows
    EXPECT_EQ(sides.Notes, std::vector<std::string>{"Removing black bars: 90 left, 90 right"});
    EXPECT_EQ(PlanOutput(choice, TSourceFacts{}).Notes, std::vector<std::string>{});
    // Bands that leave less than a quarter are a dark video's content.
    EXPECT_EQ(PlanOutput(choice, Pal(false, 720, 576, 218)).ExtOptions.find("crop"), std::string::npos);
    EXPECT_TRUE(HasLine(PlanOutput(choice, Pal(false, 720, 576, 216)).ExtOptions, "croptop=216"));
}

// Auto keeps the fields where the kind writes them at the source's height and
// rate (DVD and DV in the source's norm) and deinterlaces everywhere else.
TEST(PicturePlan, AutoDeinterlacesCombedInputsUnlessTheKindKeepsTheFields) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    struct TRow {
        const char* kind;
        TDeinterlace how;
        bool combed;
        bool deinterlaced, noted;
    };
    using D = TDeinterlace;
    const TRow rows[] = {
        {"mp4", D::Auto, true, true, true},      {"mkv", D::Auto, false, false, false},
        {"mp4", D::On, false, true, false},      {"mkv", D::Off, true, false, false},
        {"pal-dvd", D::Auto, true, false, false}, {"dvd", D::Auto, true, false, false},
        {"pal-dv", D::Auto, true, false, false}, {"dv50", D::Auto, true, false, false},
        {"ntsc-dvd", D::Auto, true, true, true}, {"film-dvd", D::Auto, true, true, true},
        {"pal-vcd", D::Auto, true, true, true},  {"pal-svcd", D::Auto, true, false, false},
        {"pal-dvd", D::On, false, true, false},  {"mp3", D::On, true, false, false},
    };
    for (const TRow& row : rows) {
        TPlanChoice choice;
        choice.To = Kind(row.kind);
        choice.Deinterlace = row.how;
        choice.RemoveBlackBars = false;
        const TOutputOptions out = PlanOutput(choice, Pal(row.combed));
        SCOPED_TRACE(std::string(row.kind) + " " + DeinterlaceName(row.how) + (row.combed ? " combed" : ""));
        EXPECT_EQ(HasLine(out.ExtOptions, "deinterlace"), row.deinterlaced);
        EXPECT_EQ(out.Notes.size() == 1 && out.Notes[0] == "Input looks interlaced: deinterlacing", row.noted);
    }
    for (const D how : {D::Auto, D::On, D::Off}) EXPECT_EQ(DeinterlaceNamed(DeinterlaceName(how)), how);
    EXPECT_FALSE(DeinterlaceNamed("yes"));
}

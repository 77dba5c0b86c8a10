// What the plan does to the pictures from a sample: the bars it cuts (with the
// display aspect and the size limit of what is left) and when it deinterlaces.
#include <gtest/gtest.h>

#include <algorithm>

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
        EXPECT_EQ(std::count(out.Notes.begin(), out.Notes.end(), "Removing black bars: 72 top, 72 bottom"), row.cut);
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
// rate (DVD, SVCD and DV in the source's norm), coded as fields in the order
// idet found (DV bottom first, a top-first source moved down a row), and
// deinterlaces everywhere else.
TEST(PicturePlan, AutoDeinterlacesCombedInputsUnlessTheKindKeepsTheFields) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    struct TRow {
        const char* kind;
        TDeinterlace how;
        bool combed;
        bool deinterlaced, noted;
        std::vector<std::string> fields;  // the field options planned
    };
    using D = TDeinterlace;
    const std::vector<std::string> mpeg2 = {"flags=+ildct+ilme", "alternate_scan=1", "top=1"};
    const std::vector<std::string> dv = {"flags=+ildct", "top=0", "vfilters=setfield=tff,fieldorder=bff"};
    const TRow rows[] = {
        {"mp4", D::Auto, true, true, true},         {"mkv", D::Auto, false, false, false},
        {"mp4", D::On, false, true, false},         {"mkv", D::Off, true, false, false},
        {"pal-dvd", D::Auto, true, false, false, mpeg2}, {"dvd", D::Auto, true, false, false, mpeg2},
        {"pal-dv", D::Auto, true, false, false, dv},     {"dv50", D::Auto, true, false, false, dv},
        {"ntsc-dvd", D::Auto, true, true, true},    {"film-dvd", D::Auto, true, true, true},
        {"pal-vcd", D::Auto, true, true, true},     {"pal-svcd", D::Auto, true, false, false, mpeg2},
        {"pal-dvd", D::On, false, true, false},     {"mp3", D::On, true, false, false},
        {"pal-dvd", D::Auto, false, false, false},
    };
    for (const TRow& row : rows) {
        TPlanChoice choice;
        choice.To = Kind(row.kind);
        choice.Deinterlace = row.how;
        choice.RemoveBlackBars = false;
        TSourceFacts source = Pal(row.combed);
        source.Pictures.TopFirstPictures = source.Pictures.CombedPictures;
        const TOutputOptions out = PlanOutput(choice, source);
        SCOPED_TRACE(std::string(row.kind) + " " + DeinterlaceName(row.how) + (row.combed ? " combed" : ""));
        EXPECT_EQ(HasLine(out.ExtOptions, "deinterlace"), row.deinterlaced);
        EXPECT_EQ(std::count(out.Notes.begin(), out.Notes.end(), "Input looks interlaced: deinterlacing"), row.noted);
        for (const std::string& line : row.fields) EXPECT_TRUE(HasLine(out.ExtOptions, line)) << line;
        EXPECT_EQ(out.ExtOptions.find("flags=+ildct") != std::string::npos, !row.fields.empty());
    }
    // A bottom-first source keeps its order: in MPEG-2's headers, and as DV's own.
    TPlanChoice choice;
    TSourceFacts bottom = Pal(true);
    for (const char* kind : {"pal-dvd", "pal-dv"}) {
        choice.To = Kind(kind);
        const std::string text = PlanOutput(choice, bottom).ExtOptions;
        EXPECT_TRUE(HasLine(text, "top=0")) << kind;
        EXPECT_EQ(text.find("fieldorder"), std::string::npos) << kind;
    }
    // A user's own filter graph leaves DV no way to swap the fields: deinterlaced.
    choice.Options = {"vfilters=hflip"};
    bottom.Pictures.TopFirstPictures = 40;
    EXPECT_TRUE(HasLine(PlanOutput(choice, bottom).ExtOptions, "deinterlace"));
    for (const D how : {D::Auto, D::On, D::Off}) EXPECT_EQ(DeinterlaceNamed(DeinterlaceName(how)), how);
    EXPECT_FALSE(DeinterlaceNamed("yes"));
}

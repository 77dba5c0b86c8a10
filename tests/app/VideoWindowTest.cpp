// Video in the window: the record each output format gives a file, a sound
// file under a video format, and the preview while a video converts.
#include <QApplication>

#include <filesystem>
#include <regex>

#include "app/Previewer.h"
#include "batch/PicturePlan.h"
#include "tests/app/FormFixture.h"
#include "tests/common/VideoCheck.h"

using namespace apptest;
using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

class VideoWindowTest : public RunFormTest {
protected:
    void ChooseFormat(const std::string& item, const std::string& norm = "PAL") {
        form->CboFormat->setCurrentText(QString::fromStdString(item));
        ASSERT_EQ(form->CboFormat->currentText().toStdString(), item);
        form->CboNorm->setCurrentText(QString::fromStdString(norm));
    }
};

QWidget* PreviewWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == TPreviewer::kObjectName && w->isVisible()) return w;
    return nullptr;
}

}  // namespace

// Each format gives its task the record the terminal's kind of the same name
// gives, the row's output name follows the format, and the settings the
// format fixes cannot be chosen.
TEST_F(VideoWindowTest, EachFormatBuildsItsTaskRecord) {
    const std::string clip = MakeRealVideo(dir, "clip.rmvb", 0.5, "rv20");
    AddThroughDialog({clip});
    ASSERT_EQ(Cell(0, colOutputFilename), "clip.mp3");
    form->CboAudioBitrate->setCurrentText("96");
    const struct {
        const char* item;
        const char* norm;
        const char* ext;
        const char* target;  // the option line of the disc kinds; "" none
        const char* video_codec;
        bool audio_choice;
        int bitrate;  // MP3's is the 96 chosen above; MP4 has its own, "Automatic"
    } formats[] = {
        {"MP3 audio", "PAL", ".mp3", "", "", true, 96000},
        {"M4A audio (AAC)", "PAL", ".m4a", "", "", true, 128000},
        {"Opus audio", "PAL", ".opus", "", "", true, 96000},
        {"Ogg Vorbis audio", "PAL", ".ogg", "", "", true, -1},
        {"FLAC audio (lossless)", "PAL", ".flac", "", "", true, -1},
        {"WAV audio (uncompressed)", "PAL", ".wav", "", "", true, -1},
        {"MP4 video (H.264/AAC)", "NTSC", ".mp4", "", "libx264", true, 128000},
        {"DVD (MPEG-2)", "PAL", ".mpg", "target=pal-dvd", "", false, -1},
        {"VCD (MPEG-1)", "NTSC", ".mpg", "target=ntsc-vcd", "", false, -1},
        {"SVCD (MPEG-2)", "PAL", ".mpg", "target=pal-svcd", "", false, -1},
        {"DV", "NTSC", ".dv", "target=ntsc-dv", "", false, -1},
        {"MKV video (H.264/AAC)", "PAL", ".mkv", "", "libx264", true, 128000},
        {"DVCPRO 50 (4:2:2)", "PAL", ".dv", "target=pal-dv50", "", false, -1},
    };
    ASSERT_EQ(form->CboFormat->count(), static_cast<int>(std::size(formats)));
    for (const auto& f : formats) {
        SCOPED_TRACE(f.item);
        ChooseFormat(f.item, f.norm);
        EXPECT_EQ(Cell(0, colOutputFilename), std::string("clip") + f.ext);
        EXPECT_EQ(form->CboNorm->isEnabled(), f.target[0] != '\0');
        EXPECT_EQ(form->ChkPreview->isEnabled(), f.video_codec[0] || !f.audio_choice) << "only videos have pictures";
        for (QWidget* w : std::initializer_list<QWidget*>{form->CboChannels, form->CboAudioBitrate,
                                                          form->CboAudioSampleRate}) {
            // WAV keeps every sample: no bit rate to choose.
            const bool chosen = f.audio_choice && !(w == form->CboAudioBitrate && f.ext == std::string(".wav"));
            EXPECT_EQ(w->isEnabled(), chosen) << w->objectName().toStdString();
            EXPECT_EQ(w->toolTip().isEmpty(), chosen) << "a fixed setting says why";
        }

        const TListedFile file = ListFiles(form->Engine().Probe, {clip}).Files.at(0);
        const TOutputOptions record = PlanOutput(form->PlanChoice(), file.Source);
        EXPECT_EQ(fs::path(PlanOutputPath(file, form->PlanChoice(), out, {})).extension(), f.ext);
        EXPECT_EQ(record.VideoCodec, f.video_codec);
        const bool hasTarget = record.ExtOptions.find("target=") != std::string::npos;
        EXPECT_EQ(hasTarget, f.target[0] != '\0') << record.ExtOptions;
        if (f.target[0]) EXPECT_NE(record.ExtOptions.find(std::string(f.target) + "\n"), std::string::npos);
        EXPECT_EQ(record.AudioBitrate, f.bitrate);
    }
}

// A sound file cannot become a video: its row fails with the reason, and the
// video after it is converted.
TEST_F(VideoWindowTest, ASoundFileUnderAVideoFormatFailsInItsRowAndTheBatchGoesOn) {
    const std::string song = MakeWav(dir, "song.wav", 0.5);
    const std::string clip = MakeRealVideo(dir, "clip.rmvb", 1.0, "rv20");
    AddThroughDialog({song, clip});
    ChooseFormat("MP4 video (H.264/AAC)");
    RunToEnd();
    EXPECT_EQ(Status(0), "Failed");
    EXPECT_NE(Tip(0, colStatus).toStdString().find(">The input has nothing to write as this format: has no video stream to write as mp4<"),
              std::string::npos);
    EXPECT_EQ(Status(1), "Completed");
    EXPECT_FALSE(fs::exists(out + "song.mp4"));
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_NE(dialogs.Summaries[0].Text.find(song + ": The input has nothing to write as this format: has no video stream to write as mp4"), std::string::npos)
        << dialogs.Summaries[0].Text;
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed";
    EXPECT_EQ(MediaInfoField(out + "clip.mp4", "Video", "Format"), "AVC");
    EXPECT_EQ(MediaInfoField(out + "clip.mp4", "Audio", "Format"), "AAC");
    EXPECT_NEAR(std::stod(MediaInfoField(out + "clip.mp4", "Video", "Duration")), 1000, 100);
}

// "Largest picture" is offered for MP4 only, and its choice reaches the plan of
// a picture larger than it.
TEST_F(VideoWindowTest, TheLargestPictureReachesThePlan) {
    const std::string clip =
        MakeFixture(dir, "large.mkv", "mkv-mpeg4", {"--size", "1920x1080", "--seconds", "1", "--audio", "none"});
    AddThroughDialog({clip});
    EXPECT_TRUE(form->CboMaxPicture->isHidden());  // MP3 has no picture
    ChooseFormat("MP4 video (H.264/AAC)");
    EXPECT_FALSE(form->CboMaxPicture->isHidden());
    EXPECT_EQ(form->CboMaxPicture->currentText(), "No limit");
    const TListedFile file = ListFiles(form->Engine().Probe, {clip}).Files.at(0);
    EXPECT_EQ(PlanOutput(form->PlanChoice(), file.Source).FrameSize, "");
    form->CboMaxPicture->setCurrentText("1280x720");
    const TOutputOptions record = PlanOutput(form->PlanChoice(), file.Source);
    EXPECT_EQ(record.FrameSize, "1280x720");
    EXPECT_EQ(record.AspectRatio, "16:9");
    ChooseFormat("DVD (MPEG-2)");
    EXPECT_TRUE(form->CboMaxPicture->isHidden());
    EXPECT_EQ(PlanOutput(form->PlanChoice(), file.Source).FrameSize, "");
}

// "Remove black bars" is for MP4 only and "Deinterlace" for every video
// format; both reach the plan of a letterboxed, interlaced file.
TEST_F(VideoWindowTest, BlackBarsAndDeinterlacingReachThePlan) {
    const std::string clip = MakeFixture(dir, "tv.mkv", "mkv-mpeg4",
                                         {"--size", "720x576", "--fps", "25", "--seconds", "2", "--audio", "none",
                                          "--qscale", "4", "--bars", "72", "--woven"});
    const TListedFile file = ListFiles(form->Engine().Probe, {clip}).Files.at(0);
    const struct {
        const char* item;
        bool bars, deinterlace;
    } formats[] = {{"MP3 audio", false, false}, {"MP4 video (H.264/AAC)", true, true},
                   {"DVD (MPEG-2)", false, true}, {"DV", false, true}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.item);
        ChooseFormat(f.item);
        EXPECT_EQ(form->ChkRemoveBlackBars->isEnabled(), f.bars);
        EXPECT_EQ(form->CboDeinterlace->isEnabled(), f.deinterlace);
    }
    ChooseFormat("MP4 video (H.264/AAC)");
    EXPECT_TRUE(form->ChkRemoveBlackBars->isChecked());
    EXPECT_EQ(form->CboDeinterlace->currentText(), "Automatic");
    const TOutputOptions automatic = PlanOutput(form->PlanChoice(), file.Source);
    EXPECT_EQ(automatic.Notes, (std::vector<std::string>{"Removing black bars: 72 top, 72 bottom",
                                                         "Input looks interlaced: deinterlacing"}));
    // Read as the window reads an added file, the sample waits for a run whose plan needs it.
    TListedFile added{0, clip};
    form->ReadFile(form->Engine().Probe, added);
    EXPECT_FALSE(added.Sampled);
    EXPECT_TRUE(NeedsPictureSample(form->PlanChoice()));
    SampleListedFile(form->Engine().Probe, added);
    EXPECT_EQ(PlanOutput(form->PlanChoice(), added.Source).Notes, automatic.Notes);
    form->ChkRemoveBlackBars->setChecked(false);
    form->CboDeinterlace->setCurrentText("Off");
    const TOutputOptions off = PlanOutput(form->PlanChoice(), file.Source);
    EXPECT_TRUE(off.Notes.empty());
    EXPECT_EQ(off.ExtOptions.find("crop"), std::string::npos);
    EXPECT_EQ(off.ExtOptions.find("deinterlace"), std::string::npos);
    EXPECT_FALSE(NeedsPictureSample(form->PlanChoice()));
}

// The row shows frames and speed while the preview shows the pictures, and
// closing the preview unticks the box and leaves the file whole.
TEST_F(VideoWindowTest, ClosingThePreviewStopsThePreviewNotTheConversion) {
    // Long enough for several progress records (one each half second) on a fast machine.
    const std::string clip = MakeFixture(dir, "clip.rmvb", "rm-video",
                                         {"--video", "rv20", "--fps", "25", "--size", "160x120", "--seconds", "40"});
    AddThroughDialog({clip});
    ChooseFormat("MP4 video (H.264/AAC)");
    form->ChkPreview->setChecked(true);
    form->BtnStart->click();
    QWidget* preview = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (preview = PreviewWindow()) != nullptr || !form->RunGoing(); }));
    ASSERT_NE(preview, nullptr) << "no preview window while the video converted";
    // Only the preview can change during a run.
    EXPECT_TRUE(form->ChkPreview->isEnabled());
    EXPECT_FALSE(form->CboExisting->isEnabled());
    std::smatch m;
    std::string status;
    ASSERT_TRUE(WaitUntil([&] {
        status = Status(0);
        return std::regex_match(status, m, std::regex(R"((\d+)% · Frame (\d+) · (\d+) fps)")) ||
               !form->RunGoing();
    })) << status;
    ASSERT_FALSE(m.empty()) << "the run ended before a progress record: " << status;
    EXPECT_GT(std::stoi(m[2]), 0);

    preview->close();
    EXPECT_TRUE(WaitUntil([&] { return !form->ChkPreview->isChecked(); }));
    EXPECT_FALSE(form->Engine().Preview());
    WaitUntil([&] { return !form->RunGoing(); });
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(PreviewWindow(), nullptr);
    if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed";
    EXPECT_EQ(MediaInfoField(out + "clip.mp4", "Video", "FrameCount"), "1000");
}

// DV frames carry their own sound: where the input's sound starts late, ends
// early or stops with the run, silence fills in and the file stays whole.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/common/AudioCheck.h"
#include "tests/common/TranscodeFixture.h"
#include "tests/common/VideoCheck.h"

namespace transcodetest {
namespace {

class DvSoundTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }

    // The run's error text, "" when it ended normally.
    std::string ConvertToDv(const std::string& src, const std::string& target, const std::string& dst) {
        core.ResetOptionState();
        core.stop_requested = false;
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        core.SetTargetOption(target);
        if (!core.OpenOutputFile(dst)) return "output: " + core.last_error;
        return Run();
    }
};

double Loudness(const DecodedSound& sound, double from, double to) {
    return Rms(Slice(sound.samples, sound.rate, from, to));
}

TEST_F(DvSoundTest, SoundThatStartsLateOrEndsEarlyIsFilledWithSilence) {
    const std::vector<std::string> common = {"--seconds", "2", "--fps", "25", "--freq", "440"};
    auto fixture = [&](const std::string& name, std::vector<std::string> extra) {
        extra.insert(extra.end(), common.begin(), common.end());
        return MakeFixture(dir, name, "mkv-mpeg4", extra);
    };
    const std::string whole = fixture("whole.mkv", {});
    const std::string late = fixture("late.mkv", {"--audio-late", "0.5"});
    const std::string early = fixture("early.mkv", {"--audio-short", "0.07"});
    for (const char* target : {"pal-dv", "ntsc-dv", "pal-dv50", "ntsc-dv50"}) {
        SCOPED_TRACE(target);
        const std::string reference = dir.File(std::string(target) + "-whole.dv");
        ASSERT_EQ(ConvertToDv(whole, target, reference), "") << AllLines();
        const std::string duration = MediaInfoField(reference, "General", "Duration");
        ASSERT_NE(duration, "");
        for (const auto& [name, src] : {std::pair{"late", late}, {"early", early}}) {
            SCOPED_TRACE(name);
            const std::string dst = dir.File(std::string(target) + "-" + name + ".dv");
            ASSERT_EQ(ConvertToDv(src, target, dst), "") << AllLines();
            EXPECT_EQ(MediaInfoField(dst, "General", "Duration"), duration) << "as long as with whole sound";
            EXPECT_EQ(ReadFileBytes(dst).size(), ReadFileBytes(reference).size());
            std::string error;
            const DecodedSound sound = DecodeSound(dst, &error);
            ASSERT_FALSE(sound.samples.empty()) << error;
            EXPECT_NEAR(static_cast<double>(sound.samples.size()) / sound.rate, 2.0, 0.05);
            if (std::string(name) == "late") {
                // The tone keeps its place beside the pictures.
                EXPECT_LT(Loudness(sound, 0.0, 0.45), 0.001);
                EXPECT_GT(Loudness(sound, 0.55, 1.9), 0.1);
            } else {
                EXPECT_GT(Loudness(sound, 0.1, 1.9), 0.1);
                EXPECT_LT(Loudness(sound, 1.96, 2.0), 0.001);
            }
        }
    }
}

// A picture every half second: each fills many DV frames, and every frame gets
// its share of the sound in both norms, whatever the size of the sound's
// blocks: 8 kHz mono speech, or AC-3 whose blocks outlast an NTSC frame (an
// NTSC frame at 28.5 s of that file once found too little sound and the
// library aborted the process).
TEST_F(DvSoundTest, ALowFrameRateConvertsInBothNorms) {
    struct TSource {
        const char* name;
        std::vector<std::string> options;
        double seconds;
    };
    const TSource sources[] = {
        {"speech.rm", {"--audio", "ra144", "--fps", "2", "--seconds", "12"}, 12},
        {"ac3.rm", {"--rate", "44100", "--fps", "2", "--size", "64x48", "--seconds", "30"}, 30},
    };
    for (const TSource& source : sources) {
        const std::string src = MakeFixture(dir, source.name, "rm-video", source.options);
        for (const auto& [target, frame_bytes] : {std::pair{"ntsc-dv", 120000}, {"pal-dv", 144000}}) {
            SCOPED_TRACE(std::string(source.name) + " " + target);
            const std::string dst = dir.File(std::string(source.name) + "." + target + ".dv");
            ASSERT_EQ(ConvertToDv(src, target, dst), "") << AllLines();
            EXPECT_EQ(FileSize(dst) % frame_bytes, 0) << "whole DV frames";
            // The last picture keeps the slots nearer to it than to where a next one would come.
            const double seconds = std::atof(MediaInfoField(dst, "General", "Duration").c_str()) / 1000.0;
            EXPECT_NEAR(seconds, source.seconds - 0.25, 0.05);
            const DecodedSound sound = DecodeSound(dst);
            EXPECT_NEAR(static_cast<double>(sound.samples.size()) / sound.rate, seconds, 0.05);
            EXPECT_GT(Loudness(sound, 1.0, seconds - 1.0), 0.1);
        }
    }
}

// Times hours off (a hostile file's, here an offset) ask for more silence before
// the sound than an int counts in bytes: the run ends with a message, not an overflow.
TEST_F(DvSoundTest, SoundHoursLateEndsTheRunWithAMessage) {
    const std::string src = MakeFixture(dir, "in.rm", "rm-video", {"--audio", "ra144", "--fps", "2"});
    core.ResetOptionState();
    core.SetOption("itsoffset", "200:00:00");
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetTargetOption("ntsc-dv");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("late.dv"))) << core.last_error;
    EXPECT_NE(Run(), "") << AllLines();
}

// Stopped at any point, a DV conversion keeps the frames it made, each with its
// sound: also before the input's sound has begun.
TEST_F(DvSoundTest, AStoppedConversionKeepsAReadableShorterFile) {
    const std::string whole = MakeFixture(dir, "whole.mkv", "mkv-mpeg4", {"--seconds", "8", "--fps", "25"});
    const std::string late =
        MakeFixture(dir, "late.mkv", "mkv-mpeg4", {"--seconds", "8", "--fps", "25", "--audio-late", "1"});
    int run = 0;
    for (const std::string& src : {whole, late})
        for (const int stop_ms : {0, 300, 700, 1600, 2500}) {
            SCOPED_TRACE(src + " stopped at " + std::to_string(stop_ms) + " ms");
            const std::string dst = dir.File("stopped" + std::to_string(run++) + ".dv");
            core.ResetOptionState();
            core.stop_requested = false;
            core.progress_interval = 0;
            core.OnProgress = [&](TCustomFFmpeg* sender, int, int, int current, float, float, int64_t, int) {
                if (current >= stop_ms) sender->stop_requested = true;
            };
            ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
            core.SetTargetOption("pal-dv");
            ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
            ASSERT_EQ(Run(), "") << AllLines();
            EXPECT_FALSE(core.finished);
            ASSERT_TRUE(FileExists(dst));
            const double seconds = std::atof(MediaInfoField(dst, "General", "Duration").c_str()) / 1000.0;
            EXPECT_GE(seconds, stop_ms / 1000.0 - 0.05);
            EXPECT_LT(seconds, 7.0);
            EXPECT_EQ(FileSize(dst) % 144000, 0) << "whole PAL DV frames";
            const DecodedSound sound = DecodeSound(dst);
            EXPECT_NEAR(static_cast<double>(sound.samples.size()) / sound.rate, seconds, 0.05);
        }
}

}  // namespace
}  // namespace transcodetest

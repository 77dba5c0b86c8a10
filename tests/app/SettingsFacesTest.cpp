// One settings file, both faces: the window's choices and the terminal's
// (its defaults from the same file) make the same plan for the same source.
#include <stdlib.h>

#include <sstream>

#include "batch/Settings.h"
#include "tests/app/FormFixture.h"
#include "tools/convert/ConvertOptions.h"

using namespace apptest;

namespace {

// What a plan decides of a source, as one text to compare.
std::string PlanText(const TPlanChoice& choice, const TSourceFacts& source) {
    const TOutputOptions o = PlanOutput(choice, source);
    std::ostringstream text;
    text << o.FileExt << " " << o.FileFormat << " " << o.VideoCodec << " " << o.AudioCodec << " " << o.AudioChannels
         << "ch " << o.AudioSampleRate << "Hz " << o.AudioBitrate << "b/s " << o.FrameSize << " " << o.AspectRatio
         << " tags " << o.Tags.size() << " beside " << choice.NextToSource << " rule "
         << static_cast<int>(choice.Existing) << "\n"
         << o.ExtOptions;
    return text.str();
}

TSourceFacts Source() {
    TSourceFacts s;
    s.SampleRate = 22050;
    s.Channels = 1;
    s.Tags = {{"title", "Talk"}};
    s.VideoStreams = 1;
    s.Streams = {{TProbedStream::Video, 1920, 1080, 1, 1}, {TProbedStream::Audio, 0, 0, 0, 0, 1, 22050},
                 {TProbedStream::Audio, 0, 0, 0, 0, 6, 48000}};
    return s;
}

}  // namespace

TEST_F(FormTest, BothFacesPlanTheSameFromOneSettingsFile) {
    const struct {
        const char* settings;
        std::vector<std::string> args;  // the kind, which the terminal takes from its own options
    } cases[] = {
        {"", {"--to", "mp3"}},
        {"Channels=2\nAudioBitrate=15\nAudioSampleRate=6\nCopyTags=False\nOverwrite=True\n", {"--to", "mp3"}},
        {"OutputFormat=mp4\nAllAudioTracks=False\nOtherChannels=1\nOtherAudioBitrate=3\nRemoveBlackBars=False\n"
         "Deinterlace=on\nExistingOutputs=skip\n",
         {"--to", "mp4"}},
        {"OutputFormat=mp4\nMaxPictureSize=854x480\nOutputNextToSource=True\nOtherAudioSampleRate=7\n",
         {"--to", "mp4", "--max-size", "854x480"}},
        {"OutputFormat=ogg\nVorbisQuality=7\n", {"--to", "ogg"}},
        {"OutputFormat=flac\nFlacCompression=9\n", {"--to", "flac"}},
        {"OutputFormat=dvd\nVideoNorm=ntsc\nDeinterlace=off\n", {"--to", "ntsc-dvd"}},
    };
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        WriteSettingsText(std::string("[Options]\n") + c.settings);
        ASSERT_TRUE(Create());
        const std::string window = PlanText(form->PlanChoice(), Source());
        Destroy();
        TConvertOptions terminal = DefaultConvertOptions();
        std::vector<std::string> args = c.args;
        args.push_back("in.rm");
        std::string error;
        ASSERT_TRUE(ParseConvertArguments(args, terminal, error)) << error;
        EXPECT_EQ(PlanText(terminal.Plan, Source()), window);
    }
    unsetenv("XDG_CONFIG_HOME");
}

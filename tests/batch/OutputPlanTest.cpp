// The plan from a source to its output record: what both front ends hand the engine.
#include <gtest/gtest.h>

#include "batch/OutputPlan.h"

namespace {

TOutputChoice Kind(const char* name) {
    TOutputChoice choice;
    std::string error;
    EXPECT_TRUE(ParseOutputKind(name, choice, error)) << error;
    return choice;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

TEST(OutputPlan, NearestMp3RateTakesTheClosestOfTheNine) {
    const std::pair<int, int> cases[] = {
        {16000, 16000}, {44100, 44100}, {8000, 8000},   {11025, 11025}, {11000, 11025},
        {10000, 11025}, {96000, 48000}, {192000, 48000}, {7000, 8000},   {23000, 22050},
        {23025, 24000}, {1, 8000},      {0, 44100},     {-1, 44100},
    };
    for (const auto& [source, mp3] : cases) EXPECT_EQ(NearestMp3Rate(source), mp3) << source;
}

TEST(OutputPlan, ItemIndexesStandForTheWindowsChoices) {
    struct {
        int channels, bitrate, rate;
        TAudioChoice want;
    } const cases[] = {
        {1, 11, 4, {2, 44100, 256, -1}},
        {0, 0, 0, {1, 8000, 16, -1}},
        {2, 13, 6, {SameAsSource, SameAsSource, 320, -1}},
        {1, 14, 1, {2, 16000, 256, 0}},
        {1, 15, 5, {2, 48000, 256, 2}},
        {1, 16, 2, {2, 22050, 256, 6}},
        // Outside a list: that list's default item.
        {3, 17, 7, {2, 44100, 256, -1}},
        {-1, -1, -1, {2, 44100, 256, -1}},
    };
    for (const auto& c : cases) {
        const TAudioChoice got = AudioChoiceOf(c.channels, c.bitrate, c.rate);
        EXPECT_EQ(got.Channels, c.want.Channels) << c.channels;
        EXPECT_EQ(got.SampleRate, c.want.SampleRate) << c.rate;
        EXPECT_EQ(got.BitrateKbps, c.want.BitrateKbps) << c.bitrate;
        EXPECT_EQ(got.VbrLevel, c.want.VbrLevel) << c.bitrate;
    }
    EXPECT_EQ(ChannelItems().size(), 3u);
    EXPECT_EQ(BitrateItems().size(), BitrateChoices().size() + 3);
    EXPECT_EQ(SampleRateItems().back(), "Same as source");
}

TEST(OutputPlan, AudioFollowsTheChoiceAndTheSource) {
    const TAudioChoice source{SameAsSource, SameAsSource, 256, -1};
    struct {
        const char* name;
        const char* kind;
        TAudioChoice audio;
        int sourceRate, sourceChannels;
        int channels, rate, bitrate;
        const char* quality;  // the "aq" line, "" none
    } const cases[] = {
        {"defaults", "mp3", {}, 16000, 1, 2, 44100, 256000, ""},
        {"speech kept", "mp3", source, 16000, 1, 1, 16000, 256000, ""},
        {"surround to stereo", "mp3", source, 44100, 6, 2, 44100, 256000, ""},
        {"odd rate", "mp3", source, 11000, 2, 2, 11025, 256000, ""},
        {"unknown source", "mp3", source, -1, -1, 2, 44100, 256000, ""},
        {"vbr", "mp3", {2, 44100, 256, 2}, 44100, 2, 2, 44100, -1, "aq=2"},
        {"vbr smallest", "mp3", {1, 22050, 128, 9}, 44100, 2, 1, 22050, -1, "aq=9"},
        {"vbr is MP3's", "mp4", {2, 48000, 192, 2}, 44100, 2, 2, 48000, 192000, ""},
        {"disc standard decides", "dvd", source, 16000, 1, -1, -1, -1, ""},
    };
    for (const auto& c : cases) {
        TPlanChoice choice;
        choice.To = Kind(c.kind);
        choice.Audio = c.audio;
        TSourceFacts facts;
        facts.SampleRate = c.sourceRate;
        facts.Channels = c.sourceChannels;
        const TOutputOptions out = PlanOutput(choice, facts);
        EXPECT_EQ(out.AudioChannels, c.channels) << c.name;
        EXPECT_EQ(out.AudioSampleRate, c.rate) << c.name;
        EXPECT_EQ(out.AudioBitrate, c.bitrate) << c.name;
        EXPECT_EQ(out.ExtOptions.find("aq=") != std::string::npos, c.quality[0] != 0) << c.name;
        if (c.quality[0]) EXPECT_TRUE(HasLine(out.ExtOptions, c.quality)) << c.name << ": " << out.ExtOptions;
    }
}

TEST(OutputPlan, RecordCarriesKindTagsAndReplacementRule) {
    TSourceFacts facts;
    facts.Tags = {{"title", "Song"}, {"author", "Singer"}, {"encoder", "Lavf"}};
    TPlanChoice choice;
    choice.Options = {"id3v2_version=4"};
    TOutputOptions out = PlanOutput(choice, facts);
    EXPECT_EQ(out.FileExt, ".mp3");
    EXPECT_EQ(out.AudioCodec, "libmp3lame");
    EXPECT_EQ(out.Timestamp, 0.0);
    EXPECT_EQ(out.Tags, (TTags{{"title", "Song"}, {"artist", "Singer"}}));
    // The kind's lines come first, so a line of the user's has the last word; overwriting ends the text.
    EXPECT_EQ(out.ExtOptions, "id3v2_version=3\nwrite_id3v1=1\nid3v2_version=4\ny\n");

    choice.CopyTags = false;
    choice.Overwrite = false;
    out = PlanOutput(choice, facts);
    EXPECT_TRUE(out.Tags.empty());
    EXPECT_FALSE(HasLine(out.ExtOptions, "y"));
}

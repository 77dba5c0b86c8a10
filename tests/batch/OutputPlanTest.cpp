// The plan from a source to its output record: what both front ends hand the engine.
#include <gtest/gtest.h>

#include "batch/OutputPlan.h"
#include "tests/batch/PlanChoices.h"

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
    // The video kinds' lists: "Automatic" first, no quality items; outside them is automatic.
    const TAudioList video = TAudioList::Automatic;
    EXPECT_EQ(BitrateItems(video).size(), BitrateChoices().size() + 1);
    for (const auto& items : {ChannelItems(video), BitrateItems(video), SampleRateItems(video)})
        EXPECT_EQ(items.front(), "Automatic");
    struct {
        int channels, bitrate, rate;
        TAudioChoice want;
    } const videoCases[] = {
        {0, 0, 0, AutomaticAudio},
        {2, 8, 5, {2, 44100, 128, -1}},
        {3, 14, 7, {SameAsSource, SameAsSource, 320, -1}},
        {4, 15, -1, AutomaticAudio},
    };
    for (const auto& c : videoCases) {
        const TAudioChoice got = AudioChoiceOf(c.channels, c.bitrate, c.rate, video);
        EXPECT_EQ(got.Channels, c.want.Channels) << c.channels;
        EXPECT_EQ(got.SampleRate, c.want.SampleRate) << c.rate;
        EXPECT_EQ(got.BitrateKbps, c.want.BitrateKbps) << c.bitrate;
    }
}

TEST(OutputPlan, AudioFollowsTheChoiceAndTheSource) {
    const TAudioChoice source{SameAsSource, SameAsSource, 256, -1};
    struct {
        const char* name;
        const char* kind;
        TAudioChoice audio;
        int sourceRate, sourceChannels;
        int channels, rate, bitrate;
        const char* quality;  // the quality or compression line, "" none
    } const cases[] = {
        {"defaults", "mp3", {}, 16000, 1, 2, 44100, 256000, ""},
        {"speech kept", "mp3", source, 16000, 1, 1, 16000, 256000, ""},
        {"surround to stereo", "mp3", source, 44100, 6, 2, 44100, 256000, ""},
        {"odd rate", "mp3", source, 11000, 2, 2, 11025, 256000, ""},
        {"unknown source", "mp3", source, -1, -1, 2, 44100, 256000, ""},
        {"vbr", "mp3", {2, 44100, 256, 2}, 44100, 2, 2, 44100, -1, "aq=2"},
        {"vbr smallest", "mp3", {1, 22050, 128, 9}, 44100, 2, 1, 22050, -1, "aq=9"},
        {"vbr is MP3's", "mp4", {2, 48000, 192, 2}, 44100, 2, 2, 48000, 192000, ""},
        // Automatic: the source's rate (one AAC takes) and channels, 64 kbit/s a channel.
        {"automatic mono", "mp4", AutomaticAudio, 48000, 1, 1, 48000, 64000, ""},
        {"automatic stereo", "mkv", AutomaticAudio, 22050, 2, 2, 22050, 128000, ""},
        {"automatic surround", "mkv", AutomaticAudio, 48000, 6, 6, 48000, 384000, ""},
        {"automatic odd rate", "mp4", AutomaticAudio, 11000, 2, 2, 11025, 128000, ""},
        {"automatic unknown", "mp4", AutomaticAudio, -1, -1, 2, 48000, 128000, ""},
        {"a bit rate given", "mp4", {Automatic, Automatic, 96, -1}, 8000, 1, 1, 8000, 96000, ""},
        // Opus takes five rates: the source's where it can, else the next above.
        {"opus music", "opus", AutomaticAudio, 44100, 2, 2, 48000, 96000, ""},
        {"opus speech", "opus", AutomaticAudio, 8000, 1, 1, 8000, 48000, ""},
        {"opus between", "opus", AutomaticAudio, 22050, 2, 2, 24000, 96000, ""},
        {"opus rate given", "opus", {2, 44100, 128, -1}, 8000, 1, 2, 48000, 128000, ""},
        // Vorbis by quality, FLAC and WAV by nothing: any rate, up to eight channels.
        {"vorbis", "ogg", AutomaticAudio, 32000, 2, 2, 32000, -1, "aq=3"},
        {"vorbis chosen", "ogg", {Automatic, Automatic, Automatic, -1, 7, {}}, 44100, 1, 1, 44100, -1, "aq=7"},
        {"flac", "flac", AutomaticAudio, 96000, 6, 6, 96000, -1, ""},
        {"flac chosen", "flac", {Automatic, Automatic, Automatic, -1, {}, 12}, 44100, 2, 2, 44100, -1,
         "compression_level=12"},
        {"wav", "wav", {SameAsSource, SameAsSource, 320, -1}, 11025, 6, 2, 11025, -1, ""},
        {"disc standard decides", "dvd", source, 16000, 1, -1, -1, -1, ""},
    };
    for (const auto& c : cases) {
        TPlanChoice choice;
        choice.To = Kind(c.kind);
        (AudioListOf(*choice.To.kind) == TAudioList::Automatic ? choice.OtherAudio : choice.Audio) = c.audio;
        TSourceFacts facts;
        facts.SampleRate = c.sourceRate;
        facts.Channels = c.sourceChannels;
        const TOutputOptions out = PlanOutput(choice, facts);
        EXPECT_EQ(out.AudioChannels, c.channels) << c.name;
        EXPECT_EQ(out.AudioSampleRate, c.rate) << c.name;
        EXPECT_EQ(out.AudioBitrate, c.bitrate) << c.name;
        const bool measured = out.ExtOptions.find("aq=") != std::string::npos ||
                              out.ExtOptions.find("compression_level=") != std::string::npos;
        EXPECT_EQ(measured, c.quality[0] != 0) << c.name;
        if (c.quality[0]) EXPECT_TRUE(HasLine(out.ExtOptions, c.quality)) << c.name << ": " << out.ExtOptions;
    }
}

// Every sound track where the kind holds several, each with its own settings,
// added after the file opens and before further subtitles; maps only where
// the streams' own order would pick the wrong ones.
TEST(OutputPlan, SoundTracksAndSubtitlesGoInTheOutputsOrder) {
    using S = TProbedStream;
    const S v{S::Video}, a{S::Audio, 0, 0, 0, 0, 2, 44100}, mono{S::Audio, 0, 0, 0, 0, 1, 48000};
    const S mute{S::Audio, 0, 0, 0, 0, 2, 44100, false}, text{S::TextSubtitle}, bitmap{S::BitmapSubtitle};
    const std::string further = "acodec=aac\nac=1\nar=48000\nab=64000\nnewaudio\n";
    struct {
        const char* name;
        const char* kind;
        bool all;
        std::vector<S> streams;
        size_t further_tracks;
        std::string maps;
    } const cases[] = {
        {"second track", "mp4", true, {v, a, mono}, 1, ""},
        {"first only", "mkv", false, {v, a, mono}, 0, ""},
        {"disc keeps the first", "dvd", true, {v, a, mono}, 0, ""},
        {"no decoder", "mkv", true, {v, a, mute, mono}, 1, "map=0:0\nmap=0:1\nmap=0:3\n"},
        {"subtitle left out", "mp4", true, {v, a, bitmap, text, mono}, 1, "map=0:0\nmap=0:1\nmap=0:3\nmap=0:4\n"},
        {"all in file order", "mkv", true, {v, text, a, text, mono}, 1, ""},
        // Copied subtitles come first: every stream is mapped.
        {"copies first", "mkv", true, {v, text, a, bitmap, mono}, 1,
         "map=0:0\nmap=0:2\nmap=0:3\nmap=0:4\nmap=0:1\n"},
    };
    for (const auto& c : cases) {
        TPlanChoice choice;
        choice.To = Kind(c.kind);
        choice.AllAudioTracks = c.all;
        TSourceFacts facts;
        facts.Streams = c.streams;
        const std::string text = PlanOutput(choice, facts).ExtOptions;
        size_t tracks = 0;
        for (size_t at = text.find("newaudio"); at != std::string::npos; at = text.find("newaudio", at + 1)) ++tracks;
        EXPECT_EQ(tracks, c.further_tracks) << c.name << ": " << text;
        if (c.further_tracks) EXPECT_NE(text.find(further), std::string::npos) << c.name << ": " << text;
        if (text.find("newsubtitle") != std::string::npos)
            EXPECT_LT(text.find("newaudio"), text.find("newsubtitle")) << c.name;
        std::string maps;
        for (size_t at = text.find("map=0:"); at != std::string::npos; at = text.find("map=0:", at + 1))
            maps += text.substr(at, text.find('\n', at) + 1 - at);
        EXPECT_EQ(maps, c.maps) << c.name;
    }
}

TEST(OutputPlan, RecordCarriesKindTagsAndReplacementRule) {
    TSourceFacts facts;
    facts.Tags = {{"title", "Song"}, {"author", "Singer"}, {"encoder", "Lavf"}};
    TPlanChoice choice;
    choice.Options = {"id3v2_version=4"};
    choice.Existing = TExistingOutputs::Replace;
    TOutputOptions out = PlanOutput(choice, facts);
    EXPECT_EQ(out.FileExt, ".mp3");
    EXPECT_EQ(out.AudioCodec, "libmp3lame");
    EXPECT_EQ(out.Timestamp, 0.0);
    EXPECT_EQ(out.Tags, (TTags{{"title", "Song"}, {"artist", "Singer"}}));
    // The kind's lines come first, so a line of the user's has the last word; overwriting ends the text.
    EXPECT_EQ(out.ExtOptions, "id3v2_version=3\nwrite_id3v1=1\nid3v2_version=4\ny\n");

    choice.CopyTags = false;
    choice.Existing = TExistingOutputs::Number;
    out = PlanOutput(choice, facts);
    EXPECT_TRUE(out.Tags.empty());
    EXPECT_FALSE(HasLine(out.ExtOptions, "y"));
}

TEST(OutputPlan, LargestPictureScalesDownKeepingTheDisplayAspect) {
    struct TRow {
        const char* what;
        TProbedStream video;  // size and pixel aspect of the source
        TPictureSize box;
        const char* size;    // written; "" as it is
        const char* aspect;  // display aspect written with it
    };
    using T = TProbedStream;
    const TRow rows[] = {
        {"landscape", {T::Video, 1920, 1080}, {1280, 720}, "1280x720", "16:9"},
        {"landscape, height decides", {T::Video, 1440, 1080}, {1280, 720}, "960x720", "4:3"},
        {"portrait", {T::Video, 1080, 1920}, {1280, 720}, "406x720", "9:16"},
        {"wider than the box", {T::Video, 2560, 1080}, {1280, 720}, "1280x540", "64:27"},
        {"already small", {T::Video, 640, 360}, {1280, 720}, "", ""},
        {"exactly the box", {T::Video, 1280, 720}, {1280, 720}, "", ""},
        {"no limit", {T::Video, 1920, 1080}, {0, 0}, "", ""},
        {"size unknown", {T::Video, 0, 0}, {1280, 720}, "", ""},
        {"odd source", {T::Video, 1921, 1081}, {1280, 720}, "1280x720", "1921:1081"},
        {"odd box", {T::Video, 1920, 1080}, {853, 479}, "852x478", "16:9"},
        {"rounds to even", {T::Video, 1000, 1000}, {333, 333}, "332x332", "1:1"},
        {"anamorphic PAL 16:9", {T::Video, 720, 576, 64, 45}, {854, 480}, "854x480", "16:9"},
        {"anamorphic PAL 4:3", {T::Video, 720, 576, 16, 15}, {640, 360}, "480x360", "4:3"},
        {"pixels wider, fits in height", {T::Video, 1440, 1080, 4, 3}, {1920, 1080}, "", ""},
        {"pixels wider, too wide", {T::Video, 1440, 1080, 4, 3}, {1280, 720}, "1280x720", "16:9"},
        {"pixels narrower", {T::Video, 1920, 1080, 3, 4}, {1280, 720}, "960x720", "4:3"},
    };
    for (const TRow& row : rows) {
        const auto scaled = LimitPicture(row.video, row.box);
        EXPECT_EQ(scaled ? PictureSizeText(scaled->Size) : "", row.size) << row.what;
        EXPECT_EQ(scaled ? scaled->Aspect : "", row.aspect) << row.what;
    }
}

TEST(OutputPlan, LargestPictureReachesTheRecordOfMp4AndMkvOnly) {
    TSourceFacts facts;
    facts.VideoStreams = 1;
    facts.Streams = {{TProbedStream::Audio}, {TProbedStream::Video, 1920, 1080}};
    TPlanChoice choice;
    choice.MaxPicture = {1280, 720};
    for (const char* kind : {"mp4", "mkv"}) {
        choice.To = Kind(kind);
        const TOutputOptions out = PlanOutput(choice, facts);
        EXPECT_EQ(out.FrameSize, "1280x720") << kind;
        EXPECT_EQ(out.AspectRatio, "16:9") << kind;
    }
    for (const char* kind : {"mp3", "dvd", "pal-vcd", "svcd", "dv", "dv50"}) {
        choice.To = Kind(kind);
        const TOutputOptions out = PlanOutput(choice, facts);
        EXPECT_EQ(out.FrameSize, "") << kind;
        EXPECT_EQ(out.AspectRatio, "") << kind;
    }
}

TEST(OutputPlan, PictureSizesReadAsWidthByHeight) {
    ASSERT_TRUE(ParsePictureSize("1280x720"));
    EXPECT_EQ(PictureSizeText(*ParsePictureSize("1280x720")), "1280x720");
    for (const char* bad : {"", "1280", "x720", "1280x", "1x720", "1280x1", "12a0x720", "1280x720x1", "999999x720"})
        EXPECT_FALSE(ParsePictureSize(bad)) << bad;
    EXPECT_EQ(PictureSizeText({}), "");
    EXPECT_EQ(PictureSizeText(MaxPictureChoices().front()), "");  // the window's first item is no limit
}

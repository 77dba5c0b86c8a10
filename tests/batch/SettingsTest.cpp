#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "batch/IniFile.h"
#include "batch/Settings.h"
#include "binding/Exception.h"
#include "tests/common/Fixtures.h"

using ardentix::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string Write(const TempDir& dir, const std::string& text) {
    const std::string path = dir.File("Options.ini");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Every key of today's file, none at its default: read and written again, the
// file is the same, and each value keeps its meaning.
TEST(Settings, EveryKeyRoundTrips) {
    TempDir dir;
    const std::string text =
        "[Options]\nOutputPath=/home/u/My, Music/\nChannels=0\nAudioBitrate=15\nAudioSampleRate=5\n"
        "Overwrite=False\nShutdownAfterCompleted=True\nCopyTags=False\nSimultaneousConversions=3\n"
        "LastAddFolder=/home/u/Radio shows\nOutputFormat=dvd\nVideoNorm=ntsc\nShowPreview=True\n"
        "MaxPictureSize=1280x720\nOtherChannels=2\nOtherAudioBitrate=8\nOtherAudioSampleRate=1\n"
        "AllAudioTracks=False\nVorbisQuality=5\nFlacCompression=12\nExistingOutputs=skip\n"
        "OutputNextToSource=True\nWindowSize=640x400\nColumnWidths=100,50,60,120\nRemoveBlackBars=False\n"
        "Deinterlace=off\n";
    const TSettings r = ReadSettings(Write(dir, text));
    const std::string path = dir.File("config/Ardentix/Options.ini");
    WriteSettings(path, r);
    EXPECT_EQ(Slurp(path), text);
    const TPlanChoice plan = PlanChoiceOf(r);
    EXPECT_EQ(plan.To.kind->name, std::string("dvd"));
    EXPECT_EQ(plan.To.norm, "ntsc");
    EXPECT_EQ(plan.Audio.Channels, 1);
    EXPECT_EQ(plan.Audio.VbrLevel, 2);  // "VBR standard"
    EXPECT_EQ(plan.Audio.SampleRate, 48000);
    EXPECT_EQ(plan.OtherAudio.Channels, 2);
    EXPECT_EQ(plan.OtherAudio.BitrateKbps, 128);
    EXPECT_EQ(plan.OtherAudio.SampleRate, 8000);
    EXPECT_EQ(plan.Existing, TExistingOutputs::Skip);
    EXPECT_EQ(plan.MaxPicture.Width, 1280);
    EXPECT_TRUE(plan.NextToSource);
    EXPECT_FALSE(plan.AllAudioTracks || plan.CopyTags || plan.RemoveBlackBars);
    EXPECT_EQ(plan.Deinterlace, TDeinterlace::Off);
    EXPECT_EQ(plan.VorbisQuality, 5);
    EXPECT_EQ(plan.FlacCompression, 12);
    EXPECT_EQ(r.ColumnWidths, (std::vector<int>{100, 50, 60, 120}));
    // Without a file, every row's default, written as the default.
    WriteSettings(path, ReadSettings(dir.File("nothing/Options.ini")));
    EXPECT_EQ(Slurp(path),
              "[Options]\nOutputPath=\nChannels=1\nAudioBitrate=11\nAudioSampleRate=4\nOverwrite=False\n"
              "ShutdownAfterCompleted=False\nCopyTags=True\nSimultaneousConversions=0\nLastAddFolder=\n"
              "OutputFormat=mp3\nVideoNorm=pal\nShowPreview=False\nMaxPictureSize=\nOtherChannels=0\n"
              "OtherAudioBitrate=0\nOtherAudioSampleRate=0\nAllAudioTracks=True\nVorbisQuality=\n"
              "FlacCompression=\nExistingOutputs=number\nOutputNextToSource=False\nWindowSize=\nColumnWidths=\n"
              "RemoveBlackBars=True\nDeinterlace=auto\n");
}

// The six keys of the classic file keep their form: item indexes, "True" and
// "False"; its "Overwrite" is the replace rule, written again for it.
TEST(Settings, TheClassicFileRoundTrips) {
    TempDir dir;
    const std::string path = Write(dir,
                                   "[Options]\r\nOutputPath=D:\\Out\r\nChannels=0\r\nAudioBitrate=11\r\n"
                                   "AudioSampleRate=4\r\nOverwrite=True\r\nShutdownAfterCompleted=False\r\n");
    const TSettings s = ReadSettings(path);
    EXPECT_EQ(s.OutputPath, "D:\\Out");
    EXPECT_EQ(PlanChoiceOf(s).Audio.Channels, 1);
    EXPECT_EQ(PlanChoiceOf(s).Audio.BitrateKbps, 256);
    EXPECT_EQ(PlanChoiceOf(s).Audio.SampleRate, 44100);
    EXPECT_EQ(s.Existing, TExistingOutputs::Replace);
    WriteSettings(path, s);
    const TIniFile written(path);
    const std::pair<const char*, const char*> kept[] = {
        {"OutputPath", "D:\\Out"}, {"Channels", "0"},   {"AudioBitrate", "11"},          {"AudioSampleRate", "4"},
        {"Overwrite", "True"},     {"ShutdownAfterCompleted", "False"}, {"ExistingOutputs", "replace"}};
    for (const auto& [key, value] : kept) EXPECT_EQ(written.ReadString("Options", key), value) << key;
    EXPECT_EQ(ReadSettings(path).Existing, TExistingOutputs::Replace);
}

// A stored value as it is written back: what is not a value of its row keeps
// the default, but a flag, which only the exact "True" sets. Key and section
// names match without regard to case.
TEST(Settings, StoredValuesAsTheyAreWrittenBack) {
    TempDir dir;
    const struct {
        const char* stored;
        const char* key;
        const char* written;
    } cases[] = {
        {"Channels=0", "Channels", "0"},
        {"CHANNELS=0", "Channels", "0"},
        {"AudioBitrate=0x0D", "AudioBitrate", "13"},
        {"AudioSampleRate= 2 ", "AudioSampleRate", "2"},
        {"Channels=one", "Channels", "1"},
        {"Channels=3", "Channels", "1"},  // outside the list: its default item
        {"AudioBitrate=0x", "AudioBitrate", "11"},
        {"AudioSampleRate=99999999999999", "AudioSampleRate", "4"},
        {"OtherAudioBitrate=18", "OtherAudioBitrate", "0"},
        {"SimultaneousConversions=-3", "SimultaneousConversions", "0"},
        {"ShutdownAfterCompleted=TRUE", "ShutdownAfterCompleted", "False"},
        {"CopyTags=true", "CopyTags", "False"},
        {"CopyTags=", "CopyTags", "False"},
        {"RemoveBlackBars=yes", "RemoveBlackBars", "False"},
        {"Deinterlace=ON", "Deinterlace", "auto"},
        {"Deinterlace=on", "Deinterlace", "on"},
        {"VideoNorm=secam", "VideoNorm", "pal"},
        {"OutputFormat=mp2", "OutputFormat", "mp3"},
        {"OutputFormat=mp4", "OutputFormat", "mp4"},
        {"OutputFormat=webm", "OutputFormat", "mp3"},  // not offered by the window
        {"OutputFormat=mkv", "OutputFormat", "mkv"},
        {"VorbisQuality=11", "VorbisQuality", ""},
        {"FlacCompression=-1", "FlacCompression", ""},
        {"FlacCompression=0", "FlacCompression", "0"},
        {"MaxPictureSize=854x480", "MaxPictureSize", "854x480"},
        {"ColumnWidths=100,,50", "ColumnWidths", ""},
        {"ColumnWidths=3,100", "ColumnWidths", ""},
        {"WindowSize=wide", "WindowSize", ""},
        // The rule's own key first; an older file's "Overwrite" keeps its meaning.
        {"overwrite=true", "ExistingOutputs", "number"},
        {"Overwrite=True", "ExistingOutputs", "replace"},
        {"Overwrite=True\nExistingOutputs=skip", "Overwrite", "False"},
        {"Overwrite=False\nExistingOutputs=replace", "Overwrite", "True"},
        {"Overwrite=True\nExistingOutputs=Skip", "ExistingOutputs", "replace"},  // not a word of ours
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::string path = Write(dir, std::string("[options]\n") + c.stored + "\n");
        WriteSettings(path, ReadSettings(path));
        EXPECT_EQ(TIniFile(path).ReadString("Options", c.key), c.written);
    }
    for (const char* bad : {"1280", "1280x", "x720", "1280x720x2", "big", "0x0", "-1280x720", "1280X720"})
        EXPECT_EQ(ReadSettings(Write(dir, std::string("[Options]\nMaxPictureSize=") + bad + "\n")).MaxPictureSize, "")
            << bad;
}

// Each row reads its own default back, and the terminal's options are those of
// the settings the plan reads as they are, each named once.
TEST(Settings, RowsDescribeThemselves) {
    const TSettings defaults;
    std::set<std::string> keys, options;
    for (const TSettingRow& row : SettingRows()) {
        SCOPED_TRACE(row.key);
        TSettings s;
        EXPECT_TRUE(row.read(s, row.text(defaults)));
        EXPECT_TRUE(keys.insert(row.key).second);
        EXPECT_TRUE(row.description[0]);
        if (row.option[0]) {
            EXPECT_TRUE(options.insert(row.option).second);
        }
    }
    EXPECT_THROW(SettingRow("NoSuchKey"), std::out_of_range);
}

TEST(Settings, IntegerParsing) {
    EXPECT_EQ(TIniFile::ParseInteger("42", -7), 42);
    EXPECT_EQ(TIniFile::ParseInteger("-3", -7), -3);
    EXPECT_EQ(TIniFile::ParseInteger("+3", -7), 3);
    EXPECT_EQ(TIniFile::ParseInteger("0x1f", -7), 31);
    EXPECT_EQ(TIniFile::ParseInteger("0XFF", -7), 255);
    EXPECT_EQ(TIniFile::ParseInteger("0xFFFFFFFF", -7), -1);
    EXPECT_EQ(TIniFile::ParseInteger("0x123456789", -7), -7);
    EXPECT_EQ(TIniFile::ParseInteger("0xg", -7), -7);
    EXPECT_EQ(TIniFile::ParseInteger("2147483647", -7), 2147483647);
    EXPECT_EQ(TIniFile::ParseInteger("-2147483648", -7), -2147483647 - 1);
    EXPECT_EQ(TIniFile::ParseInteger("2147483648", -7), -7);
    EXPECT_EQ(TIniFile::ParseInteger("12abc", -7), -7);
    EXPECT_EQ(TIniFile::ParseInteger("", -7), -7);
    EXPECT_EQ(TIniFile::ParseInteger("-", -7), -7);
}

TEST(Settings, HostileFilesReadAsDefaults) {
    TempDir dir;
    // Random bytes, a file without line ends, NUL bytes and a folder in the file's place.
    const std::string random = ardentix::test::MakeRandom(dir, "random.ini", 65536, 7);
    EXPECT_EQ(ReadSettings(random).Channels, 1);
    const char raw[] = "[Options]\nChannels=\0" "0\nAudioBitrate=3";
    const std::string nul(raw, sizeof raw - 1);
    const std::string withNul = Write(dir, nul);
    EXPECT_EQ(ReadSettings(withNul).Channels, 1);
    EXPECT_EQ(ReadSettings(withNul).AudioBitrate, 3);
    fs::create_directories(dir.File("folder.ini"));
    EXPECT_EQ(ReadSettings(dir.File("folder.ini")).AudioBitrate, 11);
    const std::string longLine = Write(dir, "[Options]\nOutputPath=" + std::string(200000, 'x'));
    EXPECT_EQ(ReadSettings(longLine).OutputPath.size(), 200000u);
}

TEST(Settings, WriteKeepsOtherSectionsAndKeys) {
    TempDir dir;
    const std::string path =
        Write(dir, "; kept\n[Window]\nLeft=10\n[Options]\nChannels=1\nExtra=yes\n\n[Tail]\nA=1\n");
    TSettings s;
    s.Channels = 0;
    WriteSettings(path, s);
    EXPECT_EQ(Slurp(path),
              "; kept\n[Window]\nLeft=10\n[Options]\nChannels=0\nExtra=yes\nOutputPath=\nAudioBitrate=11\n"
              "AudioSampleRate=4\nOverwrite=False\nShutdownAfterCompleted=False\nCopyTags=True\n"
              "SimultaneousConversions=0\nLastAddFolder=\nOutputFormat=mp3\nVideoNorm=pal\nShowPreview=False\n"
              "MaxPictureSize=\nOtherChannels=0\nOtherAudioBitrate=0\nOtherAudioSampleRate=0\n"
              "AllAudioTracks=True\nVorbisQuality=\nFlacCompression=\nExistingOutputs=number\n"
              "OutputNextToSource=False\nWindowSize=\nColumnWidths=\nRemoveBlackBars=True\nDeinterlace=auto\n"
              "\n[Tail]\nA=1\n");
    EXPECT_FALSE(fs::exists(path + ".new"));
}

TEST(Settings, UnwritablePlaceRaisesUnableToWrite) {
    TempDir dir;
    // A file where the settings folder should be.
    std::ofstream(dir.File("blocker")) << "x";
    const std::string path = dir.File("blocker/Options.ini");
    try {
        WriteSettings(path, TSettings{});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Unable to write to " + path);
    }
    try {
        WriteSettings("", TSettings{});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Unable to write to ");
    }
}

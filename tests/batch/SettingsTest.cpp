#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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

TEST(Settings, MissingFileGivesDefaults) {
    TempDir dir;
    const TSettings s = ReadSettings(dir.File("nothing/Options.ini"));
    EXPECT_EQ(s.OutputPath, "");
    EXPECT_EQ(s.Channels, 1);
    EXPECT_EQ(s.AudioBitrate, 11);
    EXPECT_EQ(s.AudioSampleRate, 4);
    EXPECT_EQ(s.ExistingOutputs, TExistingOutputs::Number);
    EXPECT_FALSE(s.OutputNextToSource);
    EXPECT_FALSE(s.ShutdownAfterCompleted);
    EXPECT_EQ(s.SimultaneousConversions, 0);  // one per processor
    EXPECT_EQ(s.LastAddFolder, "");
}

TEST(Settings, StoredValuesAreRead) {
    TempDir dir;
    const std::string path = Write(dir,
                                   "[Other]\nChannels=0\n\n[Options]\nOutputPath=/music/out\nChannels=0\n"
                                   "AudioBitrate=0x0D\r\nAudioSampleRate= 2 \nOverwrite=False\n"
                                   "ShutdownAfterCompleted=True\n");
    const TSettings s = ReadSettings(path);
    EXPECT_EQ(s.OutputPath, "/music/out");
    EXPECT_EQ(s.Channels, 0);
    EXPECT_EQ(s.AudioBitrate, 13);
    EXPECT_EQ(s.AudioSampleRate, 2);
    EXPECT_EQ(s.ExistingOutputs, TExistingOutputs::Number);
    EXPECT_TRUE(s.ShutdownAfterCompleted);
}

TEST(Settings, SectionAndKeyNamesIgnoreCaseButTrueDoesNot) {
    TempDir dir;
    const std::string path = Write(dir, "[options]\nCHANNELS=0\noverwrite=true\nShutdownAfterCompleted=TRUE\n");
    const TSettings s = ReadSettings(path);
    EXPECT_EQ(s.Channels, 0);
    EXPECT_EQ(s.ExistingOutputs, TExistingOutputs::Number);
    EXPECT_FALSE(s.ShutdownAfterCompleted);
}

TEST(Settings, BadNumbersFallBackToDefaults) {
    TempDir dir;
    const std::string path =
        Write(dir, "[Options]\nChannels=one\nAudioBitrate=0x\nAudioSampleRate=99999999999999\n");
    const TSettings s = ReadSettings(path);
    EXPECT_EQ(s.Channels, 1);
    EXPECT_EQ(s.AudioBitrate, 11);
    EXPECT_EQ(s.AudioSampleRate, 4);
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

TEST(Settings, WriteCreatesTheFolderAndReadsBack) {
    TempDir dir;
    const std::string path = dir.File("config/Ardentix/Options.ini");
    TSettings s;
    s.OutputPath = "/home/u/My, Music/";
    s.Channels = 0;
    s.AudioBitrate = 13;
    s.AudioSampleRate = 5;
    s.ExistingOutputs = TExistingOutputs::Skip;
    s.OutputNextToSource = true;
    s.ShutdownAfterCompleted = true;
    s.CopyTags = false;
    s.SimultaneousConversions = 3;
    s.LastAddFolder = "/home/u/Radio shows";
    s.MaxPictureSize = "1280x720";
    s.OtherChannels = 2;
    s.OtherAudioBitrate = 8;
    s.AllAudioTracks = false;
    s.VorbisQuality = 5;
    s.FlacCompression = 12;
    s.RemoveBlackBars = false;
    s.Deinterlace = "off";
    s.WindowSize = "640x400";
    s.ColumnWidths = {100, 50, 60, 120};
    WriteSettings(path, s);
    EXPECT_EQ(Slurp(path),
              "[Options]\nOutputPath=/home/u/My, Music/\nChannels=0\nAudioBitrate=13\nAudioSampleRate=5\n"
              "Overwrite=False\nShutdownAfterCompleted=True\nCopyTags=False\nSimultaneousConversions=3\n"
              "LastAddFolder=/home/u/Radio shows\nOutputFormat=mp3\nVideoNorm=pal\nShowPreview=False\n"
              "MaxPictureSize=1280x720\nOtherChannels=2\nOtherAudioBitrate=8\nOtherAudioSampleRate=0\n"
              "AllAudioTracks=False\nVorbisQuality=5\nFlacCompression=12\nExistingOutputs=skip\n"
              "OutputNextToSource=True\nWindowSize=640x400\nColumnWidths=100,50,60,120\nRemoveBlackBars=False\n"
              "Deinterlace=off\n");
    const TSettings r = ReadSettings(path);
    EXPECT_EQ(r.OutputPath, s.OutputPath);
    EXPECT_EQ(r.Channels, 0);
    EXPECT_EQ(r.AudioBitrate, 13);
    EXPECT_EQ(r.AudioSampleRate, 5);
    EXPECT_EQ(r.ExistingOutputs, TExistingOutputs::Skip);
    EXPECT_TRUE(r.OutputNextToSource);
    EXPECT_TRUE(r.ShutdownAfterCompleted);
    EXPECT_FALSE(r.CopyTags);
    EXPECT_EQ(r.SimultaneousConversions, 3);
    EXPECT_EQ(r.LastAddFolder, "/home/u/Radio shows");
    EXPECT_EQ(r.MaxPictureSize, "1280x720");
    EXPECT_EQ(r.OtherChannels, 2);
    EXPECT_EQ(r.OtherAudioBitrate, 8);
    EXPECT_FALSE(r.AllAudioTracks);
    EXPECT_EQ(r.VorbisQuality, 5);
    EXPECT_EQ(r.FlacCompression, 12);
    // Outside their ranges: "Automatic".
    EXPECT_EQ(ReadSettings(Write(dir, "[Options]\nVorbisQuality=11\nFlacCompression=-1\n")).VorbisQuality, std::nullopt);
    EXPECT_FALSE(r.RemoveBlackBars);
    EXPECT_EQ(r.WindowSize, "640x400");
    EXPECT_EQ(r.ColumnWidths, (std::vector<int>{100, 50, 60, 120}));
    for (const char* bad : {"100,,50", "100,", "3,100", "wide"})
        EXPECT_TRUE(ReadSettings(Write(dir, std::string("[Options]\nColumnWidths=") + bad + "\n")).ColumnWidths.empty())
            << bad;
    EXPECT_EQ(r.Deinterlace, "off");
    // Missing, the box is ticked; present, only the exact text "True" ticks it.
    EXPECT_TRUE(ReadSettings(Write(dir, "[Options]\n")).CopyTags);
    EXPECT_FALSE(ReadSettings(Write(dir, "[Options]\nCopyTags=true\n")).CopyTags);
}

// A file of an older version has only "Overwrite"; one of this version has
// both, and its own key decides; "Overwrite" is written for the older version.
TEST(Settings, ExistingOutputsKeepOlderFilesMeaning) {
    TempDir dir;
    using R = TExistingOutputs;
    const std::pair<const char*, R> cases[] = {
        {"", R::Number},
        {"Overwrite=True\n", R::Replace},
        {"Overwrite=False\n", R::Number},
        {"Overwrite=True\nExistingOutputs=skip\n", R::Skip},
        {"Overwrite=False\nExistingOutputs=replace\n", R::Replace},
        {"Overwrite=True\nExistingOutputs=Skip\n", R::Replace},  // not a word of ours
    };
    for (const auto& [keys, rule] : cases) {
        SCOPED_TRACE(keys);
        const std::string path = Write(dir, std::string("[Options]\n") + keys);
        WriteSettings(path, ReadSettings(path));
        const TIniFile written(path);
        EXPECT_EQ(written.ReadString("Options", "Overwrite"), rule == R::Replace ? "True" : "False");
        EXPECT_EQ(written.ReadString("Options", "ExistingOutputs"), ExistingOutputsName(rule));
    }
}

TEST(Settings, LargestPictureReadsOnlyASize) {
    TempDir dir;
    EXPECT_EQ(ReadSettings(Write(dir, "[Options]\n")).MaxPictureSize, "");
    EXPECT_EQ(ReadSettings(Write(dir, "[Options]\nMaxPictureSize=854x480\n")).MaxPictureSize, "854x480");
    for (const char* bad : {"1280", "1280x", "x720", "1280x720x2", "big", "0x0", "-1280x720", "1280X720"})
        EXPECT_EQ(ReadSettings(Write(dir, std::string("[Options]\nMaxPictureSize=") + bad + "\n")).MaxPictureSize, "")
            << bad;
}

TEST(Settings, PictureChoicesDefaultToAutomatic) {
    TempDir dir;
    const TSettings none = ReadSettings(Write(dir, "[Options]\n"));
    EXPECT_TRUE(none.RemoveBlackBars);
    EXPECT_EQ(none.Deinterlace, "auto");
    const TSettings odd = ReadSettings(Write(dir, "[Options]\nRemoveBlackBars=yes\nDeinterlace=ON\n"));
    EXPECT_FALSE(odd.RemoveBlackBars);
    EXPECT_EQ(odd.Deinterlace, "auto");
    EXPECT_EQ(ReadSettings(Write(dir, "[Options]\nDeinterlace=on\n")).Deinterlace, "on");
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

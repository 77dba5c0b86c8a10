#include <gtest/gtest.h>

#include <climits>

#include "batch/General.h"

TEST(General, SettingsPathFollowsXdg) {
    EXPECT_EQ(SettingsFilePath("/cfg", "/home/u"), "/cfg/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("/cfg/", "/home/u"), "/cfg/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("", "/home/u"), "/home/u/.config/Ardentix/Options.ini");
    // A relative XDG_CONFIG_HOME is not valid and is ignored.
    EXPECT_EQ(SettingsFilePath("rel/cfg", "/home/u/"), "/home/u/.config/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("", ""), "");
}

TEST(General, DefaultOutputFolder) {
    EXPECT_EQ(DefaultOutputFolder("/home/u/Documents"), "/home/u/Documents/My Converted MP3/");
    EXPECT_EQ(DefaultOutputFolder("/home/u/Documents/"), "/home/u/Documents/My Converted MP3/");
    EXPECT_EQ(IncludeTrailingSeparator("/"), "/");
    EXPECT_EQ(IncludeTrailingSeparator("/a"), "/a/");
}

TEST(General, DurationText) {
    EXPECT_EQ(DurationText(3725900000LL), "01:02:05");
    EXPECT_EQ(DurationText(59000000LL), "00:00:59");
    EXPECT_EQ(DurationText(360000LL * 1000000), "100:00:00");
    EXPECT_EQ(DurationText(999999), "00:00:00");
    EXPECT_EQ(DurationText(-1), "00:00:00");
    EXPECT_EQ(DurationText(INT64_MIN), "00:00:00");
    EXPECT_EQ(DurationText(INT64_MAX), "2562047788:00:54");
}

TEST(General, NameParts) {
    EXPECT_EQ(BaseName("/x/a.b.rmvb"), "a.b");
    EXPECT_EQ(FileNamePart("/x/a.b.rmvb"), "a.b.rmvb");
    EXPECT_EQ(BaseName("/x.y/song"), "song");
    EXPECT_EQ(BaseName("song.rm"), "song");
}

TEST(General, OutputNameRule) {
    std::set<std::string> onDisk;
    auto exists = [&](const std::string& p) { return onDisk.count(p) > 0; };
    std::set<std::string> taken;
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song");
    onDisk.insert("/o/song.mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song(1)");
    onDisk.insert("/o/song(1).mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song(2)");
    EXPECT_EQ(ChooseOutputName("/o/", "song", true, taken, exists), "song");
    // Names given to earlier files of the same run are skipped, overwriting or not.
    taken.insert("/o/song.mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", true, taken, exists), "song(1)");
    taken.insert("/o/song(2).mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song(3)");
}

TEST(General, ProgressPercent) {
    EXPECT_EQ(ProgressPercent(30000, 120000), 25);
    EXPECT_EQ(ProgressPercent(0, 120000), 0);
    EXPECT_EQ(ProgressPercent(119999, 120000), 99);
    EXPECT_EQ(ProgressPercent(130000, 120000), 100);
    EXPECT_EQ(ProgressPercent(-5, 120000), 0);
    EXPECT_EQ(ProgressPercent(100, 0), -1);
    EXPECT_EQ(ProgressPercent(100, -1), -1);
    // Seven hours: the product no longer fits 32 bits.
    EXPECT_EQ(ProgressPercent(25200000 / 2, 25200000), 50);
    EXPECT_EQ(ProgressPercent(INT_MAX, INT_MAX), 100);
}

TEST(General, ProgressStatusText) {
    EXPECT_EQ(ProgressStatusText(30000, 120000), "25% Completed");
    EXPECT_EQ(ProgressStatusText(42, 100), "42% Completed");
    EXPECT_EQ(ProgressStatusText(65000, -1), "00:01:05 Converted");
    EXPECT_EQ(ProgressStatusText(10, 0), "00:00:00 Converted");
    EXPECT_EQ(ProgressStatusText(INT_MAX - 1, INT_MAX), "99% Completed");
}


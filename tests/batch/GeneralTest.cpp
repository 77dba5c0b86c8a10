#include <gtest/gtest.h>

#include <climits>

#include "batch/General.h"
#include "batch/OutputKinds.h"
#include "tests/common/Fixtures.h"

TEST(General, SettingsPathFollowsXdg) {
    EXPECT_EQ(SettingsFilePath("/cfg", "/home/u"), "/cfg/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("/cfg/", "/home/u"), "/cfg/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("", "/home/u"), "/home/u/.config/Ardentix/Options.ini");
    // A relative XDG_CONFIG_HOME is not valid and is ignored.
    EXPECT_EQ(SettingsFilePath("rel/cfg", "/home/u/"), "/home/u/.config/Ardentix/Options.ini");
    EXPECT_EQ(SettingsFilePath("", ""), "");
}

// The desktop's music and videos folders from user-dirs.dirs in the config
// home SettingsFilePath uses, else ~/Music and ~/Videos; audio kinds go to the
// one, video kinds to the other.
TEST(General, DefaultOutputFolderFollowsTheDesktopsFolders) {
    ardentix::test::TempDir dir;
    const std::string home = dir.File("home"), xdg = dir.File("xdg");
    ardentix::test::WriteFileBytes(home + "/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    ardentix::test::WriteFileBytes(xdg + "/user-dirs.dirs", "# a comment\nXDG_MUSIC_DIR=\"/srv/music\"\n"
                                                            "XDG_VIDEOS_DIR=\"$HOME/Filme\"\nXDG_VIDEOS_DIR=\"relative\"\n");
    const std::string cases[][3] = {  // XDG_CONFIG_HOME, music, videos
        {xdg, "/srv/music/", home + "/Filme/"},
        {"", home + "/Musik/", home + "/Videos/"},
        {dir.File("none"), home + "/Music/", home + "/Videos/"}};
    for (const auto& [config, music, videos] : cases) {
        SCOPED_TRACE(config);
        const TUserFolders folders = ReadUserFolders(config, home);
        EXPECT_EQ(DefaultOutputFolder(folders, *OutputKindNamed("mp3")), music + "Ardentix/");
        EXPECT_EQ(DefaultOutputFolder(folders, *OutputKindNamed("dvd")), videos + "Ardentix/");
    }
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
    TTakenNames taken;
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song");
    onDisk.insert("/o/song.mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song(1)");
    onDisk.insert("/o/song(1).mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", false, taken, exists), "song(2)");
    EXPECT_EQ(ChooseOutputName("/o/", "song", true, taken, exists), "song");
    // Names given to earlier files of the same run are skipped, overwriting or not.
    taken.Add("/o/song.mp3");
    EXPECT_EQ(ChooseOutputName("/o/", "song", true, taken, exists), "song(1)");
    taken.Add("/o/song(2).mp3");
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


#include <gtest/gtest.h>

#include <climits>

#include <filesystem>
#include <fstream>

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

// The desktop's music and videos folders from user-dirs.dirs, in the config
// home SettingsFilePath uses, else ~/Music and ~/Videos; audio kinds go to the
// one, video kinds to the other.
TEST(General, DefaultOutputFolderFollowsTheDesktopsFolders) {
    ardentix::test::TempDir dir;
    const std::string home = dir.File("home");
    const std::string xdg = dir.File("xdg");
    std::filesystem::create_directories(xdg);
    std::filesystem::create_directories(home + "/.config");
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Musik\"\n";
    std::ofstream(xdg + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                              "XDG_MUSIC_DIR=\"/srv/music\"\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n"
                                              "XDG_VIDEOS_DIR=\"relative\"\n";
    const struct {
        const char* name;
        std::string xdg;
        std::string music, videos;
    } cases[] = {
        {"XDG_CONFIG_HOME", xdg, "/srv/music/", home + "/Filme/"},
        {"~/.config, only music named", "", home + "/Musik/", home + "/Videos/"},
        {"no file", dir.File("none"), home + "/Music/", home + "/Videos/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TUserFolders folders = ReadUserFolders(c.xdg, home);
        EXPECT_EQ(folders.Music, c.music);
        EXPECT_EQ(folders.Videos, c.videos);
        EXPECT_EQ(DefaultOutputFolder(folders, *OutputKindNamed("mp3")), c.music + "Ardentix/");
        EXPECT_EQ(DefaultOutputFolder(folders, *OutputKindNamed("dvd")), c.videos + "Ardentix/");
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


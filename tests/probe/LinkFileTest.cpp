// Link files: what a line names, which files count as links, and following
// links through links, also when their contents are hostile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "probe/LinkFile.h"
#include "tests/common/Fixtures.h"

using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

std::string Write(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string Join(const std::vector<std::string>& list) {
    std::string all;
    for (const std::string& s : list) all += s + "\n";
    return all;
}

}  // namespace

TEST(LinkFileParse, EachLineNamesAnAddressOrALocalFile) {
    struct Case {
        std::string line;
        std::string local;  // empty: a network address
    } cases[] = {
        {"rtsp://media.example.com/a.rm", ""},
        {"pnm://media.example.com/a.ra", ""},
        {"http://media.example.com/a.rm", ""},
        {"HTTPS://media.example.com/a.rm", ""},
        {"mms://media.example.com/a.rm", ""},
        {"rtsp:media.example.com/a.rm", ""},
        {"file://server/share/a.rm", ""},  // another computer's file
        {"file:///home/x/a.rm", "/home/x/a.rm"},
        {"file://localhost/home/x/a.rm", "/home/x/a.rm"},
        {"file:/home/x/a.rm", "/home/x/a.rm"},
        {"file:///home/x/my%20song.rm?start=0:10", "/home/x/my song.rm"},
        {"file:///home/x/a%00.rm", "/home/x/a%00.rm"},  // no NUL reaches the file system
        {"file:a.rm", "/links/a.rm"},
        {"/home/x/a.rm", "/home/x/a.rm"},
        {"a.rm", "/links/a.rm"},
        {"sub/b c.rm", "/links/sub/b c.rm"},
        {"my:song.rm", "/links/my:song.rm"},  // not an address scheme anyone plays
        {"C:\\Music\\a.rm", "/links/C:\\Music\\a.rm"},
        {"  \tpadded.rm  ", "/links/padded.rm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TLinkFile file = ParseLinkFile("/links/list.ram", c.line + "\n");
        ASSERT_TRUE(file.IsLink);
        ASSERT_EQ(file.Targets.size(), 1u);
        EXPECT_EQ(file.Targets[0].LocalPath, c.local);
        EXPECT_TRUE(file.Problems.empty()) << Join(file.Problems);
    }
}

TEST(LinkFileParse, WhatCountsAsALinkFile) {
    const std::string address = "rtsp://media.example.com/a.rm\n";
    struct Case {
        std::string name;
        std::string contents;
        bool link;
        size_t targets;
    } cases[] = {
        {"a.ram", address, true, 1},
        {"a.RPM", address, true, 1},
        {"a.rm", address, true, 1},        // a link under a media name
        {"a.rm", "a.rm\n", false, 0},      // text, but no address first
        {"a.ram", "a.rm\n", true, 1},
        {"a.ram", "", true, 0},
        {"a.ram", "# only a comment\n\n", true, 0},
        {"a.ram", std::string(".RMF\0\0\0\x12", 8) + std::string(64, 'x'), false, 0},  // media with a link's name
        {"a.ram", ".ra\xfd" + std::string(60, 'y'), false, 0},
        {"a.ram", std::string("a.rm\0b.rm\n", 10), false, 0},  // binary junk
        {"a.ram", "a.rm\x1b[2J\n", false, 0},
        {"a.ram", std::string(MaxLinkFileBytes + 1, 'a'), false, 0},  // too big for a link
        {"a.ram", "\xef\xbb\xbf" + address, true, 1},  // UTF-8 byte-order mark
        {"a.ram", "one.rm\r\ntwo.rm\rthree.rm\nfour.rm", true, 4},
        {"a.ram", "# list\none.rm\n--stop--\ntwo.rm\n", true, 1},
        {"a.ram", "caf\xe9.rm\n\xff\xfe.rm\n", true, 2},  // not UTF-8: bytes kept as the name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + ": " + c.contents.substr(0, 40));
        const TLinkFile file = ParseLinkFile("/l/" + c.name, c.contents);
        EXPECT_EQ(file.IsLink, c.link);
        EXPECT_EQ(file.Targets.size(), c.targets);
    }
    EXPECT_EQ(ParseLinkFile("/l/a.ram", "caf\xe9.rm\n").Targets.at(0).LocalPath, "/l/caf\xe9.rm");
}

TEST(LinkFileParse, OverlongLinesAndEndlessListsAreCutWithAMessage) {
    std::string text = std::string(MaxLinkLineBytes + 1, 'x') + "\nshort.rm\n";
    TLinkFile file = ParseLinkFile("/l/a.ram", text);
    ASSERT_EQ(file.Targets.size(), 1u);
    EXPECT_EQ(file.Targets[0].LocalPath, "/l/short.rm");
    ASSERT_EQ(file.Problems.size(), 1u);
    EXPECT_EQ(file.Problems[0], "/l/a.ram: line 1 is too long to name a file");

    text.clear();
    for (size_t i = 0; i < MaxLinkTargets + 50; ++i) text += "f" + std::to_string(i) + ".rm\n";
    ASSERT_LE(text.size(), MaxLinkFileBytes);
    file = ParseLinkFile("/l/a.ram", text);
    EXPECT_EQ(file.Targets.size(), MaxLinkTargets);
    ASSERT_EQ(file.Problems.size(), 1u);
    EXPECT_NE(file.Problems[0].find("only the first"), std::string::npos);
}

TEST(LinkFileParse, JunkNeverCrashes) {
    // Seeded bytes of every kind, cut at every length of a short prefix: the
    // parser answers for all, under the sanitizers.
    std::string junk;
    uint32_t state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>((state >> 16) & 0xff);
    }
    const std::string printable = "rtsp://a/b\nfile:///%\n%%%\nfile://\n#\n\r\r\n--stop\nfile:?#\n" + junk;
    for (size_t n = 0; n < 300; ++n) {
        ParseLinkFile("/l/a.ram", junk.substr(0, n));
        ParseLinkFile("/l/a.ram", printable.substr(0, n));
        ParseLinkFile("a.rm", printable.substr(0, n));
    }
}

class LinkExpandTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(LinkExpandTest, LocalFilesFollowedThroughLinksAndAddressesReported) {
    const std::string a = MakeEmpty(dir, "a.rm");
    fs::create_directories(dir.File("sub"));
    const std::string b = MakeEmpty(dir, "sub/b.rm");
    Write(dir, "sub/inner.ram", "b.rm\n");  // relative to its own folder
    const std::string top = Write(dir, "top.ram",
                                  "# my list\n"
                                  "a.rm\n"
                                  "rtsp://media.example.com/live.rm\n"
                                  "file://" + dir.File("sub/inner.ram") + "\n"
                                  "missing.rm\n"
                                  "sub\n");
    const TLinkExpansion x = ExpandLinkFile(top);
    EXPECT_TRUE(x.IsLink);
    EXPECT_EQ(x.Files, (std::vector<std::string>{a, b}));
    EXPECT_EQ(Join(x.Notes), top + ": link to " + a + "\n" + top + ": link to " + dir.File("sub/inner.ram") + "\n" +
                                 dir.File("sub/inner.ram") + ": link to " + b + "\n");
    EXPECT_EQ(Join(x.Problems),
              top + ": link to rtsp://media.example.com/live.rm, which cannot be fetched: only local files are "
                    "converted\n" +
                  top + ": link to " + dir.File("missing.rm") + ": no such file\n" + top + ": link to " +
                  dir.File("sub") + ": is a directory\n");
}

TEST_F(LinkExpandTest, NoLinkGivesItselfAndAnEmptyLinkSaysSo) {
    const std::string media = MakeRealAudio144(dir, "a.ram", 0.5);  // media under a link's name
    EXPECT_FALSE(ExpandLinkFile(media).IsLink);
    EXPECT_FALSE(ExpandLinkFile(dir.File("missing.ram")).IsLink);
    EXPECT_FALSE(ExpandLinkFile(dir.Path()).IsLink);
    const std::string empty = Write(dir, "empty.ram", "# nothing here\n");
    const TLinkExpansion x = ExpandLinkFile(empty);
    EXPECT_TRUE(x.IsLink);
    EXPECT_TRUE(x.Files.empty());
    EXPECT_EQ(Join(x.Problems), empty + ": link file that names no file\n");
}

TEST_F(LinkExpandTest, LoopsOfLinksEnd) {
    const std::string media = MakeEmpty(dir, "m.rm");
    Write(dir, "self.ram", "self.ram\nm.rm\n");
    Write(dir, "a.ram", "b.ram\n");
    Write(dir, "b.ram", "./a.ram\nm.rm\n");
    fs::create_symlink(dir.File("a.ram"), dir.File("alias.ram"));
    Write(dir, "c.ram", "alias.ram\n");
    for (const char* start : {"self.ram", "a.ram", "c.ram"}) {
        SCOPED_TRACE(start);
        const TLinkExpansion x = ExpandLinkFile(dir.File(start));
        EXPECT_EQ(x.Files, std::vector<std::string>{media});
        ASSERT_EQ(x.Problems.size(), 1u) << Join(x.Problems);
        EXPECT_NE(x.Problems[0].find("which leads back to a link already followed"), std::string::npos);
    }
}

TEST_F(LinkExpandTest, DeepChainsAndFanOutStayBounded) {
    MakeEmpty(dir, "m.rm");
    for (int i = 0; i < 20; ++i) Write(dir, "d" + std::to_string(i) + ".ram", "d" + std::to_string(i + 1) + ".ram\n");
    Write(dir, "d20.ram", "m.rm\n");
    TLinkExpansion x = ExpandLinkFile(dir.File("d0.ram"));
    EXPECT_TRUE(x.Files.empty());
    ASSERT_EQ(x.Problems.size(), 1u) << Join(x.Problems);
    EXPECT_NE(x.Problems[0].find("one link too many in a row"), std::string::npos);

    // Each level names the next many times: without bounds this is 500^4 reads.
    std::string many;
    for (int i = 0; i < 500; ++i) many += "m.rm\n";
    Write(dir, "f3.ram", many);
    for (int level = 2; level >= 0; --level) {
        std::string text;
        for (int i = 0; i < 500; ++i) text += "f" + std::to_string(level + 1) + ".ram\n";
        Write(dir, "f" + std::to_string(level) + ".ram", text);
    }
    x = ExpandLinkFile(dir.File("f0.ram"));
    EXPECT_LT(x.Files.size(), MaxLinkTargets);
    ASSERT_EQ(x.Problems.size(), 1u) << Join(x.Problems);
    EXPECT_NE(x.Problems[0].find("the rest are left out"), std::string::npos);

    // Links naming links that name nothing: only the number of links read ends it.
    for (int level = 0; level < 4; ++level) {
        std::string text;
        for (int i = 0; i < 300; ++i) text += level < 3 ? "e" + std::to_string(level + 1) + "_" + std::to_string(i % 7) + ".ram\n" : "# none\n";
        for (int k = 0; k < 7; ++k) Write(dir, "e" + std::to_string(level) + "_" + std::to_string(k) + ".ram", text);
    }
    x = ExpandLinkFile(dir.File("e0_0.ram"));
    EXPECT_TRUE(x.Files.empty());
    ASSERT_EQ(x.Problems.size(), 1u) << Join(x.Problems);
}

TEST_F(LinkExpandTest, PipesAndDevicesAreNeverRead) {
    const std::string fifo = dir.File("pipe.ram");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ExpandLinkFile(fifo).IsLink);  // would block forever if opened
    const std::string top = Write(dir, "top.ram", "pipe.ram\n/dev/zero\n");
    const TLinkExpansion x = ExpandLinkFile(top);
    EXPECT_TRUE(x.Files.empty());
    EXPECT_EQ(Join(x.Problems), top + ": link to " + fifo + ": not a regular file\n" + top +
                                    ": link to /dev/zero: not a regular file\n");
}

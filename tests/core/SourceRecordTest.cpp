// What an output records of its input: the text any container's tag holds,
// hostile texts and files read back, the state set in place, the sidecar of
// the kinds without tags.
#include "core/SourceRecord.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "binding/FFmpegLoader.h"
#include "tests/common/Fixtures.h"

using namespace ardentix::test;
namespace fs = std::filesystem;

TEST(SourceRecord, TextIsPrintableAsciiAndReadsBack) {
    for (const std::string path : {"a.rm", "CD 1/caf\xc3\xa9.rm", "100%.rm", "line\nbreak\t.rm", "x=y z.ra"}) {
        SCOPED_TRACE(path);
        const TSourceRecord record{path, 12345, 1700000000123456789, TMadeState::InputShort};
        const std::string text = SourceRecordText(record);
        for (const char c : text) EXPECT_TRUE(c >= ' ' && c < 0x7f) << text;
        EXPECT_EQ(text.rfind("state=e size=12345 mtime=1700000000123456789 path=", 0), 0u) << text;
        const auto back = ParseSourceRecord(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->Path, path);
        EXPECT_TRUE(SameSource(*back, record));
        EXPECT_EQ(back->State, TMadeState::InputShort);
    }
}

TEST(SourceRecord, HostileTextsRecordNothing) {
    for (const std::string& text : std::vector<std::string>{
             "", "state=w", "state=x size=1 mtime=1 path=a", "state=w size=-1 mtime=1 path=a",
          "state=w size=1 mtime=99999999999999999999 path=a",
             "state=w size=1 mtime=9999999999999999999 path=a", "state=w size=1 mtime=1 path=",
          "state=w size=1 mtime=1 path=%", "state=w size=1 mtime=1 path=%4", "state=w size=1 mtime=1 path=%G0",
          "state=ww size=1 mtime=1 path=a", "size=1 mtime=1 path=a", "state=w size=1x mtime=1 path=a"})
        EXPECT_FALSE(ParseSourceRecord(text).has_value()) << text;
}

// The state is set where the text lies, once, whatever surrounds it; a file
// without it is left alone.
TEST(SourceRecord, StateIsSetInPlace) {
    TempDir dir;
    const std::string text = SourceRecordText({"a.rm", 1, 2, TMadeState::Open});
    const std::string before(70000, 'x'), after(10, 'y');
    const std::string file = WriteFileBytes(dir.File("out.bin"), before + text + after);
    EXPECT_TRUE(MarkSourceRecord(file, text, TMadeState::Whole));
    std::string marked = text;
    marked[6] = 'w';
    EXPECT_EQ(ReadFileBytes(file), before + marked + after);
    EXPECT_FALSE(MarkSourceRecord(file, text, TMadeState::Whole)) << "no unmarked text is left";
    EXPECT_FALSE(MarkSourceRecord(dir.File("missing"), text, TMadeState::Whole));
}

// A sidecar speaks for the file it was written for only.
TEST(SourceRecord, SidecarOfAReplacedOutputSaysNothing) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    TempDir dir;
    const std::string output = WriteFileBytes(dir.File("v.mpg"), "picture");
    EXPECT_EQ(SourceSidecarPath(output), dir.File(".v.mpg.ardentix-source"));
    EXPECT_FALSE(ReadSourceRecord(output, "").has_value()) << "no sidecar";
    ASSERT_TRUE(WriteSourceSidecar(output, SourceRecordText({"d/v.rm", 5, 6, TMadeState::Open}), TMadeState::Whole));
    const auto record = ReadSourceRecord(output, "");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->Path, "d/v.rm");
    EXPECT_EQ(record->State, TMadeState::Whole);
    for (const auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_NE(e.path().filename().string().rfind(".ardx-", 0), 0u) << "a temporary file is left";
    WriteFileBytes(output, "another picture");
    EXPECT_FALSE(ReadSourceRecord(output, "").has_value());
    WriteFileBytes(SourceSidecarPath(output), "garbage");
    EXPECT_FALSE(ReadSourceRecord(output, "").has_value());
    // Media that cannot be read, empty and random files hold no tag.
    for (const std::string& bad : {MakeEmpty(dir, "e.mp3"), MakeRandom(dir, "r.mp3", 4096, 3),
                                   MakeCut(MakeRealAudio144(dir, "x.rm", 0.3), 5, dir.File("c.ogg"))})
        EXPECT_FALSE(ReadSourceRecord(bad, "ARDENTIX_SOURCE").has_value()) << bad;
    EXPECT_FALSE(ReadSourceRecord(dir.File("none.mp3"), "ARDENTIX_SOURCE").has_value());
}

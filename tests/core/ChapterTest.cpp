// Chapters carried from the first input to MP4 and Matroska outputs, moved by
// ss and cut at t; checked with mediainfo (starts, titles) and the libraries'
// demuxers (ends). The disc and tape kinds: tests/engine/ChapterConvertTest.cpp.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Chapters.h"

#include "tests/common/TranscodeFixture.h"
#include "tests/common/VideoCheck.h"

namespace transcodetest {
namespace {

constexpr int64_t kNone = INT64_MAX;

// Times in milliseconds: shift and limit in the chapter's own time base.
TEST(KeptChapterSpan, MovesBackAndClipsToTheKeptSpan) {
    struct Case {
        const char* what;
        int64_t start, end, shift, limit;
        std::optional<std::pair<int64_t, int64_t>> kept;
    };
    const Case cases[] = {
        {"untouched", 0, 1000, 0, kNone, std::pair<int64_t, int64_t>{0, 1000}},
        {"moved back", 2000, 3000, 500, kNone, std::pair<int64_t, int64_t>{1500, 2500}},
        {"begun before ss: starts at zero", 1000, 2000, 1500, kNone, std::pair<int64_t, int64_t>{0, 500}},
        {"ends before ss", 0, 1000, 1500, kNone, std::nullopt},
        {"ends at ss: nothing left", 0, 1000, 1000, kNone, std::nullopt},
        {"starts at ss + t", 2000, 3000, 500, 1500, std::nullopt},
        {"starts after ss + t", 2500, 3000, 0, 1500, std::nullopt},
        {"runs past ss + t: cut", 1000, 2000, 500, 1000, std::pair<int64_t, int64_t>{500, 1000}},
        {"covers the whole kept span", 0, 3000, 1000, 1000, std::pair<int64_t, int64_t>{0, 1000}},
        {"ends before it starts", 2000, 1000, 0, kNone, std::nullopt},
        {"far times held, not wrapped", INT64_MIN + 10, INT64_MAX - 10, -100, kNone,
         std::pair<int64_t, int64_t>{0, INT64_MAX}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto kept = KeptChapterSpan({c.start, c.end}, c.shift, c.limit);
        ASSERT_EQ(kept.has_value(), c.kept.has_value());
        if (!kept) continue;
        EXPECT_EQ(kept->start, c.kept->first);
        EXPECT_EQ(kept->end, c.kept->second);
    }
}

TEST(KeepsChapters, OnlyMp4QuickTimeAndMatroska) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    for (const char* name : {"mp4", "mov", "matroska"})
        EXPECT_TRUE(KeepsChapters(avformat.av_guess_format(name, nullptr, nullptr))) << name;
    for (const char* name : {"dvd", "vcd", "svcd", "dv", "avi", "mp3"})
        EXPECT_FALSE(KeepsChapters(avformat.av_guess_format(name, nullptr, nullptr))) << name;
    EXPECT_FALSE(KeepsChapters(nullptr));
}

struct ReadChapter {
    int64_t start_ms, end_ms;
    std::string title;
};

// The chapters as the libraries' demuxer reads them back, in milliseconds.
std::vector<ReadChapter> LibraryChapters(const std::string& path) {
    std::vector<ReadChapter> chapters;
    AVFormatContext* ic = nullptr;
    if (avformat.avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return chapters;
    for (unsigned k = 0; k < ic->nb_chapters; ++k) {
        const AVChapter& c = *ic->chapters[k];
        const AVDictionaryEntry* title = avutil.av_dict_get(c.metadata, "title", nullptr, 0);
        chapters.push_back({avutil.av_rescale_q(c.start, c.time_base, AVRational{1, 1000}),
                            avutil.av_rescale_q(c.end, c.time_base, AVRational{1, 1000}),
                            title ? title->value : ""});
    }
    avformat.avformat_close_input(&ic);
    return chapters;
}

class ChapterTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
        // Three seconds, chapters at 0, 1 and 2 s.
        src = MakeFixture(dir, "three.mkv", "mkv-mpeg4", {"--seconds", "3", "--chapters", "3"});
    }

    // Converts src to dst; the options are set before the input opens (input_ss_ms)
    // or before the output opens (the rest). "" or the error.
    std::string Convert(const std::string& dst, int input_ss_ms, int ss_ms, int t_ms) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        if (input_ss_ms > 0) core.SetStartTimeUs(input_ss_ms * int64_t{1000});
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        core.SetCodecName('v', "mpeg4");
        core.SetCodecName('a', "aac");
        if (ss_ms > 0) core.SetStartTimeUs(ss_ms * int64_t{1000});
        if (t_ms > 0) core.SetRecordingTimeMs(t_ms);
        if (!core.OpenOutputFile(dst)) return "output: " + core.last_error;
        return Run();
    }

    std::string src;
};

// Each kept chapter: its title, start and end in the output (ms).
TEST_F(ChapterTest, Mp4AndMatroskaKeepTheChaptersMovedBySsAndCutAtT) {
    struct Case {
        const char* what;
        const char* ext;
        int input_ss, ss, t;
        std::vector<ReadChapter> kept;
    };
    const std::vector<ReadChapter> all = {{0, 1000, "Chapter 1"}, {1000, 2000, "Chapter 2"}, {2000, 3000, "Chapter 3"}};
    const Case cases[] = {
        {"mkv as it is", ".mkv", 0, 0, 0, all},
        {"mp4 as it is", ".mp4", 0, 0, 0, all},
        {"mkv from 1.5 s", ".mkv", 0, 1500, 0, {{0, 500, "Chapter 2"}, {500, 1500, "Chapter 3"}}},
        {"mkv seeking to 1.5 s", ".mkv", 1500, 0, 0, {{0, 500, "Chapter 2"}, {500, 1500, "Chapter 3"}}},
        {"mkv for 1.5 s", ".mkv", 0, 0, 1500, {{0, 1000, "Chapter 1"}, {1000, 1500, "Chapter 2"}}},
        {"mp4 from 0.5 s for 1.5 s: the third starts at the end", ".mp4", 0, 500, 1500,
         {{0, 500, "Chapter 1"}, {500, 1500, "Chapter 2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dst = dir.File(std::string("out") + c.ext);
        ASSERT_EQ(Convert(dst, c.input_ss, c.ss, c.t), "") << AllLines();
        const auto shown = MediaInfoChapters(dst);
        const auto read = LibraryChapters(dst);
        ASSERT_EQ(shown.size(), c.kept.size());
        ASSERT_EQ(read.size(), c.kept.size());
        for (size_t k = 0; k < c.kept.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(shown[k].title, c.kept[k].title);
            EXPECT_NEAR(shown[k].start, c.kept[k].start_ms / 1000.0, 0.001);
            EXPECT_EQ(read[k].title, c.kept[k].title);
            EXPECT_NEAR(read[k].start_ms, c.kept[k].start_ms, 1);
            EXPECT_NEAR(read[k].end_ms, c.kept[k].end_ms, 1);
        }
    }
}

// The chapters belong to the output before its header is written: a header the
// muxer refuses (MP4 takes no plain PCM) frees them with the output, once
// (ASan would see a second free or a use after it).
TEST_F(ChapterTest, AHeaderRefusedAfterTheChaptersFreesThemWithTheOutput) {
    const std::string dst = dir.File("refused.mp4");
    core.ResetOptionState();
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetCodecName('v', "mpeg4");
    core.SetCodecName('a', "pcm_s16le");
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    EXPECT_NE(Run().find("Could not write header"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dst));
}

}  // namespace
}  // namespace transcodetest

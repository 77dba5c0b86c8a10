// The report a script reads: each line one JSON object with the same fields,
// read back by Python's parser, names that are no UTF-8 among them.
#include <gtest/gtest.h>

#include <filesystem>

#include "batch/ReportFile.h"
#include "tests/common/Fixtures.h"
#include "tests/common/ReportCheck.h"

using namespace ardentix::test;

TEST(ReportFileTest, EachRecordIsALineOfJsonThatGivesBackItsNamesAndFacts) {
    const struct {
        TFileRecord record;
        std::vector<std::string> row;  // as Python reads it back
    } cases[] = {
        {{1, "/in/a.rm", "/out/a.mp3", TFileOutcome::Completed, TReason::None, "", 2000, 2000, 1500},
         {"/in/a.rm", "/out/a.mp3", "completed", "null", "", "2.0", "2.0", "1.5", "null"}},
        {{2, "/in/\"q\"\\\t\n.rm", "", TFileOutcome::Refused, TReason::InputUnreadable, "Invalid data\r", -1, -1, -1},
         {"/in/\"q\"\\\t\n.rm", "null", "refused", "input-unreadable", "Invalid data\r", "null", "null", "null", "null"}},
        {{3, "/in/caf\xe9.rm", "/out/caf\xe9.mp3", TFileOutcome::EndedEarly, TReason::InputEndedEarly,
          "bad \xff byte", 3000, 10000, 20},
         {"/in/caf\\xE9.rm", "/out/caf\\xE9.mp3", "ended-early", "input-ended-early", "bad \\xFF byte", "10.0", "3.0",
          "0.02", "L2luL2NhZukucm0="}},
        {{4, "/in/\xe2\x82\xac\xed\xa0\x80\xc0\xaf.rm", "", TFileOutcome::Skipped, TReason::OutputExists, "", -1, -1, -1},
         {"/in/\xe2\x82\xac\\xED\\xA0\\x80\\xC0\\xAF.rm", "null", "skipped", "output-exists", "", "null", "null",
          "null", "L2luL+KCrO2ggMCvLnJt"}},
    };
    TempDir dir;
    const std::string path = dir.File("report.jsonl");
    // Each run appends: two openings, one record each time, all lines kept.
    for (int half = 0; half < 2; ++half) {
        TReportFile report;
        std::string why;
        ASSERT_TRUE(report.Open(path, why)) << why;
        for (size_t i = static_cast<size_t>(half) * 2; i < static_cast<size_t>(half) * 2 + 2; ++i)
            ASSERT_TRUE(report.Write(cases[i].record, why)) << why;
    }
    const auto rows = ReportRows(path, {"input", "output", "outcome", "reason", "message", "input_seconds",
                                        "output_seconds", "elapsed_seconds", "input_bytes"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], cases[i].row) << i;
    TReportFile unwritable;
    std::string why;
    EXPECT_FALSE(unwritable.Open(dir.File("no/such/folder/report"), why));
    EXPECT_FALSE(why.empty());
}

TEST(ReportFileTest, ALineTornByAFullDiskOrAKillIsEndedBeforeTheNextRunsFirstLine) {
    const TFileRecord record{1, "/in/a.rm", "/out/a.mp3", TFileOutcome::Completed, TReason::None, "", 2000, 2000, 1500};
    TempDir dir;
    const std::string path = dir.File("report.jsonl");
    for (const std::string& before : {std::string(), std::string("{\"input\":\"/in/b.r"), ReportLine(record)}) {
        WriteFileBytes(path, before);
        TReportFile report;
        std::string why;
        ASSERT_TRUE(report.Open(path, why)) << why;
        ASSERT_TRUE(report.Write(record, why) && report.Write(record, why)) << why;
        const std::string torn_end = before.empty() || before.back() == '\n' ? "" : "\n";
        EXPECT_EQ(ReadFileBytes(path), before + torn_end + ReportLine(record) + ReportLine(record));
    }
}

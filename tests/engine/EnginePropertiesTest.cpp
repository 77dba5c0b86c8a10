// Properties and the operations that set tasks up: records, option text,
// failures reported through LastErrorText.
#include <filesystem>
#include <fstream>

#include "core/OptionText.h"
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

TEST_F(EngineTest, PropertiesKeepTheirRules) {
    EXPECT_EQ(engine->Version(), "2.3");
    EXPECT_EQ(engine->ProgressInterval(), 500);
    engine->SetProgressInterval(50);
    EXPECT_EQ(engine->ProgressInterval(), 100);
    engine->SetProgressInterval(100);
    EXPECT_EQ(engine->ProgressInterval(), 100);
    engine->SetProgressInterval(101);
    EXPECT_EQ(engine->ProgressInterval(), 101);
    EXPECT_EQ(engine->ThreadPriority(), tpNormal);
    engine->SetAbout("free text");
    EXPECT_EQ(engine->About(), "free text");
    EXPECT_TRUE(engine->LibrariesLoaded());
}

TEST_F(EngineTest, LogLevelSetsTheLibraryLevelAndTheThreshold) {
    engine->SetLogLevel(llDebug);
    EXPECT_EQ(LogThreshold.load(), 2);
    EXPECT_EQ(avutil.av_log_get_level(), CoreToLibLogLevel(2));
    engine->SetLogLevel(llQuiet);
    EXPECT_EQ(LogThreshold.load(), -1);
}

TEST_F(EngineTest, LevelsMapOntoTheLogLevels) {
    EXPECT_EQ(CoreLevelToLogLevel(-5), llQuiet);
    EXPECT_EQ(CoreLevelToLogLevel(-1), llQuiet);
    EXPECT_EQ(CoreLevelToLogLevel(0), llError);
    EXPECT_EQ(CoreLevelToLogLevel(1), llInfo);
    EXPECT_EQ(CoreLevelToLogLevel(2), llDebug);
    EXPECT_EQ(CoreLevelToLogLevel(3), llAll);
    EXPECT_EQ(CoreLevelToLogLevel(9), llAll);
}

TEST_F(EngineTest, LoadingFromAFolderWithoutTheLibrariesStillFindsTheSystemOnes) {
    // The loader falls back to the system's search; a second load is harmless.
    EXPECT_TRUE(engine->LoadLibraries(dir.Path()));
}

TEST_F(EngineTest, AddTaskFillsAnEmptyFileNameAndKeepsACopy) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    TInputOptions in;
    in.Reserved[0] = 7;
    const int index = engine->AddTask(src, &in);
    ASSERT_EQ(index, 0);
    EXPECT_EQ(in.FileName, src);
    EXPECT_EQ(engine->Task(0)->InputOptions.FileName, src);
    EXPECT_EQ(engine->Task(0)->InputOptions.Reserved[0], 7);
    EXPECT_EQ(engine->Task(0)->index, 0);
    EXPECT_EQ(engine->AddTask(src), 1);
    EXPECT_EQ(engine->TaskCount(), 2);
}

TEST_F(EngineTest, AddTaskRefusesWhatCannotBeOpenedAndTheRunWhatIsNoMedia) {
    EXPECT_EQ(engine->AddTask(dir.File("missing.rm")), -1);
    EXPECT_EQ(engine->LastErrorText(), dir.File("missing.rm") + ": no such file or directory");
    EXPECT_EQ(engine->AddTask(dir.Path()), -1) << "a folder";
    EXPECT_EQ(engine->TaskCount(), 0);
    // A file that opens is taken; that it holds no media is found when its run reads it.
    const std::string random = MakeRandom(dir, "noise.rm", 4096, 3, true);
    for (const std::string& src : {random, MakeEmpty(dir, "empty.rm")}) {
        const int index = engine->AddTask(src);
        ASSERT_GE(index, 0) << src;
        ASSERT_TRUE(engine->SetOutputFile(index, src + ".mp3"));
    }
    std::vector<TTaskResult> results;
    recorder.on_terminate = [&](int index) {
        if (index >= 0) results.push_back(engine->TaskResult(index));
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_EQ(results.size(), 2u);
    for (const TTaskResult& r : results) {
        EXPECT_EQ(r.End, TTaskEnd::Failed);
        EXPECT_EQ(r.Failure, TTaskFailure::InputUnreadable) << r.Message;
        EXPECT_FALSE(r.Message.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(random + ".mp3"));
}

TEST_F(EngineTest, HeaderOnlySamplesNeverCrashARun) {
    // Files other programs wrote that end after their header: either refused
    // at once, or accepted and ended by the run with an answer.
    if (!SamplesPresent()) GTEST_SKIP() << SamplesMissingText();
    int tasks = 0;
    for (const char* sample : {"header-only.rm", "header-only.ra", "link.ram"}) {
        const std::string path = SamplePath(sample);
        if (!std::ifstream(path).good()) continue;
        const int index = engine->AddTask(path);
        if (index < 0) {
            EXPECT_FALSE(engine->LastErrorText().empty()) << sample;
            continue;
        }
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        if (engine->SetOutputFile(index, dir.File(std::string(sample) + ".mp3"), &out))
            ++tasks;
        else
            engine->RemoveTask(index);
    }
    if (tasks == 0) return;
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(recorder.Of('t').size(), static_cast<size_t>(tasks) + 1);
}

TEST_F(EngineTest, AddTaskReportsAnUnknownForcedFormat) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    TInputOptions in;
    in.FileFormat = "no-such-format";
    EXPECT_EQ(engine->AddTask(src, &in), -1);
    EXPECT_EQ(engine->LastErrorText(), "Unknown input format: no-such-format");
}

TEST_F(EngineTest, InputRecordSetsStartAndProgram) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0);
    TInputOptions in;
    in.StartTime = 1500;
    in.ProgramID = 0;
    ASSERT_EQ(engine->AddTask(src, &in), 0);
    EXPECT_EQ(engine->Task(0)->program_id, 0);
    TCustomFFmpeg core;
    core.ReInitialize();
    TInputOptions big;
    big.StartTime = 3000000;  // 3000 s: computed in 64 bits
    big.ProgramID = 5;
    ApplyInputOptions(core, big);
    EXPECT_EQ(core.start_time, 3000000000LL);
    EXPECT_EQ(core.program_id, 5);
}

TEST_F(EngineTest, SetOutputFileOutsideTheListRaises) {
    EXPECT_THROW(engine->SetOutputFile(0, dir.File("x.mp3")), Exception);
    EXPECT_THROW(engine->RemoveTask(3), Exception);
}

TEST_F(EngineTest, ARefusedOptionInTheOptionTextFailsTheOutput) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    TOutputOptions out;
    out.AudioCodec = "libmp3lame";
    out.ExtOptions = "threads=40";
    // The output's options are read when the task opens its files.
    ASSERT_TRUE(engine->SetOutputFile(0, dir.File("out.mp3"), &out));
    EXPECT_EQ(out.FileName, dir.File("out.mp3"));
    TTaskResult result;
    recorder.on_terminate = [&](int index) {
        if (index >= 0) result = engine->TaskResult(index);
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(result.End, TTaskEnd::Failed);
    EXPECT_EQ(result.Failure, TTaskFailure::OutputUnusable);
    EXPECT_EQ(result.Message, "threads must be from 0 (one per processor) to 16");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.mp3")));
}

TEST_F(EngineTest, TheOptionTextRunsTwiceForAnOutput) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    TOutputOptions out;
    out.AudioCodec = "libmp3lame";
    out.AudioBitrate = 128000;
    out.ExtOptions = "  metadata=comment=two passes\r\nnewaudio\r\n";
    const std::string mkv = dir.File("out.mkv");
    ASSERT_TRUE(engine->SetOutputFile(0, mkv, &out)) << engine->LastErrorText();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_TRUE(recorder.Of('t')[0].terminate.Finished) << recorder.Of('t')[0].terminate.Message;
    // "newaudio" ran in the second pass only: a second audio stream; the tag reached the file.
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(mkv)) << probe.LastError();
    EXPECT_EQ(probe.AudioStreamCount(), 2);
    TAVFileInfo info;
    probe.GetFileInfo(info);
    EXPECT_STREQ(info.comment, "two passes");
    probe.Close();
    // The first stream carries the whole input.
    EXPECT_NEAR(ReadMediaInfo(mkv).Duration(), 1.0, 0.1);
}

TEST_F(EngineTest, SetOutputFileWithoutARecordUsesTheCurrentOptions) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    engine->Task(0)->SetCodecName('a', "libmp3lame");
    ASSERT_TRUE(engine->SetOutputFile(0, dir.File("out.mp3"))) << engine->LastErrorText();
    EXPECT_EQ(engine->Task(0)->OutputOptions.FileName, "");
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_TRUE(DecodeMp3(dir.File("out.mp3")).ok);
}

TEST_F(EngineTest, SetOutputFileReportsAnUnwritableFolder) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    TOutputOptions out;
    out.AudioCodec = "libmp3lame";
    EXPECT_FALSE(engine->SetOutputFile(0, dir.File("no/such/folder/out.mp3"), &out));
    EXPECT_FALSE(engine->LastErrorText().empty());
}

TEST_F(EngineTest, PreviewFlagsReachEveryTask) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    engine->SetPreviewBitmap(true);
    EXPECT_EQ(engine->Task(0)->preview_flags & 3, 2);
    engine->SetPreview(true);
    EXPECT_EQ(engine->Task(0)->preview_flags & 3, 3);
    ASSERT_EQ(engine->AddTask(src), 1);
    EXPECT_EQ(engine->Task(1)->preview_flags & 3, 3);
    engine->SetPreviewBitmap(false);
    EXPECT_EQ(engine->Task(0)->preview_flags & 3, 1);
    EXPECT_EQ(engine->Task(1)->preview_flags & 3, 1);
}

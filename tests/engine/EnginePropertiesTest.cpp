// Properties and the operations that set tasks up: records, option text,
// failures reported through LastErrorText.
#include <filesystem>
#include <fstream>
#include <functional>

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

TEST_F(EngineTest, AddTaskAnswersAtOnceWhatTheLibrariesCannotRead) {
    const std::string rm = MakeRealAc3(dir, "in.rm", 1.0);
    {
        std::ofstream text(dir.File("notes.rm"));
        text << "hello\n";
    }
    // %s stands for the file's name.
    const struct {
        std::string file;
        std::string forced_format;
        std::string text;
    } cases[] = {
        {dir.File("missing.rm"), "", "%s: no such file or directory"},
        {dir.File("notes.rm"), "", "%s: Unknown format"},
        {MakeRandom(dir, "noise.rm", 4096, 3), "", "%s: Error while parsing header"},
        {MakeRandom(dir, "damaged.rm", 4096, 3, true), "", "%s: Error while parsing header"},
        {MakeEmpty(dir, "empty.rm"), "", "%s: Unknown format"},
        {rm, "no-such-format", "Unknown input format: no-such-format"},
        {rm, "wav", "%s: Unknown format"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.forced_format);
        TInputOptions in;
        in.FileFormat = c.forced_format;
        EXPECT_EQ(engine->AddTask(c.file, &in), -1);
        std::string expected = c.text;
        if (const size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, c.file);
        EXPECT_EQ(engine->LastErrorText(), expected);
    }
    EXPECT_EQ(engine->AddTask(dir.Path()), -1) << "a folder";
    EXPECT_EQ(engine->TaskCount(), 0);

    // A caller that read the header already vouches for it: what is no media
    // is then found by the run.
    TInputOptions vouched;
    vouched.HeaderRead = true;
    ASSERT_EQ(engine->AddTask(dir.File("notes.rm"), &vouched), 0);
    ASSERT_TRUE(engine->SetOutputFile(0, dir.File("notes.mp3")));
    TTaskResult result;
    recorder.on_terminate = [&](int index) {
        if (index >= 0) result = engine->TaskResult(index);
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(result.End, TTaskEnd::Failed);
    EXPECT_EQ(result.Failure, TTaskFailure::InputUnreadable);
    EXPECT_EQ(result.Message, dir.File("notes.rm") + ": Unknown format");
    EXPECT_FALSE(std::filesystem::exists(dir.File("notes.mp3")));
}

TEST_F(EngineTest, SetOutputFileRefusesWhatItCanJudgeWithoutTheInput) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    const std::string mp3 = dir.File("out.mp3");
    // Each case changes one thing of a good MP3 record; %s stands for the output's name.
    const struct {
        std::string name;
        std::function<void(TOutputOptions&)> change;
        std::string output;
        std::string text;
    } cases[] = {
        {"codec", [](TOutputOptions& o) { o.AudioCodec = "nosuchcodec"; }, mp3,
         "new_audio_stream fail: Unknown encoder 'nosuchcodec'"},
        {"video codec as audio", [](TOutputOptions& o) { o.AudioCodec = "mpeg2video"; }, mp3,
         "new_audio_stream fail: Invalid encoder type 'mpeg2video'"},
        {"format", [](TOutputOptions& o) { o.FileFormat = "nosuchfmt"; }, mp3, "Unknown output format: nosuchfmt"},
        {"no extension", [](TOutputOptions&) {}, dir.File("out"), "Unable to find a suitable output format for '%s'"},
        {"ar", [](TOutputOptions& o) { o.ExtOptions = "ar=abc"; }, mp3, "'abc' is not a valid integer value"},
        {"s", [](TOutputOptions& o) { o.ExtOptions = "s=321x240"; }, mp3, "Frame size must be a multiple of 2"},
        {"qscale", [](TOutputOptions& o) { o.ExtOptions = "qscale=0"; }, mp3, "qscale must be > 0.0 and <= 255"},
        {"pass", [](TOutputOptions& o) { o.ExtOptions = "pass=3"; }, mp3, "pass number can be only 1 or 2"},
        {"vbsf", [](TOutputOptions& o) { o.ExtOptions = "vbsf=nosuch"; }, mp3, "Unknown bitstream filter nosuch"},
        {"metadata", [](TOutputOptions& o) { o.ExtOptions = "metadata=x"; }, mp3, "Missing ="},
        {"threads", [](TOutputOptions& o) { o.ExtOptions = "threads=40"; }, mp3,
         "threads must be from 0 (one per processor) to 16"},
        {"folder", [](TOutputOptions&) {}, dir.File("no/such/folder/out.mp3"),
         "Could not open '%s': No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        c.change(out);
        EXPECT_FALSE(engine->SetOutputFile(0, c.output, &out));
        std::string expected = c.text;
        if (const size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, c.output);
        EXPECT_EQ(engine->LastErrorText(), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(mp3)) << "nothing is made";

    // What needs the input is left to the run: a crop band is judged by its own rules only.
    TOutputOptions cropped;
    cropped.AudioCodec = "libmp3lame";
    cropped.CropTop = 72;
    EXPECT_TRUE(engine->SetOutputFile(0, dir.File("cropped.mkv"), &cropped)) << engine->LastErrorText();
    engine->RemoveTask(0);
    ASSERT_EQ(engine->AddTask(src), 0);

    // The task stays, and nothing of the refused records reaches its run.
    TOutputOptions good;
    good.AudioCodec = "libmp3lame";
    good.AudioBitrate = 64000;
    ASSERT_TRUE(engine->SetOutputFile(0, mp3, &good)) << engine->LastErrorText();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_TRUE(recorder.Of('t')[0].terminate.Finished) << recorder.Of('t')[0].terminate.Message;
    const DecodedAudio decoded = DecodeMp3(mp3);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_NEAR(decoded.Seconds(), 1.0, 0.1);
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

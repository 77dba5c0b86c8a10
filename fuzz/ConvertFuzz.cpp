// Fuzz target: the whole conversion of one file as the converter window makes
// it (probe, AddTask, SetOutputFile with the MP3 record or a DV target, a run of
// one task on a worker thread) over any bytes held in memory; the MP3 is read
// back with libmpg123, a DV file must hold whole frames.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <mutex>
#include <vector>

#include "engine/DAzaduVED.h"
#include "engine/FFmpegTask.h"
#include "engine/EventLoop.h"
#include "fuzz/FuzzSupport.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/MemoryFile.h"

namespace {

// Settings the window offers; the input's size picks one (and whether the run is
// stopped as soon as it starts), so a reproducer is a plain media file.
struct TSettings {
    int channels;
    int rate;  // Hz
    int kbps;
    const char* dv = nullptr;  // a DV target instead of the MP3 record
    int dv_frame_bytes = 0;
};
constexpr TSettings SettingsRows[] = {
    {2, 44100, 256}, {1, 8000, 16}, {2, 48000, 320}, {1, 22050, 64}, {2, 16000, 32}, {1, 32000, 128},
    {2, 48000, 0, "ntsc-dv", 120000}, {2, 48000, 0, "pal-dv", 144000},
};
// DV writes 3.6 MB a second: its runs are cut sooner.
constexpr int DvRecordingLimitMs = 3000;

// Longer inputs are cut here so a run stays short; long files are the batch tests' matter.
// The limit is looked at between packets, so one packet that decodes to much sound
// (a damaged length field) still goes out whole.
constexpr int RecordingLimitMs = 10000;

struct TEnded {
    int index;
    bool finished;
    bool exception;
    std::string message;
};

class TConversion {
public:
    TConversion() : engine_(&loop_) {
        engine_.SetLogLevel(llQuiet);
        if (!engine_.LoadLibraries("")) fuzz::Fail("libraries: " + engine_.LastErrorText());
        engine_.SetOnTerminate([this](int index, bool finished, bool exception, const std::string& message) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                ended_.push_back(TEnded{index, finished, exception, message});
            }
            loop_.Wake();
        });
    }

    void Run(const std::string& path, const TSettings& settings, bool stop) {
        ProbeAsTheJobListDoes(path);
        TInputOptions input;
        input.FileName = path;
        const int index = engine_.AddTask(path, &input);
        if (index < 0) {
            fuzz::Check(!engine_.LastErrorText().empty(), "a refused file without a reason");
            return;
        }
        const std::string output_path = fuzz::ScratchFolder() + (settings.dv ? "out.dv" : "out.mp3");
        ::unlink(output_path.c_str());
        TOutputOptions output;
        output.Timestamp = 0.0;
        if (settings.dv) {
            output.FileExt = ".dv";
            output.ExtOptions = std::string("target=") + settings.dv + "\n";
            output.RecordingTime = DvRecordingLimitMs;
        } else {
            output.FileExt = ".mp3";
            output.AudioCodec = "libmp3lame";
            output.AudioChannels = settings.channels;
            output.AudioSampleRate = settings.rate;
            output.AudioBitrate = settings.kbps * 1000;
            output.RecordingTime = RecordingLimitMs;
        }
        if (!engine_.SetOutputFile(index, output_path, &output)) {
            fuzz::Check(!engine_.LastErrorText().empty(), "a refused output without a reason");
            engine_.ClearTasks();
            return;
        }
        const TEnded ended = RunOneTask(stop);
        engine_.ClearTasks();
        CheckResult(ended, output_path, settings, stop);
        ::unlink(output_path.c_str());
    }

private:
    void ProbeAsTheJobListDoes(const std::string& path) {
        TAVProbe& probe = engine_.Probe;
        if (probe.Open(path, "")) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            probe.GetFileSize();
            probe.Close();
        }
    }

    // The task's one termination, after which the end of the run must follow.
    TEnded RunOneTask(bool stop) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended_.clear();
        }
        engine_.StartConvert(1);
        // The Stop button pressed while the worker is setting out.
        if (stop) engine_.StopConvert();
        const bool over = loop_.RunUntil(
            [this] {
                std::lock_guard<std::mutex> guard(lock_);
                return !ended_.empty() && ended_.back().index < 0;
            },
            std::chrono::minutes(5));
        fuzz::Check(over, "the run never ended");
        std::lock_guard<std::mutex> guard(lock_);
        fuzz::Check(ended_.size() == 2 && ended_[0].index == 0, "not one termination of the task before the end");
        return ended_[0];
    }

    static void CheckResult(const TEnded& ended, const std::string& output_path, const TSettings& settings,
                            bool stopped) {
        // Unless asked to stop, it either finished or says why not.
        fuzz::Check(stopped || ended.finished || ended.exception, "a task ended neither finished nor failed");
        if (ended.exception) {
            fuzz::Check(!ended.message.empty(), "a failed task without a reason");
            return;
        }
        if (::access(output_path.c_str(), F_OK) != 0) return;  // nothing was decoded: no file is left
        if (settings.dv) {
            struct stat st {};
            fuzz::Check(::stat(output_path.c_str(), &st) == 0 && st.st_size % settings.dv_frame_bytes == 0,
                        "a DV file of broken frames");
            return;
        }
        const ardentix::test::DecodedAudio mp3 = ardentix::test::DecodeMp3(output_path);
        if (mp3.frames == 0) return;
        // A stopped run too leaves a valid, shorter file.
        fuzz::Check(mp3.ok, "an MP3 left that libmpg123 cannot decode");
        fuzz::Check(mp3.rate == settings.rate && mp3.channels == settings.channels,
                    "an MP3 at other settings than asked");
    }

    TEventLoopWindowThread loop_;
    TDAzaduVED engine_;
    std::mutex lock_;
    std::vector<TEnded> ended_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the component must outlive every exit handler.
    static TConversion* conversion = new TConversion;
    static ardentix::test::MemoryFile input("convert-input");
    const size_t rows = std::size(SettingsRows);
    conversion->Run(input.Hold(data, size), SettingsRows[size % rows], size / rows % 4 == 3);
    return 0;
}

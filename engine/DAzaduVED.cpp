#include "engine/DAzaduVED.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FFmpegThread.h"
#include "core/FormatText.h"
#include "core/LogLevel.h"
#include "core/OptionText.h"
#include "core/OutputPlace.h"
#include "engine/FFmpegTask.h"
#include "engine/LogCapture.h"

namespace {

// Whether an input can be read. A plain file's header is read through the
// libraries (unless its caller read it already), with the forced format when
// one is set; anything else (a pipe, a device) is only looked at, since
// opening it would take data or a writer's turn from the run.
bool CheckInputReadable(TCustomFFmpeg& core, const std::string& path, bool header_read, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = FFmpegErrorText(path, AVERROR(errno));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = FFmpegErrorText(path, AVERROR(EISDIR));
        return false;
    }
    if (!S_ISREG(info.st_mode) || header_read) {
        if (::access(path.c_str(), R_OK) == 0) return true;
        error = FFmpegErrorText(path, AVERROR(errno));
        return false;
    }
    if (core.ProbeInputFile(path)) return true;
    error = core.last_error;
    return false;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether an output can be made under the name, without making it: not the
// input itself, and a folder the output's temporary file can be written in.
bool CheckOutputUsable(const std::string& path, const std::string& input, std::string& error) {
    if (IsSameFile(path, input)) {
        error = FormatText("'%s' is the input file '%s' itself", path.c_str(), input.c_str());
        return false;
    }
    auto refuse = [&](int why) {
        error = FormatText("Could not open '%s': %s", path.c_str(), std::strerror(why));
        return false;
    };
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno != ENOENT) return refuse(errno);
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &info) != 0) return refuse(errno);
    if (!S_ISDIR(info.st_mode)) return refuse(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return refuse(errno);
    return true;
}

// A picture side no input goes beyond, and no sum of bands overflows.
constexpr int kLargestJudgedPicture = 1 << 16;

// The option text without its plug-ins: a plug-in is loaded and set up by the
// run only, once per task.
std::string WithoutPlugins(const std::string& text) {
    std::string kept;
    for (const TOptionPair& pair : SplitOptionText(text))
        if (pair.name != "vhook") kept += pair.name + "=" + pair.value + "\n";
    return kept;
}

TTaskFailure FailureOf(const TFFmpeg& task) {
    using Stage = TCustomFFmpeg::TFailStage;
    if (task.write_error == AVERROR(ENOSPC) || task.write_error == AVERROR(EDQUOT)) return TTaskFailure::DiskFull;
    switch (task.fail_stage) {
        case Stage::Opening: return task.output_failed ? TTaskFailure::OutputUnusable : TTaskFailure::InputUnreadable;
        case Stage::Decoding: return TTaskFailure::Decoding;
        case Stage::NothingToWrite: return TTaskFailure::NothingToWrite;
        case Stage::Placing: return TTaskFailure::Placing;
        case Stage::None:
        case Stage::Converting: break;
    }
    return TTaskFailure::Encoding;
}

}  // namespace

// Holds a component's event lock; letting it go delivers the library lines
// that arrived meanwhile.
class TEventGuard {
public:
    explicit TEventGuard(TCustomDAzaduVED& component) : component_(component) { component_.AcquireEventLock(); }
    ~TEventGuard() { component_.ReleaseEventLock(); }
    TEventGuard(const TEventGuard&) = delete;
    TEventGuard& operator=(const TEventGuard&) = delete;

private:
    TCustomDAzaduVED& component_;
};

TLogLevel CoreLevelToLogLevel(int level) {
    if (level < 0) return llQuiet;
    if (level >= 4) return llAll;
    return static_cast<TLogLevel>(level + 1);
}

TCustomDAzaduVED::TCustomDAzaduVED(TWindowThread* window)
    : thread_priority_(tpNormal), window_(window), alive_(std::make_shared<TCustomDAzaduVED*>(this)) {
    RegisterLogComponent(this);
}

TCustomDAzaduVED::~TCustomDAzaduVED() { Shutdown(); }

void TCustomDAzaduVED::Shutdown() {
    if (shut_down_) return;
    shut_down_ = true;
    {
        std::lock_guard<std::mutex> guard(events_lock_);
        on_before_hook_ = nullptr;
        on_custom_hook_ = nullptr;
        on_log_ = nullptr;
        on_preview_bitmap_ = nullptr;
        on_progress_ = nullptr;
        on_terminate_ = nullptr;
    }
    UnregisterLogComponent(this);
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        closing_ = true;
        still_to_start_ = 0;
        pending_timers_ = 0;
        alive_.reset();
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            if (task->Ending()) task->Abort();
        }
    }
    // Every worker of ours ends before the event lock and the tasks go.
    WaitFor([this] { return active_ == 0; });
    { TEventGuard pass(*this); }
    while (releasing_.load() != 0) std::this_thread::yield();
    std::vector<TFFmpeg*> tasks;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        tasks = tasks_.ExtractAll();
    }
    // Freed outside the state lock: closing a task's files may log.
    for (TFFmpeg* task : tasks) FreeTask(task);
}

// ---- properties ----

std::string TCustomDAzaduVED::LastErrorText() const {
    std::lock_guard<std::mutex> guard(error_lock_);
    return last_error_text_;
}

void TCustomDAzaduVED::SetLastErrorText(const std::string& text) {
    std::lock_guard<std::mutex> guard(error_lock_);
    last_error_text_ = text;
}

void TCustomDAzaduVED::SetLogLevel(TLogLevel value) {
    log_level_ = value;
    if (FFmpegLoader().LibLoaded(TFFmpegLib::avutil) && avutil.av_log_set_level && avutil.av_log_get_level) {
        avutil.av_log_set_level(CoreToLibLogLevel(value - 1));
        LogThreshold = LibToCoreLogLevel(avutil.av_log_get_level());
    }
}

void TCustomDAzaduVED::SetPreview(bool value) {
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            task->SetPreviewFlags(value ? 1 : 0, value ? 0 : 1);
        }
    }
    preview_ = value;
}

void TCustomDAzaduVED::SetPreviewBitmap(bool value) {
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            task->SetPreviewFlags(value ? 2 : 0, value ? 0 : 2);
        }
    }
    preview_bitmap_ = value;
}

void TCustomDAzaduVED::SetProgressInterval(int ms) { progress_interval_ = ms <= 100 ? 100 : ms; }

// ---- events ----

#define ARDX_EVENT_ACCESSORS(Type, Name, field)                      \
    Type TCustomDAzaduVED::Name() const {                            \
        std::lock_guard<std::mutex> guard(events_lock_);             \
        return field;                                                \
    }                                                                \
    void TCustomDAzaduVED::Set##Name(Type handler) {                 \
        std::lock_guard<std::mutex> guard(events_lock_);             \
        field = std::move(handler);                                  \
    }

ARDX_EVENT_ACCESSORS(TBeforeHookEvent, OnBeforeHook, on_before_hook_)
ARDX_EVENT_ACCESSORS(TCustomHookEvent, OnCustomHook, on_custom_hook_)
ARDX_EVENT_ACCESSORS(TLogEvent, OnLog, on_log_)
ARDX_EVENT_ACCESSORS(TPreviewBitmapEvent, OnPreviewBitmap, on_preview_bitmap_)
ARDX_EVENT_ACCESSORS(TProgressEvent, OnProgress, on_progress_)
ARDX_EVENT_ACCESSORS(TTerminateEvent, OnTerminate, on_terminate_)
#undef ARDX_EVENT_ACCESSORS

// ---- libraries ----

bool TCustomDAzaduVED::LoadLibraries(const std::string& folder) {
    TFFmpegLoader& loader = FFmpegLoader();
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    loader.SetLibraryPath(path);
    bool loaded = false;
    try {
        loaded = loader.LoadLibs(DefaultLibs);
    } catch (const Exception& e) {
        SetLastErrorText(e.Message);
        return false;
    }
    if (!loaded) {
        SetLastErrorText(loader.LastError());
        return false;
    }
    avutil.av_log_set_callback(&CaptureLibraryLog);
    avutil.av_log_set_level(CoreToLibLogLevel(LogLevel() - 1));
    LogThreshold = LibToCoreLogLevel(avutil.av_log_get_level());
    return true;
}

bool TCustomDAzaduVED::LibrariesLoaded() const { return FFmpegLoader().LibsLoaded(DefaultLibs); }

void TCustomDAzaduVED::UnloadLibraries() {
    StopConvert();
    WaitFor([this] { return active_ == 0 && pending_timers_ == 0; });
    // Tasks of other components, and our threads that are still on their way out.
    while (LiveTaskThreads() > 0) {
        if (window_ && window_->IsWindowThread()) window_->ProcessPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The tasks hold library objects: they go while the libraries are there.
    ClearTasks();
    Probe.Close();
    if (avutil.av_log_set_callback && avutil.av_log_default_callback)
        avutil.av_log_set_callback(avutil.av_log_default_callback);
    FFmpegLoader().UnloadLibs(DefaultLibs);
}

// ---- tasks ----

void TCustomDAzaduVED::ConnectTask(TFFmpeg* task) {
    task->OnProgress = [this](TCustomFFmpeg* sender, int frame, int fps, int duration, float quality, float bitrate,
                              int64_t size, int total) {
        DoProgress(static_cast<TFFmpeg*>(sender), frame, fps, duration, quality, bitrate, size, total);
    };
    task->OnTerminate = [this](TCustomFFmpeg* sender) { DoTerminate(static_cast<TFFmpeg*>(sender)); };
    if (window_) task->NewPreviewWindow = [window = window_](const std::string& name) { return window->NewPreviewWindow(name); };
}

bool TCustomDAzaduVED::OpenTaskInput(TFFmpeg& task, const std::string& file_name, const TInputOptions* options,
                                     std::string& error) {
    try {
        task.SetVerbosity(LogLevel() - 1);
        task.OnPreviewBitmap = [this](TCustomFFmpeg* sender, TBitmap* bitmap, int frame, int64_t pts) {
            DoPreviewBitmap(static_cast<TFFmpeg*>(sender), bitmap, frame, pts);
        };
        if (options) ApplyInputOptions(task, *options);
        if (!task.OpenInputFile(file_name)) {
            error = task.last_error;
            return false;
        }
        task.Probe.Attach(task.input_files[static_cast<size_t>(task.input_file_count - 1)].get());
        return true;
    } catch (const Exception& e) {
        error = e.Message;
        return false;
    }
}

bool TCustomDAzaduVED::OpenTaskOutput(TFFmpeg& task, const std::string& file_name, const TOutputOptions* options,
                                      std::string& error) {
    try {
        if (options) {
            ApplyOutputOptions(task, *options);
            if (options->CustomHook) {
                task.OnCustomHook = [this](TCustomFFmpeg* sender, TBitmap* bitmap, int frame, int64_t pts,
                                           bool& update, bool& stop_hook) {
                    DoCustomHook(static_cast<TFFmpeg*>(sender), bitmap, frame, pts, update, stop_hook);
                };
            } else if (options->BeforeHook) {
                task.OnBeforeHook = [this](TCustomFFmpeg* sender, THookAction& action, int64_t pts) {
                    DoBeforeHook(static_cast<TFFmpeg*>(sender), pts, action);
                };
            }
        }
        if (!task.OpenOutputFile(file_name)) {
            error = task.last_error;
            return false;
        }
        if (options) DispatchOptionText(task, options->ExtOptions, false);
        return true;
    } catch (const Exception& e) {
        error = e.Message;
        return false;
    }
}

void TCustomDAzaduVED::OpenRecordedFiles(TFFmpeg& task) {
    // The option state as AddTask found it; the run flags stay as they are.
    task.FreeFiles();
    task.ResetOptionState();
    task.expected_duration_ms = -1;
    const TOpeningSteps& steps = task.opening;
    std::string error;
    if (!OpenTaskInput(task, steps.input, steps.input_options ? &*steps.input_options : nullptr, error))
        throw FFmpegException(error);
    for (const auto& [file_name, options] : steps.outputs) {
        if (OpenTaskOutput(task, file_name, options ? &*options : nullptr, error)) continue;
        task.output_failed = true;
        throw FFmpegException(error);
    }
}

int TCustomDAzaduVED::AddTask(const std::string& file_name, TInputOptions* options) {
    auto task = std::make_unique<TFFmpeg>();
    std::string error;
    try {
        // Without the libraries there is no core to make: the probe's check names the missing one.
        TAVProbe::CheckLibraries();
        task->ReInitialize();
        if (options) {
            if (options->FileName.empty()) options->FileName = file_name;
            task->InputOptions = *options;
            task->opening.input_options = *options;
            // Refused options are told now; the run takes them again with the file.
            ApplyInputOptions(*task, task->InputOptions);
        }
        const bool header_read = options && options->HeaderRead;
        if (!CheckInputReadable(*task, file_name, header_read, error)) throw Exception(error);
        // A waiting task holds no option carriers: memory stays flat over a long list.
        task->FreeFiles();
    } catch (const Exception& e) {
        SetLastErrorText(e.Message);
        return -1;
    }
    task->opening.input = file_name;
    const uint8_t flags = static_cast<uint8_t>((Preview() ? 1 : 0) | (PreviewBitmap() ? 2 : 0));
    task->SetPreviewFlags(flags, static_cast<uint8_t>(~flags & 3));
    task->OnLog = [this](TCustomFFmpeg* sender, int level, const std::string& msg) {
        DoLog(static_cast<TFFmpeg*>(sender), level, msg);
    };
    ConnectTask(task.get());
    std::lock_guard<std::mutex> guard(state_lock_);
    task->serial = ++next_serial_;
    return tasks_.Add(task.release());
}

bool TCustomDAzaduVED::SetOutputFile(int index, const std::string& file_name, TOutputOptions* options) {
    // Not under the event lock: a handler may hold it while it waits for
    // this thread by any means. The task is marked instead, so that no run
    // starts it and no handler's removal frees it meanwhile.
    TFFmpeg* task;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        task = tasks_.Items(index);
        // Its worker owns the core now (or it has ended): no options change under it.
        if (task->EverClaimed()) {
            SetLastErrorText("The task has been started already");
            return false;
        }
        task->BeginConfiguring();
    }
    const bool opened = ConfigureOutput(task, file_name, options);
    bool kept;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        kept = task->EndConfiguring();
    }
    if (kept) return opened;
    FreeTask(task);
    SetLastErrorText("The task has been removed");
    return false;
}

bool TCustomDAzaduVED::JudgeOutput(TFFmpeg& task, const std::string& file_name, const TOutputOptions* options,
                                   std::string& error) {
    // On the task's own option state, which its run sets afresh; without the
    // input, so only what needs none is judged now.
    bool usable = false;
    try {
        task.ResetOptionState();
        // What follows the input is judged as for an input that could have it:
        // a target whose norm follows the input's rate, a crop band within the
        // input's picture. The run checks them against the input's own.
        task.frame_rate = AVRational{25, 1};
        task.frame_width = task.frame_height = kLargestJudgedPicture;
        if (options) {
            TOutputOptions judged = *options;
            judged.Notes.clear();  // told once, by the run
            judged.ExtOptions = WithoutPlugins(judged.ExtOptions);
            // The first pass of the option text holds every value; the second
            // only adds streams to an opened output.
            ApplyOutputOptions(task, judged);
        }
        usable = task.JudgeOutputFile(file_name);
        if (!usable) error = task.last_error;
    } catch (const Exception& e) {
        error = e.Message;
    }
    // A waiting task holds no option carriers.
    task.FreeFiles();
    return usable;
}

bool TCustomDAzaduVED::ConfigureOutput(TFFmpeg* task, const std::string& file_name, TOutputOptions* options) {
    std::string error;
    if (!CheckOutputUsable(file_name, task->opening.input, error)) {
        SetLastErrorText(error);
        return false;
    }
    if (options && options->FileName.empty()) options->FileName = file_name;
    if (!JudgeOutput(*task, file_name, options, error)) {
        SetLastErrorText(error);
        return false;
    }
    std::optional<TOutputOptions> copy;
    if (options) {
        task->OutputOptions = *options;
        copy = *options;
    } else {
        task->OutputOptions = TOutputOptions{};
    }
    task->opening.outputs.emplace_back(file_name, std::move(copy));
    // With an output the task can run: its files are opened then. Without
    // one its start check refuses it at once.
    task->DeferredOpen = [this, task] { OpenRecordedFiles(*task); };
    return true;
}

void TCustomDAzaduVED::FreeTask(TFFmpeg* task) {
    // Its lines belong to no task of the list any more.
    task->OnLog = nullptr;
    delete task;
}

void TCustomDAzaduVED::TakeOut(std::vector<TFFmpeg*> removed) {
    std::vector<TFFmpeg*> to_free;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        for (TFFmpeg* task : removed) {
            // SetOutputFile at work on it, or its worker, frees it.
            const bool ending = task->Ending();
            if (task->TakeOut())
                to_free.push_back(task);
            else if (ending)
                task->Abort();
        }
    }
    for (TFFmpeg* task : to_free) FreeTask(task);
}

bool TCustomDAzaduVED::InListLocked(const TFFmpeg* task) const {
    return task->index >= 0 && task->index < tasks_.Count() && tasks_.Items(task->index) == task;
}

void TCustomDAzaduVED::RaiseRemovedTermination(TFFmpeg* task) {
    // Its one termination comes now, under the index it has at this moment;
    // its worker's own end then raises nothing. A task that ended already
    // (its end waiting for the event lock) tells how it ended.
    TTerminateInfo info;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        // A handler of an earlier removal may have removed it, with its event.
        if (!task->OwesTermination() || !InListLocked(task)) return;
        task->Detach();
        task->Abort();
        info = task->terminated ? TTerminateInfo{task->index, task->finished, task->exception, task->message}
                                : TTerminateInfo{task->index, false, false, ""};
    }
    if (const TTerminateEvent handler = OnTerminate()) handler(info.Index, info.Finished, info.Exception, info.Message);
}

void TCustomDAzaduVED::RemoveTask(int index) {
    // Under the event lock: no handler sees indices shift under it, and no
    // started task's end is taken in (so none of them is freed) meanwhile.
    TEventGuard events(*this);
    TFFmpeg* task;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        task = tasks_.Items(index);
    }
    RaiseRemovedTermination(task);
    {
        // The handler may have removed it (or others) meanwhile.
        std::lock_guard<std::mutex> guard(state_lock_);
        if (!InListLocked(task)) return;
        tasks_.Extract(task->index);
    }
    TakeOut({task});
}

void TCustomDAzaduVED::ClearTasks() {
    TEventGuard events(*this);
    std::vector<TFFmpeg*> owed;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        // Nothing of this run starts any more, not even by a timer already set.
        still_to_start_ = 0;
        ++run_serial_;
        thread_count_ = 0;
        for (int i = 0; i < tasks_.Count(); ++i)
            if (tasks_.Items(i)->OwesTermination()) owed.push_back(tasks_.Items(i));
    }
    for (TFFmpeg* task : owed) RaiseRemovedTermination(task);
    std::vector<TFFmpeg*> removed;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        removed = tasks_.ExtractAll();
        thread_count_ = 0;
    }
    TakeOut(std::move(removed));
    SetLastErrorText("");
}

int TCustomDAzaduVED::TaskCount() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Count();
}

TFFmpeg* TCustomDAzaduVED::Task(int index) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Items(index);
}

TTaskId TCustomDAzaduVED::TaskId(int index) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Items(index)->serial;
}

int TCustomDAzaduVED::IndexOfTask(TTaskId id) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    const TFFmpeg* task = tasks_.FindBySerial(id);
    return task ? task->index : -1;
}

TTaskResult TCustomDAzaduVED::TaskResult(int index) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    const TFFmpeg& task = *tasks_.Items(index);
    TTaskResult result;
    result.Id = task.serial;
    // A task removed while it ran is told before its worker has let go of it:
    // nothing of its run is read then.
    if (!task.terminated) {
        result.Began = task.EverClaimed();
        return result;
    }
    result.Began = task.began;
    if (task.exception) {
        result.End = TTaskEnd::Failed;
        result.Failure = FailureOf(task);
        result.Message = task.message;
        return result;
    }
    result.End = task.finished ? TTaskEnd::Finished : TTaskEnd::Stopped;
    result.PlacedOutput = task.placed_output;
    result.MadeBefore = task.made_before;
    result.ConvertedMs = task.converted_ms;
    result.ExpectedMs = task.ExpectedOutputMs();
    result.EndedShort = task.EndedShort();
    return result;
}

bool TCustomDAzaduVED::Running() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return run_open_;
}

// ---- runs ----

TFFmpeg* TCustomDAzaduVED::ClaimNextLocked() {
    for (int i = 0; i < tasks_.Count(); ++i) {
        TFFmpeg* task = tasks_.Items(i);
        if (task->state != TTaskState::Waiting || task->run != run_serial_) continue;
        task->Claim();
        ++active_;
        return task;
    }
    still_to_start_ = 0;
    return nullptr;
}

void TCustomDAzaduVED::StartNextLocked(std::vector<TFFmpeg*>& to_start) {
    if (still_to_start_ <= 0 || closing_) return;
    if (HoldStartLocked()) return;
    --still_to_start_;
    if (thread_count_ <= 0 && window_) {
        ++pending_timers_;
        std::weak_ptr<TCustomDAzaduVED*> alive = alive_;
        const uint64_t run = run_serial_;
        window_->OneShotTimer(100, [alive, run] {
            if (auto self = alive.lock()) (*self)->TimerFired(run);
        });
        return;
    }
    if (TFFmpeg* task = ClaimNextLocked()) to_start.push_back(task);
}

void TCustomDAzaduVED::StartConvert(int thread_count) {
    ClearLogLines();
    // From the claim until its thread is made, a task's end cannot be taken
    // in (and so a handler cannot free it) under the event lock.
    TEventGuard events(*this);
    std::vector<TFFmpeg*> to_start;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        ++run_serial_;
        ended_count_ = 0;
        thread_count_ = thread_count;
        still_to_start_ = 0;
        stop_asked_ = false;
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            if (task->EverClaimed()) continue;
            task->run = run_serial_;
            ++still_to_start_;
        }
        if (still_to_start_ == 0) return;
        run_open_ = true;
        int started = 0;
        do {
            StartNextLocked(to_start);
            ++started;
        } while (still_to_start_ > 0 && started < thread_count);
    }
    for (TFFmpeg* task : to_start) StartTask(task);
}

bool TCustomDAzaduVED::JoinRun(int index) {
    // As in StartConvert: a task claimed here cannot end and be freed before its thread is made.
    TEventGuard events(*this);
    std::vector<TFFmpeg*> to_start;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        TFFmpeg* task = tasks_.Items(index);
        if (!run_open_ || stop_asked_ || closing_ || task->EverClaimed()) return false;
        if (task->run == run_serial_) return true;
        task->run = run_serial_;
        ++still_to_start_;
        // A place is free when fewer tasks run, wait for a timer or are held by a pause than the run has.
        if (active_ + pending_timers_ + held_starts_ < std::max(thread_count_, 1)) StartNextLocked(to_start);
    }
    for (TFFmpeg* task : to_start) StartTask(task);
    return true;
}

void TCustomDAzaduVED::StartTask(TFFmpeg* task) {
    // The task is claimed and not yet reported: only its termination frees it.
    task->progress_interval = static_cast<int64_t>(ProgressInterval()) * 1000;
    task->SetVerbosity(LogLevel() - 1);
    TFFmpegThread* thread = task->Start(true, ThreadPriority());
    if (!thread) return;  // ended already (start checks), or ending
    task->thread_id = thread->ThreadID();
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (task->Detached() || closing_) task->Abort();
    }
    thread->Resume();
}

bool TCustomDAzaduVED::BeginOnWindowThread(TFFmpeg* task) {
    task->progress_interval = static_cast<int64_t>(ProgressInterval()) * 1000;
    task->SetVerbosity(LogLevel() - 1);
    task->thread_id = window_->ThreadId();
    bool dropped;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        dropped = task->Detached() || closing_;
    }
    if (dropped) {
        task->Stop();
        return false;
    }
    return task->Begin();
}

void TCustomDAzaduVED::TimerFired(uint64_t run) {
    TFFmpeg* task = nullptr;
    bool run_here = false;
    {
        // As in StartConvert: the claimed task cannot end and be freed
        // elsewhere before it runs.
        TEventGuard events(*this);
        bool end = false;
        {
            std::lock_guard<std::mutex> guard(state_lock_);
            if (pending_timers_ <= 0) return;
            --pending_timers_;
            // A timer of a run that was cleared since starts nothing.
            if (!closing_ && run == run_serial_) {
                // A timer set before a pause gives its start back to the run.
                if (paused_) ++still_to_start_;
                task = HoldStartLocked() ? nullptr : ClaimNextLocked();
            }
            if (!task) end = RunDoneLocked();
            state_changed_.notify_all();
        }
        if (task)
            run_here = BeginOnWindowThread(task);
        else if (end)
            RaiseEndOfRun();
    }
    // Running now, so only its own end frees it; its events take the lock again.
    if (run_here) task->Run();
}

bool TCustomDAzaduVED::RunDoneLocked() {
    if (!run_open_) return false;
    if (still_to_start_ > 0) {
        bool fresh = false;
        for (int i = 0; i < tasks_.Count() && !fresh; ++i)
            fresh = tasks_.Items(i)->state == TTaskState::Waiting && tasks_.Items(i)->run == run_serial_;
        if (!fresh) still_to_start_ = 0;
    }
    if (active_ > 0 || pending_timers_ > 0 || still_to_start_ > 0) return false;
    run_open_ = false;
    paused_ = false;
    held_starts_ = 0;
    stop_asked_ = false;
    return true;
}

void TCustomDAzaduVED::RaiseEndOfRun() {
    if (const TTerminateEvent handler = OnTerminate()) handler(-1, true, false, "");
    ClearLogLines();
}

void TCustomDAzaduVED::StopConvert() {
    // Under the event lock no task's end is being taken in, so none of the
    // tasks below can be freed while they are stopped.
    TEventGuard events(*this);
    std::vector<TFFmpeg*> to_stop;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        still_to_start_ = 0;
        stop_asked_ = true;
        // Whether a run was going before this call: the first task ended here opens one.
        const bool run_going = run_open_;
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            if (task->state == TTaskState::Reported || task->Configuring()) continue;
            // A task added during the run is its caller's until it joins the
            // run: it may be between AddTask and SetOutputFile.
            if (task->state == TTaskState::Waiting && run_going && task->run != run_serial_) continue;
            if (task->state == TTaskState::Waiting) {
                // Never started: it ends at once, with the others, on one thread.
                task->Claim();
                ++active_;
                run_open_ = true;
            }
            to_stop.push_back(task);
        }
    }
    // Outside the state lock: the never-started ones end on one thread (or
    // right here when none can be had), however long the queue.
    TCustomFFmpeg::StopAll(std::vector<TCustomFFmpeg*>(to_stop.begin(), to_stop.end()));
}

bool TCustomDAzaduVED::HoldStartLocked() {
    if (!paused_) return false;
    ++held_starts_;
    return true;
}

void TCustomDAzaduVED::PauseConvert() {
    // Under the event lock no task starts or ends while the gates close.
    TEventGuard events(*this);
    std::lock_guard<std::mutex> guard(state_lock_);
    if (!run_open_ || paused_) return;
    paused_ = true;
    if (thread_count_ <= 0 && window_) return;  // the running task is on the window's thread
    for (int i = 0; i < tasks_.Count(); ++i) {
        TFFmpeg* task = tasks_.Items(i);
        if (task->Ending()) task->pause_gate.Close();
    }
}

void TCustomDAzaduVED::ResumeConvert() {
    TEventGuard events(*this);
    std::vector<TFFmpeg*> to_start;
    bool end = false;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (!paused_) return;
        paused_ = false;
        for (int i = 0; i < tasks_.Count(); ++i) tasks_.Items(i)->pause_gate.Open();
        for (int held = std::exchange(held_starts_, 0); held > 0; --held) StartNextLocked(to_start);
        // Tasks removed during the pause may have left nothing to start.
        if (to_start.empty()) end = RunDoneLocked();
        state_changed_.notify_all();
    }
    for (TFFmpeg* task : to_start) StartTask(task);
    if (end) RaiseEndOfRun();
}

bool TCustomDAzaduVED::Paused() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return paused_;
}

void TCustomDAzaduVED::WaitFor(const std::function<bool()>& pred) {
    std::unique_lock<std::mutex> guard(state_lock_);
    while (!pred()) {
        if (window_ && window_->IsWindowThread()) {
            // Workers may be waiting for the window's thread (a preview picture).
            guard.unlock();
            window_->ProcessPending();
            guard.lock();
            if (pred()) break;
            state_changed_.wait_for(guard, std::chrono::milliseconds(10));
        } else {
            state_changed_.wait(guard);
        }
    }
}

// ---- events raised for the tasks ----

int TCustomDAzaduVED::IndexOf(TFFmpeg* task, bool& detached) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    detached = task->Detached();
    return task->index;
}

void TCustomDAzaduVED::DoBeforeHook(TFFmpeg* task, int64_t APTS, THookAction& AHookAction) {
    const TBeforeHookEvent handler = OnBeforeHook();
    if (!handler) return;
    bool detached;
    const int index = IndexOf(task, detached);
    if (!detached) handler(index, APTS, AHookAction);
}

void TCustomDAzaduVED::DoCustomHook(TFFmpeg* task, TBitmap* ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                                    bool& AStopHook) {
    const TCustomHookEvent handler = OnCustomHook();
    if (!handler) return;
    bool detached;
    const int index = IndexOf(task, detached);
    if (!detached) handler(index, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomDAzaduVED::DoLog(TFFmpeg* task, int core_level, const std::string& message) {
    // Nobody listens: no lock is taken at all.
    if (!OnLog()) return;
    uint64_t serial = 0;
    if (task) {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (task->Detached()) return;
        serial = task->serial;
    }
    QueueLine(serial, core_level, message);
}

void TCustomDAzaduVED::DeliverLibraryLine(std::thread::id thread, const void* owner, int core_level,
                                          const std::string& line) {
    if (!OnLog()) return;
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        TFFmpeg* task = tasks_.FindByThreadID(thread);
        if (!task) task = tasks_.FindRunning(owner);
        if (task) serial = task->serial;
    }
    QueueLine(serial, core_level, line);
}

void TCustomDAzaduVED::QueueLine(uint64_t serial, int core_level, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(pending_lock_);
        pending_lines_.push_back(TPendingLine{serial, core_level, text});
    }
    // A line never waits for the event lock: its holder may be waiting for the
    // thread that logged (a handler blocked on the window's thread, or on a
    // second component's handler that logs in turn). Mostly the lock is free
    // (or ours already) and the line goes out at once, on this thread;
    // otherwise its holder delivers it when letting go.
    if (event_lock_.try_lock()) ReleaseEventLock();
}

void TCustomDAzaduVED::AcquireEventLock() {
    if (window_ && window_->IsWindowThread()) {
        // The holder may be a handler waiting for the window's thread.
        while (!event_lock_.try_lock()) {
            window_->ProcessPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } else {
        event_lock_.lock();
    }
    // Lines that came before go out before what the holder raises.
    DeliverPendingLines();
}

void TCustomDAzaduVED::DeliverPendingLines() {
    for (;;) {
        std::vector<TPendingLine> lines;
        {
            std::lock_guard<std::mutex> guard(pending_lock_);
            if (pending_lines_.empty()) return;
            lines.swap(pending_lines_);
        }
        const TLogEvent handler = OnLog();
        for (const TPendingLine& line : lines) {
            if (!handler) continue;
            // The index the task has now: removals since the line was written count.
            int index = -1;
            if (line.serial != 0) {
                std::lock_guard<std::mutex> guard(state_lock_);
                const TFFmpeg* task = tasks_.FindBySerial(line.serial);
                if (!task || task->Detached()) continue;
                index = task->index;
            }
            try {
                handler(index, CoreLevelToLogLevel(line.core_level), line.text);
            } catch (...) {
                // A log handler's failure must not take the lock holder down with it.
            }
        }
    }
}

void TCustomDAzaduVED::ReleaseEventLock() {
    for (;;) {
        DeliverPendingLines();
        // Counted, so that the component is not destroyed under the look below.
        ++releasing_;
        event_lock_.unlock();
        bool more;
        {
            std::lock_guard<std::mutex> guard(pending_lock_);
            more = !pending_lines_.empty();
        }
        // A line came in after the last look: deliver it unless someone else
        // holds the lock now (then they will).
        const bool again = more && event_lock_.try_lock();
        --releasing_;  // the last touch of the component unless again
        if (!again) return;
    }
}

void TCustomDAzaduVED::DoPreviewBitmap(TFFmpeg* task, TBitmap* ABitmap, int AFrameNumber, int64_t APTS) {
    const TPreviewBitmapEvent handler = OnPreviewBitmap();
    if (!handler) return;
    bool detached;
    const int index = IndexOf(task, detached);
    if (detached) return;
    if (window_ && !window_->IsWindowThread())
        window_->RunAndWait([&] { handler(index, ABitmap, AFrameNumber, APTS); });
    else
        handler(index, ABitmap, AFrameNumber, APTS);
}

void TCustomDAzaduVED::DoProgress(TFFmpeg* task, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                                  float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration) {
    if (!OnProgress()) return;
    // The index is read under the event lock: a handler before us may have
    // removed tasks, and none can while ours runs.
    TEventGuard lock(*this);
    bool detached;
    const int index = IndexOf(task, detached);
    if (detached) return;
    if (const TProgressEvent handler = OnProgress())
        handler(index, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize, ATotalOutputDuration);
}

void TCustomDAzaduVED::DoTerminate(TFFmpeg* task) {
    TEventGuard lock(*this);
    if (!task) {
        RaiseEndOfRun();
        return;
    }
    TTerminateInfo info;
    bool detached;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        detached = task->Detached();
        if (!detached) {
            info = TTerminateInfo{task->index, task->finished, task->exception, task->message};
            // The input it borrowed is gone with the run.
            task->Probe.Close();
            task->Report();  // from here on the application may free it
        }
    }
    // A removed task had its termination raised when it was removed; it is ours to free.
    if (detached) FreeTask(task);

    // A throwing handler still lets the run go on and end: the counting and
    // the next start are done before its exception goes on to our caller.
    std::exception_ptr failure;
    if (!detached) {
        if (const TTerminateEvent handler = OnTerminate()) {
            try {
                handler(info.Index, info.Finished, info.Exception, info.Message);
            } catch (...) {
                failure = std::current_exception();
            }
        }
    }
    std::vector<TFFmpeg*> to_start;
    bool end = false;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        ++ended_count_;
        --active_;
        StartNextLocked(to_start);
        if (to_start.empty()) end = RunDoneLocked();
        state_changed_.notify_all();
    }
    for (TFFmpeg* next : to_start) StartTask(next);
    if (end) {
        try {
            RaiseEndOfRun();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

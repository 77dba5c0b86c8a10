#include "engine/DAzaduVED.h"

#include <chrono>

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"
#include "core/LogLevel.h"
#include "core/OptionText.h"
#include "engine/LogCapture.h"

// Holds a component's event lock; letting it go delivers the library lines
// that arrived meanwhile.
class TEventGuard {
public:
    explicit TEventGuard(TCustomDAzaduVED& component) : component_(component) { component_.event_lock_.lock(); }
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
    : window_(window), alive_(std::make_shared<TCustomDAzaduVED*>(this)) {
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
            if (task->claimed && !task->reported) task->Abort();
        }
    }
    // Every worker of ours ends before the event lock and the tasks go.
    WaitFor([this] { return active_ == 0; });
    { TEventGuard pass(*this); }
    while (releasing_.load() != 0) std::this_thread::yield();
    std::lock_guard<std::mutex> guard(state_lock_);
    tasks_.Clear();
}

// ---- properties ----

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
            task->preview_flags = value ? (task->preview_flags | 1) : (task->preview_flags & ~1);
        }
    }
    preview_ = value;
}

void TCustomDAzaduVED::SetPreviewBitmap(bool value) {
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        for (int i = 0; i < tasks_.Count(); ++i) {
            TFFmpeg* task = tasks_.Items(i);
            task->preview_flags = value ? (task->preview_flags | 2) : (task->preview_flags & ~2);
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
        last_error_text_ = e.Message;
        return false;
    }
    if (!loaded) {
        last_error_text_ = loader.LastError();
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
}

int TCustomDAzaduVED::AddTask(const std::string& file_name, TInputOptions* options) {
    auto task = std::make_unique<TFFmpeg>();
    task->OnLog = [this](TCustomFFmpeg* sender, int level, const std::string& msg) {
        DoLog(static_cast<TFFmpeg*>(sender), level, msg);
    };
    try {
        task->ReInitialize();
        task->SetVerbosity(LogLevel() - 1);
        task->preview_flags = static_cast<uint8_t>((task->preview_flags & ~3) | (Preview() ? 1 : 0) |
                                                   (PreviewBitmap() ? 2 : 0));
        task->OnPreviewBitmap = [this](TCustomFFmpeg* sender, TBitmap* bitmap, int frame, int64_t pts) {
            DoPreviewBitmap(static_cast<TFFmpeg*>(sender), bitmap, frame, pts);
        };
        if (options) {
            if (options->FileName.empty()) options->FileName = file_name;
            task->InputOptions = *options;
            ApplyInputOptions(*task, *options);
        } else {
            task->InputOptions = TInputOptions{};
        }
        if (!task->OpenInputFile(file_name)) {
            task->OnLog = nullptr;
            last_error_text_ = task->last_error;
            return -1;
        }
        task->Probe.Attach(task->input_files[static_cast<size_t>(task->input_file_count - 1)].get());
        ConnectTask(task.get());
    } catch (const Exception& e) {
        last_error_text_ = e.Message;
        return -1;
    }
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Add(task.release());
}

bool TCustomDAzaduVED::SetOutputFile(int index, const std::string& file_name, TOutputOptions* options) {
    TFFmpeg* task;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        task = tasks_.Items(index);
        // Its worker owns the core now (or it has ended): no options change under it.
        if (task->claimed) {
            last_error_text_ = "The task has been started already";
            return false;
        }
    }
    try {
        if (options) {
            if (options->FileName.empty()) options->FileName = file_name;
            task->OutputOptions = *options;
            ApplyOutputOptions(*task, *options);
            if (options->CustomHook) {
                task->OnCustomHook = [this](TCustomFFmpeg* sender, TBitmap* bitmap, int frame, int64_t pts,
                                            bool& update, bool& stop_hook) {
                    DoCustomHook(static_cast<TFFmpeg*>(sender), bitmap, frame, pts, update, stop_hook);
                };
            } else if (options->BeforeHook) {
                task->OnBeforeHook = [this](TCustomFFmpeg* sender, THookAction& action, int64_t pts) {
                    DoBeforeHook(static_cast<TFFmpeg*>(sender), pts, action);
                };
            }
        } else {
            task->OutputOptions = TOutputOptions{};
        }
        const bool opened = task->OpenOutputFile(file_name);
        if (!opened) {
            last_error_text_ = task->last_error;
            return false;
        }
        if (options) DispatchOptionText(*task, options->ExtOptions, false);
        return true;
    } catch (const Exception& e) {
        last_error_text_ = e.Message;
        return false;
    }
}

void TCustomDAzaduVED::RemoveTask(int index) {
    std::lock_guard<std::mutex> guard(state_lock_);
    tasks_.Delete(index);
}

void TCustomDAzaduVED::ClearTasks() {
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        tasks_.Clear();
        thread_count_ = 0;
    }
    last_error_text_.clear();
}

int TCustomDAzaduVED::TaskCount() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Count();
}

TFFmpeg* TCustomDAzaduVED::Task(int index) const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return tasks_.Items(index);
}

bool TCustomDAzaduVED::Running() const {
    std::lock_guard<std::mutex> guard(state_lock_);
    return run_open_;
}

// ---- runs ----

TFFmpeg* TCustomDAzaduVED::ClaimNextLocked() {
    for (int i = 0; i < tasks_.Count(); ++i) {
        TFFmpeg* task = tasks_.Items(i);
        if (task->claimed) continue;
        task->claimed = true;
        ++active_;
        return task;
    }
    still_to_start_ = 0;
    return nullptr;
}

void TCustomDAzaduVED::StartNextLocked(std::vector<TFFmpeg*>& to_start) {
    if (still_to_start_ <= 0 || closing_) return;
    --still_to_start_;
    if (thread_count_ <= 0 && window_) {
        ++pending_timers_;
        std::weak_ptr<TCustomDAzaduVED*> alive = alive_;
        window_->OneShotTimer(100, [alive] {
            if (auto self = alive.lock()) (*self)->TimerFired();
        });
        return;
    }
    if (TFFmpeg* task = ClaimNextLocked()) to_start.push_back(task);
}

void TCustomDAzaduVED::StartConvert(int thread_count) {
    ClearLogLines();
    std::vector<TFFmpeg*> to_start;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        ended_count_ = 0;
        thread_count_ = thread_count;
        still_to_start_ = 0;
        for (int i = 0; i < tasks_.Count(); ++i)
            if (!tasks_.Items(i)->claimed) ++still_to_start_;
        if (still_to_start_ == 0) return;
        run_open_ = true;
        int started = 0;
        do {
            StartNextLocked(to_start);
            ++started;
        } while (still_to_start_ > 0 && started < thread_count);
    }
    for (TFFmpeg* task : to_start) StartTask(task, true);
}

void TCustomDAzaduVED::StartTask(TFFmpeg* task, bool in_thread) {
    // The task is claimed and not yet reported: only its termination frees it.
    task->progress_interval = static_cast<int64_t>(ProgressInterval()) * 1000;
    task->SetVerbosity(LogLevel() - 1);
    if (!in_thread) {
        task->thread_id = window_->ThreadId();
        bool dropped;
        {
            std::lock_guard<std::mutex> guard(state_lock_);
            dropped = task->detached || closing_;
        }
        if (dropped)
            task->Stop();
        else
            task->Start(false, ThreadPriority());
        return;
    }
    TFFmpegThread* thread = task->Start(true, ThreadPriority());
    if (!thread) return;  // ended already (start checks), or ending
    task->thread_id = thread->ThreadID();
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (task->detached || closing_) task->Abort();
    }
    thread->Resume();
}

void TCustomDAzaduVED::TimerFired() {
    TFFmpeg* task = nullptr;
    bool end = false;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (pending_timers_ <= 0) return;
        --pending_timers_;
        if (!closing_) task = ClaimNextLocked();
        if (!task) end = RunDoneLocked();
        state_changed_.notify_all();
    }
    if (task) {
        StartTask(task, false);
    } else if (end) {
        TEventGuard lock(*this);
        RaiseEndOfRun();
    }
}

bool TCustomDAzaduVED::RunDoneLocked() {
    if (!run_open_) return false;
    if (still_to_start_ > 0) {
        bool fresh = false;
        for (int i = 0; i < tasks_.Count() && !fresh; ++i) fresh = !tasks_.Items(i)->claimed;
        if (!fresh) still_to_start_ = 0;
    }
    if (active_ > 0 || pending_timers_ > 0 || still_to_start_ > 0) return false;
    run_open_ = false;
    return true;
}

void TCustomDAzaduVED::RaiseEndOfRun() {
    if (const TTerminateEvent handler = OnTerminate()) handler(-1, true, false, "");
    ClearLogLines();
}

void TCustomDAzaduVED::StopConvert() {
    std::lock_guard<std::mutex> guard(state_lock_);
    still_to_start_ = 0;
    for (int i = 0; i < tasks_.Count(); ++i) {
        TFFmpeg* task = tasks_.Items(i);
        if (task->reported) continue;
        if (!task->claimed) {
            // Never started: it ends at once on a thread of its own.
            task->claimed = true;
            ++active_;
            run_open_ = true;
        }
        task->Stop();
    }
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
    detached = task->detached;
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
    int index = -1;
    if (task) {
        bool detached;
        index = IndexOf(task, detached);
        if (detached) return;
    }
    RaiseLog(index, core_level, message);
}

void TCustomDAzaduVED::RaiseLog(int index, int core_level, const std::string& message) {
    TEventGuard lock(*this);
    if (const TLogEvent handler = OnLog()) handler(index, CoreLevelToLogLevel(core_level), message);
}

void TCustomDAzaduVED::DeliverLibraryLine(std::thread::id thread, int core_level, const std::string& line) {
    if (!OnLog()) return;
    int index = -1;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        if (TFFmpeg* task = tasks_.FindByThreadID(thread)) index = task->index;
    }
    {
        std::lock_guard<std::mutex> guard(pending_lock_);
        pending_lines_.push_back(TPendingLine{index, core_level, line});
    }
    // Mostly the lock is free (or ours already) and the line goes out at once,
    // on this thread; otherwise its holder delivers it when letting go.
    if (event_lock_.try_lock()) ReleaseEventLock();
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
            try {
                handler(line.index, CoreLevelToLogLevel(line.core_level), line.text);
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
    bool detached;
    const int index = IndexOf(task, detached);
    if (detached) return;
    TEventGuard lock(*this);
    if (const TProgressEvent handler = OnProgress())
        handler(index, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize, ATotalOutputDuration);
}

void TCustomDAzaduVED::DoTerminate(TFFmpeg* task) {
    if (!task) {
        TEventGuard lock(*this);
        RaiseEndOfRun();
        return;
    }
    TTerminateInfo info;
    bool detached;
    {
        std::lock_guard<std::mutex> guard(state_lock_);
        detached = task->detached;
        if (!detached) {
            info = TTerminateInfo{task->index, task->finished, task->exception, task->message};
            // The input it borrowed is gone with the run.
            task->Probe.Close();
            task->reported = true;  // from here on the application may free it
        }
    }
    // A task removed while it ran is ours to free; its index names another task now.
    if (detached) delete task;

    TEventGuard lock(*this);
    if (!detached) {
        if (const TTerminateEvent handler = OnTerminate())
            handler(info.Index, info.Finished, info.Exception, info.Message);
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
    for (TFFmpeg* next : to_start) StartTask(next, true);
    if (end) RaiseEndOfRun();
}

#pragma once
// The engine component: a list of transcoding tasks, run a given number at a
// time on worker threads (or one after another on the window's thread), with
// progress, termination, log, hook and preview events.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/TaskList.h"
#include "engine/TaskOptions.h"
#include "engine/TaskResult.h"
#include "engine/WindowThread.h"
#include "probe/AVProbe.h"

// The types of the transcoder core that the events and properties name; a
// caller that looks inside a task includes engine/FFmpegTask.h, one that uses
// the enumerations' values core/FFmpeg.h or core/FFmpegThread.h.
class TFFmpeg;
class TBitmap;
enum THookAction : int;
enum TConvertPriority : int;

enum TLogLevel : int { llQuiet = 0, llError = 1, llInfo = 2, llDebug = 3, llAll = 4 };

// AIndex is the task's position in the task list, or -1 for no task and for
// the end of a run.
using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                                            bool& AUpdate, bool& AStopHook)>;
using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
using TPreviewBitmapEvent = std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber, int64_t APTS)>;
using TProgressEvent = std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                                          float AQuality, float ABitRate, int64_t ACurrentSize,
                                          int ATotalOutputDuration)>;
using TTerminateEvent = std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;

// The values of one OnProgress call.
struct TProgressInfo {
    int Index = -1;
    int FrameNumber = -1;          // frames encoded on the first video output; -1 without video
    int FPS = -1;                  // -1 without video
    int CurrentDuration = 0;       // milliseconds of output reached
    float Quality = -1.0f;         // -1 without video
    float BitRate = 0;             // kbit/s
    int64_t CurrentSize = 0;       // bytes written to the first output
    int TotalOutputDuration = -1;  // milliseconds, -1 when unknown
};

// The values of one OnTerminate call.
struct TTerminateInfo {
    int Index = -1;          // -1: the end of the run
    bool Finished = false;   // the transcode reached its normal end without a stop
    bool Exception = false;  // an error ended the task
    std::string Message;     // the error's text
};

// Core level -> TLogLevel: below 0 quiet, 0..3 give level + 1, 4 and above all.
TLogLevel CoreLevelToLogLevel(int level);

// Threads, locks and what a handler may do.
//
// Every operation below is meant for the window's thread (the thread of the
// TWindowThread given at creation), or for an event handler running inside
// one of the component's events.
//
// OnProgress, OnTerminate: on the thread that runs the task (its worker; the
// window's thread with a thread count of 0), one at a time per component,
// under the component's event lock. The next task of a run is started, and
// the end-of-run OnTerminate (index -1, finished True) is raised, inside the
// same locked section on the thread of the task that ended last.
// OnLog: under the same event lock, mostly on the thread that wrote the line;
// a line never waits for the lock, so when another thread holds it that
// thread delivers the line as it lets go. Lines keep their order per thread
// and come before the event that follows them on that thread. Library lines
// written by a task's threads (its worker and its encoder's) carry its index.
// OnPreviewBitmap: on the window's thread, without the event lock.
// OnBeforeHook, OnCustomHook: on the task's worker, without any lock, when
// the task's output record asks for them (BeforeHook, CustomHook). The bitmap
// of OnCustomHook and OnPreviewBitmap is the task's own, valid during the call
// only; OnCustomHook may paint on it (its canvas lock is held) and throw to
// leave the picture as it was.
//
// A handler may: call StopConvert, PauseConvert, ClearTasks and RemoveTask
// (the task that is ending included), read TaskCount and Task, set events and properties,
// and wait for the window's thread. AddTask and SetOutputFile never wait for
// the event lock. StopConvert, RemoveTask, ClearTasks, UnloadLibraries and
// the destructor do (so that no handler sees the list change under it), and
// while they wait they run the routines handed to TWindowThread::RunAndWait;
// a handler that waits for the window's thread by other means (a queue of
// the application's own) must be let go before the window calls them.
// A handler must not: wait for another thread that is itself waiting to raise
// an event of this component (a second worker of the run), call StartConvert,
// AddTask or SetOutputFile, or destroy the component.
// An exception thrown by OnTerminate goes on to whoever called into the
// component (on the window's thread), after the run has counted the task and
// started the next one; on a worker it ends that thread quietly. Exceptions
// thrown by OnLog are dropped.
//
// Indices: AIndex is the task's position at the moment the handler runs; no
// task is added or removed while a handler runs except by that handler
// itself. A task removed (RemoveTask, ClearTasks) while it is started and not
// yet reported gets its one OnTerminate at once, inside the removing call,
// under the index it had before the removal: finished False (or how it ended,
// when it had ended and was waiting for the event lock), exception False;
// its worker is asked to stop, and its later end raises nothing. Log lines
// and progress records of a removed task are dropped.
//
// Files: AddTask and SetOutputFile answer whether the input can be read and
// the output made. AddTask reads the input's header with the libraries (its
// format, not its streams) and closes it again, unless the record says its
// caller did (HeaderRead). SetOutputFile checks the output's name and folder
// and applies the record to judge what needs no input (the format, the codec
// and bitstream filter names, the option values); nothing is created. A
// task opens its files with the libraries when it starts, so a waiting task
// holds no open file and no option carriers; a failure there ends the task
// with AException True and the reason in AMessage, and the run goes on.
//
// Runs and stops: StartConvert counts in the tasks not started yet; a task
// added during a run waits until its caller says it is set up (JoinRun) or
// for the next StartConvert, and StopConvert leaves it alone until then.
class TCustomDAzaduVED {
public:
    // window: the thread that owns the component (timers for thread count 0,
    // preview pictures); none: thread count 0 runs tasks on a worker one at a time.
    explicit TCustomDAzaduVED(TWindowThread* window = nullptr);
    virtual ~TCustomDAzaduVED();
    TCustomDAzaduVED(const TCustomDAzaduVED&) = delete;
    TCustomDAzaduVED& operator=(const TCustomDAzaduVED&) = delete;

    // ---- properties ----
    const std::string& About() const { return about_; }
    void SetAbout(const std::string& text) { about_ = text; }
    std::string Version() const { return "2.3"; }
    // The reason of the last failed LoadLibraries, AddTask or SetOutputFile.
    // A copy: a handler's ClearTasks empties it from a worker.
    std::string LastErrorText() const;

    TLogLevel LogLevel() const { return log_level_.load(); }
    void SetLogLevel(TLogLevel value);
    // Pictures of the video being encoded, at most ten a second per task:
    // Preview shows them in a preview window per task made by the window
    // thread (TWindowThread::NewPreviewWindow; none: nothing is shown), and a
    // window the user closes ends that task's previews until Preview is set
    // again; PreviewBitmap hands them to OnPreviewBitmap instead. Both may be
    // changed at any time; turning Preview off closes the windows.
    bool Preview() const { return preview_.load(); }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return preview_bitmap_.load(); }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return progress_interval_.load(); }
    void SetProgressInterval(int ms);  // 100 or less is stored as 100
    TConvertPriority ThreadPriority() const { return thread_priority_.load(); }
    void SetThreadPriority(TConvertPriority value) { thread_priority_ = value; }

    // ---- events ----
    // Setting an event is safe at any time, also from inside a handler; a
    // handler is copied before it is called, so one being replaced may still
    // run once.
    TBeforeHookEvent OnBeforeHook() const;
    void SetOnBeforeHook(TBeforeHookEvent handler);
    TCustomHookEvent OnCustomHook() const;
    void SetOnCustomHook(TCustomHookEvent handler);
    TLogEvent OnLog() const;
    void SetOnLog(TLogEvent handler);
    TPreviewBitmapEvent OnPreviewBitmap() const;
    void SetOnPreviewBitmap(TPreviewBitmapEvent handler);
    TProgressEvent OnProgress() const;
    void SetOnProgress(TProgressEvent handler);
    TTerminateEvent OnTerminate() const;
    void SetOnTerminate(TTerminateEvent handler);

    // ---- operations (window's thread) ----
    bool LoadLibraries(const std::string& folder);
    bool LibrariesLoaded() const;
    // Stops the tasks, waits until no worker uses the libraries and frees the
    // tasks, then releases the libraries.
    void UnloadLibraries();
    // The new task's index, or -1 with the reason in LastErrorText (also when
    // the libraries are not loaded, the input cannot be read, or the record's
    // options are refused). An empty FileName in the record is filled with file_name.
    int AddTask(const std::string& file_name, TInputOptions* options = nullptr);
    // False with the reason in LastErrorText (the output is the input, its
    // folder cannot take it, no format fits its name, or the record's options
    // are refused); an index outside the list raises. Never waits for the
    // event lock.
    bool SetOutputFile(int index, const std::string& file_name, TOutputOptions* options = nullptr);
    // Free the task(s); a started task that has not ended yet is asked to stop
    // and gets its OnTerminate inside this call (see above). An index outside
    // the list raises.
    void RemoveTask(int index);
    void ClearTasks();
    // Starts the tasks not started yet, thread_count at a time (0 or less:
    // one after another on the window's thread). Tasks added during the run
    // wait for the next StartConvert.
    void StartConvert(int thread_count);
    // A task set up while a run goes joins it: it starts when one of the
    // run's places is free, as if it had been there at StartConvert, so a
    // long batch can be handed over a few files at a time. False when no run
    // is going or the run is being stopped: the task waits for the next
    // StartConvert. An index outside the list raises.
    bool JoinRun(int index);
    void StopConvert();
    // Holds the run going: tasks running on workers wait at their next packet
    // (asleep, holding their files), and no task starts until ResumeConvert,
    // which lets them go on where they were. StopConvert, RemoveTask,
    // ClearTasks and the destructor end paused tasks as promptly as running
    // ones. A task running on the window's thread (a thread count of 0) goes
    // on to its end, since nothing could resume it there; the next one waits.
    // Without a run going PauseConvert does nothing; the run's end ends its pause.
    void PauseConvert();
    void ResumeConvert();
    bool Paused() const;

    // The media probe the application reads files with (window's thread).
    TAVProbe Probe;
    int TaskCount() const;
    // The task at a position (for inspection; the component owns it, and it
    // lives until it is removed and, if started, has ended).
    TFFmpeg* Task(int index) const;
    // The name of the task at a position, unchanged by removals of others; an
    // index outside the list raises.
    TTaskId TaskId(int index) const;
    // The position of the task with the id; -1 when it is not in the list.
    int IndexOfTask(TTaskId id) const;
    // What became of the task at a position; whole once its OnTerminate has
    // been raised (read it there). An index outside the list raises.
    TTaskResult TaskResult(int index) const;
    bool Running() const;  // a run is going: its end-of-run event has not come yet

    // Called by the log capture with a whole library line written on a thread;
    // owner: the task the logging context was marked with, or none. The line
    // goes to the task running on the thread, else to the running task named
    // by owner, else to none (-1).
    void DeliverLibraryLine(std::thread::id thread, const void* owner, int core_level, const std::string& line);

protected:
    // Stops the tasks and waits for their threads; no event is raised any more.
    // The most derived destructor calls it first, while the Do... overrides of
    // the object are still those the workers call.
    void Shutdown();

    // What the task callbacks point at; each raises the matching event.
    virtual void DoBeforeHook(TFFmpeg* task, int64_t APTS, THookAction& AHookAction);
    virtual void DoCustomHook(TFFmpeg* task, TBitmap* ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                              bool& AStopHook);
    virtual void DoLog(TFFmpeg* task, int core_level, const std::string& message);
    virtual void DoPreviewBitmap(TFFmpeg* task, TBitmap* ABitmap, int AFrameNumber, int64_t APTS);
    virtual void DoProgress(TFFmpeg* task, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                            float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration);
    virtual void DoTerminate(TFFmpeg* task);

private:
    int IndexOf(TFFmpeg* task, bool& detached) const;
    // The opening steps that AddTask and SetOutputFile recorded, done when the task starts.
    bool OpenTaskInput(TFFmpeg& task, const std::string& file_name, const TInputOptions* options,
                       std::string& error);
    bool OpenTaskOutput(TFFmpeg& task, const std::string& file_name, const TOutputOptions* options,
                        std::string& error);
    void OpenRecordedFiles(TFFmpeg& task);
    // SetOutputFile's work on a task marked as being configured.
    bool ConfigureOutput(TFFmpeg* task, const std::string& file_name, TOutputOptions* options);
    // What SetOutputFile can refuse before the input is opened; false with the reason.
    bool JudgeOutput(TFFmpeg& task, const std::string& file_name, const TOutputOptions* options, std::string& error);
    // Picks the next task to start under the state lock; none when nothing is left.
    TFFmpeg* ClaimNextLocked();
    // Starting the next task: a timer on the window's thread or the task at once.
    void StartNextLocked(std::vector<TFFmpeg*>& to_start);
    // A claimed task on a worker of its own.
    void StartTask(TFFmpeg* task);
    // A claimed task made ready to run on the window's thread; false when it ended instead.
    bool BeginOnWindowThread(TFFmpeg* task);
    void TimerFired(uint64_t run);
    // During a pause a start is kept for ResumeConvert instead; true when it was.
    bool HoldStartLocked();
    bool RunDoneLocked();
    void RaiseEndOfRun();
    // Removing tasks: the termination a started task is still owed, and the
    // freeing (or handing to its worker) of what left the list.
    bool InListLocked(const TFFmpeg* task) const;
    void RaiseRemovedTermination(TFFmpeg* task);
    void TakeOut(std::vector<TFFmpeg*> removed);
    static void FreeTask(TFFmpeg* task);
    // Waits (running the window's due work on its thread) until pred holds.
    void WaitFor(const std::function<bool()>& pred);
    void ConnectTask(TFFmpeg* task);

    void SetLastErrorText(const std::string& text);

    std::string about_;
    mutable std::mutex error_lock_;
    std::string last_error_text_;
    int thread_count_ = 0;
    // Read by workers when they start the next task: atomic.
    std::atomic<TLogLevel> log_level_{llInfo};
    std::atomic<int> progress_interval_{500};
    std::atomic<TConvertPriority> thread_priority_;  // tpNormal until set
    std::atomic<bool> preview_{false};
    std::atomic<bool> preview_bitmap_{false};

    mutable std::mutex events_lock_;  // guards the six handlers
    TBeforeHookEvent on_before_hook_;
    TCustomHookEvent on_custom_hook_;
    TLogEvent on_log_;
    TPreviewBitmapEvent on_preview_bitmap_;
    TProgressEvent on_progress_;
    TTerminateEvent on_terminate_;

    TWindowThread* window_;
    // Serialises OnLog, OnProgress and OnTerminate, the counting of ended
    // tasks and the removal of tasks. Recursive: a handler may make calls that
    // raise events again. Taken through TEventGuard.
    std::recursive_mutex event_lock_;
    // Log lines waiting for the event lock; serial names the task (0: none),
    // whose index is looked up when the line goes out.
    struct TPendingLine {
        uint64_t serial;
        int core_level;
        std::string text;
    };
    std::mutex pending_lock_;
    std::vector<TPendingLine> pending_lines_;
    std::atomic<int> releasing_{0};  // threads between letting the lock go and their last look
    void AcquireEventLock();
    void ReleaseEventLock();
    void QueueLine(uint64_t serial, int core_level, const std::string& text);
    void DeliverPendingLines();
    friend class TEventGuard;
    // Guards the task list and the run counters; never held while a handler
    // runs or a task is freed.
    mutable std::mutex state_lock_;
    std::condition_variable state_changed_;
    TFFmpegList tasks_;
    uint64_t next_serial_ = 0;
    uint64_t run_serial_ = 0;  // a new run or a clearing makes earlier timers void
    int ended_count_ = 0;
    int still_to_start_ = 0;
    int active_ = 0;          // claimed tasks whose termination has not been taken in
    int pending_timers_ = 0;  // one-shot timers that will start a task
    bool run_open_ = false;   // the end-of-run event is still due
    bool closing_ = false;
    bool shut_down_ = false;
    std::shared_ptr<TCustomDAzaduVED*> alive_;  // timers hold it weakly
    // Under the state lock: the run is paused, and the starts it held back.
    bool paused_ = false;
    int held_starts_ = 0;
    bool stop_asked_ = false;  // the run going was asked to stop: nothing joins it
};

// Publishes the properties and events; adds nothing else.
class TDAzaduVED : public TCustomDAzaduVED {
public:
    using TCustomDAzaduVED::TCustomDAzaduVED;
    ~TDAzaduVED() override { Shutdown(); }
};

#include <exception>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FFmpegThread.h"

void TCustomFFmpeg::ReInitialize() {
    if (!FFmpegLoader().LibsLoaded(DefaultLibs)) return;
    FreeFiles();
    ResetOptionState();
    {
        std::lock_guard<std::mutex> guard(run_lock);
        running = false;
        terminated = false;
        end_pending = false;
    }
    stop_requested = false;
    finished = false;
    began = false;
    exception = false;
    decode_failed = false;
    write_error = 0;
    fail_stage = TFailStage::None;
    message.clear();
    expected_duration_ms = -1;
}

TFFmpegThread* TCustomFFmpeg::Start(bool in_thread, TConvertPriority priority) {
    if (!Begin()) return nullptr;
    if (!in_thread) {
        Run();
        return nullptr;
    }
    TFFmpegThread* thread = nullptr;
    try {
        thread = new TFFmpegThread(this, priority);
    } catch (const std::exception& e) {
        // No worker: the task still ends, once, with the reason.
        FreeFiles();
        Log(-1, e.what());
        exception = true;
        message = e.what();
        TerminateStep();
        return nullptr;
    }
    worker_thread = thread;
    return thread;
}

bool TCustomFFmpeg::Begin() {
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(run_lock);
        if (running || terminated || end_pending) return false;
        // A task whose files are opened again by the run had both once.
        if (!DeferredOpen && output_file_count <= 0)
            failure = "At least one output file must be specified";
        else if (!DeferredOpen && input_file_count <= 0)
            failure = "At least one input file must be specified";
        if (failure.empty()) {
            running = true;
            stop_requested = false;
            finished = false;
            terminated = false;
        } else {
            end_pending = true;
        }
    }
    if (!failure.empty()) {
        // Logged outside the run lock: the log handler takes the component's locks.
        FreeFiles();
        Log(-1, failure);
        exception = true;
        message = failure;
        TerminateStep();
        return false;
    }
    return true;
}

void TCustomFFmpeg::Stop() { StopAll({this}); }

void TCustomFFmpeg::StopAll(const std::vector<TCustomFFmpeg*>& tasks) {
    std::vector<TCustomFFmpeg*> never_ran;
    for (TCustomFFmpeg* task : tasks) {
        {
            std::lock_guard<std::mutex> guard(task->run_lock);
            if (task->running) {
                // The starter resumes the worker right after Start, so a flag is all it takes.
                task->stop_requested = true;
            } else if (!task->terminated && !task->end_pending) {
                task->end_pending = true;
                never_ran.push_back(task);
            }
        }
        task->pause_gate.Wake();
    }
    if (never_ran.empty()) return;
    TDoTerminateThread* thread = nullptr;
    try {
        thread = new TDoTerminateThread(never_ran);
    } catch (const std::exception&) {
        // No thread to end them on: end them here.
        for (TCustomFFmpeg* task : never_ran) task->TerminateStep();
        return;
    }
    thread->Resume();
}

void TCustomFFmpeg::Abort() {
    stop_requested = true;
    pause_gate.Wake();
}

void TCustomFFmpeg::Run() {
    finished = false;
    began = true;
    decode_failed = false;
    write_error = 0;
    fail_stage = TFailStage::None;
    TFailStage stage = TFailStage::Opening;
    auto fail = [this, &stage](const std::string& text) {
        Log(-1, text);
        exception = true;
        message = text;
        if (decode_failed)
            fail_stage = TFailStage::Decoding;
        else if (fail_stage != TFailStage::NothingToWrite)
            fail_stage = stage;
    };
    try {
        if (DeferredOpen) {
            const std::function<void()> open = std::move(DeferredOpen);
            DeferredOpen = nullptr;
            open();
        }
        stage = TFailStage::Converting;
        Transcode();
    } catch (const Exception& e) {
        fail(e.Message);
    } catch (const std::exception& e) {
        // Not one of ours (out of memory and the like): the task still ends
        // through its one termination step instead of taking the process down.
        fail(e.what());
    }
    helper_thread_id = std::thread::id();
    try {
        // The end of a usable run is its file under the final name: a file
        // that cannot be put there makes the run a failure.
        stage = TFailStage::Placing;
        if (!exception) PlaceOutputFiles();
    } catch (const std::exception& e) {
        if (!exception) fail(e.what());
        finished = false;
    }
    try {
        FreeFiles();
    } catch (const std::exception& e) {
        if (!exception) fail(e.what());
    }
    TerminateStep();
}

void TCustomFFmpeg::TerminateStep() {
    {
        std::lock_guard<std::mutex> guard(run_lock);
        running = false;
        terminated = true;
        end_pending = false;
    }
    worker_thread = nullptr;
    // A copy: the callback may free this task, and with it the slot.
    const TCoreTerminateEvent callback = OnTerminate;
    if (callback) callback(this);
}

#include "batch/Converter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "batch/ExistingOutputs.h"
#include "batch/FolderWalk.h"
#include "batch/General.h"
#include "batch/PicturePlan.h"
#include "batch/PictureSample.h"
#include "batch/Simultaneous.h"
#include "core/OutputPlace.h"
#include "core/SourceRecord.h"
#include "engine/DAzaduVED.h"
#include "probe/LinkFile.h"

namespace fs = std::filesystem;

namespace {

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

// The folder of a source as the system names it, with a separator.
std::string SourceFolder(const std::string& path) {
    std::error_code ec;
    const fs::path folder = fs::absolute(path, ec).parent_path();
    return IncludeTrailingSeparator(Canonical(folder.string()));
}

bool FolderUsable(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Why SetOutputFile refused an output: its name or folder, else its settings
// (a user's own option value), which fail it as a conversion would.
TReason RefusalOf(const std::string& output, const std::string& input) {
    if (IsSameFile(output, input)) return TReason::OutputIsInput;
    if (!FolderUsable(output)) return TReason::OutputFolderUnusable;
    struct stat info {};
    if (::lstat(output.c_str(), &info) != 0 && errno != ENOENT) return TReason::NameRefused;
    return TReason::EncodingFailed;
}

// The engine tells where a task failed; the batch words it as one of its reasons.
TReason ReasonOf(const TTaskResult& result, const TFileRecord& record) {
    switch (result.Failure) {
        case TTaskFailure::InputUnreadable: return TReason::InputUnreadable;
        case TTaskFailure::Decoding: return TReason::DecodingFailed;
        case TTaskFailure::NothingToWrite: return TReason::NoStreamForKind;
        case TTaskFailure::DiskFull: return TReason::DiskFull;
        case TTaskFailure::OutputUnusable:
        case TTaskFailure::Placing:
            if (IsSameFile(record.Output, record.Input)) return TReason::OutputIsInput;
            if (!FolderUsable(record.Output)) return TReason::OutputFolderUnusable;
            // A name the system refused when the file took it; an output that
            // could not be set up is a failed conversion like any other.
            if (result.Failure == TTaskFailure::Placing) return TReason::NameRefused;
            break;
        case TTaskFailure::None:
        case TTaskFailure::Encoding: break;
    }
    return TReason::EncodingFailed;
}

// A file's path relative to the base, as its output's record names it: the
// folder its output mirrors and its name (the name alone for a flat file).
std::string RelativePath(const TListedFile& file) { return file.Subfolder + FileNamePart(file.Path); }

struct TPlannedName {
    std::string Path;
    TNameUse Use = TNameUse::Free;  // under Skip, what is at that name; Free otherwise
};

// PlanOutputPath, with what is at the name; input is the file's own record,
// looked at only under Skip when a file is at a name.
TPlannedName PlanName(const TListedFile& file, const TPlanChoice& choice, const std::string& folder,
                      const TTakenNames& taken, const std::optional<TSourceRecord>& input) {
    const std::string where = choice.NextToSource ? SourceFolder(file.Path) : folder + file.Subfolder;
    const std::string extension = choice.To.kind->extension;
    const std::string base = BaseName(file.Path);
    TPlannedName named;
    auto occupied = [&](const std::string& path) {
        if (choice.Existing != TExistingOutputs::Skip) return NameOccupied(choice.Existing, path);
        named.Use = SkipUseOfName(path, input, path == where + base + extension, choice.To.kind->source_tag);
        return named.Use == TNameUse::Other;
    };
    named.Path = where + ChooseOutputName(where, base, false, taken, occupied, extension) + extension;
    return named;
}

std::optional<TSourceRecord> InputRecordOf(const TListedFile& file) { return InputRecord(file.Path, RelativePath(file)); }

}  // namespace

// The names of one run: its folder as the system names it, and the names no
// output may take (the inputs, the outputs given so far).
struct TNaming {
    explicit TNaming(const std::string& output_folder) : folder(IncludeTrailingSeparator(Canonical(output_folder))) {}
    TNaming(const std::vector<TListedFile>& files, const std::string& output_folder) : TNaming(output_folder) {
        for (const TListedFile& file : files) Keep(file.Path);
    }
    // A name no output may take.
    void Keep(const std::string& input) { taken.Add(Canonical(input)); }
    TPlannedName Next(const TListedFile& file, const TPlanChoice& choice, const std::optional<TSourceRecord>& input) {
        TPlannedName named = PlanName(file, choice, folder, taken, input);
        taken.Add(named.Path);
        return named;
    }
    // Why the folder of an output next to its source cannot take it; empty
    // when it can. Each folder is prepared once a run.
    std::string FolderProblem(const std::string& output) {
        const std::string where = fs::path(output).parent_path().string();
        const auto known = prepared.find(where);
        if (known != prepared.end()) return known->second;
        std::string why;
        if (!PrepareOutputFolder(where, why)) why = where + ": " + why;
        else why.clear();
        return prepared[where] = why;
    }
    std::string folder;
    TTakenNames taken;
    std::map<std::string, std::string> prepared;  // source folder -> its problem, empty when usable
};

TListing ListFiles(TCustomAVProbe& probe, const std::vector<std::string>& given, const TListingRoots& roots) {
    return ListFiles(probe, GivenNames(given), roots);
}

TListing ListFiles(TCustomAVProbe& probe, std::unique_ptr<TGivenNames> given, const TListingRoots& roots) {
    TListing listing;
    TListingSource source(std::move(given), roots, false, roots.Unread ? nullptr : &probe);
    for (TListedFile file; source.Next(file);) listing.Files.push_back(std::move(file));
    listing.Refused = source.TakeRefused();
    listing.Notes = source.TakeNotes();
    return listing;
}

std::string PlanOutputPath(const TListedFile& file, const TPlanChoice& choice, const std::string& folder,
                           const TTakenNames& taken) {
    const bool skip = choice.Existing == TExistingOutputs::Skip;
    return PlanName(file, choice, folder, taken, skip ? InputRecordOf(file) : std::nullopt).Path;
}

std::vector<std::string> PlanOutputPaths(const std::vector<TListedFile>& files, const TPlanChoice& choice,
                                         const std::string& folder) {
    TNaming naming(files, folder);
    std::vector<std::string> paths;
    const bool skip = choice.Existing == TExistingOutputs::Skip;
    for (const TListedFile& file : files)
        paths.push_back(naming.Next(file, choice, skip ? InputRecordOf(file) : std::nullopt).Path);
    return paths;
}

std::string FileProblemLine(const std::string& file, const std::string& reason) {
    if (reason.rfind(file + ": ", 0) == 0) return reason;
    return file + ": " + reason;
}

std::string RecordLine(const TFileRecord& record) {
    return FileProblemLine(record.Input, record.Text.empty() ? ReasonCaption(record.Reason) : record.Text);
}

// ---- the run ----

namespace {

// Files planned ahead of the engine, per file converted at once: enough that
// a free place never waits for the planning, few enough to hold no memory.
constexpr size_t kAheadPerPlace = 2;
// The longest one go of planning keeps the window's thread, in milliseconds;
// the rest waits for the next Take.
constexpr int64_t kFeedSliceMs = 50;

using TClock = std::chrono::steady_clock;

}  // namespace

struct TBatchRun::TState {
    std::mutex lock;
    std::function<void(TRunNews)> notify;  // none once the run is detached
    std::map<TTaskId, TFileRecord> running;  // engine task -> its file's record, until it ends
    std::vector<TFileRecord> planned;        // handed to the engine, not yet taken
    std::vector<TFileRecord> ended;          // made final, not yet taken
    std::vector<TTaskId> finished_tasks;     // ended, still in the engine's list
    std::map<TFileId, TFileProgress> progress;
    bool engine_running = false;  // the engine's run has been started and its end not told
    bool halted = false;  // a file failed for a full output disk: the run starts no other

    // When each task began, for its elapsed time: the engine starts the tasks
    // of a run in the order they were added, each in the place of one that
    // ended, so the k-th of a run begins with it, or at the (k - places + 1)-th
    // end since, or when it was handed over if that was later.
    struct TTurn {
        size_t k;
        TClock::time_point handed;
        int64_t number;  // among the files the run reached
    };
    TClock::time_point start = TClock::now();
    std::vector<TClock::time_point> ends;  // of this engine run
    std::map<TTaskId, TTurn> turns;
    size_t next_turn = 0;
    size_t places = 1;

    int64_t ElapsedMs(TTaskId id) {
        const auto now = TClock::now();
        ends.push_back(now);
        const auto turn = turns.find(id);
        if (turn == turns.end()) return -1;
        const size_t k = turn->second.k;
        auto began = k < places ? start : ends[std::min(k - places, ends.size() - 1)];
        began = std::max(began, turn->second.handed);
        turns.erase(turn);
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - began).count();
    }
    void NewEngineRun() {
        engine_running = true;
        start = TClock::now();
        ends.clear();
        next_turn = 0;
        for (auto& [id, turn] : turns) turn.k = next_turn++;
    }
    void End(TFileRecord record) { ended.push_back(std::move(record)); }
    void Ended(TDAzaduVED& engine, int index);
    // After a full disk: the files waiting in the engine end not started.
    void Halt(TDAzaduVED& engine, const std::vector<TTaskId>& waiting);
    void Progressed(TDAzaduVED& engine, int index, int frame, int fps, int current, int total);
    void Notify(TRunNews news) {
        std::function<void(TRunNews)> call;
        {
            std::lock_guard<std::mutex> guard(lock);
            call = notify;
        }
        if (call) call(news);
    }
};

namespace {

// A task's end as its file's final record.
void FillRecord(TFileRecord& record, const TTaskResult& result) {
    const int64_t expected = record.ExpectedMs;
    record.ConvertedMs = result.ConvertedMs;
    record.ExpectedMs = result.ExpectedMs;
    switch (result.End) {
        case TTaskEnd::Finished:
            record.Outcome = result.EndedShort ? TFileOutcome::EndedEarly : TFileOutcome::Completed;
            record.Reason = result.EndedShort ? TReason::InputEndedEarly : TReason::None;
            if (result.EndedShort) record.Text = ShorterText(result.ConvertedMs, result.ExpectedMs);
            // A name taken while the file was converted makes it take the next free one.
            if (!result.PlacedOutput.empty()) record.Output = result.PlacedOutput;
            // Another run of the same files finished it meanwhile: this run's copy was dropped.
            if (result.MadeBefore) {
                record.Outcome = TFileOutcome::Skipped;
                record.Reason = TReason::OutputExists;
                record.Text.clear();
            }
            break;
        case TTaskEnd::Failed:
            record.Outcome = TFileOutcome::Failed;
            record.Reason = ReasonOf(result, record);
            record.Text = result.Message;
            record.Output.clear();
            // What the listing read stands when the task did not get as far.
            if (result.ExpectedMs < 0) record.ExpectedMs = expected;
            break;
        case TTaskEnd::Stopped:
            record.Outcome = result.Began ? TFileOutcome::Stopped : TFileOutcome::NotStarted;
            record.Reason = TReason::Stopped;
            // What a stopped file kept, where its name was free, and how much of it.
            record.Output = result.PlacedOutput;
            if (!record.Output.empty()) record.Text = ShorterText(result.ConvertedMs, result.ExpectedMs);
            break;
    }
}

}  // namespace

void TBatchRun::TState::Ended(TDAzaduVED& engine, int index) {
    if (index < 0) {
        {
            std::lock_guard<std::mutex> guard(lock);
            engine_running = false;
        }
        Notify(TRunNews::Over);
        return;
    }
    // Read inside the event: the index names the task only now.
    const TTaskResult result = engine.TaskResult(index);
    bool halt = false;
    std::vector<TTaskId> waiting_ids;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto task = running.find(result.Id);
        if (task == running.end()) return;
        TFileRecord record = std::move(task->second);
        running.erase(task);
        const int64_t elapsed = ElapsedMs(result.Id);
        if (result.Began) record.ElapsedMs = elapsed;
        FillRecord(record, result);
        halt = record.Reason == TReason::DiskFull && !halted;
        halted = halted || halt;
        ended.push_back(std::move(record));
        finished_tasks.push_back(result.Id);
        if (halt)
            for (const auto& [id, waiting] : running) waiting_ids.push_back(id);
    }
    // Here, before the engine starts the next task in this same event.
    if (halt) Halt(engine, waiting_ids);
    Notify(TRunNews::FileEnded);
}

void TBatchRun::TState::Halt(TDAzaduVED& engine, const std::vector<TTaskId>& waiting) {
    // The files waiting in the engine go; those converting end as they will.
    for (const TTaskId id : waiting) {
        const int index = engine.IndexOfTask(id);
        if (index < 0 || engine.TaskResult(index).Began) continue;
        engine.RemoveTask(index);
        // A task no worker had claimed goes without an event: its record ends here.
        std::lock_guard<std::mutex> guard(lock);
        const auto task = running.find(id);
        if (task == running.end()) continue;
        TFileRecord record = std::move(task->second);
        running.erase(task);
        turns.erase(id);
        record.Outcome = TFileOutcome::NotStarted;
        record.Reason = TReason::DiskFull;
        record.Output.clear();
        End(std::move(record));
    }
}

void TBatchRun::TState::Progressed(TDAzaduVED& engine, int index, int frame, int fps, int current, int total) {
    const TTaskId id = engine.TaskId(index);
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto task = running.find(id);
        if (task == running.end()) return;
        const TFileId file = task->second.Id;
        progress[file] = TFileProgress{file, current, total, frame, fps};
    }
    Notify(TRunNews::Progress);
}

TBatchRun::TBatchRun(TDAzaduVED& engine, std::function<void(TRunNews news)> notify)
    : engine_(engine), state_(std::make_shared<TState>()) {
    state_->notify = std::move(notify);
}

TBatchRun::~TBatchRun() { Detach(); }

bool TBatchRun::Start(const std::vector<TListedFile>& files, const TRunRequest& request, std::string& problem) {
    return Begin(std::make_unique<TFileListSource>(files), std::make_unique<TNaming>(files, request.OutputFolder),
                 request, problem);
}

bool TBatchRun::Start(std::unique_ptr<TFileSource> source, const TRunRequest& request, std::string& problem) {
    return Begin(std::move(source), std::make_unique<TNaming>(request.OutputFolder), request, problem);
}

bool TBatchRun::Begin(std::unique_ptr<TFileSource> source, std::unique_ptr<TNaming> naming,
                      const TRunRequest& request, std::string& problem) {
    // Outputs next to their sources have their folders prepared file by file.
    if (!request.Plan.NextToSource && !PrepareOutputFolder(request.OutputFolder, problem)) return false;
    source_ = std::move(source);
    naming_ = std::move(naming);
    request_ = request;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->places = static_cast<size_t>(std::max(request.Simultaneous, 1));
    }
    std::weak_ptr<TState> weak = state_;
    TDAzaduVED& engine = engine_;
    engine_.SetOnTerminate([weak, &engine](int index, bool, bool, const std::string&) {
        if (const auto state = weak.lock()) state->Ended(engine, index);
    });
    engine_.SetOnProgress([weak, &engine](int index, int frame, int fps, int current, float, float, int64_t, int total) {
        if (const auto state = weak.lock()) state->Progressed(engine, index, frame, fps, current, total);
    });
    attached_ = true;
    source_->SetReady([weak] {
        if (const auto state = weak.lock()) state->Notify(TRunNews::Progress);
    });
    Feed();
    return true;
}

void TBatchRun::Feed() {
    if (stopping_ || source_done_) return;
    if (Halted()) return EndTheRest();
    const auto until = TClock::now() + std::chrono::milliseconds(kFeedSliceMs);
    joining_.clear();
    for (;;) {
        // The count of places may be judged by the first file of this slice.
        const size_t ahead = kAheadPerPlace * static_cast<size_t>(std::max(request_.Simultaneous, 1));
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            if (state_->running.size() >= ahead) break;
        }
        if (TClock::now() >= until) {
            // The rest in the next go: the window's thread has other things to do.
            take_again_ = true;
            break;
        }
        // The listing calls when it has more: the face takes then.
        if (!source_->Ready()) break;
        TListedFile file;
        const bool more = source_->Next(file);
        if (!more) {
            EndRefused();
            source_done_ = true;
            break;
        }
        EndRefused();
        ++reached_;
        Plan(file, *naming_);
    }
    JoinEngineRun();
}

void TBatchRun::EndRefused() {
    std::vector<TFileRecord> refused = source_->TakeRefused();
    if (refused.empty()) return;
    reached_ += static_cast<int64_t>(refused.size());
    std::lock_guard<std::mutex> guard(state_->lock);
    for (TFileRecord& record : refused) state_->End(std::move(record));
}

bool TBatchRun::Halted() {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->halted;
}

void TBatchRun::EndTheRest() {
    const auto until = TClock::now() + std::chrono::milliseconds(kFeedSliceMs);
    for (TListedFile file;;) {
        if (TClock::now() >= until) {
            take_again_ = true;
            return;
        }
        if (!source_->Ready()) return;
        const bool more = source_->Next(file);
        EndRefused();
        if (!more) {
            source_done_ = true;
            return;
        }
        ++reached_;
        const int64_t expected = file.DurationUs < 0 ? -1 : file.DurationUs / 1000;
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->End({file.Id, file.Path, "", TFileOutcome::NotStarted, TReason::DiskFull, "", -1, expected});
    }
}

void TBatchRun::JoinEngineRun() {
    if (joining_.empty()) return;
    bool running;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        running = state_->engine_running;
    }
    bool start = !running;
    // A run that ended meanwhile takes none: a new one takes them all.
    for (int index : joining_) start = (running && !engine_.JoinRun(index)) || start;
    joining_.clear();
    if (!start) return;
    if (request_.Simultaneous == TRunRequest::JudgedByFirstFile) JudgeSimultaneous({});
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->NewEngineRun();
    }
    engine_.StartConvert(request_.Simultaneous);
}

void TBatchRun::JudgeSimultaneous(const std::vector<TListedFile>& read) {
    request_.Simultaneous =
        DefaultSimultaneous(read, static_cast<int>(std::thread::hardware_concurrency()), AvailableMemoryBytes());
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->places = static_cast<size_t>(request_.Simultaneous);
}

void TBatchRun::Plan(const TListedFile& given, TNaming& naming) {
    TFileRecord record{given.Id, given.Path, "", TFileOutcome::NotStarted, TReason::None, "", -1, -1};
    auto end = [&](TFileOutcome outcome, TReason reason, const std::string& text, const std::string& output) {
        record.Outcome = outcome;
        record.Reason = reason;
        record.Text = text;
        record.Output = output;
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->End(std::move(record));
    };
    // What the output records of its input: the input as it is now.
    const std::optional<TSourceRecord> source = InputRecordOf(given);
    // A folder's file whose output is there is skipped unread: a run again over
    // an archive reads only what is missing.
    if (!given.Probed && request_.Plan.Existing == TExistingOutputs::Skip)
        if (const TPlannedName named = PlanName(given, request_.Plan, naming.folder, naming.taken, source);
            named.Use == TNameUse::Done) {
            naming.taken.Add(named.Path);
            return end(TFileOutcome::Skipped, TReason::OutputExists, "", named.Path);
        }
    TListedFile file = given;
    const bool pictures = NeedsPictureSample(request_.Plan);
    if (!file.Probed) ReadListedFile(engine_.Probe, file, pictures);
    if (pictures && file.Readable && !file.Sampled) SampleListedFile(engine_.Probe, file);
    naming.Keep(file.Path);
    if (!file.Readable) return end(TFileOutcome::Refused, file.Reason, file.Problem, "");
    if (request_.Simultaneous == TRunRequest::JudgedByFirstFile) JudgeSimultaneous({file});
    if (const std::string refusal = PlanRefusal(request_.Plan, file.Source); !refusal.empty())
        return end(TFileOutcome::Refused, TReason::NoStreamForKind, refusal, "");
    const TPlannedName named = naming.Next(file, request_.Plan, source);
    const std::string& name = named.Path;
    if (request_.Plan.NextToSource || !file.Subfolder.empty())
        if (const std::string problem = naming.FolderProblem(name); !problem.empty())
            return end(TFileOutcome::Refused, TReason::OutputFolderUnusable, problem, "");
    if (named.Use == TNameUse::Done) return end(TFileOutcome::Skipped, TReason::OutputExists, "", name);
    TOutputOptions output = PlanOutput(request_.Plan, file.Source);
    output.FileName = name;
    // Its own output of a stopped conversion is done again in its place.
    if (named.Use == TNameUse::Again) output.ReplaceExisting = true;
    if (source) {
        output.SourceRecord = SourceRecordText(*source);
        output.SourceTag = request_.Plan.To.kind->source_tag;
    }
    TInputOptions input;
    input.FileName = file.Path;
    input.HeaderRead = true;  // listing read it: the conversion is its only other opening
    // Engine calls are made without the lock: they may wait for the engine's events.
    const int index = engine_.AddTask(file.Path, &input);
    if (index < 0) return end(TFileOutcome::Refused, TReason::InputUnreadable, engine_.LastErrorText(), "");
    if (!engine_.SetOutputFile(index, output.FileName, &output)) {
        const TReason reason = RefusalOf(output.FileName, file.Path);
        const std::string why = engine_.LastErrorText();
        engine_.RemoveTask(index);
        return end(TFileOutcome::Refused, reason, "Cannot convert: " + why, "");
    }
    record.Output = output.FileName;
    record.ExpectedMs = file.DurationUs < 0 ? -1 : file.DurationUs / 1000;
    const TTaskId id = engine_.TaskId(index);
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->planned.push_back(record);
    state_->running[id] = std::move(record);
    state_->turns[id] = {state_->next_turn++, TClock::now(), reached_ - 1};
    joining_.push_back(index);
}

void TBatchRun::Stop() {
    if (!attached_ || stopping_) return;
    stopping_ = true;
    engine_.StopConvert();
}

void TBatchRun::Pause() {
    if (attached_ && !stopping_) engine_.PauseConvert();
}

void TBatchRun::Resume() {
    if (attached_) engine_.ResumeConvert();
}

bool TBatchRun::Paused() const { return attached_ && engine_.Paused(); }

int64_t TBatchRun::FileNumber(int index) const {
    if (index < 0) return -1;
    const TTaskId id = engine_.TaskId(index);
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto turn = state_->turns.find(id);
    return turn == state_->turns.end() ? -1 : turn->second.number;
}

void TBatchRun::RemoveEndedTasks() {
    std::vector<TTaskId> ids;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        ids.swap(state_->finished_tasks);
    }
    // Freeing a task closes its files; a temporary file that was not placed goes.
    for (TTaskId id : ids)
        if (const int index = engine_.IndexOfTask(id); index >= 0) engine_.RemoveTask(index);
}

TRunUpdate TBatchRun::Take() {
    take_again_ = false;
    if (!over_taken_) {
        RemoveEndedTasks();
        Feed();
    }
    TRunUpdate update;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        update.DiskFull = state_->halted && !halt_told_;
        halt_told_ = halt_told_ || update.DiskFull;
        update.Planned.swap(state_->planned);
        update.Ended.swap(state_->ended);
        for (const auto& [id, progress] : state_->progress) update.Progress.push_back(progress);
        state_->progress.clear();
        update.Over = !over_taken_ && attached_ && !state_->engine_running && state_->running.empty() &&
                      (source_done_ || stopping_);
    }
    update.TakeAgain = take_again_;
    if (source_) {
        update.Notes = source_->TakeNotes();
        update.Found = source_->Found();
        update.FoundAll = source_->AllFound();
    }
    if (update.Over) {
        over_taken_ = true;
        update.NotReached = source_done_ ? 0 : std::max<int64_t>(0, update.Found - reached_);
        Detach();
        // The tasks whose ends came with this take are still in the engine's list.
        engine_.ClearTasks();
    }
    return update;
}

void TBatchRun::Detach() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->notify = nullptr;
    }
    if (!attached_) return;
    attached_ = false;
    engine_.SetOnTerminate(nullptr);
    engine_.SetOnProgress(nullptr);
}

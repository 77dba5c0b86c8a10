#include "batch/Converter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>

#include "batch/ExistingOutputs.h"
#include "batch/FolderWalk.h"
#include "batch/General.h"
#include "batch/PictureSample.h"
#include "core/OutputPlace.h"
#include "engine/DAzaduVED.h"
#include "probe/LinkFile.h"

namespace fs = std::filesystem;

namespace {

std::atomic<TFileId> g_next_file_id{0};

bool IsRegularFile(const std::string& path, std::string& why) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        why = "no such file";
        return false;
    }
    if (fs::is_directory(status)) {
        why = "is a directory";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        why = "not a regular file";
        return false;
    }
    return true;
}

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

// Reads what the probe finds of a listed file.
void ProbeListed(TCustomAVProbe& probe, TListedFile& file) {
    file.Probed = true;
    const std::string& path = file.Path;
    if (!IsRegularFile(path, file.Problem)) return;
    try {
        if (probe.Open(path)) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            file.Readable = true;
            file.DurationUs = info.Duration;
            file.SizeBytes = probe.GetFileSize();
            file.Source = SourceFacts(probe);
            // While the file is open: the plan's crop and deinterlacing need its pictures.
            file.Source.Pictures = SamplePictures(probe.FormatContext());
        } else {
            file.Problem = probe.LastError();
        }
    } catch (const std::exception& e) {
        // A missing library or a failed allocation: the file is not listed, with why.
        file.Problem = e.what();
    }
    probe.Close();
}

// A file given by name, unless it belongs to another shard.
void ListOne(TCustomAVProbe& probe, const std::string& path, const TListingRoots& roots, TListing& listing) {
    TListedFile file;
    file.Path = path;
    file.Subfolder = MirroredFolder(path, roots.Base);
    if (!InShard(roots.Shard, file.Subfolder + FileNamePart(path))) return;
    file.Id = ++g_next_file_id;
    if (roots.Unread) file.Probed = false;
    else ProbeListed(probe, file);
    listing.Files.push_back(std::move(file));
}

// A folder's media files, in the order of the walk, not yet read.
void ListFolder(const std::string& folder, const TListingRoots& roots, TListing& listing) {
    TFolderWalk walk(folder, roots.Base, roots.OutputFolder);
    bool any = false;
    for (TFoundFile found; walk.Next(found); any = true) {
        if (!InShard(roots.Shard, found.Subfolder + FileNamePart(found.Path))) continue;
        TListedFile file;
        file.Id = ++g_next_file_id;
        file.Path = found.Path;
        file.Subfolder = found.Subfolder;
        file.Probed = false;
        listing.Files.push_back(std::move(file));
    }
    std::vector<std::string> problems = walk.Problems();
    // A folder that gives nothing is told, as a file that cannot be read is.
    if (!any && problems.empty()) problems.push_back(folder + ": no media files in the folder");
    for (const std::string& problem : problems)
        listing.Refused.push_back({0, folder, "", TFileOutcome::Refused, TReason::InputUnreadable, problem, -1, -1});
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool FolderUsable(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
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

}  // namespace

// The names of one run: its folder as the system names it, and the names no
// output may take (the inputs, the outputs given so far).
struct TNaming {
    TNaming(const std::vector<TListedFile>& files, const std::string& output_folder)
        : folder(IncludeTrailingSeparator(Canonical(output_folder))) {
        for (const TListedFile& file : files) taken.insert(Canonical(file.Path));
    }
    std::string Next(const TListedFile& file, const TPlanChoice& choice) {
        const std::string path = PlanOutputPath(file, choice, folder, taken);
        taken.insert(path);
        return path;
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
    std::set<std::string> taken;
    std::map<std::string, std::string> prepared;  // source folder -> its problem, empty when usable
};

TListing ListFiles(TCustomAVProbe& probe, const std::vector<std::string>& given, const TListingRoots& roots) {
    TListing listing;
    for (const std::string& path : given) {
        if (IsFolder(path)) {
            ListFolder(path, roots, listing);
            continue;
        }
        const TLinkExpansion link = ExpandLinkFile(path);
        if (!link.IsLink) {
            ListOne(probe, path, roots, listing);
            continue;
        }
        listing.Notes.insert(listing.Notes.end(), link.Notes.begin(), link.Notes.end());
        for (const std::string& problem : link.Problems)
            listing.Refused.push_back(
                {0, path, "", TFileOutcome::Refused, TReason::LinkEntryUnusable, problem, -1, -1});
        for (const std::string& file : link.Files) ListOne(probe, file, roots, listing);
    }
    return listing;
}

void ReadListedFile(TCustomAVProbe& probe, TListedFile& file) { ProbeListed(probe, file); }

std::string PlanOutputPath(const TListedFile& file, const TPlanChoice& choice, const std::string& folder,
                           const std::set<std::string>& taken) {
    const std::string where = choice.NextToSource ? SourceFolder(file.Path) : folder + file.Subfolder;
    const std::string extension = choice.To.kind->extension;
    auto occupied = [&](const std::string& path) { return NameOccupied(choice.Existing, path); };
    return where + ChooseOutputName(where, BaseName(file.Path), false, taken, occupied, extension) + extension;
}

std::vector<std::string> PlanOutputPaths(const std::vector<TListedFile>& files, const TPlanChoice& choice,
                                         const std::string& folder) {
    TNaming naming(files, folder);
    std::vector<std::string> paths;
    for (const TListedFile& file : files) paths.push_back(naming.Next(file, choice));
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

struct TBatchRun::TState {
    std::mutex lock;
    std::function<void(TRunNews)> notify;  // none once the run is detached
    std::vector<TFileRecord> records;
    std::map<TTaskId, size_t> slots;  // engine task -> its file's record
    std::vector<size_t> ended;        // records made final, not yet taken
    std::map<TFileId, TFileProgress> progress;
    bool over = false;

    // When each task began, for its elapsed time: the engine starts its tasks
    // in the order they were added, each in the place of one that ended, so
    // the k-th begins with the run or at the (k - simultaneous + 1)-th end.
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::vector<std::chrono::steady_clock::time_point> ends;
    std::map<size_t, size_t> order;  // a task's record -> its place among the tasks added
    size_t simultaneous = 1;

    int64_t ElapsedMs(size_t slot) {
        const auto now = std::chrono::steady_clock::now();
        ends.push_back(now);
        const auto place = order.find(slot);
        if (place == order.end()) return -1;
        const size_t k = place->second;
        const auto began = k < simultaneous ? start : ends[std::min(k - simultaneous, ends.size() - 1)];
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - began).count();
    }

    void Refuse(size_t slot, TReason reason, const std::string& text) {
        TFileRecord& record = records[slot];
        record.Outcome = TFileOutcome::Refused;
        record.Reason = reason;
        record.Text = text;
        record.Output.clear();
        ended.push_back(slot);
    }
    void Skip(size_t slot, const std::string& output) {
        TFileRecord& record = records[slot];
        record.Outcome = TFileOutcome::Skipped;
        record.Reason = TReason::OutputExists;
        record.Output = output;
        ended.push_back(slot);
    }
    void Ended(TDAzaduVED& engine, int index);
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

void TBatchRun::TState::Ended(TDAzaduVED& engine, int index) {
    if (index < 0) {
        {
            std::lock_guard<std::mutex> guard(lock);
            over = true;
        }
        Notify(TRunNews::Over);
        return;
    }
    // Read inside the event: the index names the task only now.
    const TTaskResult result = engine.TaskResult(index);
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto slot = slots.find(result.Id);
        if (slot == slots.end()) return;
        TFileRecord& record = records[slot->second];
        record.ConvertedMs = result.ConvertedMs;
        record.ExpectedMs = result.ExpectedMs;
        const int64_t elapsed = ElapsedMs(slot->second);
        if (result.Began) record.ElapsedMs = elapsed;
        switch (result.End) {
            case TTaskEnd::Finished:
                record.Outcome = result.EndedShort ? TFileOutcome::EndedEarly : TFileOutcome::Completed;
                record.Reason = result.EndedShort ? TReason::InputEndedEarly : TReason::None;
                if (result.EndedShort) record.Text = ShorterText(result.ConvertedMs, result.ExpectedMs);
                // A name taken while the file was converted makes it take the next free one.
                if (!result.PlacedOutput.empty()) record.Output = result.PlacedOutput;
                break;
            case TTaskEnd::Failed:
                record.Outcome = TFileOutcome::Failed;
                record.Reason = ReasonOf(result, record);
                record.Text = result.Message;
                record.Output.clear();
                break;
            case TTaskEnd::Stopped:
                record.Outcome = result.Began ? TFileOutcome::Stopped : TFileOutcome::NotStarted;
                record.Reason = TReason::Stopped;
                // What a stopped file kept, where its name was free, and how much of it.
                record.Output = result.PlacedOutput;
                if (!record.Output.empty()) record.Text = ShorterText(result.ConvertedMs, result.ExpectedMs);
                break;
        }
        ended.push_back(slot->second);
        slots.erase(slot);
    }
    Notify(TRunNews::FileEnded);
}

void TBatchRun::TState::Progressed(TDAzaduVED& engine, int index, int frame, int fps, int current, int total) {
    const TTaskId id = engine.TaskId(index);
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto slot = slots.find(id);
        if (slot == slots.end()) return;
        const TFileId file = records[slot->second].Id;
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
    // Outputs next to their sources have their folders prepared file by file.
    if (!request.Plan.NextToSource && !PrepareOutputFolder(request.OutputFolder, problem)) return false;
    TNaming naming(files, request.OutputFolder);
    for (const TListedFile& file : files) Plan(file, request, naming);
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->start = std::chrono::steady_clock::now();
        state_->simultaneous = static_cast<size_t>(std::max(request.Simultaneous, 1));
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
    bool any;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        any = !state_->slots.empty();
        state_->over = !any;
    }
    if (any) engine_.StartConvert(request.Simultaneous);
    return true;
}

void TBatchRun::Plan(const TListedFile& given, const TRunRequest& request, TNaming& naming) {
    size_t slot;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        slot = state_->records.size();
        state_->records.push_back({given.Id, given.Path, "", TFileOutcome::NotStarted, TReason::None, "", -1, -1});
    }
    // A folder's file whose output is there is skipped unread: a run again over
    // an archive reads only what is missing.
    if (!given.Probed && request.Plan.Existing == TExistingOutputs::Skip)
        if (const std::string name = PlanOutputPath(given, request.Plan, naming.folder, naming.taken);
            CountsAsDone(request.Plan.Existing, name)) {
            naming.taken.insert(name);
            std::lock_guard<std::mutex> guard(state_->lock);
            return state_->Skip(slot, name);
        }
    TListedFile file = given;
    if (!file.Probed) ProbeListed(engine_.Probe, file);
    // Engine calls are made without the lock: they may wait for the engine's events.
    auto refuse = [&](TReason reason, const std::string& text) {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->Refuse(slot, reason, text);
    };
    if (!file.Readable) return refuse(TReason::InputUnreadable, file.Problem);
    if (const std::string refusal = PlanRefusal(request.Plan, file.Source); !refusal.empty())
        return refuse(TReason::NoStreamForKind, refusal);
    const std::string name = naming.Next(file, request.Plan);
    if (request.Plan.NextToSource || !file.Subfolder.empty())
        if (const std::string problem = naming.FolderProblem(name); !problem.empty())
            return refuse(TReason::OutputFolderUnusable, problem);
    if (CountsAsDone(request.Plan.Existing, name)) {
        std::lock_guard<std::mutex> guard(state_->lock);
        return state_->Skip(slot, name);
    }
    TOutputOptions output = PlanOutput(request.Plan, file.Source);
    output.FileName = name;
    TInputOptions input;
    input.FileName = file.Path;
    const int index = engine_.AddTask(file.Path, &input);
    if (index < 0) return refuse(TReason::InputUnreadable, engine_.LastErrorText());
    if (!engine_.SetOutputFile(index, output.FileName, &output)) {
        const TReason reason = IsSameFile(output.FileName, file.Path) ? TReason::OutputIsInput : TReason::NameRefused;
        const std::string why = engine_.LastErrorText();
        engine_.RemoveTask(index);
        return refuse(reason, "Cannot convert: " + why);
    }
    const TTaskId id = engine_.TaskId(index);
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->records[slot].Output = output.FileName;
    state_->slots[id] = slot;
    state_->order[slot] = state_->order.size();
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

TRunUpdate TBatchRun::Take() {
    TRunUpdate update;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        for (size_t slot : state_->ended) update.Ended.push_back(state_->records[slot]);
        state_->ended.clear();
        for (const auto& [id, progress] : state_->progress) update.Progress.push_back(progress);
        state_->progress.clear();
        update.Over = state_->over && !over_taken_;
    }
    if (update.Over) {
        over_taken_ = true;
        Detach();
        // Freeing the tasks closes their files; temporary files that were not placed go.
        engine_.ClearTasks();
    }
    return update;
}

std::vector<TFileRecord> TBatchRun::Records() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->records;
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

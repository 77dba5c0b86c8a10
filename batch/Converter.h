#pragma once
// The converter both faces drive: the whole way of a file from what the user
// gave to its outcome record. Listing expands link files and reads each file
// once with the probe; a run takes its files from a source (batch/FileSource.h)
// as it goes, plans each (kind, output name, refusal), hands it to the engine,
// and gives one outcome record per file. The window and ardentix-convert only
// turn the user's input into these calls and show the records.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/FileSource.h"
#include "batch/General.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"
#include "engine/TaskResult.h"

class TDAzaduVED;
class TCustomAVProbe;
struct TNaming;

// What the user gave, listed: every file (a link in its entries' place), and
// a refused record for each link entry that names nothing to convert.
struct TListing {
    std::vector<TListedFile> Files;
    std::vector<TFileRecord> Refused;
    std::vector<std::string> Notes;  // "<link>: link to <file>", for the user's record
};
// All of what a listing source gives for the names, at once, with each file
// given by name read (unless roots.Unread): a folder's files stay unread, and
// a file that is not media the libraries read ends as unreadable when its run
// plans it.
TListing ListFiles(TCustomAVProbe& probe, const std::vector<std::string>& given, const TListingRoots& roots = {});
TListing ListFiles(TCustomAVProbe& probe, std::unique_ptr<TGivenNames> given, const TListingRoots& roots = {});

// The name a file's output takes, the same for planning and for showing
// planned names: in the folder given (its Subfolder within it), or in the source's own folder with
// NextToSource; the first of name, name(1), ... that the choice's rule for
// existing outputs (batch/ExistingOutputs.h) leaves free. Names in taken (this
// run's other outputs, its inputs) are never chosen. Under Skip the first name
// that is free or holds this file's own output (SkipUseOfName): the run skips
// the file when that output is finished.
std::string PlanOutputPath(const TListedFile& file, const TPlanChoice& choice, const std::string& folder,
                           const TTakenNames& taken);

// The names a run gives the files in turn, by the rule above, the inputs and
// the names given before taken: what the window shows before a run.
std::vector<std::string> PlanOutputPaths(const std::vector<TListedFile>& files, const TPlanChoice& choice,
                                         const std::string& folder);

// What a run was asked for.
struct TRunRequest {
    TPlanChoice Plan;
    std::string OutputFolder;  // ends with "/"; not used with Plan.NextToSource
    // Files converted at once; 0 one after another on the engine's window thread;
    // JudgedByFirstFile: as many as DefaultSimultaneous finds for the first file
    // the run reads, so that no file is read for it beforehand.
    int Simultaneous = 1;
    static constexpr int JudgedByFirstFile = -1;
};

// A running file's latest progress record.
struct TFileProgress {
    TFileId Id = 0;
    int CurrentMs = 0;  // output time reached
    int TotalMs = -1;   // what the engine expects; -1 unknown
    int Frame = -1;     // pictures written; -1 without video
    int Fps = -1;
};

// What a face takes from a run on its own thread.
struct TRunUpdate {
    // Files handed to the engine since the last take, with their output
    // names and declared lengths (ExpectedMs); they end later.
    std::vector<TFileRecord> Planned;
    std::vector<TFileProgress> Progress;  // the latest record of each file that reported since (ended ones too)
    std::vector<TFileRecord> Ended;       // records that became final since the last take, in order
    std::vector<std::string> Notes;       // the source's notes since the last take
    int64_t Found = 0;                    // files the source has found so far
    bool FoundAll = false;                // and that is all of them
    // Once over: files found that the run never reached because it was
    // stopped. They have no records.
    int64_t NotReached = 0;
    bool Over = false;  // the run has ended; nothing more comes
    // Files are left to plan that no event will announce: take again soon,
    // after the face's other work, without waiting for news.
    bool TakeAgain = false;
    // A file failed for a full output disk, so the run started no other: the
    // rest end not started, with the reason DiskFull. Set in one update only.
    bool DiskFull = false;
};

// What a run tells its face through notify.
enum class TRunNews { Progress, FileEnded, Over };

// One run of the engine over a source's files. Made, started, stopped and
// read on the engine's window thread (the thread that owns the engine); the
// engine's events reach it on workers, where it keeps them for Take and calls
// notify. It plans a few files ahead of the engine, and more each time the
// face takes what happened, so memory and the time to the first conversion do
// not grow with the batch; a file that ended is taken out of the engine.
class TBatchRun {
public:
    // notify: called on the thread of an engine event, under the engine's
    // event lock, when something can be taken. It must not wait for the
    // window's thread (which may be waiting for that lock) nor call into the
    // run. Files that end without the engine (refused, skipped, and all of a
    // run without tasks) raise no event: the face takes after Start, after
    // Stop, and again at once when an update says TakeAgain.
    TBatchRun(TDAzaduVED& engine, std::function<void(TRunNews news)> notify);
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    // Prepares the output folder, plans the first files and starts the
    // engine. False with the folder's problem when it cannot be used: nothing
    // runs then. Files refused by the plan (a source folder that cannot take
    // its output, with NextToSource, among them) or skipped for their
    // existing outputs end as they are reached, without the engine. No
    // output takes the name of an input: of any file in the list, or of a
    // file the source handed out so far.
    bool Start(std::unique_ptr<TFileSource> source, const TRunRequest& request, std::string& problem);
    bool Start(const std::vector<TListedFile>& files, const TRunRequest& request, std::string& problem);
    // Asks every file to stop and reaches no further file; the run ends
    // through its events as usual.
    void Stop();
    bool Stopping() const { return stopping_; }
    // Holds the files converting where they are and starts no other, until
    // Resume; a Stop still ends them at once.
    void Pause();
    void Resume();
    bool Paused() const;

    // The place (from 0) among the files this run reached of the file that
    // the engine's task at index converts; -1 for none. For an engine event's
    // handler, where the index names the task.
    int64_t FileNumber(int index) const;

    // What happened since the last call; plans the next files. When the run
    // is over, its events are let go here.
    TRunUpdate Take();

private:
    struct TState;
    bool Begin(std::unique_ptr<TFileSource> source, std::unique_ptr<TNaming> naming, const TRunRequest& request,
               std::string& problem);
    // Plans files until enough wait in the engine, the source is done, or
    // the time for one go is up; the planned ones join the engine's run.
    void Feed();
    // One file to an engine task, or its end.
    void Plan(const TListedFile& file, TNaming& naming);
    // The refusals of the source's listing, as ended records.
    void EndRefused();
    // Whether a full disk ended the run's taking of files.
    bool Halted();
    // After a full disk: every file the source still has ends not started.
    void EndTheRest();
    // The tasks planned last go into the engine's run going, or a new one.
    void JoinEngineRun();
    // Decides JudgedByFirstFile from the files read (none: the processors alone).
    void JudgeSimultaneous(const std::vector<TListedFile>& read);
    void RemoveEndedTasks();
    void Detach();

    TDAzaduVED& engine_;
    // What the engine's events write and Take reads; shared with the handlers,
    // since a handler being replaced may still run once after the run is gone.
    std::shared_ptr<TState> state_;
    std::unique_ptr<TFileSource> source_;
    std::unique_ptr<TNaming> naming_;
    TRunRequest request_;
    std::vector<int> joining_;  // indexes of the tasks planned in one go of Feed
    int64_t reached_ = 0;  // files the source handed out
    bool source_done_ = false;
    bool take_again_ = false;  // Feed left files for the next go
    bool attached_ = false;
    bool stopping_ = false;
    bool over_taken_ = false;
    bool halt_told_ = false;  // an update said DiskFull
};

// "<file>: <reason>" for a record that was not converted, without naming the
// file twice when the libraries' message starts with it.
std::string RecordLine(const TFileRecord& record);
std::string FileProblemLine(const std::string& file, const std::string& reason);

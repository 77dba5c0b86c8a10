#pragma once
// The converter both faces drive: the whole way of a file from what the user
// gave to its outcome record. Listing expands link files and reads each file
// once with the probe; a run plans each listed file (kind, output name,
// refusal), hands it to the engine, and keeps one outcome record per file. The
// window and ardentix-convert only turn the user's input into these calls and
// show the records.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "batch/FolderWalk.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"
#include "engine/TaskResult.h"

class TDAzaduVED;
class TCustomAVProbe;
struct TNaming;

// A file as listed: what one reading with the probe found.
struct TListedFile {
    TFileId Id = 0;
    std::string Path;
    bool Readable = false;    // the probe could read it as media
    std::string Problem;      // why not, in English
    int64_t DurationUs = -1;  // -1 unknown
    int64_t SizeBytes = -1;   // -1 unknown
    TSourceFacts Source;
    std::string Subfolder;  // the folder its output mirrors under the output folder, "/" at the end; empty: flat
    bool Probed = true;     // false for a file a folder walk found: the run reads it when it plans it
};

// What the user gave, listed: every file (a link in its entries' place), and
// a refused record for each link entry that names nothing to convert.
struct TListing {
    std::vector<TListedFile> Files;
    std::vector<TFileRecord> Refused;
    std::vector<std::string> Notes;  // "<link>: link to <file>", for the user's record
};
// What folders among the given names are walked against (batch/FolderWalk.h).
struct TListingRoots {
    // Outputs mirror paths relative to it, files given alone too; empty: each
    // folder given is its own base, and a file given alone stays flat.
    std::string Base;
    std::string OutputFolder;  // left out of the walks when it lies inside them
    TShard Shard;              // only the files of this shard are listed
    bool Unread = false;       // files given by name are listed unread too, for a face that reads them itself
};
// A folder given stands for its media files, found without being opened:
// they are listed unprobed, and a file that is not media the libraries read
// ends as unreadable when its run plans it.
TListing ListFiles(TCustomAVProbe& probe, const std::vector<std::string>& given, const TListingRoots& roots = {});
// Reads a listed file with the probe, as listing does (Probed true after).
// Any thread, one probe per thread.
void ReadListedFile(TCustomAVProbe& probe, TListedFile& file);

// The name a file's output takes, the same for planning and for showing
// planned names: in the folder given (its Subfolder within it), or in the source's own folder with
// NextToSource; the first of name, name(1), ... that the choice's rule for
// existing outputs (batch/ExistingOutputs.h) leaves free. Names in taken (this
// run's other outputs, its inputs) are never chosen. Under Skip the name may
// hold a file: the run then skips the file (CountsAsDone).
std::string PlanOutputPath(const TListedFile& file, const TPlanChoice& choice, const std::string& folder,
                           const std::set<std::string>& taken);

// The names a run gives the files in turn, by the rule above, the inputs and
// the names given before taken: what the window shows before a run.
std::vector<std::string> PlanOutputPaths(const std::vector<TListedFile>& files, const TPlanChoice& choice,
                                         const std::string& folder);

// What a run was asked for.
struct TRunRequest {
    TPlanChoice Plan;
    std::string OutputFolder;  // ends with "/"; not used with Plan.NextToSource
    int Simultaneous = 1;      // files converted at once; 0 one after another on the engine's window thread
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
    std::vector<TFileProgress> Progress;  // the latest record of each file that reported since (ended ones too)
    std::vector<TFileRecord> Ended;       // records that became final since the last take, in order
    bool Over = false;                         // the run has ended; nothing more comes
};

// What a run tells its face through notify.
enum class TRunNews { Progress, FileEnded, Over };

// One run of the engine over listed files. Made, started, stopped and read on
// the engine's window thread (the thread that owns the engine); the engine's
// events reach it on workers, where it keeps them for Take and calls notify.
class TBatchRun {
public:
    // notify: called on the thread of an engine event, under the engine's
    // event lock, when something can be taken. It must not wait for the
    // window's thread (which may be waiting for that lock) nor call into the run.
    TBatchRun(TDAzaduVED& engine, std::function<void(TRunNews news)> notify);
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    // Prepares the output folder, plans every file and starts the engine.
    // False with the folder's problem when it cannot be used: nothing runs
    // then. Files refused by the plan (a source folder that cannot take its
    // output, with NextToSource, among them) or skipped for their existing
    // outputs end at once (their records come with the first Take); a run
    // with nothing to convert is over at once.
    bool Start(const std::vector<TListedFile>& files, const TRunRequest& request, std::string& problem);
    // Asks every file to stop; the run ends through its events as usual.
    void Stop();
    bool Stopping() const { return stopping_; }
    // Holds the files converting where they are and starts no other, until
    // Resume; a Stop still ends them at once.
    void Pause();
    void Resume();
    bool Paused() const;

    // What happened since the last call. When the run is over, the engine's
    // tasks are cleared here (their leftovers removed) and its events let go.
    TRunUpdate Take();
    // One record per file, in the order of the files given; final once ended.
    std::vector<TFileRecord> Records() const;

private:
    struct TState;
    // One file to an engine task, or its refusal.
    void Plan(const TListedFile& file, const TRunRequest& request, TNaming& naming);
    void Detach();

    TDAzaduVED& engine_;
    // What the engine's events write and Take reads; shared with the handlers,
    // since a handler being replaced may still run once after the run is gone.
    std::shared_ptr<TState> state_;
    bool attached_ = false;
    bool stopping_ = false;
    bool over_taken_ = false;
};

// "<file>: <reason>" for a record that was not converted, without naming the
// file twice when the libraries' message starts with it.
std::string RecordLine(const TFileRecord& record);
std::string FileProblemLine(const std::string& file, const std::string& reason);

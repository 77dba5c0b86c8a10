#pragma once
// Where a run's files come from, one at a time as the run is ready for them,
// so that an archive of any size starts converting at once and is never held
// whole in memory. A source hands out files in the order the user gave them
// (a folder's files in the order of its walk), and tells how many it has found.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "batch/FolderWalk.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"

class TCustomAVProbe;

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
    bool Probed = true;     // false for a file not read yet: the run reads it when it plans it
    bool Sampled = false;   // Source.Pictures holds its sample, or it has no pictures to sample
    bool Walked = false;    // found by a walk (or a link): missing at its turn, it vanished
    TReason Reason = TReason::InputUnreadable;  // with Problem: why, as a code
};

// Reads what the probe finds of a listed file (Probed, Readable, Problem and
// the facts), with the probe closed again after. Any thread, one probe per
// thread. Sampling the pictures is most of the time a video takes: without
// sample_pictures it is left for a run that needs it.
void ReadListedFile(TCustomAVProbe& probe, TListedFile& file, bool sample_pictures = true);
// Samples the pictures of a file read without them, opening it once more;
// a file that cannot be opened again keeps none.
void SampleListedFile(TCustomAVProbe& probe, TListedFile& file);

// A new file's Id, unique in the process.
TFileId NextFileId();

// Called by one thread (the run's): Next, TakeRefused and TakeNotes; Found
// and AllFound from any thread. Found counts the entries that get a record:
// the files, and what was refused as it was listed.
class TFileSource {
public:
    virtual ~TFileSource() = default;
    // The next file, with a fresh Id; false when none is left.
    virtual bool Next(TListedFile& file) = 0;
    // What could not be listed since the last call: a link's unusable entry,
    // a folder that cannot be read or holds no media.
    virtual std::vector<TFileRecord> TakeRefused() = 0;
    // "<link>: link to <file>" lines since the last call, for the user's record.
    virtual std::vector<std::string> TakeNotes() = 0;
    // Files found so far, handed out or not, and whether that is all of them.
    virtual int64_t Found() const = 0;
    virtual bool AllFound() const = 0;
    // Whether Next answers without waiting for the listing (a list that
    // comes through a pipe); when not, the source calls ready (any thread)
    // once it would.
    virtual bool Ready() { return true; }
    virtual void SetReady(std::function<void()> ready) { (void)ready; }
};

// Files listed before the run (the window's rows).
class TFileListSource : public TFileSource {
public:
    explicit TFileListSource(std::vector<TListedFile> files) : files_(std::move(files)) {}
    bool Next(TListedFile& file) override;
    std::vector<TFileRecord> TakeRefused() override { return {}; }
    std::vector<std::string> TakeNotes() override { return {}; }
    int64_t Found() const override { return static_cast<int64_t>(files_.size()); }
    bool AllFound() const override { return true; }

private:
    std::vector<TListedFile> files_;
    size_t next_ = 0;
};

// The names the user gave, one at a time, so that a list of any length is
// read as the run goes. Called by one thread at a time.
class TGivenNames {
public:
    virtual ~TGivenNames() = default;
    // The next name; false at the end, or when closing is set while it waits for more.
    virtual bool Next(std::string& name, const std::atomic<bool>& closing) = 0;
};
// A list of names read line by line where it was given: after the first At
// names given as arguments. "-" is standard input.
struct TNameList {
    size_t At = 0;
    std::string Path;
};
// The names, with the lists' names in their places. A list's lines lose a
// carriage return and blanks at their end; empty lines name nothing. A list
// that cannot be read stands for itself (it is refused as a file).
std::unique_ptr<TGivenNames> GivenNames(std::vector<std::string> names, std::vector<TNameList> lists = {});

// What folders among the given names are walked against (batch/FolderWalk.h).
struct TListingRoots {
    // Outputs mirror paths relative to it, files given alone too; empty: each
    // folder given is its own base, and a file given alone stays flat.
    std::string Base;
    std::string OutputFolder;  // left out of the walks when it lies inside them
    TShard Shard;              // only the files of this shard are listed
    bool Unread = false;       // files given by name are listed unread too, for a face that reads them itself
    std::string OutputsBeside;  // with outputs next to their sources, their extension: walks leave them out
};
// The roots for a run's choice: the output folder left out of the walks, or
// with outputs next to their sources, those outputs.
TListingRoots ListingRootsFor(const TPlanChoice& plan, const std::string& output_folder, const std::string& base = "",
                              const TShard& shard = {});

// The names the user gave, listed as they are reached: a folder stands for
// its media files (batch/FolderWalk.h), a link file for its entries (met in a
// walk too), and a file of another shard for nothing. Files come unread
// (Probed false). With count_ahead, the listing itself runs ahead on a thread
// of its own and spools what it finds to a temporary file, so the count is
// that of the one walk and memory stays flat; the thread is let go when the
// source goes. Without, the listing goes as the files are taken, and Found
// counts what was handed out. With read_given, a file given by name (or by a
// link) is read as it is handed out, and only a folder's files come unread.
class TListingSource : public TFileSource {
public:
    TListingSource(std::vector<std::string> given, TListingRoots roots, bool count_ahead,
                   TCustomAVProbe* read_given = nullptr);
    TListingSource(std::unique_ptr<TGivenNames> given, TListingRoots roots, bool count_ahead,
                   TCustomAVProbe* read_given = nullptr);
    ~TListingSource() override;
    TListingSource(const TListingSource&) = delete;
    TListingSource& operator=(const TListingSource&) = delete;

    bool Next(TListedFile& file) override;
    std::vector<TFileRecord> TakeRefused() override;
    std::vector<std::string> TakeNotes() override;
    int64_t Found() const override;
    bool AllFound() const override;
    bool Ready() override;
    void SetReady(std::function<void()> ready) override;
    // The next file, left for Next to hand out: what a run is judged by before it starts.
    bool Peek(TListedFile& file);

private:
    class TCursor;
    class TSpool;
    struct TItem;
    bool NextItem(TItem& item);
    // A note or a refusal kept for the run; false for a file.
    bool TakeIn(TItem& item);
    void Walk();

    std::unique_ptr<TGivenNames> given_;
    const TListingRoots roots_;
    std::unique_ptr<TCursor> cursor_;
    std::unique_ptr<TSpool> spool_;  // with count_ahead: what the walk found, in order
    TCustomAVProbe* const read_given_;
    std::vector<TFileRecord> refused_;
    std::vector<std::string> notes_;
    std::unique_ptr<TListedFile> peeked_;
    std::unique_ptr<TItem> ahead_;  // a file Ready took from the spool
    bool spool_ended_ = false;      // Ready met the spool's end
    std::atomic<int64_t> counted_{0};  // entries with a record the walk found ahead
    std::atomic<bool> counted_all_{false};
    std::atomic<int64_t> handed_{0};  // entries with a record handed out: the count never says less
    std::atomic<bool> handed_all_{false};
    std::atomic<bool> closing_{false};
    std::thread walker_;  // last: it starts once the rest is made
};

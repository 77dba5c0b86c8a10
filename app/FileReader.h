#pragma once
// Lists and reads the files the user adds away from the window's thread, so
// that ten thousand of them never hold the window up.
//
// The names of each addition are listed in order, a few at a time, on one
// worker at once (links expanded, folders walked; batch/Converter.h), and the
// files given by name are then read on every worker, each with its own probe.
// A folder's files stay unread: the run reads them, as it always has. The
// names a run would give the listed files are planned there too, since
// planning asks the file system about each of them.
//
// Threads: the owner (the window's thread) makes, calls and destroys it.
// notify is called under the reader's lock, on a worker or in Take, when there
// is something to take and nothing was waiting to be taken: it must not call
// back into the reader, only queue a call of Take on the owner's thread. The
// destructor drops what is waiting and waits only for the files being listed
// or read at that moment.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/Converter.h"

class TFileReader {
public:
    struct TListed {
        TListedFile File;     // not read yet
        bool ToRead = false;  // a file given by name, read next; false: a folder's, left to the run
    };
    // The names planned for the files of one Plan, by file.
    struct TPlanned {
        uint64_t Ticket = 0;
        std::vector<std::pair<TFileId, std::string>> Names;
    };
    // What the workers found since the last take.
    struct TNews {
        std::vector<TListed> Listed;       // new files, in the order given
        std::vector<TListedFile> Read;     // files read since, in any order
        std::vector<TFileRecord> Refused;  // names that list nothing (links to nothing, empty folders)
        bool Rest = false;                 // more was found than taken: it comes with the next take
        bool Idle = false;                 // every name given is listed and every file read (or let go)
        std::optional<TPlanned> Planned;   // the names of the last Plan, once
    };

    // How a worker reads a listed file with its probe.
    using TRead = std::function<void(TCustomAVProbe& probe, TListedFile& file)>;
    TFileReader(int workers, TRead read, std::function<void()> notify);
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    void Add(const std::vector<std::string>& names, const TListingRoots& roots);
    // At most `most` listed and read files, the rest at the next take (notify
    // comes again for it).
    TNews Take(size_t most);
    // Names given whose files have not all been taken yet.
    bool Listing() const;
    // Plans the names a run would give `files` (PlanOutputPaths) on a worker;
    // they come with `ticket` in a later take. A plan not begun yet gives way.
    void Plan(uint64_t ticket, std::vector<TListedFile> files, const TPlanChoice& choice, const std::string& folder);
    // Leaves the files not read yet unread (a run reads them); what is being
    // read now is let go too.
    void StopReading();
    // Forgets every name and file not taken yet (the list was cleared).
    void Drop();

private:
    struct TName {
        std::string Path;
        TListingRoots Roots;
    };
    struct TPlan {
        uint64_t Ticket = 0;
        std::vector<TListedFile> Files;
        TPlanChoice Choice;
        std::string Folder;
    };
    void Work();
    void PlanNames(std::unique_lock<std::mutex>& lock);
    void ListSome(std::unique_lock<std::mutex>& lock, TCustomAVProbe& probe);
    void ReadOne(std::unique_lock<std::mutex>& lock, TCustomAVProbe& probe);
    bool IdleLocked() const;
    void Tell();  // lock held

    TRead read_;
    std::function<void()> notify_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool told_ = false;       // notify called and not taken since
    bool listing_ = false;    // a worker lists names now
    int reading_ = 0;         // files being read now
    uint64_t readEpoch_ = 0;  // goes up when the files being read are let go
    uint64_t listEpoch_ = 0;  // goes up when the names being listed are let go
    bool idleTold_ = true;    // the last idle state has been taken
    std::deque<TName> names_;
    std::deque<TListedFile> toRead_;
    std::optional<TPlan> plan_;
    TNews news_;
    std::vector<std::thread> workers_;
};

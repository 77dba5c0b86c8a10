#include "app/FileReader.h"

#include <algorithm>
#include <exception>

#include "probe/AVProbe.h"

namespace {

// Names listed at one go: the first rows show after a few milliseconds, and
// the lock is taken once for many files.
constexpr size_t NamesAtOnce = 64;

template <typename T> void MoveFront(std::vector<T>& from, std::vector<T>& to, size_t count) {
    const auto end = from.begin() + static_cast<std::ptrdiff_t>(std::min(count, from.size()));
    std::move(from.begin(), end, std::back_inserter(to));
    from.erase(from.begin(), end);
}

}  // namespace

TFileReader::TFileReader(int workers, TRead read, std::function<void()> notify)
    : read_(std::move(read)), notify_(std::move(notify)) {
    for (int i = 0; i < std::max(1, workers); ++i) workers_.emplace_back([this] { Work(); });
}

TFileReader::~TFileReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        names_.clear();
        toRead_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void TFileReader::Add(const std::vector<std::string>& names, const TListingRoots& roots) {
    if (names.empty()) return;
    TListingRoots unread = roots;
    unread.Unread = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& name : names) names_.push_back({name, unread});
        idleTold_ = false;
    }
    wake_.notify_all();
}

TFileReader::TNews TFileReader::Take(size_t most) {
    std::lock_guard<std::mutex> lock(mutex_);
    TNews out;
    MoveFront(news_.Listed, out.Listed, most);
    // A file read is taken only with or after its listing, so its row is there.
    if (news_.Listed.empty()) MoveFront(news_.Read, out.Read, most - out.Listed.size());
    out.Refused = std::move(news_.Refused);
    news_.Refused.clear();
    out.Planned = std::move(news_.Planned);
    news_.Planned.reset();
    if (!news_.Listed.empty() || !news_.Read.empty()) {
        out.Rest = true;
        notify_();
        return out;
    }
    out.Idle = news_.Idle;
    news_.Idle = false;
    told_ = false;
    return out;
}

bool TFileReader::Listing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listing_ || !names_.empty() || !news_.Listed.empty();
}

void TFileReader::Plan(uint64_t ticket, std::vector<TListedFile> files, const TPlanChoice& choice,
                       const std::string& folder) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        plan_ = TPlan{ticket, std::move(files), choice, folder};
    }
    wake_.notify_one();
}

void TFileReader::StopReading() {
    std::lock_guard<std::mutex> lock(mutex_);
    toRead_.clear();
    ++readEpoch_;
    if (IdleLocked() && !idleTold_) {
        idleTold_ = true;
        news_.Idle = true;
        Tell();
    }
}

void TFileReader::Drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.clear();
    toRead_.clear();
    plan_.reset();
    news_ = TNews();
    ++readEpoch_;
    ++listEpoch_;
    idleTold_ = true;
}

bool TFileReader::IdleLocked() const { return names_.empty() && !listing_ && toRead_.empty() && reading_ == 0; }

void TFileReader::Tell() {
    if (told_) return;
    told_ = true;
    notify_();
}

void TFileReader::Work() {
    TAVProbe probe;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || (!names_.empty() && !listing_) || plan_ || !toRead_.empty(); });
        if (stop_) return;
        // Listing first: rows show before the files already listed are read.
        if (!names_.empty() && !listing_)
            ListSome(lock, probe);
        else if (plan_)
            PlanNames(lock);
        else
            ReadOne(lock, probe);
        if (IdleLocked() && !idleTold_) {
            idleTold_ = true;
            news_.Idle = true;
            Tell();
        }
    }
}

void TFileReader::ListSome(std::unique_lock<std::mutex>& lock, TCustomAVProbe& probe) {
    std::vector<TName> names;
    while (!names_.empty() && names.size() < NamesAtOnce) {
        names.push_back(std::move(names_.front()));
        names_.pop_front();
    }
    listing_ = true;
    const uint64_t epoch = listEpoch_;
    lock.unlock();
    std::vector<TListed> listed;
    std::vector<TFileRecord> refused;
    for (const TName& name : names) {
        const bool folder = IsFolder(name.Path);
        try {
            TListing listing = ListFiles(probe, {name.Path}, name.Roots);
            for (TListedFile& file : listing.Files) listed.push_back({std::move(file), !folder});
            refused.insert(refused.end(), listing.Refused.begin(), listing.Refused.end());
        } catch (const std::exception& e) {
            refused.push_back({0, name.Path, "", TFileOutcome::Refused, TReason::InputUnreadable,
                               FileProblemLine(name.Path, e.what()), -1, -1});
        }
    }
    lock.lock();
    listing_ = false;
    if (epoch != listEpoch_) return;
    for (TListed& file : listed) {
        if (file.ToRead) toRead_.push_back(file.File);
        news_.Listed.push_back(std::move(file));
    }
    news_.Refused.insert(news_.Refused.end(), refused.begin(), refused.end());
    wake_.notify_all();
    Tell();
}

void TFileReader::ReadOne(std::unique_lock<std::mutex>& lock, TCustomAVProbe& probe) {
    TListedFile file = std::move(toRead_.front());
    toRead_.pop_front();
    ++reading_;
    const uint64_t epoch = readEpoch_;
    lock.unlock();
    read_(probe, file);
    lock.lock();
    --reading_;
    if (epoch != readEpoch_) return;
    news_.Read.push_back(std::move(file));
    Tell();
}

void TFileReader::PlanNames(std::unique_lock<std::mutex>& lock) {
    TPlan plan = std::move(*plan_);
    plan_.reset();
    lock.unlock();
    TPlanned planned{plan.Ticket, {}};
    try {
        const std::vector<std::string> paths = PlanOutputPaths(plan.Files, plan.Choice, plan.Folder);
        for (size_t i = 0; i < paths.size(); ++i) planned.Names.emplace_back(plan.Files[i].Id, paths[i]);
    } catch (const std::exception&) {
        planned.Names.clear();  // the rows keep the names they had
    }
    lock.lock();
    news_.Planned = std::move(planned);
    Tell();
}

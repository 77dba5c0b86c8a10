#include "batch/FileSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>

#include "batch/General.h"
#include "batch/PictureSample.h"
#include "probe/AVProbe.h"
#include "probe/LinkFile.h"

namespace fs = std::filesystem;

namespace {

std::atomic<TFileId> g_next_file_id{0};

// Whether the file is a regular one; else why not, in words and as a code.
// A file a walk found that is missing or a folder at its turn vanished.
bool IsRegularFile(TListedFile& file) {
    struct stat info {};
    if (::stat(file.Path.c_str(), &info) != 0) {
        const int error = errno;
        struct stat link {};
        if ((error == ENOENT || error == ELOOP) && ::lstat(file.Path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            file.Reason = TReason::DanglingLink;
            file.Problem = std::strerror(error);
        } else if (error == ENOENT) {
            file.Reason = file.Walked ? TReason::Vanished : TReason::InputUnreadable;
            file.Problem = "no such file";
        } else {
            file.Reason = ReasonOfErrno(error);
            file.Problem = std::strerror(error);
        }
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        file.Reason = file.Walked ? TReason::Vanished : TReason::InputUnreadable;
        file.Problem = "is a directory";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        file.Reason = TReason::NotAFile;
        file.Problem = "not a regular file";
        return false;
    }
    return true;
}

}  // namespace

TFileId NextFileId() { return ++g_next_file_id; }

void ReadListedFile(TCustomAVProbe& probe, TListedFile& file, bool sample_pictures) {
    file.Probed = true;
    const std::string& path = file.Path;
    if (!IsRegularFile(file)) return;
    try {
        if (probe.Open(path)) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            file.Readable = true;
            file.DurationUs = info.Duration;
            file.SizeBytes = probe.GetFileSize();
            file.Source = SourceFacts(probe);
            // While the file is open: the plan's crop and deinterlacing need its pictures.
            if (sample_pictures) file.Source.Pictures = SamplePictures(probe.FormatContext());
            file.Sampled = sample_pictures || file.Source.VideoStreams == 0;
        } else {
            file.Problem = probe.LastError();
            file.Reason = ::access(path.c_str(), R_OK) != 0 ? ReasonOfErrno(errno) : TReason::InputUnreadable;
        }
    } catch (const std::exception& e) {
        // A missing library or a failed allocation: the file is not listed, with why.
        file.Problem = e.what();
    }
    probe.Close();
}

void SampleListedFile(TCustomAVProbe& probe, TListedFile& file) {
    file.Sampled = true;
    try {
        if (probe.Open(file.Path)) file.Source.Pictures = SamplePictures(probe.FormatContext());
    } catch (const std::exception&) {
        // Without a sample the plan neither cuts nor deinterlaces by itself.
    }
    probe.Close();
}

bool TFileListSource::Next(TListedFile& file) {
    if (next_ >= files_.size()) return false;
    file = std::move(files_[next_++]);
    return true;
}

// ---- the names given ----

namespace {

// Lines of a file read as they come, in pieces, without waiting past closing.
class TLineReader {
public:
    explicit TLineReader(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~TLineReader() {
        if (owned_ && fd_ >= 0) ::close(fd_);
    }
    TLineReader(const TLineReader&) = delete;
    TLineReader& operator=(const TLineReader&) = delete;

    // The next line with its end and trailing blanks cut; false at the end.
    bool Next(std::string& line, const std::atomic<bool>& closing) {
        for (;;) {
            const size_t end = buffer_.find('\n', at_);
            if (end != std::string::npos || (ended_ && at_ < buffer_.size())) {
                const size_t stop = end == std::string::npos ? buffer_.size() : end;
                line.assign(buffer_, at_, stop - at_);
                at_ = stop + 1;
                const size_t kept = line.find_last_not_of(" \t\r");
                line.erase(kept == std::string::npos ? 0 : kept + 1);
                return true;
            }
            if (ended_ || !Fill(closing)) return false;
        }
    }

private:
    bool Fill(const std::atomic<bool>& closing) {
        buffer_.erase(0, std::min(at_, buffer_.size()));
        at_ = 0;
        char piece[65536];
        for (;;) {
            if (closing) return false;
            // A pipe may be silent for long (find walking): look again and again for a stop.
            pollfd ready{fd_, POLLIN, 0};
            const int polled = ::poll(&ready, 1, 100);
            if (polled < 0 && errno != EINTR) break;
            if (polled <= 0) continue;
            const ssize_t got = ::read(fd_, piece, sizeof piece);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) break;
            buffer_.append(piece, static_cast<size_t>(got));
            return true;
        }
        ended_ = true;
        return true;
    }

    const int fd_;
    const bool owned_;
    std::string buffer_;
    size_t at_ = 0;
    bool ended_ = false;
};

class TNameSequence : public TGivenNames {
public:
    TNameSequence(std::vector<std::string> names, std::vector<TNameList> lists)
        : names_(std::move(names)), lists_(std::move(lists)) {}

    bool Next(std::string& name, const std::atomic<bool>& closing) override {
        for (;;) {
            if (reader_) {
                while (reader_->Next(name, closing))
                    if (!name.empty()) return true;
                reader_.reset();
                continue;
            }
            if (list_ < lists_.size() && lists_[list_].At <= next_) {
                const std::string& path = lists_[list_++].Path;
                const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) {
                    name = path;
                    return true;
                }
                reader_ = std::make_unique<TLineReader>(fd, path != "-");
                continue;
            }
            if (next_ >= names_.size()) return false;
            name = std::move(names_[next_++]);
            return true;
        }
    }

private:
    std::vector<std::string> names_;
    std::vector<TNameList> lists_;
    size_t next_ = 0;  // names given so far
    size_t list_ = 0;  // lists opened so far
    std::unique_ptr<TLineReader> reader_;
};

}  // namespace

std::unique_ptr<TGivenNames> GivenNames(std::vector<std::string> names, std::vector<TNameList> lists) {
    return std::make_unique<TNameSequence>(std::move(names), std::move(lists));
}

TListingRoots ListingRootsFor(const TPlanChoice& plan, const std::string& output_folder, const std::string& base,
                              const TShard& shard) {
    TListingRoots roots{base, plan.NextToSource ? "" : output_folder, shard};
    if (plan.NextToSource) roots.OutputsBeside = plan.To.kind->extension;
    return roots;
}

// ---- the listing ----

// One thing the listing found, in its order.
struct TListingSource::TItem {
    enum class TKind : char { File, Refused, Note };
    TKind Kind = TKind::File;
    bool Walked = false;  // a file found by a walk or a link, not given by name
    TReason Reason = TReason::None;
    std::string Path, Subfolder, Text;
};

// The walk over the given names: folders walked, links expanded, shards kept.
class TListingSource::TCursor {
public:
    TCursor(TGivenNames& given, const TListingRoots& roots, const std::atomic<bool>& closing)
        : given_(given), roots_(roots), closing_(closing) {}

    // The next item; false at the end.
    bool Next(TItem& item) {
        for (;;) {
            if (!pending_.empty()) {
                item = std::move(pending_.front());
                pending_.erase(pending_.begin());
                return true;
            }
            // A link's entries come where the link stands, in a walk too.
            if (link_next_ < link_files_.size()) {
                if (Given(link_files_[link_next_++], link_walked_, item)) return true;
                continue;
            }
            if (walk_) {
                if (NextWalked(item)) return true;
                continue;
            }
            std::string name;
            if (!given_.Next(name, closing_)) return false;
            if (IsFolder(name)) {
                walk_ = std::make_unique<TFolderWalk>(name, roots_.Base, roots_.OutputFolder, roots_.OutputsBeside);
                walk_folder_ = name;
                walk_any_ = false;
                continue;
            }
            // A name with a media extension is taken as media, as a walk takes it:
            // reading it to tell a link would be one more opening of every input.
            const bool maybe_link = IsLinkFileName(name) || !IsMediaName(name);
            if (!(maybe_link && Expand(name, false)) && Given(name, false, item)) return true;
        }
    }

private:
    // A link file's entries as the next files, its notes and problems as the
    // next items; false when the file is no link.
    bool Expand(const std::string& name, bool walked) {
        TLinkExpansion link = ExpandLinkFile(name);
        if (!link.IsLink) return false;
        for (const std::string& note : link.Notes) pending_.push_back({TItem::TKind::Note, false, {}, "", "", note});
        for (const std::string& problem : link.Problems)
            pending_.push_back({TItem::TKind::Refused, false, TReason::LinkEntryUnusable, name, "", problem});
        link_files_ = std::move(link.Files);
        link_next_ = 0;
        link_walked_ = walked;
        // A link met in a walk leaves out what the walk meets by itself.
        if (walked)
            std::erase_if(link_files_, [&](const std::string& file) { return WalkMeets(file); });
        return true;
    }
    bool WalkMeets(const std::string& file) const {
        if (!IsMediaName(file)) return false;
        const std::string relative =
            fs::path(file).lexically_normal().lexically_relative(fs::path(walk_folder_).lexically_normal()).string();
        if (relative.empty() || relative.rfind("..", 0) == 0) return false;
        for (const auto& part : fs::path(relative))
            if (part.string().rfind('.', 0) == 0) return false;
        return true;
    }
    bool Given(const std::string& name, bool walked, TItem& item) {
        const std::string subfolder = MirroredFolder(name, roots_.Base);
        if (!InShard(roots_.Shard, subfolder + FileNamePart(name))) return false;
        item = {TItem::TKind::File, walked, TReason::None, name, subfolder, ""};
        return true;
    }
    bool NextWalked(TItem& item) {
        TFoundFile found;
        while (walk_->Next(found)) {
            walk_any_ = true;
            if (!InShard(roots_.Shard, found.Subfolder + FileNamePart(found.Path))) continue;
            if (found.Problem != TReason::None) {
                item = {TItem::TKind::Refused, true, found.Problem, found.Path, found.Subfolder, found.Text};
                return true;
            }
            // A RealMedia file by a link's name is media; a link is followed as when named.
            if (found.Link && Expand(found.Path, true)) return false;
            item = {TItem::TKind::File, true, TReason::None, std::move(found.Path), std::move(found.Subfolder), ""};
            return true;
        }
        // A folder that gives nothing is told, as a file that cannot be read is.
        if (!walk_any_)
            pending_.push_back({TItem::TKind::Refused, false, TReason::InputUnreadable, walk_folder_, "",
                                walk_folder_ + ": no media files in the folder"});
        walk_.reset();
        return false;
    }

    TGivenNames& given_;
    const TListingRoots& roots_;
    const std::atomic<bool>& closing_;
    std::vector<TItem> pending_;  // a link's notes and problems, a folder's refusal: next out
    std::unique_ptr<TFolderWalk> walk_;
    std::string walk_folder_;
    bool walk_any_ = false;
    std::vector<std::string> link_files_;
    size_t link_next_ = 0;
    bool link_walked_ = false;  // the link was met in a walk
};

// What the walk found ahead of the run, in order, in a temporary file of its
// own with a small tail in memory: the run takes from the front as the walk
// adds at the end. Without a temporary file the items wait in memory.
class TListingSource::TSpool {
public:
    TSpool() {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/ardentix-listing-XXXXXX";
        fd_ = ::mkstemp(name.data());
        if (fd_ >= 0) ::unlink(name.c_str());
    }
    ~TSpool() {
        if (fd_ >= 0) ::close(fd_);
    }
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;

    // Whether Take has an item or the end at once; when not, ready is called
    // (on the walk's thread) as soon as it has.
    bool Ready() {
        std::lock_guard<std::mutex> guard(lock_);
        if (ended_ || !tail_.empty() || read_ < written_ || head_at_ < head_.size()) return true;
        wanted_ = true;
        return false;
    }
    void SetReady(std::function<void()> ready) {
        std::lock_guard<std::mutex> guard(lock_);
        ready_ = std::move(ready);
    }

    // The walk's thread.
    void Put(const TItem& item) {
        std::unique_lock<std::mutex> guard(lock_);
        Append(tail_, item);
        if (tail_.size() >= kPieceBytes && fd_ >= 0) {
            if (::pwrite(fd_, tail_.data(), tail_.size(), static_cast<off_t>(written_)) ==
                static_cast<ssize_t>(tail_.size())) {
                written_ += tail_.size();
                tail_.clear();
            }
        }
        more_.notify_one();
        Tell(guard);
    }
    void End() {
        std::unique_lock<std::mutex> guard(lock_);
        ended_ = true;
        more_.notify_one();
        Tell(guard);
    }
    // The run's thread: the next item, waiting for the walk; false at its end.
    bool Take(TItem& item) {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            if (Parse(item)) return true;
            head_.erase(0, head_at_);
            head_at_ = 0;
            if (read_ < written_) {
                const size_t want = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, written_ - read_));
                const size_t had = head_.size();
                head_.resize(had + want);
                const ssize_t got = ::pread(fd_, head_.data() + had, want, static_cast<off_t>(read_));
                head_.resize(had + static_cast<size_t>(std::max<ssize_t>(got, 0)));
                if (got <= 0) return false;  // the file failed: the listing ends here
                read_ += static_cast<uint64_t>(got);
                continue;
            }
            if (!tail_.empty()) {
                head_ += tail_;
                tail_.clear();
                continue;
            }
            if (ended_) return false;
            more_.wait(guard);
        }
    }

private:
    static constexpr size_t kPieceBytes = 64 * 1024;

    // Calls ready, once, when the run found nothing to take.
    void Tell(std::unique_lock<std::mutex>& guard) {
        if (!wanted_ || !ready_) return;
        wanted_ = false;
        const std::function<void()> ready = ready_;
        guard.unlock();
        ready();
    }

    static void AppendText(std::string& to, const std::string& text) {
        const uint32_t size = static_cast<uint32_t>(text.size());
        to.append(reinterpret_cast<const char*>(&size), sizeof size);
        to += text;
    }
    static void Append(std::string& to, const TItem& item) {
        to += static_cast<char>(item.Kind);
        to += static_cast<char>(item.Walked);
        to += static_cast<char>(item.Reason);
        AppendText(to, item.Path);
        AppendText(to, item.Subfolder);
        AppendText(to, item.Text);
    }
    // One whole item from the head, if it holds one.
    bool Parse(TItem& item) {
        size_t at = head_at_ + 3;
        std::string* texts[] = {&item.Path, &item.Subfolder, &item.Text};
        std::pair<size_t, uint32_t> spans[3];
        for (auto& span : spans) {
            if (at + sizeof(uint32_t) > head_.size()) return false;
            std::memcpy(&span.second, head_.data() + at, sizeof(uint32_t));
            span.first = at + sizeof(uint32_t);
            at = span.first + span.second;
            if (at > head_.size()) return false;
        }
        item.Kind = static_cast<TItem::TKind>(head_[head_at_]);
        item.Walked = head_[head_at_ + 1] != 0;
        item.Reason = static_cast<TReason>(head_[head_at_ + 2]);
        for (size_t k = 0; k < 3; ++k) texts[k]->assign(head_, spans[k].first, spans[k].second);
        head_at_ = at;
        return true;
    }

    std::mutex lock_;
    std::condition_variable more_;
    int fd_ = -1;
    uint64_t written_ = 0;  // bytes in the file
    uint64_t read_ = 0;     // bytes of the file taken into the head
    std::string tail_;      // put after the file's bytes, not written yet
    std::string head_;      // read, from head_at_ on not taken yet
    size_t head_at_ = 0;
    bool ended_ = false;
    bool wanted_ = false;  // the run found nothing ready
    std::function<void()> ready_;
};

TListingSource::TListingSource(std::vector<std::string> given, TListingRoots roots, bool count_ahead,
                               TCustomAVProbe* read_given)
    : TListingSource(GivenNames(std::move(given)), std::move(roots), count_ahead, read_given) {}

TListingSource::TListingSource(std::unique_ptr<TGivenNames> given, TListingRoots roots, bool count_ahead,
                               TCustomAVProbe* read_given)
    : given_(std::move(given)),
      roots_(std::move(roots)),
      cursor_(std::make_unique<TCursor>(*given_, roots_, closing_)),
      read_given_(read_given) {
    if (!count_ahead) return;
    spool_ = std::make_unique<TSpool>();
    walker_ = std::thread([this] { Walk(); });
}

TListingSource::~TListingSource() {
    closing_ = true;
    if (walker_.joinable()) walker_.join();
}

void TListingSource::Walk() {
    TItem item;
    while (!closing_ && cursor_->Next(item)) {
        if (item.Kind != TItem::TKind::Note) ++counted_;
        spool_->Put(item);
    }
    counted_all_ = !closing_;
    spool_->End();
}

bool TListingSource::Ready() {
    if (peeked_ || !spool_ || ahead_ || spool_ended_) return true;
    // Notes and refusals are taken in here, so that Next does not wait behind them.
    TItem item;
    while (spool_->Ready()) {
        if (!spool_->Take(item)) {
            spool_ended_ = true;
            return true;
        }
        if (TakeIn(item)) continue;
        ahead_ = std::make_unique<TItem>(std::move(item));
        return true;
    }
    return false;
}

void TListingSource::SetReady(std::function<void()> ready) {
    if (spool_) spool_->SetReady(std::move(ready));
}

bool TListingSource::NextItem(TItem& item) {
    if (ahead_) {
        item = std::move(*ahead_);
        ahead_.reset();
        return true;
    }
    if (spool_ended_) return false;
    return spool_ ? spool_->Take(item) : cursor_->Next(item);
}

bool TListingSource::TakeIn(TItem& item) {
    if (item.Kind == TItem::TKind::Note) {
        notes_.push_back(std::move(item.Text));
        return true;
    }
    if (item.Kind != TItem::TKind::Refused) return false;
    ++handed_;
    refused_.push_back({0, item.Path, "", TFileOutcome::Refused, item.Reason, item.Text, -1, -1});
    return true;
}

bool TListingSource::Peek(TListedFile& file) {
    if (!peeked_) {
        auto next = std::make_unique<TListedFile>();
        if (!Next(*next)) return false;
        --handed_;
        peeked_ = std::move(next);
    }
    file = *peeked_;
    return true;
}

bool TListingSource::Next(TListedFile& file) {
    if (peeked_) {
        file = std::move(*peeked_);
        peeked_.reset();
        ++handed_;
        return true;
    }
    file = TListedFile{};
    TItem item;
    do {
        if (!NextItem(item)) {
            handed_all_ = true;
            return false;
        }
    } while (TakeIn(item));
    ++handed_;
    file.Id = NextFileId();
    file.Path = std::move(item.Path);
    file.Subfolder = std::move(item.Subfolder);
    file.Walked = item.Walked;
    file.Probed = false;
    if (read_given_ && !item.Walked) ReadListedFile(*read_given_, file);
    return true;
}

std::vector<TFileRecord> TListingSource::TakeRefused() { return std::exchange(refused_, {}); }

std::vector<std::string> TListingSource::TakeNotes() { return std::exchange(notes_, {}); }

int64_t TListingSource::Found() const {
    if (handed_all_) return handed_;
    // The count may lag behind what was handed out.
    return std::max(counted_.load(), handed_.load());
}

bool TListingSource::AllFound() const { return handed_all_ || counted_all_; }

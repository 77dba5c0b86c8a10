#include "batch/FileSource.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "batch/General.h"
#include "batch/PictureSample.h"
#include "probe/AVProbe.h"
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

}  // namespace

TFileId NextFileId() { return ++g_next_file_id; }

void ReadListedFile(TCustomAVProbe& probe, TListedFile& file, bool sample_pictures) {
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
            if (sample_pictures) file.Source.Pictures = SamplePictures(probe.FormatContext());
            file.Sampled = sample_pictures || file.Source.VideoStreams == 0;
        } else {
            file.Problem = probe.LastError();
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

TListingRoots ListingRootsFor(const TPlanChoice& plan, const std::string& output_folder, const std::string& base,
                              const TShard& shard) {
    TListingRoots roots{base, plan.NextToSource ? "" : output_folder, shard};
    if (plan.NextToSource) roots.OutputsBeside = plan.To.kind->extension;
    return roots;
}

bool TFileListSource::Next(TListedFile& file) {
    if (next_ >= files_.size()) return false;
    file = std::move(files_[next_++]);
    return true;
}

// One pass over the given names: the listing's and the count's each have their own.
class TListingSource::TCursor {
public:
    TCursor(const std::vector<std::string>& given, const TListingRoots& roots) : given_(given), roots_(roots) {}

    // The next file's path and mirrored folder, and whether a walk found it; false at the end.
    bool Next(std::string& path, std::string& subfolder, bool& walked) {
        for (;;) {
            walked = walk_ != nullptr;
            if (walk_) {
                if (NextWalked(path, subfolder)) return true;
                continue;
            }
            if (link_next_ < link_files_.size()) {
                if (Given(link_files_[link_next_++], path, subfolder)) return true;
                continue;
            }
            if (next_ >= given_.size()) return false;
            const std::string& name = given_[next_++];
            if (IsFolder(name)) {
                walk_ = std::make_unique<TFolderWalk>(name, roots_.Base, roots_.OutputFolder, roots_.OutputsBeside);
                walk_folder_ = name;
                walk_any_ = false;
                continue;
            }
            TLinkExpansion link = ExpandLinkFile(name);
            if (!link.IsLink) {
                if (Given(name, path, subfolder)) return true;
                continue;
            }
            notes_.insert(notes_.end(), link.Notes.begin(), link.Notes.end());
            for (const std::string& problem : link.Problems)
                refused_.push_back({0, name, "", TFileOutcome::Refused, TReason::LinkEntryUnusable, problem, -1, -1});
            link_files_ = std::move(link.Files);
            link_next_ = 0;
        }
    }

    std::vector<TFileRecord> refused_;
    std::vector<std::string> notes_;

private:
    bool Given(const std::string& name, std::string& path, std::string& subfolder) {
        subfolder = MirroredFolder(name, roots_.Base);
        if (!InShard(roots_.Shard, subfolder + FileNamePart(name))) return false;
        path = name;
        return true;
    }
    bool NextWalked(std::string& path, std::string& subfolder) {
        TFoundFile found;
        while (walk_->Next(found)) {
            walk_any_ = true;
            if (!InShard(roots_.Shard, found.Subfolder + FileNamePart(found.Path))) continue;
            path = std::move(found.Path);
            subfolder = std::move(found.Subfolder);
            return true;
        }
        std::vector<std::string> problems = walk_->Problems();
        // A folder that gives nothing is told, as a file that cannot be read is.
        if (!walk_any_ && problems.empty()) problems.push_back(walk_folder_ + ": no media files in the folder");
        for (const std::string& problem : problems)
            refused_.push_back(
                {0, walk_folder_, "", TFileOutcome::Refused, TReason::InputUnreadable, problem, -1, -1});
        walk_.reset();
        return false;
    }

    const std::vector<std::string>& given_;
    const TListingRoots& roots_;
    size_t next_ = 0;
    std::unique_ptr<TFolderWalk> walk_;
    std::string walk_folder_;
    bool walk_any_ = false;
    std::vector<std::string> link_files_;
    size_t link_next_ = 0;
};

TListingSource::TListingSource(std::vector<std::string> given, TListingRoots roots, bool count_ahead,
                               TCustomAVProbe* read_given)
    : given_(std::move(given)),
      roots_(std::move(roots)),
      cursor_(std::make_unique<TCursor>(given_, roots_)),
      counting_(count_ahead),
      read_given_(read_given) {
    if (counting_) counter_ = std::thread([this] { Count(); });
}

TListingSource::~TListingSource() {
    closing_ = true;
    if (counter_.joinable()) counter_.join();
}

void TListingSource::Count() {
    TCursor cursor(given_, roots_);
    std::string path, subfolder;
    bool walked;
    while (!closing_ && cursor.Next(path, subfolder, walked)) ++counted_;
    counted_all_ = !closing_;
}

bool TListingSource::Next(TListedFile& file) {
    file = TListedFile{};
    bool walked;
    if (!cursor_->Next(file.Path, file.Subfolder, walked)) {
        handed_all_ = true;
        return false;
    }
    file.Id = NextFileId();
    file.Probed = false;
    if (read_given_ && !walked) ReadListedFile(*read_given_, file);
    ++handed_;
    return true;
}

std::vector<TFileRecord> TListingSource::TakeRefused() { return std::exchange(cursor_->refused_, {}); }

std::vector<std::string> TListingSource::TakeNotes() { return std::exchange(cursor_->notes_, {}); }

int64_t TListingSource::Found() const {
    if (handed_all_) return handed_;
    // The count may lag behind the files handed out.
    return std::max(counting_ ? counted_.load() : 0, handed_.load());
}

bool TListingSource::AllFound() const { return handed_all_ || (counting_ && counted_all_); }

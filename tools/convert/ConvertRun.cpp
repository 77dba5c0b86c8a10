#include "tools/convert/ConvertRun.h"

#include <unistd.h>

#include <cstdio>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>

#include "batch/BatchProgress.h"
#include "batch/Converter.h"
#include "batch/General.h"
#include "batch/ReportFile.h"
#include "batch/RunSummary.h"
#include "probe/LinkFile.h"
#include "tools/convert/TerminalText.h"

namespace fs = std::filesystem;

namespace {

// Every line goes through here: workers report too. Names, tags and the
// libraries' messages reach the terminal only as printable text.
std::mutex g_print_lock;

void PrintLine(FILE* stream, const std::string& text) {
    const std::string safe = TerminalLines(text);
    std::lock_guard<std::mutex> guard(g_print_lock);
    std::fprintf(stream, "%s\n", safe.c_str());
    std::fflush(stream);
}

std::string Seconds(int64_t microseconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

// The end of a batch: the counts, then each failure again with its reason, since
// in a long batch the lines of the failures have scrolled away by now, and the
// stopped files whose shorter output was kept.
std::string SummaryText(const TRunSummary& summary) {
    const int total = summary.Total();
    const int skipped = summary.Count(TFileOutcome::Skipped);
    // Files a full disk kept from starting are no stop of the user's.
    const int disk_full = summary.Count(TFileOutcome::NotStarted, TReason::DiskFull);
    std::string text = std::to_string(total) + (total == 1 ? " file: " : " files: ") +
                       std::to_string(summary.Converted()) + " completed, " +
                       (skipped ? std::to_string(skipped) + " skipped (output exists), " : "") +
                       std::to_string(summary.Failures()) + " failed, " +
                       (disk_full ? std::to_string(disk_full) + " not started (disk full), " : "") +
                       std::to_string(summary.Count(TFileOutcome::Stopped) + summary.Count(TFileOutcome::NotStarted) -
                                      disk_full) +
                       " stopped";
    const std::vector<TFileRecord> failed = summary.FailedFiles();
    if (!failed.empty()) text += "\nFailed:";
    for (const TFileRecord& e : failed) text += "\n  " + RecordLine(e);
    const std::vector<TFileRecord> shorter = summary.KeptShorter();
    if (!shorter.empty()) text += "\nStopped, kept shorter than the input:";
    for (const TFileRecord& e : shorter) text += "\n  " + e.Output + " (" + e.Text + ")";
    return text;
}

// One file's line as it ends: failures to standard error, the rest to standard output.
void PrintRecord(const TFileRecord& record, bool quiet, const std::map<TFileId, std::string>& durations) {
    if (record.Failure()) {
        PrintLine(stderr, RecordLine(record));
        return;
    }
    if (quiet) return;
    if (record.Outcome == TFileOutcome::NotStarted && record.Reason == TReason::DiskFull) {
        PrintLine(stdout, record.Input + ": Not started, the disk is full");
        return;
    }
    if (record.Outcome == TFileOutcome::Stopped || record.Outcome == TFileOutcome::NotStarted) {
        // A shorter file kept under its name must not pass for a whole one.
        const std::string kept =
            record.Output.empty() ? "" : ", kept shorter as " + record.Output + " (" + record.Text + ")";
        PrintLine(stdout, record.Input + ": Stopped" + kept);
        return;
    }
    if (record.Outcome == TFileOutcome::Skipped) {
        PrintLine(stdout, record.Input + " -> " + record.Output + ": Skipped, the output exists");
        return;
    }
    // An input that ended early says how much of it there was.
    const auto duration = durations.find(record.Id);
    std::string length = duration == durations.end() || duration->second.empty() ? "" : " (" + duration->second + ")";
    if (record.Outcome == TFileOutcome::EndedEarly) length = " (" + record.Text + ", the input ends early)";
    PrintLine(stdout, record.Input + " -> " + record.Output + ": Completed" + length);
}

// The status line on a terminal: the whole batch by playing time, then each
// running file. Files join it as the run reaches them; until every file is
// found, it counts the ended ones against those found so far.
class TStatusLine {
public:
    explicit TStatusLine(bool shown) : shown_(shown) { progress_.Start({}, NowMs()); }
    void Planned(const TFileRecord& record) {
        slots_[record.Id] = {progress_.AddFile(record.ExpectedMs), BaseName(record.Input)};
    }
    void Ended(const TFileRecord& record) {
        Clear();
        const auto slot = slots_.find(record.Id);
        // A file that ends as it is reached (skipped, refused) counts too.
        progress_.FileEnded(slot == slots_.end() ? progress_.AddFile(-1) : slot->second.first);
        if (slot != slots_.end()) slots_.erase(slot);
        running_.erase(record.Id);
    }
    void Progress(const TFileProgress& p) {
        if (slots_.count(p.Id)) running_[p.Id] = p;
    }
    void Found(int64_t files, bool all) {
        progress_.SetExpected(files);
        found_all_ = all;
    }
    void Show() {
        if (!shown_) return;
        std::string status;
        for (const auto& [id, at] : running_) {
            const auto& [slot, name] = slots_[id];
            progress_.FileProgress(slot, at.CurrentMs, at.TotalMs, NowMs());
            const int pct = ProgressPercent(at.CurrentMs, at.TotalMs);
            status += "  " + name + " " + (pct < 0 ? std::string("...") : std::to_string(pct) + "%");
        }
        if (status.empty()) return Print("");
        const int64_t left = progress_.RemainingMs(NowMs());
        const std::string counts =
            found_all_ ? std::to_string(progress_.Started()) + "/" + std::to_string(progress_.Expected()) + " " +
                             std::to_string(progress_.Percent()) + "%"
                       : std::to_string(progress_.Ended()) + " done, " + std::to_string(progress_.Expected()) +
                             " found so far";
        Print(counts + " " + ClockText(progress_.ElapsedMs(NowMs())) +
              (left < 0 || !found_all_ ? std::string() : " ~" + ClockText(left) + " left") + status);
    }
    void Clear() {
        if (last_.empty()) return;
        std::lock_guard<std::mutex> guard(g_print_lock);
        std::fputs("\r\033[K", stderr);
        last_.clear();
    }

private:
    void Print(const std::string& status) {
        if (status.empty() || status == last_) return;
        std::lock_guard<std::mutex> guard(g_print_lock);
        std::fprintf(stderr, "\r\033[K%s", TerminalText(status).c_str());
        std::fflush(stderr);
        last_ = status;
    }
    int64_t NowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
    }
    const bool shown_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    TBatchProgress progress_;
    std::map<TFileId, std::pair<int, std::string>> slots_;  // position in the batch, name shown; until it ends
    std::map<TFileId, TFileProgress> running_;
    std::string last_;
    bool found_all_ = false;
};

// The list as the user gave it, with a line for each link's entries and problems.
TListing ListGivenFiles(TDAzaduVED& engine, const TConvertOptions& options) {
    const TListingRoots roots = ListingRootsFor(options.Plan, options.OutputFolder, options.Base, options.Shard);
    TListing listing = ListFiles(engine.Probe, GivenNames(options.Files, options.Lists), roots);
    if (!options.Quiet)
        for (const std::string& note : listing.Notes) PrintLine(stdout, note);
    for (const TFileRecord& refused : listing.Refused) PrintLine(stderr, RecordLine(refused));
    return listing;
}

// The report as files end; a report that cannot be written is told once and
// makes the run's status a failure, without stopping the conversions.
class TReportLines {
public:
    explicit TReportLines(const std::string& path) : path_(path) {}
    bool Open() {
        std::string why;
        if (path_.empty() || file_.Open(path_, why)) return true;
        PrintLine(stderr, "Cannot write the report " + path_ + ": " + why);
        return false;
    }
    void Write(const TFileRecord& record) {
        std::string why;
        if (!file_.IsOpen() || failed_ || file_.Write(record, why)) return;
        PrintLine(stderr, "Cannot write the report " + path_ + ": " + why);
        failed_ = true;
    }
    bool Failed() const { return failed_; }

private:
    const std::string path_;
    TReportFile file_;
    bool failed_ = false;
};

// Runs the batch to its end, or until interrupted asks for a stop; every
// record is printed as it ends and added to the summary.
void RunBatch(TBatchRun& run, TEventLoopWindowThread& loop, TStatusLine& status, const TConvertOptions& options,
              const std::atomic<bool>& interrupted, std::atomic<bool>& news, TRunSummary& summary,
              TReportLines& report) {
    std::map<TFileId, std::string> durations;  // of the files running, as the window shows them; empty when unknown
    for (;;) {
        // Awake for news of the run, a stop, or the status line's clock.
        loop.RunUntil([&] { return news.exchange(false) || (interrupted.load() && !run.Stopping()); },
                      std::chrono::milliseconds(250));
        if (interrupted && !run.Stopping()) run.Stop();
        const TRunUpdate update = run.Take();
        if (update.DiskFull) {
            status.Clear();
            PrintLine(stderr, "The output disk is full: no further file is started.");
        }
        if (!options.Quiet)
            for (const std::string& note : update.Notes) PrintLine(stdout, note);
        for (const TFileRecord& record : update.Planned) {
            status.Planned(record);
            durations[record.Id] = record.ExpectedMs < 0 ? "" : DurationText(record.ExpectedMs * 1000);
        }
        for (const TFileProgress& p : update.Progress) status.Progress(p);
        for (const TFileRecord& record : update.Ended) {
            status.Ended(record);
            PrintRecord(record, options.Quiet, durations);
            durations.erase(record.Id);
            report.Write(record);
            summary.Add(record);
        }
        status.Found(update.Found, update.FoundAll);
        if (update.Over) {
            summary.AddNotReached(update.NotReached);
            break;
        }
        if (update.TakeAgain) news = true;
        status.Show();
    }
    status.Clear();
}

// What --info shows of a file the probe has open, one value a line, whatever it holds.
std::string InfoText(const std::string& file_name, const TAVProbe& probe) {
    TAVFileInfo info;
    probe.GetFileInfo(info);
    std::string text = TerminalText(file_name) + "\n";
    if (const std::string format = probe.ContainerName(); !format.empty()) text += "  format: " + format + "\n";
    text += "  duration: " +
            (info.Duration < 0 ? std::string("unknown") : DurationText(info.Duration) + " (" + Seconds(info.Duration) + ")") +
            "\n";
    if (info.StartTime >= 0 && info.StartTime != 0) text += "  start: " + Seconds(info.StartTime) + "\n";
    text += "  bit rate: " + (info.BitRate > 0 ? std::to_string(info.BitRate / 1000) + " kbit/s" : std::string("unknown")) + "\n";
    text += "  size: " + std::to_string(probe.GetFileSize()) + " bytes\n";
    text += "  streams: " + std::to_string(probe.StreamCount()) + " (" + std::to_string(probe.AudioStreamCount()) +
            " audio, " + std::to_string(probe.VideoStreamCount()) + " video, " +
            std::to_string(probe.SubtitleStreamCount()) + " subtitle)\n";
    const std::pair<const char*, const char*> tags[] = {{"title", info.title},   {"author", info.author},
                                                        {"copyright", info.copyright}, {"comment", info.comment},
                                                        {"album", info.album},   {"genre", info.genre}};
    for (const auto& [name, value] : tags)
        if (value[0]) text += std::string("  ") + name + ": " + TerminalText(value) + "\n";
    if (info.year > 0) text += "  year: " + std::to_string(info.year) + "\n";
    if (info.track > 0) text += "  track: " + std::to_string(info.track) + "\n";
    text.pop_back();
    return text;
}

}  // namespace

int ShowInfo(TDAzaduVED& engine, const TConvertOptions& options) {
    TConvertOptions listed = options;
    listed.Quiet = false;
    const TListing listing = ListGivenFiles(engine, listed);
    int status = listing.Refused.empty() ? 0 : 1;
    for (const TListedFile& file : listing.Files) {
        TAVProbe& probe = engine.Probe;
        bool opened = false;
        try {
            opened = (file.Readable || !file.Probed) && probe.Open(file.Path);
        } catch (const std::exception& e) {
            PrintLine(stderr, FileProblemLine(file.Path, e.what()));
            status = 1;
            continue;
        }
        if (!opened) {
            const std::string why = file.Probed && !file.Readable ? file.Problem : probe.LastError();
            PrintLine(stderr, FileProblemLine(file.Path, why));
            status = 1;
            continue;
        }
        const std::string text = InfoText(file.Path, probe);
        probe.Close();
        PrintLine(stdout, text);
    }
    return status;
}

namespace {

// The exit status of a run that went to its end or was interrupted.
int ExitStatus(const TRunSummary& summary, bool interrupted, bool report_failed) {
    if (interrupted) return 130;
    if (report_failed) return 1;
    switch (summary.Verdict()) {
        case TRunVerdict::AllConverted: return 0;
        case TRunVerdict::SomeUnconvertible: return 3;
        case TRunVerdict::RunAgain: break;
    }
    return 1;
}

}  // namespace

int Convert(TDAzaduVED& engine, TEventLoopWindowThread& loop, const TConvertOptions& options,
            const std::atomic<bool>& interrupted) {
    TReportLines report(options.Report);
    if (!report.Open()) return 1;
    std::atomic<bool> news{false};
    TBatchRun run(engine, [&loop, &news](TRunNews) {
        news = true;
        loop.Wake();
    });
    // Each line names its file by its place in the batch: the engine's indexes move as files end.
    if (options.Verbose)
        engine.SetOnLog([&run](int index, TLogLevel, const std::string& line) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            PrintLine(stderr, "[" + std::to_string(run.FileNumber(index)) + "] " + text);
        });
    const TListingRoots roots = ListingRootsFor(options.Plan, options.OutputFolder, options.Base, options.Shard);
    auto source = std::make_unique<TListingSource>(GivenNames(options.Files, options.Lists), roots, true);
    const TRunRequest request{options.Plan, options.OutputFolder,
                              options.Jobs > 0 ? options.Jobs : TRunRequest::JudgedByFirstFile};
    std::string problem;
    if (!run.Start(std::move(source), request, problem)) {
        PrintLine(stderr, "Cannot write to the output folder " + options.OutputFolder + ": " + problem);
        engine.SetOnLog(nullptr);
        return 1;
    }
    TStatusLine status(!options.Quiet && ::isatty(STDERR_FILENO));
    // Failures and stopped files kept shorter, for the end; the rest is counted.
    TRunSummary summary(false);
    RunBatch(run, loop, status, options, interrupted, news, summary, report);
    engine.SetOnLog(nullptr);

    if (!options.Quiet) PrintLine(stdout, SummaryText(summary));
    return ExitStatus(summary, interrupted, report.Failed());
}

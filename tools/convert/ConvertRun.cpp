#include "tools/convert/ConvertRun.h"

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "batch/BatchProgress.h"
#include "batch/General.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"
#include "core/OutputPlace.h"
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

// A failure line: "<file>: <reason>", without naming the file twice when the
// libraries' message already starts with it.
std::string FileLine(const std::string& file, const std::string& reason) {
    if (reason.rfind(file + ": ", 0) == 0) return reason;
    return file + ": " + reason;
}

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

std::string Seconds(int64_t microseconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

struct TJob {
    std::string input;
    std::string output;
    std::string duration;  // what the probe read, as the window shows it; empty when it could not
    int64_t duration_ms = -1;  // the same in milliseconds; -1 unknown
};

struct TProbed {
    std::string duration;  // as the window shows it; empty when it could not be read
    int64_t duration_ms = -1;
    TSourceFacts source;  // what the output plan takes from the file
};

// The window reads each file's duration before it tries the file as a task.
TProbed ProbeFile(TDAzaduVED& engine, const std::string& file) {
    TProbed probed;
    try {
        if (engine.Probe.Open(file)) {
            TAVFileInfo info;
            engine.Probe.GetFileInfo(info);
            probed.duration = DurationText(info.Duration);
            probed.duration_ms = info.Duration < 0 ? -1 : info.Duration / 1000;
            probed.source = SourceFacts(engine.Probe);
        }
    } catch (const Exception&) {
    }
    engine.Probe.Close();
    return probed;
}

struct TEnded {
    int index;
    bool finished;
    bool exception;
    std::string message;
};

// The files to work on: each file given, or in a link's place the local files it
// names, with a line for each. Whatever a link names that cannot be read is a
// failure line each and a failed entry of the summary.
std::vector<std::string> ExpandLinks(const std::vector<std::string>& files, bool quiet, TRunSummary& summary) {
    std::vector<std::string> inputs;
    for (const std::string& file : files) {
        const TLinkExpansion link = ExpandLinkFile(file);
        if (!link.IsLink) {
            inputs.push_back(file);
            continue;
        }
        if (!quiet)
            for (const std::string& note : link.Notes) PrintLine(stdout, note);
        for (const std::string& problem : link.Problems) {
            PrintLine(stderr, problem);
            summary.Add({file, "", TFileOutcome::Failed, problem});
        }
        inputs.insert(inputs.end(), link.Files.begin(), link.Files.end());
    }
    return inputs;
}

// The end of a batch: the counts, then each failure again with its reason, since
// in a long batch the lines of the failures have scrolled away by now.
std::string SummaryText(const TRunSummary& summary) {
    const int total = summary.Total();
    std::string text = std::to_string(total) + (total == 1 ? " file: " : " files: ") +
                       std::to_string(summary.Count(TFileOutcome::Completed)) + " completed, " +
                       std::to_string(summary.Count(TFileOutcome::Failed)) + " failed, " +
                       std::to_string(summary.Count(TFileOutcome::Stopped) + summary.Count(TFileOutcome::NotStarted)) +
                       " stopped";
    const std::vector<TSummaryEntry> failed = summary.With(TFileOutcome::Failed);
    if (!failed.empty()) text += "\nFailed:";
    for (const TSummaryEntry& e : failed) text += "\n  " + FileLine(e.Input, e.Reason);
    return text;
}

}  // namespace

int ShowInfo(TDAzaduVED& engine, const TConvertOptions& options) {
    TRunSummary links;
    const std::vector<std::string> inputs = ExpandLinks(options.Files, false, links);
    int status = links.Total() > 0 ? 1 : 0;
    for (const std::string& file : inputs) {
        std::string why;
        if (!IsRegularFile(file, why)) {
            PrintLine(stderr, file + ": " + why);
            status = 1;
            continue;
        }
        TAVProbe& probe = engine.Probe;
        bool opened = false;
        try {
            opened = probe.Open(file);
        } catch (const Exception& e) {
            PrintLine(stderr, file + ": " + e.Message);
            status = 1;
            continue;
        }
        if (!opened) {
            PrintLine(stderr, FileLine(file, probe.LastError()));
            status = 1;
            continue;
        }
        TAVFileInfo info;
        probe.GetFileInfo(info);
        const AVFormatContext* ctx = probe.FormatContext();
        // Every value is one line, whatever it holds.
        std::string text = TerminalText(file) + "\n";
        if (ctx && ctx->iformat)
            text += std::string("  format: ") + ctx->iformat->name +
                    (ctx->iformat->long_name ? std::string(" (") + ctx->iformat->long_name + ")" : "") + "\n";
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
        probe.Close();
        text.pop_back();
        PrintLine(stdout, text);
    }
    return status;
}

int Convert(TDAzaduVED& engine, TEventLoopWindowThread& loop, const TConvertOptions& options,
            const std::atomic<bool>& interrupted) {
    const bool show_progress = !options.Quiet && ::isatty(STDERR_FILENO);
    std::string folder_problem;
    if (!PrepareOutputFolder(options.OutputFolder, folder_problem)) {
        PrintLine(stderr, "Cannot write to the output folder " + options.OutputFolder + ": " + folder_problem);
        return 1;
    }
    const std::string folder = IncludeTrailingSeparator(Canonical(options.OutputFolder));

    TRunSummary summary;
    auto fail = [&](const std::string& file, const std::string& reason) {
        PrintLine(stderr, FileLine(file, reason));
        summary.Add({file, "", TFileOutcome::Failed, reason});
    };
    const std::vector<std::string> inputs = ExpandLinks(options.Files, options.Quiet, summary);

    // Outputs of this run, and the inputs themselves: no output replaces either.
    std::set<std::string> taken;
    for (const std::string& file : inputs) taken.insert(Canonical(file));

    std::map<int, TJob> jobs;
    for (const std::string& file : inputs) {
        std::string why;
        if (!IsRegularFile(file, why)) {
            fail(file, why);
            continue;
        }
        const TProbed probed = ProbeFile(engine, file);
        if (const std::string refusal = PlanRefusal(options.Plan, probed.source); !refusal.empty()) {
            fail(file, refusal);
            continue;
        }
        TInputOptions input;
        input.FileName = file;
        const int index = engine.AddTask(file, &input);
        if (index < 0) {
            fail(file, engine.LastErrorText());
            continue;
        }
        TOutputOptions output = PlanOutput(options.Plan, probed.source);
        const std::string ext = output.FileExt;
        // A name the file system refuses is no reason to stop: its opening says so.
        const std::string name = ChooseOutputName(
            folder, BaseName(file), options.Plan.Overwrite, taken,
            [](const std::string& path) {
                std::error_code ec;
                return fs::exists(path, ec);
            },
            ext);
        TJob job{file, folder + name + ext, probed.duration, probed.duration_ms};
        output.FileName = job.output;
        if (!engine.SetOutputFile(index, job.output, &output)) {
            fail(file, "Cannot convert: " + engine.LastErrorText());
            engine.RemoveTask(index);
            continue;
        }
        taken.insert(job.output);
        jobs[index] = job;
    }

    std::mutex lock;
    std::map<int, std::pair<int, int>> position;  // running tasks: output time reached and length, ms
    std::deque<TEnded> ended;
    std::atomic<bool> run_over{jobs.empty()};
    engine.SetOnProgress([&](int index, int, int, int current, float, float, int64_t, int total) {
        std::lock_guard<std::mutex> guard(lock);
        position[index] = {current, total};
    });
    engine.SetOnTerminate([&](int index, bool finished, bool exception, const std::string& message) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (index < 0)
                run_over = true;
            else
                ended.push_back(TEnded{index, finished, exception, message});
            position.erase(index);
        }
        loop.Wake();
    });
    if (options.Verbose)
        engine.SetOnLog([](int index, TLogLevel, const std::string& line) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            PrintLine(stderr, "[" + std::to_string(index) + "] " + text);
        });

    bool stop_sent = false;
    std::string last_status;
    auto clear_status = [&] {
        if (!last_status.empty()) {
            std::lock_guard<std::mutex> guard(g_print_lock);
            std::fputs("\r\033[K", stderr);
            last_status.clear();
        }
    };
    auto report = [&](const TEnded& e) {
        const TJob& job = jobs[e.index];
        clear_status();
        if (e.finished && !e.exception) {
            // An input that ended early says how much of it there was.
            std::string length = job.duration.empty() ? "" : " (" + job.duration + ")";
            std::string remark;
            if (const TFFmpeg* task = engine.Task(e.index); task && task->EndedShort()) {
                remark = DurationText(task->converted_ms * 1000) + " of " +
                         DurationText(task->ExpectedOutputMs() * 1000) + ", the input ends early";
                length = " (" + remark + ")";
            }
            summary.Add({job.input, job.output, TFileOutcome::Completed, remark});
            if (!options.Quiet) PrintLine(stdout, job.input + " -> " + job.output + ": Completed" + length);
        } else if (e.exception) {
            fail(job.input, e.message);
        } else {
            summary.Add({job.input, job.output, TFileOutcome::Stopped, ""});
            if (!options.Quiet) PrintLine(stdout, job.input + ": Stopped");
        }
    };

    // The whole batch for the status line, by playing time as the window shows it.
    TBatchProgress progress;
    const auto clock_start = std::chrono::steady_clock::now();
    auto now_ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clock_start)
            .count();
    };
    std::vector<int64_t> durations(jobs.empty() ? 0 : jobs.rbegin()->first + 1, -1);
    for (const auto& [index, job] : jobs) durations[index] = job.duration_ms;
    progress.Start(durations, now_ms());

    if (!jobs.empty()) engine.StartConvert(options.Jobs);
    for (;;) {
        loop.RunUntil([&] { return run_over.load() || (interrupted.load() && !stop_sent); },
                      std::chrono::milliseconds(250));
        if (interrupted && !stop_sent) {
            stop_sent = true;
            engine.StopConvert();
        }
        std::deque<TEnded> now;
        std::map<int, std::pair<int, int>> running;
        {
            std::lock_guard<std::mutex> guard(lock);
            now.swap(ended);
            running = position;
        }
        for (const TEnded& e : now) {
            report(e);
            progress.FileEnded(e.index);
        }
        if (run_over) break;
        if (show_progress) {
            std::string status;
            for (const auto& [index, at] : running) {
                progress.FileProgress(index, at.first, at.second, now_ms());
                const int pct = ProgressPercent(at.first, at.second);
                status += "  " + BaseName(jobs[index].input) + " " +
                          (pct < 0 ? std::string("...") : std::to_string(pct) + "%");
            }
            const int64_t left = progress.RemainingMs(now_ms());
            if (!status.empty())
                status = std::to_string(progress.Started()) + "/" + std::to_string(progress.Files()) + " " +
                         std::to_string(progress.Percent()) + "% " + ClockText(progress.ElapsedMs(now_ms())) +
                         (left < 0 ? std::string() : " ~" + ClockText(left) + " left") + status;
            if (!status.empty() && status != last_status) {
                std::lock_guard<std::mutex> guard(g_print_lock);
                std::fprintf(stderr, "\r\033[K%s", TerminalText(status).c_str());
                std::fflush(stderr);
                last_status = status;
            }
        }
    }
    clear_status();
    engine.SetOnProgress(nullptr);
    engine.SetOnTerminate(nullptr);
    engine.SetOnLog(nullptr);
    // Freeing the tasks closes their files; temporary files that were not placed go.
    engine.ClearTasks();

    if (!options.Quiet) PrintLine(stdout, SummaryText(summary));
    if (interrupted) return 130;
    return summary.RanToTheEnd() && summary.Count(TFileOutcome::Failed) == 0 ? 0 : 1;
}

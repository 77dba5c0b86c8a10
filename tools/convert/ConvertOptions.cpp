#include "tools/convert/ConvertOptions.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <utility>

#include "batch/General.h"
#include "batch/Settings.h"
#include "core/OptionInfo.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool InList(const std::vector<int>& list, int value) {
    for (int v : list)
        if (v == value) return true;
    return false;
}

std::string ListText(const std::vector<int>& list) {
    std::string text;
    for (int v : list) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
}

// The option being read, with its value inline ("--name=value") or in the next argument.
class TArgReader {
public:
    TArgReader(const std::vector<std::string>& args, std::string& error) : args_(args), error_(error) {}

    // Takes the option at position i; i moves past the values it reads.
    void Take(const std::string& arg, size_t& i) {
        name = arg;
        inline_value_.clear();
        has_inline_ = false;
        at_ = &i;
        if (arg.rfind("--", 0) != 0) return TakeShort(arg);
        const size_t eq = arg.find('=');
        if (eq == std::string::npos) return;
        inline_value_ = arg.substr(eq + 1);
        name = arg.substr(0, eq);
        has_inline_ = true;
    }
    // "-j2", "-oDIR": a short option with its value joined on, as terminal programs take it.
    void TakeShort(const std::string& arg) {
        if (arg.size() <= 2) return;
        name = arg.substr(0, 2);
        inline_value_ = arg.substr(2);
        has_inline_ = true;
    }
    bool Is(const char* short_name, const char* long_name) const {
        return (short_name && name == short_name) || name == long_name;
    }
    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }
    bool Value(std::string& out) {
        if (has_inline_) {
            out = inline_value_;
            return true;
        }
        if (*at_ + 1 >= args_.size()) return Fail("option " + name + " needs a value");
        out = args_[++*at_];
        return true;
    }
    bool Number(int& out) {
        std::string text;
        if (!Value(text)) return false;
        const auto n = ParseNumber(text);
        if (!n) return Fail("option " + name + ": '" + text + "' is not a number");
        out = *n;
        return true;
    }
    // A number, or "source" for the source's own value.
    bool NumberOrSource(int& out) {
        const bool source = has_inline_ ? inline_value_ == "source"
                                        : *at_ + 1 < args_.size() && args_[*at_ + 1] == "source";
        if (source) {
            if (!has_inline_) ++*at_;
            out = SameAsSource;
            return true;
        }
        if (!Number(out)) return false;
        return out != SameAsSource || Fail("option " + name + ": 0 is no choice (a number or source)");
    }
    bool Flag() { return !has_inline_ || Fail("option " + name + " takes no value"); }

    std::string name;

private:
    const std::vector<std::string>& args_;
    std::string& error_;
    std::string inline_value_;
    bool has_inline_ = false;
    size_t* at_ = nullptr;
};

// What an option reader made of the option: not one of its own, read, or refused.
enum class TRead { NotMine, Read, Failed };
TRead Result(bool ok) { return ok ? TRead::Read : TRead::Failed; }

// The MP3 record's settings; the other kinds take channels, bit rate and
// sample rate given here too, in place of "Automatic".
TRead ReadAudioOption(TArgReader& r, TAudioChoice& audio, TAudioChoice& video) {
    if (r.Is("-c", "--channels")) {
        if (!r.NumberOrSource(audio.Channels)) return TRead::Failed;
        video.Channels = audio.Channels;
        const bool known = audio.Channels == 1 || audio.Channels == 2 || audio.Channels == SameAsSource;
        return Result(known || r.Fail("channels must be 1, 2 or source"));
    }
    if (r.Is("-b", "--bitrate")) {
        if (!r.Number(audio.BitrateKbps)) return TRead::Failed;
        video.BitrateKbps = audio.BitrateKbps;
        audio.VbrLevel = -1;
        return Result(InList(BitrateChoices(), audio.BitrateKbps) ||
                      r.Fail("bit rate must be one of " + ListText(BitrateChoices()) + " (kbit/s)"));
    }
    if (r.Is(nullptr, "--vbr")) {
        if (!r.Number(audio.VbrLevel)) return TRead::Failed;
        return Result((audio.VbrLevel >= 0 && audio.VbrLevel <= 9) ||
                      r.Fail("--vbr takes a quality from 0 (best) to 9 (smallest)"));
    }
    if (r.Is("-r", "--sample-rate")) {
        if (!r.NumberOrSource(audio.SampleRate)) return TRead::Failed;
        video.SampleRate = audio.SampleRate;
        return Result(audio.SampleRate == SameAsSource || InList(SampleRateChoices(), audio.SampleRate) ||
                      r.Fail("sample rate must be one of " + ListText(SampleRateChoices()) + " (Hz) or source"));
    }
    return TRead::NotMine;
}

// The false and true words of a flag's option ("first|all") as the flag's text; empty for another word.
std::string FlagWord(const std::string& takes, const std::string& word) {
    const size_t bar = takes.find('|');
    if (word == takes.substr(0, bar)) return FlagText(false);
    return word == takes.substr(bar + 1) ? FlagText(true) : "";
}

// The options of the settings the plan reads as they are, one row each.
TRead ReadSettingOption(TArgReader& r, TPlanChoice& plan) {
    for (const TSettingRow& row : SettingRows()) {
        const bool flag = row.type == TSettingType::Flag, is_switch = flag && !row.takes[0];
        const std::string no = std::string("--no-") + (row.option[0] ? row.option + 2 : "");
        if (!row.option[0] || !(r.Is(nullptr, row.option) || (is_switch && r.Is(nullptr, no.c_str())))) continue;
        std::string text;
        if (is_switch && !r.Flag()) return TRead::Failed;
        if (is_switch) text = FlagText(r.name == row.option);
        else if (!r.Value(text)) return TRead::Failed;
        else if (flag) text = FlagWord(row.takes, text);
        TSettings settings;
        static_cast<TPlanSettings&>(settings) = plan;
        if (text.empty() || !row.read(settings, text))
            return Result(r.Fail("option " + r.name + " takes " + (flag ? row.takes : row.choices)));
        static_cast<TPlanSettings&>(plan) = settings;
        return TRead::Read;
    }
    return TRead::NotMine;
}

TRead ReadPlanOption(TArgReader& r, TConvertOptions& o) {
    if (r.Is("-o", "--output-folder")) {
        std::string folder;
        if (!r.Value(folder)) return TRead::Failed;
        if (folder.empty()) return Result(r.Fail("option " + r.name + " needs a folder"));
        o.OutputFolder = IncludeTrailingSeparator(folder);
        o.Plan.NextToSource = false;
        return TRead::Read;
    }
    if (r.Is(nullptr, "--to")) {
        std::string kind, error;
        if (!r.Value(kind)) return TRead::Failed;
        return Result(ParseOutputKind(kind, o.Plan.To, error) || r.Fail(error));
    }
    if (r.Is(nullptr, "--max-size")) {
        std::string text;
        if (!r.Value(text)) return TRead::Failed;
        const auto size = ParsePictureSize(text);
        if (size) o.Plan.MaxPicture = *size;
        return Result(size || r.Fail("option --max-size takes WIDTHxHEIGHT, such as 1280x720"));
    }
    if (r.Is(nullptr, "--no-subtitles")) {
        o.Plan.Subtitles = false;
        return Result(r.Flag());
    }
    if (r.Is(nullptr, "--option")) {
        std::string pair;
        if (!r.Value(pair)) return TRead::Failed;
        const size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0 || pair.find_first_of("\r\n") != std::string::npos)
            return Result(r.Fail("option --option takes NAME=VALUE"));
        o.Plan.Options.push_back(pair);
        return TRead::Read;
    }
    if (const TRead read = ReadSettingOption(r, o.Plan); read != TRead::NotMine) return read;
    return ReadAudioOption(r, o.Plan.Audio, o.Plan.OtherAudio);
}

TRead ReadRunOption(TArgReader& r, TConvertOptions& o) {
    if (r.Is("-j", "--jobs")) {
        if (!r.Number(o.Jobs)) return TRead::Failed;
        return Result(o.Jobs >= 1 || r.Fail("jobs must be 1 or more"));
    }
    const std::pair<const char*, const char*> names[] = {{nullptr, "--info"}, {"-q", "--quiet"}, {"-v", "--verbose"}};
    bool* const flags[] = {&o.Info, &o.Quiet, &o.Verbose};
    for (size_t n = 0; n < std::size(names); ++n) {
        if (!r.Is(names[n].first, names[n].second)) continue;
        *flags[n] = true;
        return Result(r.Flag());
    }
    if (r.Is(nullptr, "--report")) {
        if (!r.Value(o.Report)) return TRead::Failed;
        return Result(!o.Report.empty() || r.Fail("option --report needs a file"));
    }
    if (r.Is("-h", "--help")) {
        o.Help = true;
        return TRead::Read;
    }
    if (r.Is(nullptr, "--version")) {
        o.Version = true;
        return TRead::Read;
    }
    if (r.Is(nullptr, "--options")) {
        o.ListOptions = true;
        return Result(r.Flag());
    }
    return TRead::NotMine;
}

// A list of names is read as the run goes (batch/FileSource.h); here only
// whether it can be read at all.
bool CheckNameList(TArgReader& r, const std::string& list) {
    if (list == "-") return true;
    std::ifstream file(list, std::ios::binary);
    return static_cast<bool>(file) || r.Fail("cannot read the list " + list);
}

// "K/N" with 0 <= K < N; "auto/N" takes K from the Slurm array task's number.
bool ReadShard(TArgReader& r, TShard& shard) {
    std::string text;
    if (!r.Value(text)) return false;
    const size_t slash = text.find('/');
    const auto count = slash == std::string::npos ? std::nullopt : ParseNumber(text.substr(slash + 1));
    if (!count || *count < 1) return r.Fail("option --shard takes K/N or auto/N, such as 0/4");
    std::string index_text = text.substr(0, slash);
    if (index_text == "auto") {
        index_text = Env("SLURM_ARRAY_TASK_ID");
        if (index_text.empty())
            return r.Fail("--shard auto/N: SLURM_ARRAY_TASK_ID is not set (not a Slurm array task)");
    }
    const auto index = ParseNumber(index_text);
    if (!index || *index < 0 || *index >= *count)
        return r.Fail("--shard: the part " + index_text + " is not one of 0 to " + std::to_string(*count - 1) +
                      (text.rfind("auto/", 0) == 0 ? " (SLURM_ARRAY_TASK_ID; an array of N tasks is --array=0-" +
                                                         std::to_string(*count - 1) + ")"
                                                   : ""));
    shard = {*index, *count};
    return true;
}

// The options of archives: folders mirrored to a base, lists of names, parts of a batch.
TRead ReadArchiveOption(TArgReader& r, TConvertOptions& o) {
    if (r.Is(nullptr, "--base")) {
        if (!r.Value(o.Base)) return TRead::Failed;
        return Result(!o.Base.empty() || r.Fail("option --base needs a folder"));
    }
    if (r.Is(nullptr, "--files-from")) {
        std::string list;
        if (!r.Value(list)) return TRead::Failed;
        if (!CheckNameList(r, list)) return TRead::Failed;
        o.Lists.push_back({o.Files.size(), list});
        return TRead::Read;
    }
    if (r.Is(nullptr, "--shard")) return Result(ReadShard(r, o.Shard));
    return TRead::NotMine;
}

// The disc and DV kinds have sizes of their own and MP3 has no picture, so a limit for them is a
// mistake worth telling.
bool CheckMaxSize(const TPlanChoice& plan, std::string& error) {
    if (plan.MaxPicture.Width == 0 || plan.To.kind->size_limit) return true;
    std::string kinds;
    for (const TOutputKind& kind : OutputKinds())
        if (kind.size_limit) kinds += (kinds.empty() ? "" : " and ") + std::string(kind.name);
    error = std::string("--max-size applies to ") + kinds + " only; " + plan.To.kind->name +
            (plan.To.kind->needs_video ? " has a fixed picture size" : " has no picture");
    return false;
}

// "      --option VALUES   description", the description wrapped in its column.
std::string HelpLines(const std::string& head, const std::string& description) {
    constexpr size_t column = 27, width = 91;
    std::string text = "      " + head;
    text += text.size() < column ? std::string(column - text.size(), ' ') : "  ";
    size_t line = 0;  // where the line being filled starts
    std::istringstream words(description);
    for (std::string word; words >> word;) {
        if (text.size() - line + 1 + word.size() > width) {
            text += "\n" + std::string(column, ' ');
            line = text.size() - column;
        } else if (text.back() != ' ') {
            text += ' ';
        }
        text += word;
    }
    return text + "\n";
}

// The options of the settings table, in its order.
std::string SettingOptionLines() {
    std::string text;
    for (const TSettingRow& row : SettingRows()) {
        if (!row.option[0]) continue;
        const bool is_switch = row.type == TSettingType::Flag && !row.takes[0];
        const std::string head = is_switch ? "--[no-]" + std::string(row.option + 2)
                                           : row.option + (" " + (row.takes[0] ? row.takes : row.choices));
        text += HelpLines(head, row.description);
    }
    return text;
}

}  // namespace

TConvertOptions DefaultConvertOptions() {
    TConvertOptions o;
    TSettings s = ReadSettings(SettingsFilePath(Env("XDG_CONFIG_HOME"), Env("HOME")));
    // The kind and the largest picture are the terminal's own: mp3 and no limit unless --to and --max-size say.
    const TSettings defaults;
    s.OutputFormat = defaults.OutputFormat;
    s.MaxPictureSize = defaults.MaxPictureSize;
    // None chosen: the kind's default, once the kind is known.
    o.OutputFolder = IncludeTrailingSeparator(s.OutputPath);
    o.Plan = PlanChoiceOf(s);
    return o;
}

bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& o, std::string& error) {
    bool only_files = false;
    TArgReader reader(args, error);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
            continue;
        }
        reader.Take(arg, i);
        TRead read = ReadPlanOption(reader, o);
        if (read == TRead::NotMine) read = ReadRunOption(reader, o);
        if (read == TRead::NotMine) read = ReadArchiveOption(reader, o);
        if (read == TRead::NotMine) return reader.Fail("unknown option " + reader.name);
        if (read == TRead::Failed) return false;
    }
    if (!CheckMaxSize(o.Plan, error)) return false;
    if (o.OutputFolder.empty())
        o.OutputFolder = DefaultOutputFolder(ReadUserFolders(Env("XDG_CONFIG_HOME"), Env("HOME")), *o.Plan.To.kind);
    if (!o.Help && !o.Version && !o.ListOptions && o.Files.empty() && o.Lists.empty()) {
        error = "no input files";
        return false;
    }
    return true;
}

std::string ConvertUsage() {
    std::string kinds;
    for (const TOutputKind& kind : OutputKinds()) {
        std::string name = kind.name;
        name.resize(std::max<size_t>(name.size(), 6), ' ');
        kinds += "      " + name + std::string(kind.extension) + "  " + kind.description + "\n";
    }
    return "usage: ardentix-convert [options] FILE|FOLDER...\n"
           "Converts media files (RealMedia and anything else the media libraries read) to MP3,\n"
           "or to another audio or video kind chosen with --to. A folder stands for the media\n"
           "files in it and its subfolders, in name order; their outputs keep its structure.\n"
           "Defaults come from the converter window's settings.\n"
           "\n"
           "  -o, --output-folder DIR  folder of the output files (default: the window's, else\n"
           "                           Ardentix in the music folder for mp3, in the videos\n"
           "                           folder for the video kinds)\n"
           "      --to KIND            what is written (default mp3):\n" +
           kinds +
           "                           vcd, svcd and dvd also as pal-KIND, ntsc-KIND or film-KIND,\n"
           "                           dv and dv50 as pal-KIND or ntsc-KIND; without a prefix the\n"
           "                           input's frame rate decides\n"
           "  -c, --channels 1|2|source  audio channels; source: mono stays mono, more become\n"
           "                           stereo (not for the disc kinds: their standard decides).\n"
           "                           Kinds other than mp3 without -c, -b or -r: each track\n"
           "                           keeps its channels and a rate its encoder takes, AAC at\n"
           "                           64 kbit/s a channel, Opus at 48\n"
           "  -b, --bitrate KBPS       constant bit rate: " + ListText(BitrateChoices()) + "\n"
           "      --vbr N              MP3 by quality instead, LAME's V0 (best, ~245 kbit/s) to\n"
           "                           V9 (smallest, ~65 kbit/s); 2 is ~190 kbit/s\n"
           "  -r, --sample-rate HZ|source  " + ListText(SampleRateChoices()) + "; source: the MP3 rate\n"
           "                           nearest the source's (16000 for 16 kHz speech)\n"
           "      --max-size WxH       mp4 and mkv: a larger picture is scaled down to fit in\n"
           "                           WxH (1280x720), keeping its shape, never up; refused for mp3\n"
           "                           and for the disc and DV kinds, whose picture sizes are fixed\n"
           "      --no-subtitles       leave the input's subtitles out (mp4 and mkv carry text\n"
           "                           subtitles, mkv bitmap ones too)\n" +
           SettingOptionLines() +
           "  -j, --jobs N             files converted at once (default: the number of processors,\n"
           "                           fewer when half the available memory cannot hold them)\n"
           "      --option NAME=VALUE  an engine option for every output (repeatable)\n"
           "      --options            list the engine options with their values; other names go\n"
           "                           to the media libraries' codec and format options\n"
           "      --info               show what each file holds and convert nothing\n"
           "      --report FILE        append what became of each file to FILE as it ends, a JSON\n"
           "                           object a line: input, output, outcome, reason, message,\n"
           "                           input_seconds, output_seconds, elapsed_seconds\n"
           "      --base DIR           outputs mirror each input's path relative to DIR (default:\n"
           "                           the folder given; a file given alone stays flat)\n"
           "      --files-from FILE    the names of FILE too, one a line, read as the run goes\n"
           "                           (find ... | ardentix-convert --files-from -); - reads\n"
           "                           standard input; blanks and a CR at a line's end are cut\n"
           "      --shard K/N          convert only part K (0 to N-1) of N parts, by a hash of each\n"
           "                           path relative to the base; auto/N takes K from\n"
           "                           SLURM_ARRAY_TASK_ID\n"
           "  -q, --quiet              only errors\n"
           "  -v, --verbose            the engine's log lines too\n"
           "  -h, --help               this text\n"
           "      --version            the version\n"
           "\n"
           "A short option takes its value in the next argument or joined on: -j 2 or -j2.\n"
           "Exit status: 0 every file converted (or skipped, its output there); 3 every file\n"
           "converted or beyond converting as it is (damaged, unreadable, no stream for the\n"
           "kind, an input that ends early): a run again changes nothing; 1 some file may\n"
           "convert in a run again (disk full, a failed encoding, a file not started, the\n"
           "report not written); 2 usage error; 130 interrupted (run again to finish).\n";
}

std::string OptionListing() {
    const std::vector<TOptionInfo> rows = OptionInfo();
    size_t name_width = 0, value_width = 0;
    for (const TOptionInfo& row : rows) {
        name_width = std::max(name_width, row.name.size());
        value_width = std::max(value_width, row.value.size());
    }
    std::string text;
    for (const TOptionInfo& row : rows) {
        std::string line = row.name;
        line.resize(name_width + 2, ' ');
        line += row.value;
        line.resize(name_width + 2 + value_width + 2, ' ');
        text += line + row.description + "\n";
    }
    return text;
}

#include "tools/convert/ConvertOptions.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "batch/General.h"
#include "batch/Settings.h"
#include "core/Conversions.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The documents folder the window uses: XDG_DOCUMENTS_DIR of user-dirs.dirs,
// else ~/Documents.
std::string DocumentsFolder() {
    const std::string home = Env("HOME");
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') config = home + "/.config";
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        if (!value.empty() && value.front() == '/') return value;
    }
    return home.empty() ? std::string("./") : home + "/Documents";
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

}  // namespace

TConvertOptions DefaultConvertOptions() {
    TConvertOptions o;
    const TSettings s = ReadSettings(SettingsFilePath(Env("XDG_CONFIG_HOME"), Env("HOME")));
    o.OutputFolder = IncludeTrailingSeparator(s.OutputPath.empty() ? DefaultOutputFolder(DocumentsFolder())
                                                                   : s.OutputPath);
    o.Plan.Audio = AudioChoiceOf(s.Channels, s.AudioBitrate, s.AudioSampleRate);
    o.Plan.Overwrite = s.Overwrite;
    o.Plan.CopyTags = s.CopyTags;
    o.Jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return o;
}

bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& o, std::string& error) {
    bool only_files = false;
    TAudioChoice& audio = o.Plan.Audio;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
            continue;
        }
        // "--name=value" is the same as "--name value".
        std::string inline_value;
        bool has_inline = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inline_value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                has_inline = true;
            }
        }
        auto value = [&](std::string& out) {
            if (has_inline) {
                out = inline_value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](int& out) {
            std::string text;
            if (!value(text)) return false;
            const auto n = TryStrToInt(text);
            if (!n) {
                error = "option " + arg + ": '" + text + "' is not a number";
                return false;
            }
            out = *n;
            return true;
        };
        // A number, or "source" for the source's own value.
        auto number_or_source = [&](int& out) {
            if (has_inline ? inline_value == "source" : i + 1 < args.size() && args[i + 1] == "source") {
                if (!has_inline) ++i;
                out = SameAsSource;
                return true;
            }
            if (!number(out)) return false;
            if (out != SameAsSource) return true;
            error = "option " + arg + ": 0 is no choice (a number or source)";
            return false;
        };
        auto flag = [&]() {
            if (has_inline) {
                error = "option " + arg + " takes no value";
                return false;
            }
            return true;
        };
        if (arg == "-o" || arg == "--output-folder") {
            std::string folder;
            if (!value(folder)) return false;
            if (folder.empty()) {
                error = "option " + arg + " needs a folder";
                return false;
            }
            o.OutputFolder = IncludeTrailingSeparator(folder);
        } else if (arg == "-c" || arg == "--channels") {
            if (!number_or_source(audio.Channels)) return false;
            if (audio.Channels != 1 && audio.Channels != 2 && audio.Channels != SameAsSource) {
                error = "channels must be 1, 2 or source";
                return false;
            }
        } else if (arg == "-b" || arg == "--bitrate") {
            if (!number(audio.BitrateKbps)) return false;
            if (!InList(BitrateChoices(), audio.BitrateKbps)) {
                error = "bit rate must be one of " + ListText(BitrateChoices()) + " (kbit/s)";
                return false;
            }
            audio.VbrLevel = -1;
        } else if (arg == "--vbr") {
            if (!number(audio.VbrLevel)) return false;
            if (audio.VbrLevel < 0 || audio.VbrLevel > 9) {
                error = "--vbr takes a quality from 0 (best) to 9 (smallest)";
                return false;
            }
        } else if (arg == "-r" || arg == "--sample-rate") {
            if (!number_or_source(audio.SampleRate)) return false;
            if (audio.SampleRate != SameAsSource && !InList(SampleRateChoices(), audio.SampleRate)) {
                error = "sample rate must be one of " + ListText(SampleRateChoices()) + " (Hz) or source";
                return false;
            }
        } else if (arg == "--overwrite") {
            if (!flag()) return false;
            o.Plan.Overwrite = true;
        } else if (arg == "--no-overwrite") {
            if (!flag()) return false;
            o.Plan.Overwrite = false;
        } else if (arg == "--tags") {
            if (!flag()) return false;
            o.Plan.CopyTags = true;
        } else if (arg == "--no-tags") {
            if (!flag()) return false;
            o.Plan.CopyTags = false;
        } else if (arg == "-j" || arg == "--jobs") {
            if (!number(o.Jobs)) return false;
            if (o.Jobs < 1) {
                error = "jobs must be 1 or more";
                return false;
            }
        } else if (arg == "--to") {
            std::string kind;
            if (!value(kind)) return false;
            if (!ParseOutputKind(kind, o.Plan.To, error)) return false;
        } else if (arg == "--no-subtitles") {
            if (!flag()) return false;
            o.Plan.Subtitles = false;
        } else if (arg == "--option") {
            std::string pair;
            if (!value(pair)) return false;
            const size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0 || pair.find_first_of("\r\n") != std::string::npos) {
                error = "option --option takes NAME=VALUE";
                return false;
            }
            o.Plan.Options.push_back(pair);
        } else if (arg == "--info") {
            if (!flag()) return false;
            o.Info = true;
        } else if (arg == "-q" || arg == "--quiet") {
            if (!flag()) return false;
            o.Quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            if (!flag()) return false;
            o.Verbose = true;
        } else if (arg == "-h" || arg == "--help") {
            o.Help = true;
        } else if (arg == "--version") {
            o.Version = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (!o.Help && !o.Version && o.Files.empty()) {
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
    return "usage: ardentix-convert [options] FILE...\n"
           "Converts media files (RealMedia and anything else the media libraries read) to MP3,\n"
           "or to a video kind chosen with --to.\n"
           "Defaults come from the converter window's settings.\n"
           "\n"
           "  -o, --output-folder DIR  folder of the output files\n"
           "      --to KIND            what is written (default mp3):\n" +
           kinds +
           "                           vcd, svcd and dvd also as pal-KIND, ntsc-KIND or film-KIND,\n"
           "                           dv and dv50 as pal-KIND or ntsc-KIND; without a prefix the\n"
           "                           input's frame rate decides\n"
           "  -c, --channels 1|2|source  audio channels; source: mono stays mono, more become\n"
           "                           stereo (not for the disc kinds: their standard decides)\n"
           "  -b, --bitrate KBPS       constant bit rate: " + ListText(BitrateChoices()) + "\n"
           "      --vbr N              MP3 by quality instead, LAME's V0 (best, ~245 kbit/s) to\n"
           "                           V9 (smallest, ~65 kbit/s); 2 is ~190 kbit/s\n"
           "  -r, --sample-rate HZ|source  " + ListText(SampleRateChoices()) + "; source: the MP3 rate\n"
           "                           nearest the source's (16000 for 16 kHz speech)\n"
           "      --no-subtitles       leave the input's subtitles out (mp4 and mkv carry text\n"
           "                           subtitles, mkv bitmap ones too)\n"
           "      --overwrite          replace existing output files of the same name\n"
           "      --no-overwrite       never replace a file: number the new one, name(1).mp3, ...\n"
           "      --no-tags            leave the source's tags (title, artist, ...) out\n"
           "      --tags               copy them (default: the window's \"Copy tags\")\n"
           "  -j, --jobs N             files converted at once (default: the number of processors)\n"
           "      --option NAME=VALUE  an engine option for every output (repeatable)\n"
           "      --info               show what each file holds and convert nothing\n"
           "  -q, --quiet              only errors\n"
           "  -v, --verbose            the engine's log lines too\n"
           "  -h, --help               this text\n"
           "      --version            the version\n"
           "\n"
           "Exit status: 0 every file converted, 1 some file failed, 2 usage error, 130 interrupted.\n";
}

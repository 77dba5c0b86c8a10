#include "batch/Settings.h"

#include <climits>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "batch/IniFile.h"
#include "batch/OutputKinds.h"
#include "core/Conversions.h"

// The window's texts of the boxes it makes from rows are its own (context
// TForm1), marked here for its catalogues.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

namespace {
const char* const Section = "Options";

using TRow = TSettingRow;

// Only the exact text "True" sets a flag.
TRow Flag(const char* key, bool TSettings::*field, const char* description, const char* option = "",
          const char* takes = "") {
    return {key, TSettingType::Flag, "True|False", description, option, takes, nullptr, nullptr,
            [field](const TSettings& s) { return std::string(FlagText(s.*field)); },
            [field](TSettings& s, const std::string& text) {
                s.*field = text == "True";
                return true;
            }};
}

// A flag the window shows as a box it makes from the row, for the kinds with `shown_for`.
TRow Box(TRow row, const char* caption, bool TOutputKind::*shown_for) {
    row.caption = caption;
    row.shown_for = shown_for;
    return row;
}

// A number of min..max; an optional one is empty for none.
template <typename T, typename Of>
TRow Number(const char* key, T Of::*of, int min, int max, const char* description, const char* option = "",
            const char* takes = "") {
    T TSettings::*field = of;
    constexpr bool optional = std::is_same_v<T, std::optional<int>>;
    return {key, optional ? TSettingType::Choice : TSettingType::Integer,
            std::to_string(min) + " to " + std::to_string(max), description, option, takes, nullptr, nullptr,
            [field](const TSettings& s) {
                if constexpr (optional) return s.*field ? std::to_string(*(s.*field)) : std::string();
                else return std::to_string(s.*field);
            },
            [field, min, max](TSettings& s, const std::string& text) {
                const int value = TIniFile::ParseInteger(text, INT_MIN);
                const bool known = value != INT_MIN && value >= min && value <= max;
                if (known) s.*field = value;
                if (optional && text.empty()) s.*field = T();
                return known || (optional && text.empty());
            }};
}

// An item index of a list of `items`.
TRow Item(const char* key, int TSettings::*field, const std::vector<std::string>& items, const char* description) {
    return Number(key, field, 0, static_cast<int>(items.size()) - 1, description);
}

// The place of `text` among the words of `words` ("pal|ntsc"); -1 for none.
int WordAt(const std::string& words, const std::string& text) {
    std::istringstream in(words);
    int at = 0;
    for (std::string word; std::getline(in, word, '|'); ++at)
        if (word == text) return at;
    return -1;
}

// Free text, or one of the words of `words`.
TRow Text(const char* key, std::string TSettings::*field, const char* description, const std::string& words = {}) {
    return {key, words.empty() ? TSettingType::Text : TSettingType::Word, words, description, "", "", nullptr,
            nullptr, [field](const TSettings& s) { return s.*field; },
            [field, words](TSettings& s, const std::string& text) {
                const bool known = words.empty() || WordAt(words, text) >= 0;
                if (known) s.*field = text;
                return known;
            }};
}

// "WxH", or empty for none.
TRow Size(const char* key, std::string TSettings::*field, const char* description) {
    TRow row = Text(key, field, description);
    row.choices = "WxH";
    row.read = [field](TSettings& s, const std::string& text) {
        const auto size = ParsePictureSize(text);
        if (size || text.empty()) s.*field = size ? PictureSizeText(*size) : "";
        return size || text.empty();
    };
    return row;
}

// One of the `count` values of an enum, by the word `name` gives each.
template <typename E, typename Of>
TRow Word(const char* key, E Of::*of, int count, const char* (*name)(E), const char* description, const char* option) {
    E TSettings::*field = of;
    std::string words;
    for (int i = 0; i < count; ++i) words += (i ? "|" : "") + std::string(name(static_cast<E>(i)));
    return {key, TSettingType::Word, words, description, option, "", nullptr, nullptr,
            [field, name](const TSettings& s) { return std::string(name(s.*field)); },
            [field, words](TSettings& s, const std::string& text) {
                const int at = WordAt(words, text);
                if (at >= 0) s.*field = static_cast<E>(at);
                return at >= 0;
            }};
}

// The names of the kinds the window offers.
std::string WindowKinds() {
    std::string names;
    for (const TOutputKind& kind : OutputKinds())
        if (kind.window_name[0]) names += (names.empty() ? "" : "|") + std::string(kind.name);
    return names;
}

// Widths between 8 and 4000 pixels, separated by commas.
bool ReadWidths(TSettings& s, const std::string& text) {
    std::vector<int> widths;
    for (size_t start = 0; !text.empty() && start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::optional<int> width = TryStrToInt(text.substr(start, comma - start));
        if (!width || *width < 8 || *width > 4000) return false;
        widths.push_back(*width);
        start = comma + 1;
    }
    s.ColumnWidths = widths;
    return true;
}

std::string WidthsText(const TSettings& s) {
    std::string text;
    for (int w : s.ColumnWidths) text += (text.empty() ? "" : ",") + std::to_string(w);
    return text;
}

// The key of older versions, still written for them: True is the replace rule, anything else numbering.
TRow Overwrite() {
    return {"Overwrite", TSettingType::Flag, "True|False", "the same as --existing replace; --no-overwrite: number",
            "--overwrite", "", nullptr, nullptr,
            [](const TSettings& s) { return std::string(FlagText(s.Existing == TExistingOutputs::Replace)); },
            [](TSettings& s, const std::string& text) {
                s.Existing = text == "True" ? TExistingOutputs::Replace : TExistingOutputs::Number;
                return true;
            }};
}

TRow Widths() {
    return {"ColumnWidths", TSettingType::Text, "W,W,...", "the list's column widths before Status, pixels", "", "",
            nullptr, nullptr, WidthsText, ReadWidths};
}

std::vector<TRow> MakeRows() {
    using S = TSettings;
    const auto mp3 = TAudioList::Mp3, other = TAudioList::Automatic;
    return {
        Text("OutputPath", &S::OutputPath, "the output folder chosen; empty: the default of the kind"),
        Item("Channels", &S::Channels, ChannelItems(mp3), "MP3's channels, an item of the window's list"),
        Item("AudioBitrate", &S::AudioBitrate, BitrateItems(mp3), "MP3's bit rate, an item of the window's list"),
        Item("AudioSampleRate", &S::AudioSampleRate, SampleRateItems(mp3), "MP3's sample rate, an item of the list"),
        Overwrite(),
        Flag("ShutdownAfterCompleted", &S::ShutdownAfterCompleted, "the computer shuts down after a whole batch"),
        Flag("CopyTags", &S::CopyTags, "the source's tags (title, artist, ...) go into the output", "--tags"),
        Number("SimultaneousConversions", &S::SimultaneousConversions, 0, 1024,
                "files converted at once; 0: decided for each run"),
        Text("LastAddFolder", &S::LastAddFolder, "the folder files were added from last"),
        Text("OutputFormat", &S::OutputFormat, "the output kind of the window", WindowKinds()),
        Text("VideoNorm", &S::VideoNorm, "the TV standard of the disc and tape kinds", "pal|ntsc"),
        Flag("ShowPreview", &S::ShowPreview, "the pictures of a video are shown as it converts"),
        Size("MaxPictureSize", &S::MaxPictureSize, "the largest picture of mp4 and mkv; empty: no limit"),
        Item("OtherChannels", &S::OtherChannels, ChannelItems(other), "the other kinds' channels, an item"),
        Item("OtherAudioBitrate", &S::OtherAudioBitrate, BitrateItems(other), "the other kinds' bit rate, an item"),
        Item("OtherAudioSampleRate", &S::OtherAudioSampleRate, SampleRateItems(other),
             "the other kinds' sample rate, an item"),
        Box(Flag("AllAudioTracks", &S::AllAudioTracks,
                 QT_TRANSLATE_NOOP("TForm1", "Each sound track of the source is kept with its language and title; "
                                             "otherwise only the first"),
                 "--audio-tracks", "first|all"),
            QT_TRANSLATE_NOOP("TForm1", "Ever&y audio track"), &TOutputKind::audio_tracks),
        Number("VorbisQuality", &S::VorbisQuality, -1, 10, "ogg: Vorbis quality, -1 (smallest) to 10 (best); default 3",
               "--quality", "Q"),
        Number("FlacCompression", &S::FlacCompression, 0, 12, "flac: 0 (fastest) to 12 (smallest); default 5",
               "--compression", "N"),
        Word("ExistingOutputs", &S::Existing, 3, ExistingOutputsName,
             "a file already at an output's name: number the new one, name(1).mp3, ...; skip the input when "
             "the first of name, name(1), ... made from it is whole (each output records its input), so a "
             "stopped batch run again converts only what is missing; or replace the file",
             "--existing"),
        Flag("OutputNextToSource", &S::NextToSource, "each output in the folder of its input instead",
             "--next-to-source"),
        Size("WindowSize", &S::WindowSize, "the window's last size"),
        Widths(),
        Flag("RemoveBlackBars", &S::RemoveBlackBars,
             "mp4 and mkv: auto cuts black bars found on every one of ten samples over the file's length; a "
             "crop of your own (--option croptop=N, ...) wins over it",
             "--crop", "none|auto"),
        Word("Deinterlace", &S::Deinterlace, 3, DeinterlaceName,
             "auto deinterlaces an input whose samples look interlaced, for mp4 and mkv and for the kinds that "
             "change its height or rate; DVD and DV in the input's own norm keep the fields",
             "--deinterlace"),
    };
}

}  // namespace

const char* FlagText(bool value) { return value ? "True" : "False"; }

const std::vector<TSettingRow>& SettingRows() {
    static const std::vector<TSettingRow> rows = MakeRows();
    return rows;
}

const TSettingRow& SettingRow(const std::string& key) {
    for (const TSettingRow& row : SettingRows())
        if (key == row.key) return row;
    throw std::out_of_range("no setting " + key);
}

TSettings ReadSettings(const std::string& path) {
    const TIniFile ini(path);
    TSettings s;
    // A missing key reads as the value so far: the default, or what "Overwrite" made of the rule.
    for (const TSettingRow& row : SettingRows()) row.read(s, ini.ReadString(Section, row.key, row.text(s)));
    return s;
}

void WriteSettings(const std::string& path, const TSettings& s) {
    std::vector<std::pair<std::string, std::string>> values;
    for (const TSettingRow& row : SettingRows()) values.emplace_back(row.key, row.text(s));
    TIniFile(path).WriteStrings(Section, values);
}

TPlanChoice PlanChoiceOf(const TSettings& s) {
    TPlanChoice choice;
    static_cast<TPlanSettings&>(choice) = s;
    if (const TOutputKind* kind = OutputKindNamed(s.OutputFormat)) choice.To = {kind, kind->target[0] ? s.VideoNorm : ""};
    choice.Audio = AudioChoiceOf(s.Channels, s.AudioBitrate, s.AudioSampleRate);
    choice.OtherAudio =
        AudioChoiceOf(s.OtherChannels, s.OtherAudioBitrate, s.OtherAudioSampleRate, TAudioList::Automatic);
    if (const auto size = ParsePictureSize(s.MaxPictureSize)) choice.MaxPicture = *size;
    return choice;
}

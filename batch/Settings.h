#pragma once
// The converter's settings: section "Options" of Options.ini, one row per key
// in SettingRows, from which both faces read, write, parse and describe them.
#include <functional>
#include <string>
#include <vector>

#include "batch/OutputPlan.h"

// The settings the plan reads as they are (TPlanSettings) and the rest the
// file keeps.
struct TSettings : TPlanSettings {
    std::string OutputPath;  // empty: the default output folder of the kind (DefaultOutputFolder)
    int Channels = 1;        // item indexes of the MP3 record's three lists, not the values shown
    int AudioBitrate = 11;
    int AudioSampleRate = 4;
    bool ShutdownAfterCompleted = false;
    int SimultaneousConversions = 0;  // files converted at once; 0: decided for each run
    std::string LastAddFolder;        // where the add dialog was used last; empty: none yet
    std::string OutputFormat = "mp3";  // the output kind's name; one the window does not offer reads as MP3
    std::string VideoNorm = "pal";     // "pal" or "ntsc", for the kinds with a TV standard
    bool ShowPreview = false;          // pictures of a video shown while it converts
    std::string MaxPictureSize;        // the largest picture of mp4 and mkv, "1280x720"; empty: no limit
    int OtherChannels = 0;             // the other kinds' audio lists, item indexes; 0 is "Automatic"
    int OtherAudioBitrate = 0;
    int OtherAudioSampleRate = 0;
    std::string WindowSize;            // the window's last size, "WxH" in logical pixels; empty: as it asks
    std::vector<int> ColumnWidths;     // the list's columns before Status, logical pixels; empty: as the font asks
};

// How a row's value is kept: "True"/"False", a decimal number, a number or
// nothing, free text, or one of a few words.
enum class TSettingType { Flag, Integer, Choice, Text, Word };

struct TSettingRow {
    const char* key;
    TSettingType type;
    std::string choices;      // "True|False", "0 to 16", "number|skip|replace"; empty: any text
    const char* description;  // one line: the terminal's help and the tooltip of a box made from the row
    const char* option = "";  // the terminal's long option, for a setting the plan reads as it is; "" none
    // What --help shows after the option; for a flag, its false and true words
    // ("first|all"); "" for a flag makes a switch, --name and --no-name.
    const char* takes = "";
    const char* caption = nullptr;  // the window makes the row's check box with this caption; nullptr: its own control
    bool TOutputKind::*shown_for = nullptr;  // that box shows for the kinds with this only
    std::function<std::string(const TSettings&)> text;         // the value as the file keeps it
    std::function<bool(TSettings&, const std::string&)> read;  // false: not a value of the row, the field stays
};

// In the order they are written; "Overwrite" is read before "ExistingOutputs", which decides when present.
const std::vector<TSettingRow>& SettingRows();
// The row of a key; throws std::out_of_range for a key that has none.
const TSettingRow& SettingRow(const std::string& key);
// "True" or "False".
const char* FlagText(bool value);

// Missing or unreadable files and keys give the defaults above; a value that
// is not one of its row's keeps the default too, but for a flag, which only the
// exact text "True" sets.
TSettings ReadSettings(const std::string& path);
// Creates the settings folder when needed; throws Exception("Unable to write to <path>").
void WriteSettings(const std::string& path, const TSettings& settings);

// Everything the settings choose for a run, the same for both faces: the kind
// with its TV standard, the audio the item indexes stand for, the largest picture.
TPlanChoice PlanChoiceOf(const TSettings& settings);

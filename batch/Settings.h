#pragma once
// The converter's settings: section "Options" of Options.ini.
#include <optional>
#include <string>
#include <vector>

#include "batch/ExistingOutputs.h"

struct TSettings {
    std::string OutputPath;  // empty: the default output folder of the kind (DefaultOutputFolder)
    int Channels = 1;        // item indexes of the three lists, not the values shown
    int AudioBitrate = 11;
    int AudioSampleRate = 4;
    // Key ExistingOutputs; a file without it has its "Overwrite" read
    // (True replace, else number), and "Overwrite" is still written for older versions.
    TExistingOutputs ExistingOutputs = TExistingOutputs::Number;
    bool ShutdownAfterCompleted = false;
    bool CopyTags = true;  // the source's tags go into the output
    int SimultaneousConversions = 0;  // files converted at once; 0 or less: one per processor
    std::string LastAddFolder;        // where the add dialog was used last; empty: none yet
    std::string OutputFormat = "mp3";  // the output kind's name; one the window does not offer reads as MP3
    std::string VideoNorm = "pal";     // "pal" or "ntsc", for the kinds with a TV standard
    bool ShowPreview = false;          // pictures of a video shown while it converts
    std::string MaxPictureSize;        // the largest picture of mp4 and mkv, "1280x720"; empty: no limit
    int OtherChannels = 0;             // the other kinds' audio lists, item indexes; 0 is "Automatic"
    int OtherAudioBitrate = 0;
    int OtherAudioSampleRate = 0;
    bool AllAudioTracks = true;        // mp4 and mkv keep every audio track, else the first
    std::optional<int> VorbisQuality;    // -1..10; none: "Automatic"
    std::optional<int> FlacCompression;  // 0..12; none: "Automatic"
    std::string WindowSize;            // the window's last size, "WxH" in logical pixels; empty: as it asks
    std::vector<int> ColumnWidths;     // the list's columns before Status, logical pixels; empty: as the font asks
    bool OutputNextToSource = false;   // each output in its source's folder instead of OutputPath
    bool RemoveBlackBars = true;       // mp4 and mkv: bars black on every sampled picture are cut
    std::string Deinterlace = "auto";  // "auto", "on" or "off" (DeinterlaceName)
};

// Missing or unreadable files and keys give the defaults above.
TSettings ReadSettings(const std::string& path);
// Creates the settings folder when needed; throws Exception("Unable to write to <path>").
void WriteSettings(const std::string& path, const TSettings& settings);

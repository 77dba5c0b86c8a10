#pragma once
// The records an application fills to describe a task: TInputOptions goes with
// the input file to AddTask, TOutputOptions with an output file to
// SetOutputFile. A number of -1 means "not set".
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TCustomFFmpeg;
struct THookRange;

struct TInputOptions {
    std::string FileName;      // filled by AddTask when empty
    std::string FileFormat;    // forced input format; empty: none
    int32_t StartTime = -1;    // milliseconds; applied when > 0
    int32_t ProgramID = -1;    // applied when >= 0
    std::string ExtOptions;    // option text, first pass only
    int32_t Reserved[2] = {0, 0};
    // The caller has read this file's header with the libraries already (its
    // listing did): AddTask then only checks that it is there and readable,
    // without opening it once more.
    bool HeaderRead = false;
};

struct TOutputOptions {
    std::string FileName;      // filled by SetOutputFile when empty
    std::string FileExt;       // kept, not read by the engine
    std::string FileFormat;    // forced output format; empty: none
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;  // Hz
    int32_t AudioBitrate = -1;     // bits per second
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    int32_t PadColor = 0;  // colour value 0xBBGGRR
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1;
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufSize = -1;
    int32_t VideoSync = -1;  // always applied; -1 is automatic
    std::string VideoTag;
    std::string VideoFilters;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int32_t StartTime = -1;      // milliseconds
    int32_t RecordingTime = -1;  // milliseconds
    double Timestamp = -1.0;     // local date-time in days since 30 December 1899; 0: now
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;      // up to 511 characters are used
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;      // up to 31 characters are used
    // Further tags of the output file (key, value), in full; a key set above wins.
    std::vector<std::pair<std::string, std::string>> Tags;
    int32_t Target = 0;     // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int32_t TargetNorm = 0;          // 0 "auto", 1 "pal", 2 "ntsc", other "auto"
    int32_t TargetFallbackNorm = 1;  // 1 "pal", other "ntsc"
    bool CustomHook = false;
    bool BeforeHook = false;
    std::string HookRanges;  // "start-end,start-end" in milliseconds
    std::string ExtOptions;  // option text, two passes
    // What the output records of its input (core/SourceRecord.h), and in
    // which tag; an empty tag: in a sidecar. Empty: nothing is recorded.
    std::string SourceRecord;
    std::string SourceTag;
    int32_t Reserved[2] = {0, 0};
    bool ReplaceExisting = false;  // a file at the output's name is replaced (as option "y")
    bool DiscardStopped = false;   // a stopped run's shorter output never takes the name (as "discard_stopped")
    std::vector<std::string> Notes;  // lines the task logs as its output is set up (what the plan decided)
};

// Applies the input record to a core before its input file is opened: the
// first pass of ExtOptions, the forced format, StartTime and ProgramID.
void ApplyInputOptions(TCustomFFmpeg& core, const TInputOptions& options);

// Applies the output record before the output file is opened: target preset,
// first pass of ExtOptions, then every field in record order. The hooks are
// the component's (it connects the hook callbacks); only HookRanges is applied
// here, and only when both hook flags are off.
void ApplyOutputOptions(TCustomFFmpeg& core, const TOutputOptions& options);

// "1000-2000, 5000-4000" -> the kept ranges in microseconds, in text order.
std::vector<THookRange> ParseHookRanges(const std::string& text);

// Seconds since 1 January 1970 UTC for a local date-time in days since
// 30 December 1899, with bias_minutes the zone's offset (UTC = local + bias).
int64_t LocalDateTimeToUnix(double days, int bias_minutes);
// The local time zone's bias now, in minutes (UTC = local + bias).
int LocalTimeZoneBias();
// The current moment as a local date-time in days since 30 December 1899.
double LocalNow();

#pragma once
// The plan from one source file to its task's output record, the same in both
// front ends: the user's choices (the window's controls, the terminal's
// options) and what the probe read of the source make the record.
#include <optional>
#include <string>
#include <vector>

#include "batch/ExistingOutputs.h"
#include "batch/OutputKinds.h"
#include "batch/PicturePlan.h"
#include "batch/PictureSample.h"
#include "batch/SubtitlePlan.h"
#include "batch/TagMap.h"
#include "engine/TaskOptions.h"

// "Same as source" for the channels and the sample rate.
constexpr int SameAsSource = 0;
// "Automatic" for the channels, sample rate and bit rate of the kinds other
// than MP3: each track keeps its rate (one the encoder takes) and channels, at
// the bit rate that suits the encoder (AAC 64 kbit/s a channel, Opus 48).
constexpr int Automatic = -1;

// The audio of an output as the user chose it.
struct TAudioChoice {
    int Channels = 2;        // 1 or 2; SameAsSource: a mono source stays mono, any other is stereo; or Automatic
    int SampleRate = 44100;  // Hz; SameAsSource: MP3's rate nearest the source's, the others' as Automatic
    int BitrateKbps = 256;   // kbit/s, constant, for the kinds chosen by bit rate; or Automatic
    int VbrLevel = -1;       // MP3 by quality: LAME's V0 (largest) to V9 (smallest); -1 constant bit rate
};
// The sound of the kinds other than MP3 until the user chooses otherwise.
constexpr TAudioChoice AutomaticAudio{Automatic, Automatic, Automatic, -1};
// What the last list of a kind chooses: a bit rate, Vorbis's quality, FLAC's
// compression, or nothing (WAV keeps every sample).
enum class TAudioMeasure { Bitrate, Quality, Compression, None };
TAudioMeasure AudioMeasureOf(const TOutputKind& kind);
// The values of the quality or compression list, from the smallest; empty for the others.
std::vector<int> AudioMeasureValues(TAudioMeasure measure);

// The constant bit rates (kbit/s) and the sample rates (Hz) both front ends offer.
const std::vector<int>& BitrateChoices();
const std::vector<int>& SampleRateChoices();
// The rates an MP3 can have (MPEG-1, 2 and 2.5 layer III), Hz.
const std::vector<int>& Mp3SampleRates();
// The rate of Mp3SampleRates nearest to a source's rate (the higher of two as
// near); 44100 when the source's rate is unknown (0 or less).
int NearestMp3Rate(int hz);

// Which of the window's two sets of audio lists: the MP3 record's, or that of
// the other kinds with audio settings, which starts with "Automatic" and has
// no quality items.
enum class TAudioList { Mp3, Automatic };
TAudioList AudioListOf(const TOutputKind& kind);

// The window's three lists, item by item (the settings file keeps the item indexes):
// "1 Channel, Mono", "2 Channels, Stereo", "Same as source"; the constant bit rates,
// then "VBR high", "VBR standard", "VBR small"; the sample rates, then "Same as source".
std::vector<std::string> ChannelItems(TAudioList list = TAudioList::Mp3);
std::vector<std::string> BitrateItems(TAudioList list = TAudioList::Mp3);
std::vector<std::string> SampleRateItems(TAudioList list = TAudioList::Mp3);
// The choice three item indexes stand for; an index outside its list counts as
// that list's default item (stereo, 256 kbit/s, 44100 Hz; "Automatic" for the others).
TAudioChoice AudioChoiceOf(int channelItem, int bitrateItem, int sampleRateItem,
                           TAudioList list = TAudioList::Mp3);

// What the probe read of a source; -1 where it could not.
struct TSourceFacts {
    int SampleRate = -1;  // Hz, of the first audio stream
    int Channels = -1;    // of the first audio stream
    TTags Tags;           // the file's tags, then its first audio stream's
    int VideoStreams = -1;               // -1 when the probe could not read the file
    std::vector<TProbedStream> Streams;  // every stream, in file order
    TPictureSample Pictures;             // the first video stream's pictures, as ListFiles sampled them
};
class TCustomAVProbe;
// The facts of the file the probe has open.
TSourceFacts SourceFacts(const TCustomAVProbe& probe);

// A picture's size in pixels.
struct TPictureSize {
    int Width = 0;
    int Height = 0;
};
// Reads "WxH" (both 2 or more); nullopt for anything else.
std::optional<TPictureSize> ParsePictureSize(const std::string& text);
// "WxH"; empty for 0x0.
std::string PictureSizeText(TPictureSize size);
// The window's list of largest pictures; the first, 0x0, is no limit.
const std::vector<TPictureSize>& MaxPictureChoices();

// How a picture larger than a box is written: its size and display aspect.
struct TScaledPicture {
    TPictureSize Size;   // even, inside the box
    std::string Aspect;  // the source's display aspect, "W:H"
};
// The picture shown at square pixels (width times the pixel aspect) is scaled
// down to fit in `box`, never up; nullopt when it fits already, the box is 0x0
// or the size is unknown.
std::optional<TScaledPicture> LimitPicture(const TProbedStream& video, TPictureSize box);

// The settings the plan reads as the settings file keeps them (their rows: batch/Settings.cpp).
struct TPlanSettings {
    bool AllAudioTracks = true;  // kinds that hold several keep every audio track, else the first
    TExistingOutputs Existing = TExistingOutputs::Number;  // what a file already at an output's name means
    bool CopyTags = true;
    bool NextToSource = false;     // each output goes to its source's folder, not the output folder
    bool RemoveBlackBars = true;   // mp4 and mkv: bands black on every sampled picture are cut
    TDeinterlace Deinterlace = TDeinterlace::Auto;
    std::optional<int> VorbisQuality;    // Ogg Vorbis, -1 (smallest) to 10 (best); none: 3
    std::optional<int> FlacCompression;  // FLAC's effort, 0 (fastest) to 12 (smallest); none: the encoder's 5
};

// Everything the user chose for a batch.
struct TPlanChoice : TPlanSettings {
    TOutputChoice To{&OutputKinds().front(), ""};
    TAudioChoice Audio;                    // of the audio kinds
    TAudioChoice OtherAudio = AutomaticAudio;  // of the other kinds that take the user's audio settings
    TPictureSize MaxPicture;           // the largest picture of the kinds with size_limit; 0x0 no limit
    bool Subtitles = true;             // video kinds carry the source's subtitle streams their container holds
    std::vector<std::string> Options;  // further engine options, "NAME=VALUE" lines
};

// Why a source cannot be written as the chosen kind ("has no video stream to
// write as mp4"); empty when it can, or when the probe could not tell.
std::string PlanRefusal(const TPlanChoice& choice, const TSourceFacts& source);

// The output record of one source, all but its file name.
TOutputOptions PlanOutput(const TPlanChoice& choice, const TSourceFacts& source);

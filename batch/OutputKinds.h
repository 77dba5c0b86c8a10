#pragma once
// What a conversion writes: one row per kind of output file the front ends
// offer, and the reading of a kind's name ("dvd", "pal-dvd", "mp4"). Plain
// data without Qt, so the window can offer the same list.
#include <string>
#include <vector>

// The audio encoder of a kind, as the plan tells encoders apart (the rates,
// channels and bit rates each takes, and what its last list chooses).
enum class TAudioEncoder { Target, Mp3, Aac, Opus, Vorbis, Flac, Pcm };

struct TOutputKind {
    const char* name = "";            // as typed after --to
    const char* extension = "";       // of the output files, with its dot
    const char* format = "";          // the container forced on the output; "" lets the extension decide
    const char* video_codec = "";     // "" none (audio only) or the target's choice
    const char* audio_codec = "";     // "" the target's choice
    TAudioEncoder encoder = TAudioEncoder::Target;  // the same encoder, for the plan
    const char* target = "";          // disc target preset ("vcd", "dvd", "dv", ...); "" none
    bool needs_video = false;         // an input without a video stream cannot be written as this kind
    bool film_rate = false;           // takes the "film-" prefix (24 fps)
    bool audio_settings = false;      // channels, bit rate and sample rate are the user's
    bool size_limit = false;          // takes the user's largest picture size; the others have fixed sizes
    bool audio_tracks = false;        // holds every audio track of the source; the others the first
    const char* options = "";         // further engine options, "NAME=VALUE" lines
    const char* description = "";     // one line for the help text
    const char* text_subtitles = "";  // the format text subtitles become; "" none are kept
    bool bitmap_subtitles = false;    // bitmap subtitles (DVB, DVD, Blu-ray) are kept as they are
    const char* window_name = "";     // the window's item for the kind; "" not offered there
    // The tag that records an output's input (core/SourceRecord.h); "" for
    // kinds that hold no tags of our own, whose outputs get a sidecar.
    const char* source_tag = "";
};

// Every kind, in the order the help text and the window list them; the first is the default.
const std::vector<TOutputKind>& OutputKinds();
// The kind of a name ("mp4"), nullptr for none.
const TOutputKind* OutputKindNamed(const std::string& name);
// Whether a kind's files hold pictures: its own video codec or a disc target's.
bool CarriesPictures(const TOutputKind& kind);

// A kind chosen by name with its norm: "pal", "ntsc", "film" or "" (follow the input).
struct TOutputChoice {
    const TOutputKind* kind = nullptr;
    std::string norm;
};

// Reads "KIND" or "NORM-KIND"; false with a message the user can act on.
bool ParseOutputKind(const std::string& text, TOutputChoice& choice, std::string& error);

// The engine options of a choice (its target preset with the norm, then the
// kind's own options), as "NAME=VALUE" lines.
std::vector<std::string> OutputKindOptions(const TOutputChoice& choice);

#pragma once
// Which subtitle streams of an input an output kind carries, and the engine
// options that say so. Plain data without the libraries, so it reads the same
// for the window.
#include <string>
#include <vector>

#include "batch/OutputKinds.h"

// One stream of an input, in file order, as the probe saw it.
struct TProbedStream {
    enum TType { Other, Video, Audio, TextSubtitle, BitmapSubtitle };
    TType type = Other;
    int Width = 0;   // pixels, of a video stream; 0 unknown
    int Height = 0;  // pixels, of a video stream; 0 unknown
    int SampleAspectNum = 0;  // a pixel's width to its height, of a video stream; 0 unknown (square)
    int SampleAspectDen = 0;
    int Channels = 0;    // of an audio stream; 0 unknown
    int SampleRate = 0;  // Hz, of an audio stream; 0 unknown
    bool Decodable = true;  // the libraries have a decoder for it
    int RateNum = 0, RateDen = 0;  // pictures a second, of a video stream; 0 unknown
};

struct TSubtitlePlan {
    // "NAME=VALUE" lines for the output record's option text; empty when no
    // subtitle stream is carried.
    std::vector<std::string> options;
    int carried = 0;          // subtitle streams the output gets
    std::vector<int> order;   // the streams carried, in the output's order
    bool in_file_order = true;  // every subtitle stream carried, in file order: no maps needed
};

// Text subtitles become the kind's text format, bitmap subtitles are copied
// where the kind keeps them; the rest, and all with `keep` false, are left out.
TSubtitlePlan PlanSubtitles(const TOutputKind& kind, const std::vector<TProbedStream>& streams, bool keep);

#pragma once
// The command line of ardentix-convert, with the converter window's settings as
// the defaults.
#include <string>
#include <vector>

#include "tools/convert/OutputKinds.h"

struct TConvertOptions {
    std::vector<std::string> Files;
    std::string OutputFolder;  // ends with "/"
    int Channels = 2;
    int BitrateKbps = 256;
    int SampleRate = 44100;
    bool Overwrite = true;
    int Jobs = 1;
    TOutputChoice To{&OutputKinds().front(), ""};  // what is written ("--to")
    bool Subtitles = true;  // video kinds carry the input's subtitle streams ("--no-subtitles")
    std::vector<std::string> Options;  // "NAME=VALUE" lines of the output record's option text
    bool Info = false;
    bool Quiet = false;
    bool Verbose = false;
    bool Help = false;
    bool Version = false;
};

// The lists the window offers.
extern const std::vector<int> BitrateChoices;     // kbit/s
extern const std::vector<int> SampleRateChoices;  // Hz

// The window's settings (its settings file when there is one) as options.
TConvertOptions DefaultConvertOptions();

// Reads the arguments over the defaults; false with a message on a usage error.
bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error);

std::string ConvertUsage();

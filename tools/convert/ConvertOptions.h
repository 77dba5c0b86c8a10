#pragma once
// The command line of ardentix-convert, with the converter window's settings as
// the defaults.
#include <string>
#include <vector>

#include "batch/FileSource.h"
#include "batch/FolderWalk.h"
#include "batch/OutputPlan.h"

struct TConvertOptions {
    std::vector<std::string> Files;
    std::vector<TNameList> Lists;  // "--files-from": read as the run reaches them, in their places among Files
    std::string OutputFolder;  // ends with "/"
    // What is written ("--to"), its audio, overwriting, tags and "--option" lines.
    TPlanChoice Plan;
    int Jobs = 0;  // files converted at once ("-j"); 0: not chosen, DefaultSimultaneous decides
    std::string Report;  // where the outcome records go ("--report"); empty: nowhere
    bool Info = false;
    bool Quiet = false;
    bool Verbose = false;
    bool Help = false;
    bool ListOptions = false;  // "--options": list the engine's option vocabulary
    bool Version = false;
    std::string Base;  // "--base": outputs mirror the inputs' paths relative to it; empty: each folder given
    TShard Shard;      // "--shard K/N": the part of the batch this job converts
};

// The window's settings (its settings file when there is one) as options.
TConvertOptions DefaultConvertOptions();

// Reads the arguments over the defaults; false with a message on a usage error.
bool ParseConvertArguments(const std::vector<std::string>& args, TConvertOptions& options, std::string& error);

std::string ConvertUsage();

// The engine's options, a line each: name, value and description in aligned columns.
std::string OptionListing();

#pragma once
// How many files a batch converts at once when the user did not say, the same
// for the window and ardentix-convert: one per processor, but no more than fit
// in half the memory the system has available, by an estimate per conversion
// from the largest picture listed. A 3840x2160 picture takes about 1.6 GiB.
#include <cstdint>
#include <string>
#include <vector>

#include "batch/Converter.h"

// Bytes one conversion of this source is expected to hold: scaled by the
// pixels of its largest picture, never less than an audio conversion's.
int64_t ConversionMemoryBytes(const TSourceFacts& source);

// processors: at least 1 counts; available_bytes: -1 when unknown (the
// processors alone decide). Always 1 or more.
int DefaultSimultaneous(const std::vector<TListedFile>& files, int processors, int64_t available_bytes);

// MemAvailable of a /proc/meminfo text, in bytes; -1 when it is not there.
int64_t MemAvailableBytes(const std::string& meminfo);

// The system's MemAvailable now; -1 when it cannot be read.
int64_t AvailableMemoryBytes();

#pragma once
// What a target preset makes of the pictures, for a plan made before any core
// exists; the presets themselves are rows of TargetPresets.cpp.
#include <optional>
#include <string>

struct TTargetPicture {
    int width = 0, height = 0;       // pixels
    int rate_num = 0, rate_den = 1;  // pictures a second
};

// The picture of a target kind ("dvd", "dv", ...) in a norm ("pal", "ntsc",
// "film"; anything else: the norm of the input's frame rate, NTSC when that
// is neither, as the "target" option decides); nullopt for an unknown kind.
std::optional<TTargetPicture> TargetPicture(const std::string& kind, const std::string& norm, int input_rate_num,
                                            int input_rate_den);

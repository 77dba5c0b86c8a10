#pragma once
// The transcoder core's error: raised with the exact text the user or the log sees.
#include "binding/Exception.h"

class FFmpegException : public Exception {
public:
    using Exception::Exception;
};

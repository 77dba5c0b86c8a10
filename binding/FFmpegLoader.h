#pragma once
// Loads the media libraries at run time and binds their entry points (Entries.h).
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

#include "binding/Entries.h"

// The libraries in load order.
enum class TFFmpegLib : int { avcodec, avdevice, avfilter, avformat, avutil, swscale, swresample, myutil };
constexpr int FFmpegLibCount = 8;

// A set of libraries.
class TFFmpegLibs {
public:
    constexpr TFFmpegLibs() = default;
    constexpr TFFmpegLibs(std::initializer_list<TFFmpegLib> libs) {
        for (auto lib : libs) bits_ |= Bit(lib);
    }
    constexpr bool Contains(TFFmpegLib lib) const { return (bits_ & Bit(lib)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }

private:
    static constexpr uint32_t Bit(TFFmpegLib lib) { return 1u << static_cast<int>(lib); }
    uint32_t bits_ = 0;
};

// Everything the engine loads, unloads and checks: all but avdevice.
inline constexpr TFFmpegLibs DefaultLibs{TFFmpegLib::avcodec, TFFmpegLib::avfilter, TFFmpegLib::avformat,
                                         TFFmpegLib::avutil, TFFmpegLib::swscale, TFFmpegLib::swresample,
                                         TFFmpegLib::myutil};

// The single loader. Loading and unloading happen on the window's thread before and
// after conversions; the tables are then read by every thread without locking.
class TFFmpegLoader {
public:
    void SetLibraryPath(const std::string& path) { libraryPath_ = path; }
    const std::string& LibraryPath() const { return libraryPath_; }
    const std::string& LastError() const { return lastError_; }

    static std::string LibFileName(TFFmpegLib lib);
    bool LoadLib(TFFmpegLib lib);
    bool LoadLibs(TFFmpegLibs libs);  // all or nothing
    bool LibLoaded(TFFmpegLib lib) const;
    bool LibsLoaded(TFFmpegLibs libs) const;
    void UnloadLib(TFFmpegLib lib);
    void UnloadLibs(TFFmpegLibs libs);

private:
    std::string libraryPath_;
    std::string lastError_;
};

TFFmpegLoader& FFmpegLoader();

// Held around every codec open and close and around stream probing of an opened
// input, so that two transcodes never open or close codecs at the same time.
extern std::mutex CodecLock;

// The message for a negative library result code, with the subject (a file name or
// an operation) in front: "<subject>: no such file or directory" and so on.
std::string FFmpegErrorText(const std::string& subject, int code);
// The same for a failed write to an output: the system's reason ("No space left
// on device") for every code made from a system error.
std::string FFmpegWriteErrorText(const std::string& subject, int code);

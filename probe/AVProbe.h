#pragma once
// Reads what a container says about a media file without converting it.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct AVFormatContext;

struct TAVFileInfo {
    int64_t StartTime = -1;  // microseconds, -1 when unknown
    int64_t Duration = -1;   // microseconds, -1 when unknown
    int32_t BitRate = -1;
    int64_t timestamp = -1;  // creation time in microseconds since the epoch, 0 when the file has none
    char title[512] = {};
    char author[512] = {};
    char copyright[512] = {};
    char comment[512] = {};
    char album[512] = {};
    int32_t year = -1;
    int32_t track = -1;
    char genre[32] = {};
};

class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Opens a file for reading; FormatName, when not empty, forces the input format.
    bool Open(const std::string& FileName, const std::string& FormatName = "");
    // Takes an already open container without ownership: Close leaves it open.
    virtual void Attach(AVFormatContext* context);
    virtual void Close();
    void GetFileInfo(TAVFileInfo& info) const;
    // The file's tags in full, then those of its first audio stream (where some
    // formats keep them), in the libraries' order; empty when nothing is open.
    std::vector<std::pair<std::string, std::string>> Tags() const;
    // The first audio stream's sample rate (Hz) and channel count; -1 each when
    // there is no audio stream or the value is unknown.
    int32_t AudioSampleRate() const;
    int32_t AudioChannels() const;
    int64_t GetFileSize() const;
    // The container's name with its long name ("rm (RealMedia)"); empty when nothing is open.
    std::string ContainerName() const;

    AVFormatContext* FormatContext() const { return FormatContext_; }
    bool OwnsContext() const { return OwnsContext_; }
    const std::string& LastError() const { return LastError_; }
    const std::string& FormatName() const { return FormatName_; }
    // Raises naming the first library of avcodec, avformat, avutil and swscale that is not loaded.
    static void CheckLibraries();
    int32_t StreamCount() const { return StreamCount_; }
    int32_t ProgramCount() const { return ProgramCount_; }
    int32_t AudioStreamCount() const { return AudioStreamCount_; }
    int32_t VideoStreamCount() const { return VideoStreamCount_; }
    int32_t SubtitleStreamCount() const { return SubtitleStreamCount_; }
    int32_t FirstAudioStream() const { return FirstAudioStream_; }
    int32_t FirstVideoStream() const { return FirstVideoStream_; }
    int32_t FirstSubtitleStream() const { return FirstSubtitleStream_; }

private:
    void Count();

    AVFormatContext* FormatContext_ = nullptr;
    bool OwnsContext_ = false;
    std::string LastError_;
    std::string FormatName_;
    int32_t StreamCount_ = -1;
    int32_t ProgramCount_ = -1;
    int32_t AudioStreamCount_ = -1;
    int32_t VideoStreamCount_ = -1;
    int32_t SubtitleStreamCount_ = -1;
    int32_t FirstAudioStream_ = -1;
    int32_t FirstVideoStream_ = -1;
    int32_t FirstSubtitleStream_ = -1;
};

class TAVProbe : public TCustomAVProbe {};

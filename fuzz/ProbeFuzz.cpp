// Fuzz target: the media probe as the job list uses it (Open, GetFileInfo,
// GetFileSize, Close) over any bytes, held in memory.
#include <cstring>

#include "binding/FFmpegLoader.h"
#include "fuzz/FuzzSupport.h"
#include "probe/AVProbe.h"

namespace {

void QuietLibraryLog(void*, int, const char*, va_list) {}

bool Terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

void CheckClosed(const TAVProbe& probe) {
    fuzz::Check(probe.FormatContext() == nullptr, "a closed probe keeps its container");
    for (int32_t v : {probe.StreamCount(), probe.ProgramCount(), probe.AudioStreamCount(), probe.VideoStreamCount(),
                      probe.SubtitleStreamCount(), probe.FirstAudioStream(), probe.FirstVideoStream(),
                      probe.FirstSubtitleStream()})
        fuzz::Check(v == -1, "a closed probe reports a count other than -1");
}

// A stream kind's count and first index agree with each other and with the total.
void CheckKind(int32_t count, int32_t first, int32_t total) {
    fuzz::Check(count >= 0 && count <= total, "a stream kind counts more streams than the file has");
    fuzz::Check(count == 0 ? first == -1 : first >= 0 && first < total, "a first stream index out of place");
}

void CheckOpen(const TAVProbe& probe, size_t size) {
    const int32_t total = probe.StreamCount();
    fuzz::Check(total >= 0 && probe.ProgramCount() >= 0, "an open probe has negative counts");
    CheckKind(probe.AudioStreamCount(), probe.FirstAudioStream(), total);
    CheckKind(probe.VideoStreamCount(), probe.FirstVideoStream(), total);
    CheckKind(probe.SubtitleStreamCount(), probe.FirstSubtitleStream(), total);
    fuzz::Check(probe.AudioStreamCount() + probe.VideoStreamCount() + probe.SubtitleStreamCount() <= total,
                "the stream kinds add up to more than the file has");

    TAVFileInfo info;
    probe.GetFileInfo(info);
    for (const auto& [text, bytes] : {std::pair{info.title, sizeof info.title}, {info.author, sizeof info.author},
                                      {info.copyright, sizeof info.copyright}, {info.comment, sizeof info.comment},
                                      {info.album, sizeof info.album}, {info.genre, sizeof info.genre}})
        fuzz::Check(Terminated(text, bytes), "a text tag without its terminating zero");
    // The Size column: the bytes the user's file holds.
    fuzz::Check(probe.GetFileSize() == static_cast<int64_t>(size), "the file size differs from the bytes given");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool loaded = [] {
        if (!FFmpegLoader().LoadLibs(DefaultLibs)) fuzz::Fail("libraries: " + FFmpegLoader().LastError());
        avutil.av_log_set_callback(QuietLibraryLog);
        return true;
    }();
    static fuzz::TMemoryFile input("probe-input");
    (void)loaded;

    TAVProbe probe;
    if (probe.Open(input.Hold(data, size))) {
        CheckOpen(probe, size);
        probe.Close();
    } else {
        fuzz::Check(!probe.LastError().empty(), "a refused file without a reason");
    }
    CheckClosed(probe);
    // Closing twice is harmless.
    probe.Close();
    CheckClosed(probe);
    return 0;
}

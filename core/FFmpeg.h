#pragma once
// The transcoder core: one instance per conversion task. Its methods are spread
// over one .cpp per concern (options, input files, output files, transcode,
// run control).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "binding/Entries.h"
#include "core/FFmpegException.h"
#include "core/FileTables.h"
#include "core/OptionState.h"
#include "core/PauseGate.h"
#include "core/RunState.h"
#include "core/StreamState.h"
#include "hooks/Bitmap.h"
#include "hooks/FrameHooks.h"
#include "hooks/PreviewWindow.h"

class TCustomFFmpeg;
class TFFmpegThread;        // worker thread of a task (core/FFmpegThread.h)
enum TConvertPriority : int;  // worker thread priority (core/FFmpegThread.h)

// The recorded generic (AVOption) settings and the option carriers that hold
// their values until they are copied to the real contexts.
class TGenericOptionStore {
public:
    TGenericOptionStore() = default;
    TGenericOptionStore(const TGenericOptionStore&) = delete;
    TGenericOptionStore& operator=(const TGenericOptionStore&) = delete;
    ~TGenericOptionStore() { Release(); }

    // Allocates the carriers; false when the library refused one.
    bool Create(int scaler_flags);
    // Frees the carriers and forgets the recorded names.
    void Release();

    // Accepted option names (the options' own names), in acceptance order.
    std::vector<std::string> names;
    // Carriers by media type: 0 video, 1 audio, 2 data, 3 subtitle, 4 attachment.
    std::array<AVCodecContext*, 5> codec_options{};
    AVFormatContext* format_options = nullptr;
    SwsContext* scaler_options = nullptr;
    // Options of the encoders' and muxers' own option classes, by name; searched
    // after every carrier above, encoders before muxers.
    AVDictionary* private_options = nullptr;
    // A copy for one encoder or muxer to take from (what it leaves is dropped).
    TDictionaryPtr PrivateOptions() const;
};

// Held by the preview step while it uses a task's preview window and by every
// change of preview flags, so that no window is closed under a worker using
// it. Never held while waiting for the window's thread.
extern std::mutex PreviewLock;

// Callback slots; Sender is the task.
using TCoreBeforeHookEvent = std::function<void(TCustomFFmpeg* Sender, THookAction& AHookAction, int64_t APTS)>;
using TCoreCustomHookEvent = std::function<void(TCustomFFmpeg* Sender, TBitmap* ABitmap, int AFrameNumber,
                                                int64_t APTS, bool& AUpdate, bool& AStopHook)>;
using TCoreLogEvent = std::function<void(TCustomFFmpeg* Sender, int ALogLevel, const std::string& AMsg)>;
using TCorePreviewBitmapEvent =
    std::function<void(TCustomFFmpeg* Sender, TBitmap* ABitmap, int AFrameNumber, int64_t APTS)>;
using TCoreProgressEvent =
    std::function<void(TCustomFFmpeg* Sender, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TCoreTerminateEvent = std::function<void(TCustomFFmpeg* Sender)>;

// The options a new output stream of one media type takes; the pointers are
// the core's own fields, taken (cleared) by the stream.
struct TStreamKind {
    AVMediaType type;
    std::string* codec_name;
    std::string* language;  // none for video
    std::vector<std::string>* bsf_list;
    unsigned int codec_tag = 0;
    bool codec_defaults = false;  // the encoder context starts from the codec's own defaults
};

// A new output stream before its type's own settings.
struct TNewStream {
    AVStream* st = nullptr;
    TCodecContextPtr enc;
    AVCodecID codec_id = AV_CODEC_ID_NONE;
    const AVCodec* by_name = nullptr;  // the encoder the options named
    const AVCodec* codec = nullptr;    // that, or the container's choice
};

class TCustomFFmpeg : public TOptionState {
public:
    TCustomFFmpeg() = default;
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;
    virtual ~TCustomFFmpeg() = default;

    // ---- callbacks and logging ----
    TCoreBeforeHookEvent OnBeforeHook;
    TCoreCustomHookEvent OnCustomHook;
    TCoreLogEvent OnLog;
    TCorePreviewBitmapEvent OnPreviewBitmap;
    TCoreProgressEvent OnProgress;
    TCoreTerminateEvent OnTerminate;

    // True when a line of this level would reach the log callback.
    bool LogEnabled(int level) const { return OnLog && level <= verbosity; }
    // Hands a line to the log callback when one is attached and verbosity allows.
    void Log(int level, const std::string& msg);
    void LogF(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    int64_t progress_interval = 500000;  // microseconds between progress records
    int64_t preview_interval = 100000;   // microseconds between preview pictures
    // Bit 0: preview window, bit 1: preview-bitmap callback. Read anywhere;
    // written only under PreviewLock (SetPreviewFlags).
    std::atomic<uint8_t> preview_flags{0};
    int index = -1;                      // position in the engine's task list
    std::atomic<std::thread::id> thread_id{};  // thread running the task, for the log capture
    // A second thread working for the running task (its audio encoder's), for the log capture.
    std::atomic<std::thread::id> helper_thread_id{};

    // ---- options ----
    // Resets the option state to its defaults and makes a fresh generic option
    // store (needs the libraries loaded).
    void ResetOptionState();

    // Dispatches one option of the option vocabulary.
    void SetOption(const std::string& name, const std::string& value);
    // Sets a codec, format or scaler option by its library name; false when no
    // carrier knows it or the value was refused. Never raises.
    bool SetGenericOption(const std::string& name, const std::string& value);
    bool SetGenericIntOption(const std::string& name, int value);
    // Copies the recorded generic options whose flags hold every bit of mask
    // from the source carrier to the target context (both AVClass objects).
    void ApplyGenericOptions(void* target, void* source, int mask);
    void SetVerbosity(int level);

    TGenericOptionStore generic_options;

    // Value handlers.
    void SetFormat(const std::string& name);
    void SetInputFormat(const std::string& name);
    void SetOutputFormat(const std::string& name);
    void SetFrameRate(const std::string& text);
    void SetFrameSize(const std::string& text);
    void SetAspect(const std::string& text);
    void SetPixelFormat(const std::string& text);
    void SetSampleFormat(const std::string& text);
    void SetCropTop(int v);
    void SetCropBottom(int v);
    void SetCropLeft(int v);
    void SetCropRight(int v);
    void SetPadTop(int v);
    void SetPadBottom(int v);
    void SetPadLeft(int v);
    void SetPadRight(int v);
    void SetPadColor(int rgb);
    void SetQScale(float q);
    void SetBitrate(const std::string& name, const std::string& value);
    // kind: 'a', 'v' or 's'.
    void SetCodecName(char kind, const std::string& name);
    void SetCodecTag(char kind, const std::string& text);
    void AddMetadataOption(const std::string& text);
    void AddMetadata(const std::string& key, const std::string& value);
    void AddStreamMap(const std::string& text);
    void AddMetadataMap(const std::string& text);
    void SetTimestampScale(const std::string& text);
    void SetRecordingTime(const std::string& text);
    void SetRecordingTimeMs(int ms);
    void SetStartTime(const std::string& text);
    void SetStartTimeUs(int64_t us);
    void SetInputTsOffset(const std::string& text);
    void SetRecordTimestamp(const std::string& text);
    void SetPass(int n);
    void SetThreadCount(int n);
    // matrix: intra_matrix or inter_matrix.
    void SetMatrix(std::vector<uint16_t>& matrix, const std::string& text);
    void SetVstats();
    void SetVstatsFile(const std::string& text);
    void AddBitstreamFilter(const std::string& option_name, const std::string& text);
    void AddFrameHook(const std::string& text);
    void SetProgramId(int v);
    void SetSampleRate(int v);
    void SetChannels(int v);
    void SetVolume(int v);
    void SetMuxDelay(float seconds);
    void SetMuxPreload(float seconds);
    void SetHookRanges(const std::vector<THookRange>& ranges);
    // Target presets: kind "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal",
    // "ntsc", "film" or anything else to detect; fallback used when detection fails.
    void SetTarget(const std::string& kind, const std::string& norm, const std::string& fallback_norm);
    // Option "target": an optional "pal-", "ntsc-" or "film-" prefix, then the kind.
    void SetTargetOption(const std::string& value);
    // The names SetOption knows, in lookup order.
    static std::vector<std::string> OptionNames();
    // Checks a value for option name against its row's range: true when the row
    // takes it, false when it ignores it; raises the row's refusal otherwise.
    bool OptionTakes(const std::string& name, double value) const;
    // A duration or date in microseconds; raises on text the library rejects.
    int64_t ParseTime(const std::string& option_name, const std::string& text, bool is_duration);

    // ---- input files ----
    // Opens one input with the current options, records it and copies its
    // stream properties into the options. False with last_error on failure;
    // raises FFmpegException "invalid codec_type" for an unknown media type.
    bool OpenInputFile(const std::string& file_name);
    // Whether the libraries can read the file: its format found and its header
    // read (with the forced format, when one is set), but not its streams'
    // parameters; the file is closed again. False with last_error.
    bool ProbeInputFile(const std::string& file_name);
    // OpenInputFile's steps: the demuxer's settings from the options, and what
    // the options take from each stream (the decoder forced for it, or none).
    TDictionaryPtr DemuxerSettings() const;
    // The file's container opened with those settings and the forced format: its
    // header read, not its streams. None with last_error.
    TInputContextPtr OpenContainer(TFormatContextPtr made, const std::string& file_name);
    const AVCodec* TakeStreamProperties(AVStream& st, AVCodecContext& dec, int index);
    bool AddInputDecoders(TInputFile& file, const std::string& file_name);
    bool ReadStreamInfo(AVFormatContext* ic, const std::string& file_name);
    int64_t SeekToStartTime(AVFormatContext* ic);
    // Clears what one opening uses up: the codec names, the forced formats, the channel.
    void ForgetOpeningOptions();
    // Codec id of a codec name (none: 0). False with last_error "Unknown %s '%s'"
    // or "Invalid %s type '%s'"; found (optional) receives the codec.
    bool FindCodecId(const std::string& name, AVMediaType type, bool encoder, AVCodecID& codec_id,
                     const AVCodec** found = nullptr);

    std::array<TInputFile, MAX_FILES> input_files{};  // opened inputs, in opening order
    std::array<int64_t, MAX_FILES> input_ts_offsets{};  // microseconds added to every timestamp of the file
    // Decoder forced by name, one entry per input stream in ist order (files in
    // order, then streams); none = chosen by codec id.
    std::array<const AVCodec*, MAX_FILES * MAX_STREAMS> input_decoders{};
    int input_file_count = 0;
    int input_decoder_count = 0;

    // ---- output files ----
    // Creates one output file with its streams, opened for writing. False with
    // last_error on failure, leaving the output table as it was.
    bool OpenOutputFile(const std::string& file_name);
    // What OpenOutputFile can refuse without an input: the filter options, the
    // format, the streams' codecs and settings. Nothing is made or registered.
    bool JudgeOutputFile(const std::string& file_name);
    // The container and its streams for an output in the given row: empty, or why not.
    std::string MakeOutputContext(const std::string& file_name, int row, TOutputFile& file,
                                  const AVOutputFormat*& format);
    // OpenOutputFile's steps: the streams (empty, or why one could not be
    // made), the file's tags, and the muxer's settings.
    std::string AddOutputStreams(TOutputFile& file, int row, const AVOutputFormat* format);
    void SetOutputMetadata(AVFormatContext* oc);
    void SetMuxerOptions(TOutputFile& file);
    const char* FilterOptionsRefusal() const;
    // False with the reason when a local output's final name cannot be used.
    bool CheckOutputTarget(const std::string& path, std::string& refusal) const;
    // Add one stream to an output file whose row in the output table is
    // file_index (raise FFmpegException on failure).
    void NewVideoStream(TOutputFile& file, int file_index);
    // What the three share: the encoder (by name, else the container's
    // choice), then check, then the stream with its bitstream filters and tag;
    // and at the end the stream's entry in the file and the encoder table.
    TNewStream StartNewStream(TOutputFile& file, int file_index, const TStreamKind& kind, bool copy,
                              const std::function<void()>& check = {});
    void FinishNewStream(TOutputFile& file, TNewStream& made, bool copy);
    void SetVideoEncoderFields(AVCodecContext& enc, AVStream& st, const AVCodec* codec, AVCodecID codec_id,
                               const std::vector<RcOverride>& overrides);
    void NewAudioStream(TOutputFile& file, int file_index);
    void NewSubtitleStream(TOutputFile& file, int file_index);
    // Options "newvideo", "newaudio", "newsubtitle": a stream on the last output file.
    void AddVideoStream();
    void AddAudioStream();
    void AddSubtitleStream();
    // Which media types the opened inputs carry; raises "invalid codec_type of input file".
    void CheckInputStreamTypes(bool& has_video, bool& has_audio, bool& has_subtitle);
    // Moves each output of a run that ended without error from its temporary
    // name to its final one (see core/OutputPlace.h); raises with the reason
    // when one cannot be written out or placed.
    void PlaceOutputFiles();
    // Closes and frees every input and output file (a temporary output file not
    // moved into place is deleted) and the generic option carriers.
    void FreeFiles();

    std::array<TOutputFile, MAX_FILES> output_files{};  // in opening order
    // Encoder found by name, one entry per output stream in creation order
    // (= ost order); none = chosen by codec id.
    std::array<const AVCodec*, MAX_FILES * MAX_STREAMS> output_encoders{};
    int output_file_count = 0;
    int output_encoder_count = 0;
    // Bitstream filter names per output stream, [file][stream index], in chain order.
    std::array<std::array<std::vector<std::string>, MAX_STREAMS>, MAX_FILES> stream_bsf_table{};

    // ---- transcode ----
    // Maps the streams, opens the codecs, writes the headers, runs the read loop
    // to its end and writes the trailers; raises FFmpegException on failure.
    // The run's state lives from its start to its end, and its end closes
    // every codec it opened.
    void Transcode();
    void Transcode(AVFormatContext** outputs, int output_count, AVFormatContext** inputs, int input_count,
                   const TStreamMap* maps, int map_count);
    // Keeps what the run reports after it and drops the run's state.
    void EndRun();
    // First untaken stream of the type in the program, as an ist_table index; -1 if none.
    int FindProgramStream(AVFormatContext** inputs, int input_count, int program, AVMediaType type);
    void AddOpenEncoder(TOutputStreamState& ost);
    void AddOpenDecoder(TInputStreamState& ist);
    void RemoveOpenEncoder(const TOutputStreamState& ost);
    void RemoveOpenDecoder(const TInputStreamState& ist);
    // One packet of one input stream (none: drain at the end); -1 when decoding failed.
    int DecodePacket(TInputStreamState& ist, int ist_index, AVPacket* pkt);
    // One block of packed s16 samples at the decoder's rate and channels to an output stream.
    void EncodeAudioBlock(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, const uint8_t* buf,
                          int size);
    // The only way a packet reaches its container (bitstream filters, interleaving writer).
    void WriteFrame(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost);
    // The progress record, or the report line for the log; at the last, the byte statistics too.
    void PrintReport(AVFormatContext** outputs, int output_count, bool last);
    void LogByteStatistics(int64_t total_size);
    // Builds the filter chain of an output video stream ("vfilters"); 0, or -1
    // with last_error set for the refusals.
    int ConfigureFilters(TInputStreamState& ist, TOutputStreamState& ost);
    // The chain of ost built anew for pictures of this size, format and shape,
    // scaled first to the encoder's size like the first; 0, or -1.
    int BuildFilterGraph(TOutputStreamState& ost, int width, int height, int format, AVRational sar);
    // The next picture out of the stream's chain into picture: 1, or -1 when none is ready.
    int GetFilteredPicture(TOutputStreamState& ost, AVFrame* picture);
    // Deinterlacing and the frame hooks (the custom hook, or the plug-ins when
    // the hook action lets them) of one decoded picture, in place.
    void PreProcessVideoFrame(TInputStreamState& ist, AVFrame* picture);
    // Variable-rate and pass-through outputs: whether the picture now due at
    // the stream's sync input is encoded (0: dropped), keeping the frame clock
    // and the drop total.
    int SyncVideoFrames(AVFormatContext* os, TOutputStreamState& ost);
    // Constant-rate outputs: each slot shows the nearest picture (see VideoPath.cpp).
    bool ConstantRateSlots(const AVFormatContext* os, const TOutputStreamState& ost) const;
    void HoldForNearestSlots(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture,
                             int& frame_size);
    int64_t GridTime(TInputStreamState& ist) const;
    int64_t SlotsBefore(const TOutputStreamState& ost, double next_at) const;
    void EncodeHeldPicture(AVFormatContext* os, TOutputStreamState& ost, int64_t end, int& frame_size);
    void EncodeLastHeldPicture(AVFormatContext* os, TOutputStreamState& ost);
    void EncodePictureSlots(AVFormatContext* os, TOutputStreamState& ost, const AVFrame* shown, float quality,
                            int count, int& frame_size);
    // One line of video statistics for the last encoded picture ("vstats").
    void WriteVideoStats(TOutputStreamState& ost, int frame_size);
    // Synchronises, formats and encodes one picture; frame_size: the last packet's bytes.
    void EncodeVideoFrame(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture,
                          int& frame_size);
    // Encodes one decoded subtitle into one packet (two for DVB: the page, then
    // a page that clears it at its end time, held back until the next page:
    // one that comes earlier replaces it) and writes them; pts in the input
    // stream's time base. A subtitle without pts raises with xerror, else is
    // logged and skipped.
    void EncodeSubtitle(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle* subtitle,
                        int64_t pts);
    // Writes the clearing page a DVB stream holds back; at the end of its input.
    void FlushSubtitles(AVFormatContext* os, TOutputStreamState& ost);

    // The state of the running transcode; none outside it.
    std::unique_ptr<TRunState> run;
    // The last run's extra copies of pictures and pictures left out.
    int dup_frames = 0, drop_frames = 0;

    // ---- frame hooks and preview (core/HookPath.cpp) ----
    // Option "vhook": the library path and its arguments (hooks/ardentix-hook.h).
    TFrameHookList frame_hooks;
    // Sets the preview flags under PreviewLock; a cleared window bit closes
    // the task's preview window. Any thread.
    void SetPreviewFlags(uint8_t set, uint8_t clear);
    // The preview step for one picture the encoder takes (pts in microseconds).
    void PreviewFrame(const AVFrame* picture, int64_t pts);
    // Makes the task's preview window (set by the engine; none: no window).
    TPreviewWindowFactory NewPreviewWindow;
    // The preview step's clock in microseconds; none: the libraries' wall clock.
    std::function<int64_t()> PreviewClock;
    // Lets the encoder of the first encoded audio stream run on a thread of its own.
    bool encode_in_thread = true;
    // Bytes of sample data that the frames queued for that thread may hold (at least two frames).
    size_t encoder_queue_bytes = 128 * 1024;

    // How much the last run converted: the longest output stream in
    // milliseconds, set when a run ends normally (also after a stop); -1
    // before. Front ends read it at termination, with ExpectedOutputMs and
    // EndedShort, to tell a file that ended early from a complete one.
    int64_t converted_ms = -1;
    // The name the first output file got when the last run moved it into place
    // (another than the one asked for when that was taken meanwhile); empty
    // when it was not placed. Front ends read it at termination.
    std::string placed_output;
    // The first output was not placed because a finished conversion of the
    // same input took its name meanwhile (the skip rule): placed_output names that file.
    bool made_before = false;
    // The output length the inputs declare, in milliseconds, less the start
    // offset and at most the recording time; -1 when no input declares one.
    int64_t ExpectedOutputMs() const;
    // Whether the last run's loop ended because every input was read to its
    // end (not by a stop, a limit or a failure).
    bool read_to_end = false;
    // A run whose inputs were read to their end, yet clearly short of the
    // expected length: more than kShortToleranceMs and more than
    // kShortTolerancePercent of it missing. Container durations are estimates
    // and encoders pad, so smaller gaps are not told; a limit set on purpose
    // ("t", "fs", frame counts) or a stop is never told as short.
    bool EndedShort() const;
    static constexpr int64_t kShortToleranceMs = 1000;
    static constexpr int64_t kShortTolerancePercent = 2;
    // Decoded audio rates the conversion takes, in Hz.
    static constexpr int kMinInputRate = 1000;
    static constexpr int kMaxInputRate = 768000;

private:
    void SetUpTranscode(AVFormatContext** outputs, int output_count, AVFormatContext** inputs, int input_count,
                        const TStreamMap* maps, int map_count);
    // SetUpTranscode's steps, in order.
    void MapInputStreams(AVFormatContext** inputs, int input_count);
    int CountOutputStreams(AVFormatContext** outputs, int output_count);
    void CheckStreamMaps(const TStreamMap* maps, int map_count, int total_out, int input_count);
    void ChooseSources(AVFormatContext** outputs, int output_count, AVFormatContext** inputs, int input_count,
                       const TStreamMap* maps, int map_count, int total_out);
    void SetCodecParameters(AVFormatContext** outputs);
    void MarkDefaultTracks();
    void LogStreamMapping(AVFormatContext** outputs, int output_count);
    void OpenEncoders();
    void StartDecoders();
    void CopyMetadataMaps(AVFormatContext** outputs, int output_count, AVFormatContext** inputs, int input_count);
    bool WriteHeaders(AVFormatContext** outputs, int output_count);
    void StartAudioEncoderThread(AVFormatContext** outputs);
    void LogSessionDescription(AVFormatContext** outputs, int output_count);
    void RunTranscodeLoop(AVFormatContext** outputs, int output_count, AVFormatContext** inputs, int input_count);
    // The input whose outputs lag furthest behind (by input or output time, as
    // input_sync says); -1 when every input has ended or a frame limit is met
    // (frame_limit then true). opts_min: the least output time, in seconds.
    int NextInputFile(double& opts_min, bool& frame_limit) const;
    // The recording time or size limit is met; raises when the output runs far
    // past what the inputs declare.
    bool LimitReached(double opts_min, int output_count) const;
    // Raises when an output time (seconds) runs past twice what the inputs
    // declare and a minute more: a header or a packet time that lies.
    void CheckWithinDeclared(double seconds) const;
    // After the loop: drains decoders and encoders, writes the trailers and the
    // last report, and closes the codecs.
    void FinishTranscode(AVFormatContext** outputs, int output_count);
    bool HandlePacket(AVFormatContext* ic, int file_index, AVPacket* pkt);
    void OffsetAndScaleTimes(int file_index, const TInputStreamState& ist, AVPacket* pkt) const;
    void FollowDiscontinuity(int file_index, const TInputStreamState& ist, AVPacket* pkt);
    void CheckSomethingDecoded();
    void CheckInputRate(const TInputStreamState& ist, int rate) const;
    int64_t DeclaredInputLength(AVFormatContext** inputs, int input_count) const;
    int64_t ConvertedMs() const;
    void OpenPassLogFile(TOutputStreamState& ost, int position);
    void PreferS16(TOutputStreamState& ost, const TInputStreamState& ist, int position);
    void MakeBitstreamFilters(TOutputStreamState& ost);
    void PrepareAudioEncoder(TOutputStreamState& ost);
    void StartEncoderThread(AVFormatContext* os, TOutputStreamState& ost);
    int DecodeStream(TInputStreamState& ist, int ist_index, AVPacket* pkt);
    void FlushEncoders(TInputStreamState& ist, int ist_index);
    int DecodeAudio(TInputStreamState& ist, int ist_index, const AVPacket* pkt);
    int ReceiveAudioFrames(TInputStreamState& ist, int ist_index, const AVPacket* pkt);
    int ToPackedS16(TInputStreamState& ist, const AVFrame* frame, const uint8_t*& block);
    void ApplyVolume(uint8_t* data, int size) const;
    void PaceReading(const TInputStreamState& ist) const;
    void CopyPacket(TInputStreamState& ist, int ist_index, const AVPacket& pkt);
    // EncodeAudioBlock's steps: converters for what the decoder hands out; the
    // drift rule (false: the whole block was cut); the encoder's format, queued.
    void PrepareAudioConverters(TOutputStreamState& ost, const TInputStreamState& ist);
    bool KeepAudioInStep(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t*& buf, int& size);
    bool DiscardAudio(TInputStreamState& ist, const uint8_t*& buf, int& size, int byte_delta, double delta);
    void PadWithSilence(TInputStreamState& ist, const uint8_t*& buf, int& size, int byte_delta, double delta);
    // The bytes of a block of `channels` that `samples` (signed) stand for, within
    // int however far off a hostile file's times are: pads and cuts go in pieces.
    static int BlockBytes(double samples, int channels);
    void ConvertAndQueue(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* buf, int in_samples);
    void QueueAndEncode(AVFormatContext* os, TOutputStreamState& ost, uint8_t** planes, int samples);
    void EncodeQueuedAudio(AVFormatContext* os, TOutputStreamState& ost, int samples);
    // A frame (none: the end) to the audio encoder, its packets into out; runs
    // on the encoder's thread when the stream has one.
    void EncodeAudioFrame(TOutputStreamState& ost, const AVFrame* frame, TPacketBatch& out);
    // One encoded audio packet to its container; on the reading thread only.
    void WriteAudioPacket(AVFormatContext* os, TOutputStreamState& ost, AVPacket* pkt);
    void EncodeAndWriteAudio(AVFormatContext* os, TOutputStreamState& ost, const AVFrame* frame);
    void FlushAudioEncoder(AVFormatContext* os, TOutputStreamState& ost);
    // DV: silence where the input's sound does not cover the pictures (core/DvSound.cpp).
    bool NeedsSoundUnderEveryPicture(const TOutputStreamState& ost) const;
    int64_t PicturesEndInSamples(const TOutputStreamState& audio) const;
    void FillSoundToPicturesEnd(AVFormatContext* os, TOutputStreamState& ost);
    void FillSoundBeforeStart(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t*& buf, int& size);
    // DV: the sound goes to the muxer a whole DV frame's worth at a time.
    int DvFrameSamples(const TOutputStreamState& audio, int64_t frame) const;
    void EncodeWholeDvFrames(AVFormatContext* os, TOutputStreamState& ost);
    void FillSoundToDvFrame(TOutputStreamState& ost);
    // What the user reads when a packet or the trailer cannot be written.
    std::string WriteFailureText(const AVFormatContext* os, int code) const;
    // video path
    void SetUpVideoEncoder(TOutputStreamState& ost, TInputStreamState& ist);
    int DecodeVideo(TInputStreamState& ist, int ist_index, const AVPacket* pkt);
    int ReceiveVideoFrames(TInputStreamState& ist, int ist_index, bool draining);
    int64_t PictureDuration(const TInputStreamState& ist, const AVFrame* frame) const;
    void PassVideoFrame(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture);
    void PullFilteredPictures(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist);
    void RebuildFilters(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, const AVFrame* picture);
    void EncodeAndReport(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture);
    // The picture cropped, scaled and padded for the encoder; none when it is skipped.
    AVFrame* FormatVideoFrame(TOutputStreamState& ost, AVFrame* picture);
    AVFrame* VideoFrameFailed(const char* text);
    int ReceiveVideoPackets(AVFormatContext* os, TOutputStreamState& ost);
    void FlushVideoEncoder(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist);
    int SwsFlags() const;
    // frame hooks and preview
    void DecideHookAction(int64_t pts);
    void RunCustomHook(AVFrame* picture, int64_t pts);
    void RunPluginHooks(AVFrame* picture, int64_t pts);
    // The picture as the context's bitmap, and the bitmap back into the picture.
    bool ToBitmap(TRgbContext& rgb, const AVFrame* picture);
    bool FromBitmap(TRgbContext& rgb, AVFrame* picture);
    // Releases the plug-ins and closes the preview window (the files' clean-up).
    void ReleaseHookState();
    // subtitle path
    int DecodeSubtitle(TInputStreamState& ist, int ist_index, AVPacket* pkt);
    void OpenDecoder(TInputStreamState& ist, int ist_index);
    void PrepareSubtitleEncoder(TOutputStreamState& ost, TInputStreamState& ist, int ist_index);
    void WriteSubtitlePacket(AVFormatContext* os, TOutputStreamState& ost, AVPacket* pkt);
    void FilterPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost, size_t level);
    void DrainBitstreamFilters(AVFormatContext* os, TOutputStreamState& ost);
    void MuxPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost);

    std::unique_ptr<TPreviewWindow> previewer;  // under PreviewLock

public:

    // ---- run control ----
    // Frees the files, resets the options and clears the run flags; does
    // nothing while the libraries are not loaded.
    void ReInitialize();
    // Starts the task: on the calling thread to its end (in_thread false), or
    // on a suspended worker returned to the caller, who resumes it. Answers
    // none when the task is running or ended, or when its start checks failed
    // (it has then terminated already).
    TFFmpegThread* Start(bool in_thread, TConvertPriority priority);
    // Start's first half: the checks and the move to running. False when the
    // task is running or ended, or when its checks failed (it has then
    // terminated already); after true, Run runs it on the calling thread.
    bool Begin();
    // Asks a running task to stop; ends a task that never ran on a thread of
    // its own; leaves an ended task alone.
    void Stop();
    // Stop for many tasks at once: those that never ran end one after another
    // on one thread, so that stopping a long queue starts no thread per task.
    static void StopAll(const std::vector<TCustomFFmpeg*>& tasks);
    // Asks the run to stop (used before a task is destroyed).
    void Abort();
    // The transcode inside the error guard, the clean-up and the termination step.
    void Run();
    // The task's last act: clears the run flags and calls the terminate callback.
    void TerminateStep();

    // Set while the task's files are closed until it runs: opens them again at
    // the start of the run, before the transcode, and raises with the reason
    // when that fails. Start's checks for an input and an output wait for it.
    std::function<void()> DeferredOpen;

    std::atomic<TFFmpegThread*> worker_thread{nullptr};  // cleared by the termination step
    std::atomic<bool> running{false};
    std::atomic<bool> stop_requested{false};  // polled once per packet by the main loop
    bool finished = false;   // normal end of the transcode without a stop request
    bool began = false;      // the run started (a stop may end a task that never ran)
    // Where the last run failed, with exception: opening its files, decoding,
    // finding nothing the outputs can take, converting and writing, or moving
    // the result to its name.
    enum class TFailStage { None, Opening, Decoding, NothingToWrite, Converting, Placing };
    TFailStage fail_stage = TFailStage::None;
    bool decode_failed = false;  // the input's data could not be decoded
    int write_error = 0;         // the libraries' code of a failed write to an output (AVERROR)
    std::atomic<bool> terminated{false};
    bool exception = false;  // an error ended the run
    std::string message;     // that error's text
    std::mutex run_lock;     // guards the moves between made, running, ending and terminated
    bool end_pending = false;  // a never-started task is being ended by its TDoTerminateThread
    // Closed while the task is paused: the main loop waits at its next packet.
    // Stop and Abort wake it, so a paused task still stops at once.
    TPauseGate pause_gate;
};

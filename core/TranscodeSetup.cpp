// The first half of a transcode: the stream tables, the source of every output
// stream, codec parameters, encoders and decoders, metadata and headers.
#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>

#include "binding/FFmpegLoader.h"
#include "core/Chapters.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {


// The ids the output's tag table gives, with the same answers as a lookup
// through av_codec_get_id / av_codec_get_tag.
bool KeepInputCodecTag(const AVOutputFormat* fmt, const AVCodecParameters* in) {
    if (!fmt->codec_tag) return true;
    if (avformat.av_codec_get_id(fmt->codec_tag, in->codec_tag) == in->codec_id) return true;
    return avformat.av_codec_get_tag(fmt->codec_tag, in->codec_id) == 0;
}

// The time base of a copied picture stream: its input's, unless that is finer
// than a millisecond and one tick per picture (the stream's base rate) is
// coarser: then that tick, which containers that count in pictures (AVI)
// need, and which holds every timestamp of a steady stream exactly.
AVRational CopiedVideoTimeBase(const AVStream* st) {
    AVRational rate = st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return st->time_base;
    const AVRational tick{rate.den, rate.num};
    if (av_q2d(tick) > av_q2d(st->time_base) && av_q2d(st->time_base) < 0.001) return tick;
    return st->time_base;
}

}  // namespace

void TCustomFFmpeg::Transcode() {
    std::array<AVFormatContext*, MAX_FILES> outputs{};
    std::array<AVFormatContext*, MAX_FILES> inputs{};
    for (int i = 0; i < output_file_count; ++i) outputs[i] = output_files[i].get();
    for (int k = 0; k < input_file_count; ++k) inputs[k] = input_files[k].get();
    Transcode(outputs.data(), output_file_count, inputs.data(), input_file_count, stream_map.data(),
              static_cast<int>(stream_map.size()));
}

void TCustomFFmpeg::Transcode(AVFormatContext** outputs, int output_count, AVFormatContext** inputs,
                              int input_count, const TStreamMap* maps, int map_count) {
    converted_ms = -1;
    placed_output.clear();
    made_before = false;
    finished = false;
    read_to_end = false;
    dup_frames = drop_frames = 0;
    run = std::make_unique<TRunState>();
    run->outputs = outputs;
    try {
        SetUpTranscode(outputs, output_count, inputs, input_count, maps, map_count);
        RunTranscodeLoop(outputs, output_count, inputs, input_count);
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TCustomFFmpeg::EndRun() {
    dup_frames = run->dup_frames;
    drop_frames = run->drop_frames;
    run.reset();
}

int TCustomFFmpeg::FindProgramStream(AVFormatContext** inputs, int input_count, int program, AVMediaType type) {
    for (int f = 0; f < input_count; ++f) {
        AVFormatContext* ic = inputs[f];
        for (unsigned p = 0; p < ic->nb_programs; ++p) {
            const AVProgram* prog = ic->programs[p];
            if (prog->id != program) continue;
            for (unsigned k = 0; k < prog->nb_stream_indexes; ++k) {
                const int sidx = static_cast<int>(prog->stream_index[k]);
                if (sidx >= run->file_table[f].nb_streams) continue;
                const int n = run->file_table[f].ist_index + sidx;
                const TInputStreamState& ist = *run->ist_table[n];
                if (ist.discard && ist.stream->codecpar->codec_type == type) return n;
            }
        }
    }
    return -1;
}

void TCustomFFmpeg::AddOpenEncoder(TOutputStreamState& ost) {
    run->open_encoders.push_front({&ost, ost.enc, ost.encoding_needed != 0});
}

void TCustomFFmpeg::AddOpenDecoder(TInputStreamState& ist) {
    run->open_decoders.push_front({&ist, ist.dec, ist.decoding_needed != 0});
}

// The input stream table: one record per stream of every input, in file order.
void TCustomFFmpeg::MapInputStreams(AVFormatContext** inputs, int input_count) {
    run->file_table.assign(static_cast<size_t>(input_count), TInputFileState{});
    int total_in = 0;
    for (int k = 0; k < input_count; ++k) {
        run->file_table[k].ist_index = total_in;
        run->file_table[k].nb_streams = static_cast<int>(inputs[k]->nb_streams);
        total_in += run->file_table[k].nb_streams;
    }
    run->ist_table.clear();
    run->ist_table.reserve(static_cast<size_t>(total_in));
    for (int k = 0; k < input_count; ++k) {
        for (int s = 0; s < run->file_table[k].nb_streams; ++s) {
            auto ist = std::make_unique<TInputStreamState>();
            ist->file_index = k;
            ist->index = s;
            ist->stream = inputs[k]->streams[s];
            const auto& decoders = input_files[k].decoders;
            ist->dec = s < static_cast<int>(decoders.size()) ? decoders[s].get() : nullptr;
            ist->discard = 1;
            if (rate_emulation) ist->wallclock_start = avutil.av_gettime();
            run->ist_table.push_back(std::move(ist));
        }
    }
}

// The output streams in all; an output without a stream cannot be written.
int TCustomFFmpeg::CountOutputStreams(AVFormatContext** outputs, int output_count) {
    int total_out = 0;
    for (int i = 0; i < output_count; ++i) {
        AVFormatContext* os = outputs[i];
        if (os->nb_streams == 0) {
            avformat.av_dump_format(os, i, output_files[i].ShownName(), 1);
            fail_stage = TFailStage::NothingToWrite;
            throw FFmpegException(FormatText("Output file #%d does not contain any stream", i));
        }
        total_out += static_cast<int>(os->nb_streams);
    }
    return total_out;
}

// Stream maps name existing input streams, one map per output stream.
void TCustomFFmpeg::CheckStreamMaps(const TStreamMap* maps, int map_count, int total_out, int input_count) {
    if (map_count >= 1 && map_count != total_out)
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (int m = 0; m < map_count; ++m) {
        const TStreamMap& map = maps[m];
        auto bad = [&](int file, int stream) {
            return file < 0 || file > input_count - 1 || stream < 0 || stream >= run->file_table[file].nb_streams;
        };
        if (bad(map.file_index, map.stream_index))
            throw FFmpegException(
                FormatText("Could not find input stream #%d.%d", map.file_index, map.stream_index));
        if (bad(map.sync_file_index, map.sync_stream_index))
            throw FFmpegException(
                FormatText("Could not find sync stream #%d.%d", map.sync_file_index, map.sync_stream_index));
    }
}

// The output stream table, each stream with the input stream it is made from and
// the one it keeps in step with.
void TCustomFFmpeg::ChooseSources(AVFormatContext** outputs, int output_count, AVFormatContext** inputs,
                                  int input_count, const TStreamMap* maps, int map_count, int total_out) {
    run->ost_table.clear();
    run->ost_table.reserve(static_cast<size_t>(total_out));
    int n = 0;
    for (int i = 0; i < output_count; ++i) {
        AVFormatContext* os = outputs[i];
        for (int j = 0; j < static_cast<int>(os->nb_streams); ++j, ++n) {
            auto ost = std::make_unique<TOutputStreamState>();
            ost->file_index = i;
            ost->index = j;
            ost->stream = os->streams[j];
            if (j < static_cast<int>(output_files[i].streams.size())) {
                ost->enc = output_files[i].streams[j].encoder.get();
                ost->stream_copy = output_files[i].streams[j].stream_copy;
            }
            const AVMediaType type = ost->enc ? ost->enc->codec_type : ost->stream->codecpar->codec_type;
            if (map_count > 0) {
                const TStreamMap& map = maps[n];
                ost->source_index = run->file_table[map.file_index].ist_index + map.stream_index;
                if (run->ist_table[ost->source_index]->stream->codecpar->codec_type != type) {
                    avformat.av_dump_format(os, i, output_files[i].ShownName(), 1);
                    throw FFmpegException(FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                                     map.file_index, map.stream_index, i, j));
                }
            } else {
                bool found = false;
                if (program_id != 0) {
                    const int k = FindProgramStream(inputs, input_count, program_id, type);
                    if (k != -1) {
                        ost->source_index = k;
                        found = true;
                    }
                } else {
                    for (int k = 0; k < static_cast<int>(run->ist_table.size()); ++k) {
                        const TInputStreamState& ist = *run->ist_table[k];
                        if (ist.discard && ist.stream->codecpar->codec_type == type) {
                            ost->source_index = k;
                            found = true;
                            break;
                        }
                    }
                }
                if (!found && program_id == 0) {
                    for (int k = 0; k < static_cast<int>(run->ist_table.size()); ++k) {
                        if (run->ist_table[k]->stream->codecpar->codec_type == type) {
                            ost->source_index = k;
                            found = true;
                        }
                    }
                }
                if (!found) {
                    avformat.av_dump_format(os, i, output_files[i].ShownName(), 1);
                    throw FFmpegException(
                        FormatText("Could not find input stream matching output stream #%d.%d", i, j));
                }
            }
            TInputStreamState& ist = *run->ist_table[ost->source_index];
            ist.discard = 0;
            if (map_count > 0) {
                const TStreamMap& map = maps[n];
                const int sync = run->file_table[map.sync_file_index].ist_index + map.sync_stream_index;
                ost->sync_input = run->ist_table[sync].get();
            } else {
                ost->sync_input = &ist;
            }
            run->ost_table.push_back(std::move(ost));
        }
    }
}

// The first picture and the first sound of each output are the ones a player
// starts with; the further sounds are there to be chosen. Subtitles keep the
// source's flags: a default subtitle is shown without being asked for.
void TCustomFFmpeg::MarkDefaultTracks() {
    std::set<std::pair<int, AVMediaType>> marked;
    for (const auto& ost : run->ost_table) {
        const AVMediaType type = ost->enc ? ost->enc->codec_type : ost->stream->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
        if (marked.insert({ost->file_index, type}).second)
            ost->stream->disposition |= AV_DISPOSITION_DEFAULT;
        else
            ost->stream->disposition &= ~AV_DISPOSITION_DEFAULT;
    }
}

// Each output stream's parameters: copied from its source, or set up for its encoder.
void TCustomFFmpeg::SetCodecParameters(AVFormatContext** outputs) {
    for (int n = 0; n < static_cast<int>(run->ost_table.size()); ++n) {
        TOutputStreamState& ost = *run->ost_table[n];
        TInputStreamState& ist = *run->ist_table[ost.source_index];
        AVFormatContext* out = outputs[ost.file_index];
        const AVCodecParameters* in_par = ist.stream->codecpar;

        // A track keeps its language and title unless an option gave them.
        for (const char* key : {"language", "title"})
            if (const AVDictionaryEntry* tag = avutil.av_dict_get(ist.stream->metadata, key, nullptr, 0))
                if (!avutil.av_dict_get(ost.stream->metadata, key, nullptr, 0))
                    avutil.av_dict_set(&ost.stream->metadata, key, tag->value, 0);
        ost.stream->disposition = ist.stream->disposition;

        if (ost.stream_copy) {
            AVCodecParameters* par = ost.stream->codecpar;
            const uint32_t wanted_tag = par->codec_tag;
            if (avcodec.avcodec_parameters_copy(par, in_par) < 0) throw FFmpegException("av_mallocz fail");
            par->codec_tag = wanted_tag;
            if (par->codec_tag == 0 && KeepInputCodecTag(out->oformat, in_par)) par->codec_tag = in_par->codec_tag;
            ost.stream->time_base = ist.stream->time_base;
            switch (in_par->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                if (OnCustomHook)
                    throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
                if (hooks_in_use)
                    throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
                if (preview_flags != 0)
                    throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
                ost.stream->time_base = CopiedVideoTimeBase(ist.stream);
                break;
            case AVMEDIA_TYPE_AUDIO:
                if (audio_volume != 256)
                    throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
                if ((par->block_align == 1 && par->codec_id == AV_CODEC_ID_MP3) || par->codec_id == AV_CODEC_ID_AC3)
                    par->block_align = 0;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                break;
            default:
                throw FFmpegException("invalid codec_type of output stream");
            }
        } else {
            if (!ost.enc) throw FFmpegException("invalid codec_type of output stream");
            switch (ost.enc->codec_type) {
            case AVMEDIA_TYPE_AUDIO:
                if (!ist.dec) throw FFmpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                                               in_par->codec_id, ist.file_index, ist.index));
                CheckInputRate(ist, ist.dec->sample_rate);
                PreferS16(ost, ist, n);
                ost.convert_pair = -6;
                ost.resample_needed =
                    (ost.enc->sample_rate != in_par->sample_rate || audio_sync_method >= 2) ? 1 : 0;
                ist.decoding_needed = 1;
                ost.encoding_needed = 1;
                break;
            case AVMEDIA_TYPE_VIDEO:
                SetUpVideoEncoder(ost, ist);
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                ist.decoding_needed = 1;
                ost.encoding_needed = 1;
                break;
            default:
                throw FFmpegException("invalid codec_type of output stream");
            }
            OpenPassLogFile(ost, n);
        }
    }
}

// The outputs and the stream mapping, described in the log.
void TCustomFFmpeg::LogStreamMapping(AVFormatContext** outputs, int output_count) {
    for (int i = 0; i < output_count; ++i) avformat.av_dump_format(outputs[i], i, output_files[i].ShownName(), 1);

    if (verbosity >= 0 && OnLog) {
        OnLog(this, 1, "Stream mapping:");
        for (const auto& ost : run->ost_table) {
            const TInputStreamState& ist = *run->ist_table[ost->source_index];
            OnLog(this, 1,
                  FormatText("  Stream #%d.%d -> #%d.%d", ist.file_index, ist.index, ost->file_index, ost->index));
            if (ost->sync_input != &ist)
                OnLog(this, 1, FormatText(" [sync #%d.%d]", ost->sync_input->file_index, ost->sync_input->index));
        }
    }
}

void TCustomFFmpeg::OpenEncoders() {
    for (int n = 0; n < static_cast<int>(run->ost_table.size()); ++n) {
        TOutputStreamState& ost = *run->ost_table[n];
        if (!ost.encoding_needed) continue;
        const AVCodec* codec = (n < static_cast<int>(output_encoders.size()) && output_encoders[n])
                                   ? output_encoders[n]
                                   : avcodec.avcodec_find_encoder(ost.enc->codec_id);
        if (!codec)
            throw FFmpegException(
                FormatText("Unsupported codec for output stream #%d.%d", ost.file_index, ost.index));
        if (ost.enc->codec_type == AVMEDIA_TYPE_SUBTITLE)
            PrepareSubtitleEncoder(ost, *run->ist_table[ost.source_index], ost.source_index);
        {
            // The library's own threads (x264's, frame and slice threads) log
            // with the context: it names the task their lines belong to.
            ost.enc->opaque = this;
            std::lock_guard<std::mutex> lock(CodecLock);
            TDictionaryPtr own = generic_options.PrivateOptions();
            AVDictionary* raw = own.release();
            const int opened = avcodec.avcodec_open2(ost.enc, codec, &raw);
            own.reset(raw);
            if (opened < 0)
                throw FFmpegException(FormatText("Error while opening codec for output stream #%d.%d - maybe "
                                                 "incorrect parameters such as bit_rate, rate, width or height",
                                                 ost.file_index, ost.index));
            AddOpenEncoder(ost);
        }
        run->extra_size += ost.enc->extradata_size;
        if (avcodec.avcodec_parameters_from_context(ost.stream->codecpar, ost.enc) < 0)
            throw FFmpegException("av_mallocz fail");
        ost.stream->time_base = ost.enc->time_base;
        if (ost.enc->codec_type == AVMEDIA_TYPE_AUDIO) PrepareAudioEncoder(ost);
        // Containers that store a picture rate (Matroska's default duration) take it from here.
        if (ost.enc->codec_type == AVMEDIA_TYPE_VIDEO) ost.stream->avg_frame_rate = ost.enc->framerate;
    }
    for (auto& ost : run->ost_table) MakeBitstreamFilters(*ost);
}

// The decoders, and every input stream's clock at its start.
void TCustomFFmpeg::StartDecoders() {
    for (int k = 0; k < static_cast<int>(run->ist_table.size()); ++k)
        if (run->ist_table[k]->decoding_needed) OpenDecoder(*run->ist_table[k], k);
    for (auto& ist : run->ist_table) {
        ist->pts = 0;
        ist->next_pts = AV_NOPTS_VALUE;
        ist->at_start = 1;
    }
}

// Tags copied from input files to output files ("map_meta_data").
void TCustomFFmpeg::CopyMetadataMaps(AVFormatContext** outputs, int output_count, AVFormatContext** inputs,
                                      int input_count) {
    for (const TMetadataMap& mm : metadata_map) {
        if (mm.out_file < 0 || mm.out_file >= output_count)
            throw FFmpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)", mm.out_file,
                                             mm.out_file, mm.in_file));
        if (mm.in_file < 0 || mm.in_file >= input_count)
            throw FFmpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)", mm.in_file,
                                             mm.out_file, mm.in_file));
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = avutil.av_dict_get(inputs[mm.in_file]->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
            avutil.av_dict_set(&outputs[mm.out_file]->metadata, tag->key, tag->value, 0);
    }
}

// Writes every output's header; true when all of them are RTP (their session
// description is then logged).
bool TCustomFFmpeg::WriteHeaders(AVFormatContext** outputs, int output_count) {
    bool want_sdp = true;
    for (int i = 0; i < output_count; ++i) {
        TDictionaryPtr own = generic_options.PrivateOptions();
        AVDictionary* raw = own.release();
        const int written = avformat.avformat_write_header(outputs[i], &raw);
        own.reset(raw);
        if (written < 0)
            throw FFmpegException(
                FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", i));
        if (std::strcmp(outputs[i]->oformat->name, "rtp") != 0) want_sdp = false;
    }
    return want_sdp;
}

void TCustomFFmpeg::StartAudioEncoderThread(AVFormatContext** outputs) {
    // The encoder of the first encoded audio stream runs on a thread of its
    // own, beside this one that reads, decodes and encodes the pictures.
    if (encode_in_thread) {
        for (int n = 0; n < static_cast<int>(run->ost_table.size()); ++n) {
            TOutputStreamState& ost = *run->ost_table[n];
            if (!ost.encoding_needed || ost.enc->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            if (ost.enc->frame_size > 1 && !(ost.enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
                StartEncoderThread(outputs[ost.file_index], ost);
            break;
        }
    }
}

void TCustomFFmpeg::LogSessionDescription(AVFormatContext** outputs, int output_count) {
    if (!OnLog) return;
    char sdp[2048] = {};
    avformat.av_sdp_create(outputs, output_count, sdp, sizeof sdp);
    std::string text(sdp);
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    OnLog(this, 1, "SDP: " + text);
}

void TCustomFFmpeg::SetUpTranscode(AVFormatContext** outputs, int output_count, AVFormatContext** inputs,
                                   int input_count, const TStreamMap* maps, int map_count) {
    MapInputStreams(inputs, input_count);
    const int total_out = CountOutputStreams(outputs, output_count);
    CheckStreamMaps(maps, map_count, total_out, input_count);
    ChooseSources(outputs, output_count, inputs, input_count, maps, map_count, total_out);
    SetCodecParameters(outputs);
    MarkDefaultTracks();
    run->encoded_packet.reset(avcodec.av_packet_alloc());
    run->copy_packet.reset(avcodec.av_packet_alloc());
    run->decoded_frame.reset(avutil.av_frame_alloc());
    if (!run->encoded_packet || !run->copy_packet || !run->decoded_frame) throw FFmpegException("av_malloc fail");
    LogStreamMapping(outputs, output_count);
    OpenEncoders();
    StartDecoders();
    CopyMetadataMaps(outputs, output_count, inputs, input_count);
    // An output's zero is the input time start_time past the offsets (the input's own start, a seek).
    if (input_count > 0)
        CopyChapters(outputs, output_count, inputs[0], start_time - input_ts_offsets[0], recording_time);
    const bool want_sdp = WriteHeaders(outputs, output_count);
    if (output_count > 0 && outputs[0]->pb) run->first_output_pos = avformat.avio_seek(outputs[0]->pb, 0, SEEK_CUR);
    StartAudioEncoderThread(outputs);
    if (want_sdp) LogSessionDescription(outputs, output_count);
    run->declared_input_us = DeclaredInputLength(inputs, input_count);

    // The clocks of the progress records start now.
    run->timer_start = avutil.av_gettime();
    run->last_report_time = run->timer_start;
}

// A header may claim any rate; one far outside what audio uses (1 Hz, say)
// would make the resampler spin a few bytes into hours of output.
void TCustomFFmpeg::CheckInputRate(const TInputStreamState& ist, int rate) const {
    if (rate >= kMinInputRate && rate <= kMaxInputRate) return;
    throw FFmpegException(FormatText("Input stream #%d.%d: a sample rate of %d Hz cannot be converted",
                                     ist.file_index, ist.index, rate));
}

// The longest length the inputs declare, with their time offsets, in
// microseconds; 0 when an input declares none or only an estimate from its
// bit rate.
int64_t TCustomFFmpeg::DeclaredInputLength(AVFormatContext** inputs, int input_count) const {
    int64_t declared = 0;
    for (int k = 0; k < input_count; ++k) {
        const AVFormatContext* ic = inputs[k];
        if (ic->duration == AV_NOPTS_VALUE || ic->duration <= 0 || ic->duration > INT64_MAX / 8 ||
            ic->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return 0;
        const int64_t offset = k < MAX_FILES ? std::clamp<int64_t>(input_ts_offsets[k], 0, INT64_MAX / 8) : 0;
        declared = std::max(declared, ic->duration + offset);
    }
    return declared;
}

// Decoded audio reaches the encoders as 16-bit samples. An encoder format that
// was only inherited from the decoder's own format is therefore taken as 16-bit
// too, when the encoder takes it: no needless conversion to float and back.
void TCustomFFmpeg::PreferS16(TOutputStreamState& ost, const TInputStreamState& ist, int position) {
    AVCodecContext* enc = ost.enc;
    if (enc->sample_fmt != ist.dec->sample_fmt || enc->sample_fmt == AV_SAMPLE_FMT_S16 ||
        enc->sample_fmt == AV_SAMPLE_FMT_S16P)
        return;
    const AVCodec* codec = avcodec.avcodec_find_encoder(enc->codec_id);
    if (position < static_cast<int>(output_encoders.size()) && output_encoders[position])
        codec = output_encoders[position];
    if (!codec || !codec->sample_fmts) return;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_S16 || *f == AV_SAMPLE_FMT_S16P) {
            enc->sample_fmt = *f;
            return;
        }
    }
}

void TCustomFFmpeg::OpenPassLogFile(TOutputStreamState& ost, int position) {
    const int flags = ost.enc->flags;
    if (!(flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    std::string name = (pass_log_prefix.empty() ? std::string("ffmpeg2pass") : pass_log_prefix) + "-" +
                       std::to_string(position) + ".log";
    if (name.size() >= 1024) name.resize(1023);
    if (flags & AV_CODEC_FLAG_PASS1) {
        ost.pass_log_file.reset(myutil.fopen(name.c_str(), "w"));
        if (!ost.pass_log_file)
            throw FFmpegException(FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    TFilePtr f(myutil.fopen(name.c_str(), "r"));
    if (!f) throw FFmpegException(FormatText("Cannot read log file %s for pass-2 encoding", name.c_str()));
    myutil.fseek(f.get(), 0, SEEK_END);
    const long size = myutil.ftell(f.get());
    myutil.fseek(f.get(), 0, SEEK_SET);
    if (size < 0) throw FFmpegException(FormatText("Cannot read log file %s for pass-2 encoding", name.c_str()));
    auto* buf = static_cast<char*>(avutil.av_malloc(static_cast<size_t>(size) + 1));
    if (!buf) throw FFmpegException("Could not allocate log buffer");
    const size_t got = myutil.fread(buf, 1, static_cast<size_t>(size), f.get());
    buf[got] = '\0';
    // The encoder context keeps it; the encoder's closing frees it.
    avutil.av_freep(&ost.enc->stats_in);
    ost.enc->stats_in = buf;
}

// Opens the decoder of one input stream, forced by name or found by its codec
// id; one opened already (for a subtitle encoder) stays as it is.
void TCustomFFmpeg::OpenDecoder(TInputStreamState& ist, int ist_index) {
    if (std::any_of(run->open_decoders.begin(), run->open_decoders.end(),
                    [&](const TOpenCodec& node) { return node.record == &ist; }))
        return;
    const AVCodec* codec = (ist_index < input_decoder_count && input_decoders[ist_index])
                               ? input_decoders[ist_index]
                               : avcodec.avcodec_find_decoder(ist.dec->codec_id);
    if (!codec)
        throw FFmpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d", ist.dec->codec_id,
                                         ist.file_index, ist.index));
    ist.dec->pkt_timebase = ist.stream->time_base;
    // sameq codes each picture with its input picture's quantiser, which
    // decoders give only with the coding parameters they export.
    if (same_quality && ist.dec->codec_type == AVMEDIA_TYPE_VIDEO)
        ist.dec->export_side_data |= AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
    // The decoder is asked for the channel count of the encoder it feeds;
    // decoders that can mix down (AC-3) do it with the stream's own levels.
    TDictionaryPtr options;
    for (const auto& ost : run->ost_table) {
        if (ost->source_index != ist_index || !ost->encoding_needed || ost->enc->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const int wanted = ost->enc->ch_layout.nb_channels;
        if ((wanted == 1 || wanted == 2) && ist.dec->ch_layout.nb_channels > wanted) {
            AVDictionary* raw = nullptr;
            avutil.av_dict_set(&raw, "downmix", wanted == 1 ? "mono" : "stereo", 0);
            options.reset(raw);
        }
        break;
    }
    ist.dec->opaque = this;  // copied into the contexts of its frame threads
    std::lock_guard<std::mutex> lock(CodecLock);
    AVDictionary* raw = options.release();
    const int r = avcodec.avcodec_open2(ist.dec, codec, &raw);
    options.reset(raw);  // what the decoder did not take
    if (r < 0)
        throw FFmpegException(
            FormatText("Error while opening codec for input stream #%d.%d", ist.file_index, ist.index));
    AddOpenDecoder(ist);
}

void TCustomFFmpeg::MakeBitstreamFilters(TOutputStreamState& ost) {
    if (ost.file_index >= MAX_FILES || ost.index >= MAX_STREAMS) return;
    for (const std::string& name : stream_bsf_table[ost.file_index][ost.index]) {
        const AVBitStreamFilter* filter = avcodec.av_bsf_get_by_name(name.c_str());
        if (!filter) throw FFmpegException(FormatText("Unknown bitstream filter %s", name.c_str()));
        AVBSFContext* raw = nullptr;
        if (avcodec.av_bsf_alloc(filter, &raw) < 0) throw FFmpegException("av_mallocz fail");
        TBsfPtr bsf(raw);
        const AVCodecParameters* par = ost.bsfs.empty() ? ost.stream->codecpar : ost.bsfs.back()->par_out;
        const AVRational tb = ost.bsfs.empty() ? ost.stream->time_base : ost.bsfs.back()->time_base_out;
        avcodec.avcodec_parameters_copy(bsf->par_in, par);
        bsf->time_base_in = tb;
        const int r = avcodec.av_bsf_init(bsf.get());
        if (r < 0) {
            // A filter that refuses this stream (another codec, say) fails like a
            // filter that fails on a packet: logged and left out, or the end of the run.
            const char* codec = ost.enc && ost.enc->codec ? ost.enc->codec->name : "copy";
            const std::string text = FFmpegErrorText(
                FormatText("%s failed for stream %d, codec %s", name.c_str(), ost.index, codec), r);
            if (exit_on_error) throw FFmpegException(text);
            Log(0, text);
            continue;
        }
        ost.bsfs.push_back(std::move(bsf));
        ost.bsf_kept.emplace_back(avcodec.av_packet_alloc());
        if (!ost.bsf_kept.back()) throw FFmpegException("av_mallocz fail");
    }
    // The muxer must see the parameters the last filter hands out.
    if (!ost.bsfs.empty()) avcodec.avcodec_parameters_copy(ost.stream->codecpar, ost.bsfs.back()->par_out);
}

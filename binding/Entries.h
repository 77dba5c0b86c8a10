#pragma once
// The entry-point tables: one per media library, every function the engine calls.
// The libraries are loaded at run time (see FFmpegLoader.h); their headers only
// give the types. Adding an entry point is one line in the list of its library.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdarg>

#define ARDX_AVCODEC_ENTRIES(X)                                                          \
    X(av_bsf_alloc) X(av_bsf_free) X(av_bsf_get_by_name) X(av_bsf_init)                   \
    X(av_bsf_iterate) X(av_bsf_receive_packet) X(av_bsf_send_packet)                      \
    X(av_codec_is_decoder) X(av_codec_is_encoder) X(av_codec_iterate)                     \
    X(av_get_bits_per_sample) X(av_get_exact_bits_per_sample) X(av_new_packet)            \
    X(av_packet_alloc) X(av_packet_clone) X(av_packet_free) X(av_packet_ref)              \
    X(av_packet_make_writable)                                                            \
    X(av_packet_get_side_data) X(av_packet_rescale_ts) X(av_packet_unref) X(av_parser_close) X(av_parser_init)       \
    X(av_parser_parse2) X(avcodec_alloc_context3) X(avcodec_close)                        \
    X(avcodec_decode_subtitle2) X(avcodec_descriptor_get) X(avcodec_descriptor_get_by_name) \
    X(avcodec_encode_subtitle) X(avcodec_find_decoder) X(avcodec_find_decoder_by_name)    \
    X(avcodec_find_encoder) X(avcodec_find_encoder_by_name) X(avcodec_flush_buffers)      \
    X(avcodec_free_context) X(avcodec_get_class) X(avcodec_get_name) X(avcodec_open2)     \
    X(avcodec_parameters_alloc) X(avcodec_parameters_copy) X(avcodec_parameters_free)     \
    X(avcodec_parameters_from_context) X(avcodec_parameters_to_context)                   \
    X(avcodec_receive_frame) X(avcodec_receive_packet) X(avcodec_send_frame)              \
    X(avcodec_send_packet) X(avcodec_string) X(avsubtitle_free)

#define ARDX_AVDEVICE_ENTRIES(X) X(avdevice_register_all)

#define ARDX_AVFILTER_ENTRIES(X)                                                          \
    X(av_buffersink_get_frame) X(av_buffersink_get_frame_flags) X(av_buffersink_get_h) X(av_buffersink_get_w)                           \
    X(av_buffersink_get_sample_aspect_ratio)                                              \
    X(av_buffersrc_add_frame_flags) X(avfilter_get_by_name) X(avfilter_get_class)         \
    X(avfilter_graph_alloc) X(avfilter_graph_alloc_filter) X(avfilter_graph_config) X(avfilter_graph_create_filter)      \
    X(avfilter_graph_free) X(avfilter_graph_parse_ptr) X(avfilter_inout_alloc)            \
    X(avfilter_init_str) X(avfilter_inout_free) X(avfilter_link)

#define ARDX_AVFORMAT_ENTRIES(X)                                                          \
    X(av_codec_get_id) X(av_codec_get_tag) X(av_demuxer_iterate) X(av_dump_format)        \
    X(av_filename_number_test) X(av_find_input_format) X(av_guess_codec)                  \
    X(av_guess_format) X(av_interleaved_write_frame) X(av_muxer_iterate) X(av_read_frame) \
    X(av_pkt_dump_log2)                                                                   \
    X(av_read_pause) X(av_read_play) X(av_sdp_create) X(av_seek_frame) X(av_write_frame)  \
    X(av_write_trailer) X(avformat_alloc_context) X(avformat_alloc_output_context2)       \
    X(avformat_close_input) X(avformat_find_stream_info) X(avformat_free_context)         \
    X(avformat_get_class) X(avformat_new_stream) X(avformat_open_input)                   \
    X(avformat_query_codec) X(avformat_seek_file) X(avformat_write_header)                \
    X(avio_closep) X(avio_feof) X(avio_flush) X(avio_open) X(avio_open2) X(avio_size) X(avio_seek)

#define ARDX_AVUTIL_ENTRIES(X)                                                            \
    X(av_audio_fifo_alloc) X(av_audio_fifo_free) X(av_audio_fifo_read)                   \
    X(av_audio_fifo_size) X(av_audio_fifo_write) X(av_channel_layout_default)             \
    X(av_channel_layout_from_mask)                                                        \
    X(av_channel_layout_copy)                                                             \
    X(av_channel_layout_uninit) X(av_compare_ts) X(av_d2q) X(av_dict_copy)                \
    X(av_dict_count) X(av_dict_free) X(av_dict_get) X(av_dict_set) X(av_dict_set_int)     \
    X(av_dynarray_add_nofree)                                                             \
    X(av_find_nearest_q_idx) X(av_frame_alloc) X(av_frame_apply_cropping) X(av_frame_clone) X(av_frame_copy_props) X(av_frame_free)         \
    X(av_frame_get_side_data)                                                             \
    X(av_frame_get_buffer) X(av_frame_is_writable) X(av_frame_make_writable) X(av_frame_ref) X(av_frame_unref)    \
    X(av_free) X(av_freep) X(av_gcd) X(av_get_bytes_per_sample)                           \
    X(av_get_channel_layout_nb_channels) X(av_get_default_channel_layout)                 \
    X(av_get_media_type_string) X(av_get_packed_sample_fmt) X(av_get_picture_type_char)   \
    X(av_get_pix_fmt) X(av_get_pix_fmt_name) X(av_get_sample_fmt)                         \
    X(av_get_pix_fmt_string) X(av_get_sample_fmt_string)                                 \
    X(av_get_sample_fmt_name) X(av_gettime) X(av_gettime_relative) X(av_image_alloc)      \
    X(av_image_copy) X(av_image_fill_arrays) X(av_image_get_buffer_size) X(av_log)        \
    X(av_log_default_callback) X(av_log_format_line2) X(av_log_get_level)                 \
    X(av_log_set_callback) X(av_log_set_level) X(av_malloc) X(av_mallocz)                 \
    X(av_opt_find) X(av_opt_get) X(av_opt_get_int) X(av_opt_next) X(av_opt_set)          \
    X(av_opt_set_bin) X(av_opt_set_defaults) X(av_opt_set_int) X(av_parse_color) X(av_parse_time)           \
    X(av_parse_video_rate) X(av_parse_video_size) X(av_pix_fmt_desc_get) X(av_realloc)    \
    X(av_reduce) X(av_rescale) X(av_rescale_q) X(av_rescale_rnd) X(av_sample_fmt_is_planar) \
    X(av_samples_alloc) X(av_samples_get_buffer_size) X(av_strdup) X(av_strerror)         \
    X(av_strlcpy) X(av_strstart)

#define ARDX_SWSCALE_ENTRIES(X)                                                           \
    X(sws_freeContext) X(sws_get_class) X(sws_getCachedContext) X(sws_getContext) X(sws_scale)

#define ARDX_SWRESAMPLE_ENTRIES(X)                                                        \
    X(swr_alloc) X(swr_alloc_set_opts) X(swr_convert) X(swr_free) X(swr_get_class)        \
    X(swr_alloc_set_opts2) X(swr_get_out_samples) X(swr_set_matrix)                     \
    X(swr_get_delay) X(swr_init) X(swr_is_initialized) X(swr_set_compensation)

// The C run-time library: the file and text routines of the statistics files,
// report lines and option parsing. The re-entrant strtok is used because
// several tasks parse options at once.
#define ARDX_MYUTIL_ENTRIES(X)                                                            \
    X(fclose) X(fopen) X(fprintf) X(fread) X(fseek) X(ftell) X(fwrite) X(snprintf)        \
    X(strtod) X(strtok_r) X(strtol) X(vsnprintf)

#define ARDX_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;

struct TAVCodecEntries { ARDX_AVCODEC_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TAVDeviceEntries { ARDX_AVDEVICE_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TAVFilterEntries { ARDX_AVFILTER_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TAVFormatEntries { ARDX_AVFORMAT_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TAVUtilEntries { ARDX_AVUTIL_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TSwScaleEntries { ARDX_SWSCALE_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TSwResampleEntries { ARDX_SWRESAMPLE_ENTRIES(ARDX_DECLARE_ENTRY) };
struct TMyUtilEntries { ARDX_MYUTIL_ENTRIES(ARDX_DECLARE_ENTRY) };

// Process-wide tables; read without locking once loading is done.
extern TAVCodecEntries avcodec;
extern TAVDeviceEntries avdevice;
extern TAVFilterEntries avfilter;
extern TAVFormatEntries avformat;
extern TAVUtilEntries avutil;
extern TSwScaleEntries swscale;
extern TSwResampleEntries swresample;
extern TMyUtilEntries myutil;

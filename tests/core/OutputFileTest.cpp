// Output files: the converter's MP3, the stream decision, stream settings,
// the failures with their texts, and the reset points of the option state.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/OutputPlace.h"
#include "tests/core/InputFileFixture.h"

using namespace filetest;

namespace {

class OutputFileTest : public FileTest {
protected:
    // The encoder context opens with these settings (the stream is coherent).
    void ExpectEncoderOpens(AVCodecContext* enc, const AVCodec* codec) {
        ASSERT_NE(codec, nullptr);
        std::lock_guard lock(CodecLock);
        const int r = avcodec.avcodec_open2(enc, codec, nullptr);
        EXPECT_GE(r, 0) << FFmpegErrorText("encoder", r);
    }

    // The converter's whole road: input, settings, MP3 output.
    void ConvertToMp3(const std::string& src, const std::string& dst, int channels, int rate, int bitrate) {
        ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
        ApplyConverterSettings(channels, rate, bitrate);
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    }

    void ExpectConverterMp3(const std::string& dst, int channels, int rate, int bitrate, int source_fmt) {
        ASSERT_EQ(core.output_file_count, 1);
        AVFormatContext* oc = Output(0);
        ASSERT_NE(oc, nullptr);
        EXPECT_STREQ(oc->oformat->name, "mp3");
        ASSERT_EQ(oc->nb_streams, 1u) << "only the audio stream";
        ASSERT_EQ(core.output_files[0].streams.size(), 1u);
        EXPECT_FALSE(core.output_files[0].streams[0].stream_copy);
        AVCodecContext* enc = Encoder(0, 0);
        EXPECT_EQ(enc->codec_type, AVMEDIA_TYPE_AUDIO);
        EXPECT_EQ(enc->codec_id, AV_CODEC_ID_MP3);
        ASSERT_EQ(core.output_encoder_count, 1);
        ASSERT_NE(core.output_encoders[0], nullptr);
        EXPECT_STREQ(core.output_encoders[0]->name, "libmp3lame");
        EXPECT_EQ(enc->ch_layout.nb_channels, channels);
        EXPECT_EQ(enc->sample_rate, rate);
        EXPECT_EQ(enc->time_base.num, 1);
        EXPECT_EQ(enc->time_base.den, rate);
        EXPECT_EQ(enc->bit_rate, bitrate);
        // The source's sample format when the encoder takes it, else its first one.
        const AVSampleFormat* formats = core.output_encoders[0]->sample_fmts;
        bool listed = false;
        for (const AVSampleFormat* f = formats; *f != AV_SAMPLE_FMT_NONE; ++f) listed |= *f == source_fmt;
        EXPECT_EQ(enc->sample_fmt, listed ? source_fmt : formats[0]);
        EXPECT_EQ(core.output_files[0].preload, 500000);
        EXPECT_EQ(oc->max_delay, 699999);
        EXPECT_EQ(avutil.av_dict_count(oc->metadata), 0);
        EXPECT_EQ(avutil.av_dict_count(oc->streams[0]->metadata), 0);
        EXPECT_NE(oc->pb, nullptr);
        const std::string written = core.output_files[0].temp_path;
        EXPECT_FALSE(FileExists(dst)) << "the name is taken only by a finished run";
        EXPECT_TRUE(FileExists(written));
        EXPECT_TRUE(core.audio_codec_name.empty());
        ExpectEncoderOpens(enc, core.output_encoders[0]);
        // The muxer takes the stream as it was set up.
        ASSERT_GE(avcodec.avcodec_parameters_from_context(oc->streams[0]->codecpar, enc), 0);
        oc->streams[0]->time_base = enc->time_base;
        const int header = avformat.avformat_write_header(oc, nullptr);
        ASSERT_GE(header, 0) << FFmpegErrorText("header", header);
        EXPECT_GE(avformat.av_write_trailer(oc), 0);
        avformat.avio_closep(&oc->pb);
        const std::string bytes = ReadFileBytes(written);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.find("TSSE"), std::string::npos) << "no encoder tag";
        EXPECT_EQ(bytes.find("TIT2"), std::string::npos);
    }
};

}  // namespace

TEST_F(OutputFileTest, ConverterMp3FromRealAudio144) {
    const std::string src = MakeRealAudio144(dir, "voice.ra", 1.0);
    const std::string dst = dir.File("voice.mp3");
    ConvertToMp3(src, dst, 2, 44100, 128000);
    ExpectConverterMp3(dst, 2, 44100, 128000, core.audio_sample_fmt);
}

TEST_F(OutputFileTest, ConverterMp3FromRealAc3MonoDownmix) {
    const std::string src = MakeRealAc3(dir, "music.rm", 1.0, 48000, 2);
    const std::string dst = dir.File("music.mp3");
    ConvertToMp3(src, dst, 1, 22050, 64000);
    ExpectConverterMp3(dst, 1, 22050, 64000, core.audio_sample_fmt);
    EXPECT_EQ(Encoder(0, 0)->ch_layout.u.mask, AV_CH_LAYOUT_MONO);
}

TEST_F(OutputFileTest, ConverterMp3FromVideoHasOnlyTheAudioStream) {
    for (const char* video : {"rv10", "rv20"}) {
        SCOPED_TRACE(video);
        core.FreeFiles();
        core.ResetOptionState();
        const std::string src = MakeRealVideo(dir, std::string("clip-") + video + ".rm", 1.0, video, RealAudio::Ac3);
        const std::string dst = dir.File(std::string("clip-") + video + ".mp3");
        ConvertToMp3(src, dst, 2, 44100, 192000);
        ExpectConverterMp3(dst, 2, 44100, 192000, core.audio_sample_fmt);
    }
}

TEST_F(OutputFileTest, SourceWithoutAudioGivesAFileWithoutStreams) {
    const std::string src = MakeRealVideo(dir, "silent.rm", 1.0, "rv10", RealAudio::None);
    ConvertToMp3(src, dir.File("silent.mp3"), 2, 44100, 128000);
    EXPECT_EQ(Output(0)->nb_streams, 0u);
}

TEST_F(OutputFileTest, AudioOnlySourceGetsNoVideoStreamInAVideoFormat) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    ASSERT_TRUE(core.OpenOutputFile(dir.File("a.avi"))) << core.last_error;
    ASSERT_EQ(Output(0)->nb_streams, 1u);
    EXPECT_EQ(Encoder(0, 0)->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(OutputFileTest, VideoStreamTakesTheInputPictureAndPadding) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0, "rv10", RealAudio::Ac3);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("padtop", "8");
    core.SetOption("padbottom", "8");
    core.SetOption("vfilters", "hflip");  // does not resize: may go with padding
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v.avi"))) << core.last_error;
    EXPECT_TRUE(core.filters_in_use);
    ASSERT_EQ(Output(0)->nb_streams, 2u);
    AVCodecContext* enc = Encoder(0, 0);
    EXPECT_EQ(enc->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(enc->codec_id, avformat.av_guess_codec(Output(0)->oformat, nullptr, nullptr, nullptr, AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(enc->width, 176);
    EXPECT_EQ(enc->height, 160);
    EXPECT_EQ(enc->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(enc->time_base.num, core.frame_rate.den);
    EXPECT_EQ(enc->time_base.den, core.frame_rate.num);
    EXPECT_EQ(core.output_encoder_count, 2);
    EXPECT_EQ(core.output_encoders[0], nullptr);
    EXPECT_EQ(core.output_encoders[1], nullptr);
    EXPECT_EQ(Encoder(0, 1)->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(OutputFileTest, NameWithoutAKnownExtension) {
    const std::string dst = dir.File("out.no_such_ext");
    core.SetOption("vcodec", "mpeg4");
    EXPECT_FALSE(core.OpenOutputFile(dst));
    EXPECT_EQ(core.last_error, "Unable to find a suitable output format for '" + dst + "'");
    EXPECT_EQ(core.output_file_count, 0);
    EXPECT_FALSE(FileExists(dst));
    EXPECT_EQ(core.video_codec_name, "mpeg4") << "only the forced formats are reset on failure";
    EXPECT_FALSE(core.OpenOutputFile(""));
    EXPECT_EQ(core.last_error, "Unable to find a suitable output format for ''");
    EXPECT_FALSE(core.OpenOutputFile(dir.File(".mp3x")));

    // A forced format makes any name fine.
    core.SetOutputFormat("mp3");
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    EXPECT_EQ(core.forced_output_format, nullptr);
}

TEST_F(OutputFileTest, CropWithFilters) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("croptop", "2");
    core.SetOption("vfilters", "hflip");
    core.SetOutputFormat("avi");
    EXPECT_FALSE(core.OpenOutputFile(dir.File("v.avi")));
    EXPECT_EQ(core.last_error, "Cannot enable crop options and filters at the same time.");
    EXPECT_EQ(core.output_file_count, 0);
    EXPECT_EQ(core.forced_output_format, nullptr);
}

TEST_F(OutputFileTest, PadWithResizingFilters) {
    const std::string pad_message =
        "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
        "transpose, etc.)";
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("padtop", "2");
    for (const char* filters : {"Scale=320:240", "hflip,CROP=100:100", "transpose", "rotate=1,hflip"}) {
        core.video_filters = filters;
        EXPECT_FALSE(core.OpenOutputFile(dir.File("v.avi"))) << filters;
        EXPECT_EQ(core.last_error, pad_message) << filters;
    }
    for (const char* filters : {"hflip", "scaler=1", "vflip,null", "xscale"}) {
        core.FreeFiles();
        core.generic_options.Create(core.scaler_flags);
        core.video_filters = filters;
        EXPECT_TRUE(core.OpenOutputFile(dir.File("ok.avi"))) << filters << ": " << core.last_error;
    }
}

TEST_F(OutputFileTest, UnwritableFolderLeavesNothingRegistered) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("metadata", "title=kept");
    const std::string folder = dir.File("folder.mp3");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const std::string& dst : {dir.File("no-such-folder/out.mp3"), src + "/out.mp3", folder}) {
        ApplyConverterSettings(2, 44100, 128000);
        EXPECT_FALSE(core.OpenOutputFile(dst));
        EXPECT_EQ(core.last_error.rfind("Could not open '" + dst + "'", 0), 0u) << core.last_error;
        EXPECT_EQ(core.output_file_count, 0);
        EXPECT_EQ(core.output_encoder_count, 0);
        EXPECT_EQ(Output(0), nullptr);
        EXPECT_EQ(core.output_encoders[0], nullptr);
    }
    // A later output still gets the tags.
    ASSERT_TRUE(core.OpenOutputFile(dir.File("out.mp3"))) << core.last_error;
    const AVDictionaryEntry* title = avutil.av_dict_get(Output(0)->metadata, "title", nullptr, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->value, "kept");
}

TEST_F(OutputFileTest, FirstOfTwoTitlesWinsAndTagsAreConsumed) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("metadata", "title=First");
    core.SetOption("metadata", "artist=Someone");
    core.SetOption("metadata", "title=Second");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("a.mp3"))) << core.last_error;
    const AVDictionaryEntry* title = avutil.av_dict_get(Output(0)->metadata, "title", nullptr, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title->value, "First");
    EXPECT_EQ(avutil.av_dict_count(Output(0)->metadata), 2);
    EXPECT_TRUE(core.metadata.empty());

    ASSERT_TRUE(core.OpenOutputFile(dir.File("b.mp3"))) << core.last_error;
    EXPECT_EQ(avutil.av_dict_count(Output(1)->metadata), 0);
}

TEST_F(OutputFileTest, NewAudioAddsStreamsToTheLastFile) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("newaudio", ""); }),
              "At least one output file must be specified");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.AddVideoStream(); }),
              "At least one output file must be specified");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.AddSubtitleStream(); }),
              "At least one output file must be specified");

    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    ASSERT_TRUE(core.OpenOutputFile(dir.File("first.mka"))) << core.last_error;
    ASSERT_TRUE(core.OpenOutputFile(dir.File("multi.mka"))) << core.last_error;
    core.SetOption("acodec", "libmp3lame");
    core.SetOption("alang", "eng");
    core.SetOption("newaudio", "");
    core.SetOption("acodec", "ac3");
    core.SetOption("alang", "ger");
    core.SetOption("newaudio", "");

    EXPECT_EQ(Output(0)->nb_streams, 1u);
    AVFormatContext* oc = Output(1);
    ASSERT_EQ(oc->nb_streams, 3u);
    ASSERT_EQ(core.output_files[1].streams.size(), 3u);
    EXPECT_EQ(Encoder(1, 1)->codec_id, AV_CODEC_ID_MP3);
    EXPECT_EQ(Encoder(1, 2)->codec_id, AV_CODEC_ID_AC3);
    EXPECT_STREQ(avutil.av_dict_get(oc->streams[1]->metadata, "language", nullptr, 0)->value, "eng");
    EXPECT_STREQ(avutil.av_dict_get(oc->streams[2]->metadata, "language", nullptr, 0)->value, "ger");
    EXPECT_EQ(avutil.av_dict_get(oc->streams[0]->metadata, "language", nullptr, 0), nullptr);
    ASSERT_EQ(core.output_encoder_count, 4);
    EXPECT_STREQ(core.output_encoders[2]->name, "libmp3lame");
    EXPECT_STREQ(core.output_encoders[3]->name, "ac3");
    EXPECT_TRUE(core.audio_language.empty());
    EXPECT_TRUE(core.audio_codec_name.empty());

    // A refused stream leaves the file as it was.
    core.SetOption("acodec", "no_such_encoder");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("newaudio", ""); }),
              "Unknown encoder 'no_such_encoder'");
    EXPECT_EQ(oc->nb_streams, 3u);
    EXPECT_EQ(core.output_encoder_count, 4);
}

TEST_F(OutputFileTest, RateControlOverrides) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("rc_override", "0,100,2/200,300,-50");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v.avi"))) << core.last_error;
    AVCodecContext* enc = Encoder(0, 0);
    ASSERT_EQ(enc->codec_type, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(enc->rc_override_count, 2);
    EXPECT_EQ(enc->rc_override[0].start_frame, 0);
    EXPECT_EQ(enc->rc_override[0].end_frame, 100);
    EXPECT_EQ(enc->rc_override[0].qscale, 2);
    EXPECT_FLOAT_EQ(enc->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(enc->rc_override[1].start_frame, 200);
    EXPECT_EQ(enc->rc_override[1].end_frame, 300);
    EXPECT_EQ(enc->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(enc->rc_override[1].quality_factor, 0.5f);

    for (const char* bad : {"0", "0,100", "x,1,2", "0,100,2/7"}) {
        core.SetOption("rc_override", bad);
        core.SetOption("vcodec", "mpeg4");
        EXPECT_FALSE(core.OpenOutputFile(dir.File("bad.avi"))) << bad;
        EXPECT_EQ(core.last_error, "new_video_stream fail: error parsing rc_override") << bad;
        EXPECT_EQ(core.output_file_count, 1);
        EXPECT_EQ(core.output_encoder_count, 2);
        EXPECT_TRUE(core.video_codec_name.empty());
        EXPECT_EQ(MessageOf<FFmpegException>([&] { core.AddVideoStream(); }), "error parsing rc_override");
        EXPECT_EQ(Output(0)->nb_streams, 2u);
    }
    // The last text with a third number left out is still complete.
    core.SetOption("rc_override", "5,6,");
    core.AddVideoStream();
    EXPECT_EQ(Encoder(0, 2)->rc_override_count, 1);
    EXPECT_EQ(Encoder(0, 2)->rc_override[0].qscale, 0);
}

TEST_F(OutputFileTest, FailedStreamUndoesTheWholeFile) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("vbsf", "null");
    core.SetOption("acodec", "rv10");
    const std::string dst = dir.File("v.avi");
    EXPECT_FALSE(core.OpenOutputFile(dst));
    EXPECT_EQ(core.last_error, "new_audio_stream fail: Invalid encoder type 'rv10'");
    EXPECT_EQ(core.output_file_count, 0);
    EXPECT_EQ(core.output_encoder_count, 0);
    EXPECT_EQ(core.output_encoders[0], nullptr);
    EXPECT_TRUE(core.stream_bsf_table[0][0].empty());
    EXPECT_FALSE(FileExists(dst));

    core.SetOption("vcodec", "libmp3lame");
    EXPECT_FALSE(core.OpenOutputFile(dst));
    EXPECT_EQ(core.last_error, "new_video_stream fail: Invalid encoder type 'libmp3lame'");
    // A named subtitle codec asks for a subtitle stream, which the input lacks: none is made.
    core.SetOption("scodec", "nope");
    core.SetOption("vcodec", "mpeg4");
    core.SetOption("acodec", "ac3");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v.mkv"))) << core.last_error;
    EXPECT_EQ(Output(0)->nb_streams, 2u);
    // Without inputs nothing is dropped, and the unknown name fails the stream.
    core.FreeFiles();
    core.ResetOptionState();
    core.SetOption("scodec", "nope");
    EXPECT_FALSE(core.OpenOutputFile(dir.File("s.mkv")));
    EXPECT_EQ(core.last_error, "new_subtitle_stream fail: Unknown encoder 'nope'");
    EXPECT_EQ(core.output_file_count, 0);
    EXPECT_EQ(core.output_encoder_count, 0);
}

TEST_F(OutputFileTest, BitstreamFiltersGoToTheirStream) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("vbsf", "null");
    core.SetOption("absf", "null");
    core.SetOption("absf", "noise");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("one.avi"))) << core.last_error;
    ASSERT_TRUE(core.OpenOutputFile(dir.File("two.avi"))) << core.last_error;
    core.SetOption("absf", "null");
    core.AddAudioStream();
    EXPECT_EQ(core.stream_bsf_table[0][0], std::vector<std::string>{"null"});
    EXPECT_EQ(core.stream_bsf_table[0][1], (std::vector<std::string>{"null", "noise"}));
    EXPECT_TRUE(core.stream_bsf_table[1][0].empty());
    EXPECT_TRUE(core.stream_bsf_table[1][1].empty());
    EXPECT_EQ(core.stream_bsf_table[1][2], std::vector<std::string>{"null"});
    EXPECT_TRUE(core.video_bsf_list.empty());
    EXPECT_TRUE(core.audio_bsf_list.empty());
}

TEST_F(OutputFileTest, ResetPointsAfterStreamsAndFiles) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    core.SetOption("vcodec", "mpeg4");
    core.SetOption("acodec", "copy");
    core.SetOption("alang", "fra");
    core.SetOption("croptop", "4");
    core.SetOption("metadata", "title=x");
    core.SetFormat("avi");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v.out"))) << core.last_error;
    EXPECT_TRUE(core.output_files[0].streams[1].stream_copy);
    EXPECT_FALSE(core.output_files[0].streams[0].stream_copy);
    // Per stream.
    EXPECT_TRUE(core.video_codec_name.empty());
    EXPECT_EQ(core.audio_stream_copy, 0);
    EXPECT_TRUE(core.audio_language.empty());
    EXPECT_FALSE(core.video_disabled);
    // Per file.
    EXPECT_EQ(core.forced_output_format, nullptr);
    EXPECT_EQ(core.forced_input_format, nullptr);
    EXPECT_TRUE(core.metadata.empty());
    // Carried over.
    EXPECT_EQ(core.crop_top, 4);
    EXPECT_EQ(core.frame_height, 140);
    EXPECT_EQ(Encoder(0, 0)->height, 140);

    // Disabled types: "vn" drops the video stream and is itself reset only by a
    // video stream being made.
    core.SetOption("vn", "");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v2.avi"))) << core.last_error;
    EXPECT_EQ(Output(1)->nb_streams, 1u);
    EXPECT_TRUE(core.video_disabled);
    core.AddVideoStream();
    EXPECT_FALSE(core.video_disabled);
}

TEST_F(OutputFileTest, GenericOptionsReachEncodersAndMuxer) {
    const std::string src = MakeRealVideo(dir, "v.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    ASSERT_TRUE(core.SetGenericOption("g", "7"));
    ASSERT_TRUE(core.SetGenericIntOption("ab", 96000));
    ASSERT_TRUE(core.SetGenericOption("flags", "+bitexact"));
    ASSERT_TRUE(core.OpenOutputFile(dir.File("v.mpg"))) << core.last_error;
    EXPECT_EQ(Encoder(0, 0)->gop_size, 7);
    EXPECT_EQ(Encoder(0, 1)->bit_rate, 96000);
    int64_t preload = -1;
    ASSERT_GE(avutil.av_opt_get_int(Output(0), "preload", AV_OPT_SEARCH_CHILDREN, &preload), 0);
    EXPECT_EQ(preload, 500000) << "a muxer with a preload setting gets it";

    // Subtitle encoders get the recorded options too.
    core.SetOption("scodec", "ass");
    core.AddSubtitleStream();
    AVCodecContext* sub = Encoder(0, 2);
    EXPECT_EQ(sub->codec_type, AVMEDIA_TYPE_SUBTITLE);
    EXPECT_EQ(sub->codec_id, AV_CODEC_ID_ASS);
    EXPECT_TRUE(sub->flags & AV_CODEC_FLAG_BITEXACT);
}

TEST_F(OutputFileTest, MuxerDelaysFollowTheOptions) {
    core.SetOption("muxpreload", "0.25");
    core.SetOption("muxdelay", "0.1");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("no-input.mp3"))) << core.last_error;
    EXPECT_EQ(core.output_files[0].preload, 250000);
    EXPECT_EQ(Output(0)->max_delay, 100000);
    // Without an input, the format's audio stream is made with the encoder's own sample format.
    ASSERT_EQ(Output(0)->nb_streams, 1u);
    AVCodecContext* enc = Encoder(0, 0);
    ASSERT_NE(enc, nullptr);
    EXPECT_NE(enc->sample_fmt, AV_SAMPLE_FMT_NONE);
}

TEST_F(OutputFileTest, RecordTimestampBecomesCreationTime) {
    core.SetOption("timestamp", "2001-02-03 04:05:06Z");
    ASSERT_TRUE(core.OpenOutputFile(dir.File("stamp.mka"))) << core.last_error;
    const AVDictionaryEntry* when = avutil.av_dict_get(Output(0)->metadata, "creation_time", nullptr, 0);
    ASSERT_NE(when, nullptr);
    EXPECT_STREQ(when->value, "2001-02-03T04:05:06.000000Z");
}

TEST_F(OutputFileTest, FreeFilesRemovesTheUnplacedTemporaryFile) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    const std::string dst = dir.File("never-written.mp3");
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    const std::string temp = core.output_files[0].temp_path;
    EXPECT_TRUE(FileExists(temp));
    core.FreeFiles();
    EXPECT_FALSE(FileExists(temp));
    EXPECT_FALSE(FileExists(dst));
    EXPECT_TRUE(FileExists(src));
    EXPECT_EQ(core.input_file_count, 0);
    EXPECT_EQ(core.output_file_count, 0);
    EXPECT_EQ(core.output_encoder_count, 0);
    EXPECT_EQ(core.input_decoder_count, 0);
    EXPECT_EQ(Input(0), nullptr);
    EXPECT_EQ(Output(0), nullptr);
}

TEST_F(OutputFileTest, CheckInputStreamTypes) {
    bool v = true, a = true, s = true;
    core.CheckInputStreamTypes(v, a, s);
    EXPECT_FALSE(v || a || s);
    ASSERT_TRUE(core.OpenInputFile(MakeRealAudio144(dir, "a.ra", 1.0))) << core.last_error;
    core.CheckInputStreamTypes(v, a, s);
    EXPECT_FALSE(v);
    EXPECT_TRUE(a);
    EXPECT_FALSE(s);
    ASSERT_TRUE(core.OpenInputFile(MakeRealVideo(dir, "v.rm", 1.0, "rv10", RealAudio::None))) << core.last_error;
    core.CheckInputStreamTypes(v, a, s);
    EXPECT_TRUE(v);
    EXPECT_TRUE(a);
}

TEST_F(OutputFileTest, TablesStopAtTheirLimits) {
    const std::string src = MakeRealAc3(dir, "a.rm", 0.5);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    ASSERT_TRUE(core.OpenOutputFile(dir.File("many.mka"))) << core.last_error;
    for (int i = 1; i < MAX_STREAMS; ++i) core.AddAudioStream();
    ASSERT_EQ(Output(0)->nb_streams, static_cast<unsigned>(MAX_STREAMS));
    core.SetOption("acodec", "ac3");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.AddAudioStream(); }), "Could not alloc stream");
    EXPECT_TRUE(core.audio_codec_name.empty());
    EXPECT_EQ(Output(0)->nb_streams, static_cast<unsigned>(MAX_STREAMS));
    EXPECT_EQ(core.output_encoder_count, MAX_STREAMS);

    for (int i = 1; i < MAX_FILES; ++i)
        ASSERT_TRUE(core.OpenOutputFile(dir.File("out" + std::to_string(i) + ".mka"))) << core.last_error;
    const std::string extra = dir.File("one-too-many.mka");
    EXPECT_FALSE(core.OpenOutputFile(extra));
    EXPECT_EQ(core.last_error, extra + ": too many output files");
    EXPECT_EQ(core.output_file_count, MAX_FILES);

    for (int i = 1; i < MAX_FILES; ++i) ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    EXPECT_FALSE(core.OpenInputFile(src));
    EXPECT_EQ(core.last_error, src + ": too many input files");
    EXPECT_EQ(core.input_file_count, MAX_FILES);
}

TEST_F(OutputFileTest, LongNamesAreKeptWhole) {
    // Over a thousand characters: a shortened name would write somewhere else.
    std::string folder = dir.Path();
    for (int i = 0; i < 11; ++i) {
        folder += "/" + std::string(100, static_cast<char>('a' + i));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    const std::string dst = folder + "/out.mp3";
    ASSERT_GT(dst.size(), 1100u);
    ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
    EXPECT_STREQ(core.output_files[0].ShownName(), dst.c_str());
    EXPECT_EQ(core.output_files[0].temp_path.rfind(folder + "/", 0), 0u) << "written beside its final name";
    EXPECT_TRUE(FileExists(core.output_files[0].temp_path));
}

// ---- temporary output files and their final names ----

namespace {

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The id of a process that has ended and been reaped.
long EndedProcessId() {
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A temporary name of a host; none: the names of earlier versions.
std::string TempName(long pid, unsigned counter, const std::string& extension, const std::string& host = "") {
    char text[64];
    std::snprintf(text, sizeof text, "%010ld-%08x", pid, counter);
    return ".ardx-" + (host.empty() ? "" : host + "-") + text + extension;
}

}  // namespace

TEST_F(OutputFileTest, TheTemporaryFileIsShortBesideItsNameAndKeepsTheExtension) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    struct TCase {
        std::string name;
        std::string format;
    };
    const std::string longest(251, 'n');  // 255 bytes with ".mp3"
    for (const TCase& c : std::vector<TCase>{{"out.mp3", "mp3"}, {"a.b.mka", "matroska"}, {longest + ".mp3", "mp3"},
                                             {"file:like-an-address.wav", "wav"}}) {
        SCOPED_TRACE(c.name);
        const std::string dst = dir.File(c.name);
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        const TOutputFile& file = core.output_files[core.output_file_count - 1];
        EXPECT_STREQ(file->oformat->name, c.format.c_str()) << "the format comes from the final name";
        const std::string temp = std::filesystem::path(file.temp_path).filename();
        const std::string extension = std::filesystem::path(dst).extension();
        const size_t stem = 26 + ThisHostTag().size();
        EXPECT_EQ(temp.size(), stem + extension.size()) << temp;
        EXPECT_EQ(temp.substr(stem), extension);
        EXPECT_TRUE(IsTemporaryOutputName(temp));
        EXPECT_EQ(std::filesystem::path(file.temp_path).parent_path(), dir.Path());
        EXPECT_FALSE(FileExists(file.final_path));
    }
    core.FreeFiles();
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.rm"})) << "every temporary file went";
}

TEST_F(OutputFileTest, AnOutputThatIsTheInputIsRefused) {
    const std::string src = MakeMp3(dir, "song.mp3", 1.0);
    const std::string before = ReadFileBytes(src);
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(src.c_str(), dir.File("link.mp3").c_str()), 0);
    ASSERT_EQ(::link(src.c_str(), dir.File("hard.mp3").c_str()), 0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    for (const std::string& dst : {src, dir.File("link.mp3"), dir.File("hard.mp3"), dir.File("sub/../song.mp3")}) {
        SCOPED_TRACE(dst);
        ApplyConverterSettings(2, 44100, 128000);
        EXPECT_FALSE(core.OpenOutputFile(dst));
        EXPECT_NE(core.last_error.find("is the input file '" + src + "' itself"), std::string::npos) << core.last_error;
        EXPECT_EQ(core.output_file_count, 0);
    }
    EXPECT_EQ(ReadFileBytes(src), before);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"hard.mp3", "link.mp3", "song.mp3", "sub"}));
}

TEST_F(OutputFileTest, NamesTheFileSystemRefusesFailWithItsReason) {
    const std::string src = MakeRealAc3(dir, "a.rm", 1.0);
    ASSERT_TRUE(core.OpenInputFile(src)) << core.last_error;
    const long most = ::pathconf(dir.Path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(most, 4);
    const std::string fits = dir.File(std::string(most - 4, 'x') + ".mp3");
    ApplyConverterSettings(2, 44100, 128000);
    EXPECT_TRUE(core.OpenOutputFile(fits)) << core.last_error;
    const std::string too_long = dir.File(std::string(most - 3, 'x') + ".mp3");
    ApplyConverterSettings(2, 44100, 128000);
    EXPECT_FALSE(core.OpenOutputFile(too_long));
    EXPECT_EQ(core.last_error, "Could not open '" + too_long + "': File name too long");
    EXPECT_EQ(core.output_file_count, 1);
}

TEST(OutputPlaceTest, TemporaryNamesAreRecognised) {
    long pid = 0;
    std::string host = "x";
    EXPECT_TRUE(IsTemporaryOutputName(TempName(123, 0xab, ".mp3"), &pid, &host));
    EXPECT_EQ(pid, 123);
    EXPECT_EQ(host, "");
    for (const std::string& name : {std::string("node-07.cluster"), std::string("1234567890"), ThisHostTag()}) {
        EXPECT_TRUE(IsTemporaryOutputName(TempName(77, 1, ".a.mp3", name), &pid, &host)) << name;
        EXPECT_EQ(pid, 77);
        EXPECT_EQ(host, name);
    }
    EXPECT_TRUE(IsTemporaryOutputName(TempName(4194304, 0xffffffff, "")));
    const std::vector<std::string> others = {"song.mp3",
                                             ".ardx-",
                                             ".ardx-123-1.mp3",
                                             TempName(1, 1, ".mp3").substr(1),
                                             ".ardx-00000000x1-00000001.mp3",
                                             ".ardx-0000000001-0000000g.mp3",
                                             ".ardx-0000000001_00000001.mp3",
                                             TempName(1, 1, "x.mp3"),
                                             ".ardx-0000000001-0000001",
                                             TempName(1, 1, ".mp3", std::string(25, 'h'))};
    for (const std::string& name : others)
        EXPECT_FALSE(IsTemporaryOutputName(name)) << name;
}

TEST(OutputPlaceTest, OnlyLeftoversOfEndedProcessesAreRemoved) {
    TempDir dir;
    const long gone = EndedProcessId();
    const std::string ended = TempName(gone, 7, ".mp3");
    const std::string ended_here = TempName(gone, 9, ".mp3", ThisHostTag());
    // Process ids past the system's range and 0 (a process group) never reach kill(),
    // nor another machine's on a shared folder: its process ids are not ours to look up.
    const std::vector<std::string> kept = {TempName(gone, 8, ".d"),         TempName(::getpid(), 1, ".mp3"),
                                           TempName(::getppid(), 2, ".mp3"), "song.mp3",
                                           ".ardx-junk.mp3",                 TempName(0, 3, ".mp3"),
                                           TempName(4294967295, 4, ".mp3"),  TempName(9999999999, 5, ""),
                                           TempName(gone, 6, ".mp3", "other-host"),
                                           TempName(::getpid(), 7, ".mp3", ThisHostTag())};
    ASSERT_EQ(::mkdir(dir.File(kept[0]).c_str(), 0755), 0) << "a folder with our name is not ours";
    std::ofstream(dir.File(ended)) << "bytes";
    std::ofstream(dir.File(ended_here)) << "bytes";
    for (size_t i = 1; i < kept.size(); ++i) std::ofstream(dir.File(kept[i])) << "bytes";
    EXPECT_EQ(RemoveLeftoverOutputs(dir.Path()), 2);
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderNames(dir.Path()), expected);
    EXPECT_EQ(RemoveLeftoverOutputs(dir.File("missing")), 0);
}

TEST(OutputPlaceTest, TheFolderIsMadeCheckedAndSweptOnce) {
    TempDir dir;
    std::ofstream(dir.File("plain")) << "a file";
    const long gone = EndedProcessId();
    std::string why;
    EXPECT_TRUE(PrepareOutputFolder(dir.File("new/deeper"), why)) << why;
    EXPECT_TRUE(FolderNames(dir.File("new/deeper")).empty()) << "the trial write leaves nothing";
    std::ofstream(dir.File("new/deeper/" + TempName(gone, 1, ".mp3"))) << "left by a killed run";
    EXPECT_TRUE(PrepareOutputFolder(dir.File("new/deeper/"), why)) << why;
    EXPECT_TRUE(FolderNames(dir.File("new/deeper")).empty());
    EXPECT_FALSE(PrepareOutputFolder(dir.File("plain/sub"), why));
    EXPECT_EQ(why, "Not a directory");
    EXPECT_FALSE(PrepareOutputFolder(dir.File("plain"), why));
    EXPECT_EQ(why, "Not a directory");
    EXPECT_FALSE(PrepareOutputFolder("", why));
    if (::geteuid() == 0) GTEST_SKIP() << "a read-only folder does not stop the superuser";
    ASSERT_EQ(::chmod(dir.File("new").c_str(), 0555), 0);
    EXPECT_FALSE(PrepareOutputFolder(dir.File("new/other"), why));
    EXPECT_EQ(why, "Permission denied");
    EXPECT_FALSE(PrepareOutputFolder(dir.File("new"), why));
    EXPECT_EQ(why, "Permission denied");
    ::chmod(dir.File("new").c_str(), 0755);
}

namespace {

int RefusedRename(const char*, const char*) {
    errno = EINVAL;  // as NFS answers renameat2's flag
    return -1;
}

// A link the server made while its answer was lost: done, yet reported failed.
int LinkWithLostReply(const char* from, const char* to) {
    if (::link(from, to) != 0) return -1;
    errno = EIO;
    return -1;
}

}  // namespace

TEST(OutputPlaceTest, TwoProcessesRacingForOneNameEachGetANameOfTheirOwn) {
    const TPlaceCalls system = SetPlaceCalls({nullptr, nullptr});
    SetPlaceCalls(system);
    const TPlaceCalls ways[] = {system, {RefusedRename, ::link}, {RefusedRename, LinkWithLostReply}};
    for (const TPlaceCalls way : ways)
        for (int round = 0; round < 10; ++round) {
            TempDir dir;
            const std::string target = dir.File("race.mp3");
            int start[2];
            ASSERT_EQ(::pipe(start), 0);
            pid_t children[2];
            for (pid_t& child : children) {
                if ((child = ::fork()) != 0) continue;
                // The child: its own file, then the name at the parent's word.
                SetPlaceCalls(way);
                std::string why, placed;
                const std::string temp = CreateTemporaryOutput(target, why);
                std::ofstream(temp) << ::getpid();
                char go;
                const bool ok = ::read(start[0], &go, 1) == 1 &&
                                PlaceOutput(temp, target, TPlaceMode::KeepOrNumber, placed, why) && !placed.empty();
                std::_Exit(ok ? 0 : 1);
            }
            ASSERT_EQ(::write(start[1], "go", 2), 2);
            ::close(start[0]);
            ::close(start[1]);
            std::set<std::string> writers;
            for (const pid_t child : children) {
                int status = -1;
                ::waitpid(child, &status, 0);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                writers.insert(std::to_string(child));
            }
            EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"race(1).mp3", "race.mp3"}));
            EXPECT_EQ(writers, (std::set<std::string>{ReadFileBytes(target), ReadFileBytes(dir.File("race(1).mp3"))}));
        }
}

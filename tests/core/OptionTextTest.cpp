// The option text splitter and its two passes.
#include "core/OptionText.h"
#include "tests/core/OptionFixture.h"

using namespace optiontest;

namespace {

using Pairs = std::vector<TOptionPair>;

TEST(OptionTextSplit, LineBreaksAndEqualsSigns) {
    EXPECT_EQ(SplitOptionText("a=1\r\nb=2\rc=3\nd"), (Pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", ""}}));
    EXPECT_EQ(SplitOptionText("x=y=z"), (Pairs{{"x", "y=z"}}));
    EXPECT_EQ(SplitOptionText("=v"), (Pairs{{"", "v"}}));
    EXPECT_EQ(SplitOptionText("k="), (Pairs{{"k", ""}}));
    EXPECT_EQ(SplitOptionText("a=1\n\nb=2"), (Pairs{{"a", "1"}, {"", ""}, {"b", "2"}}));
    EXPECT_EQ(SplitOptionText("a=1\r\r\nb"), (Pairs{{"a", "1"}, {"", ""}, {"b", ""}}));
}

TEST(OptionTextSplit, OnlyTheWholeTextIsTrimmed) {
    EXPECT_EQ(SplitOptionText("  \t\r\n a = 1 \n b=2 \r\n\t"), (Pairs{{"a ", " 1 "}, {" b", "2"}}));
    EXPECT_TRUE(SplitOptionText("").empty());
    EXPECT_TRUE(SplitOptionText(" \r\n\t ").empty());
    EXPECT_EQ(SplitOptionText(std::string("a=\0b", 4)), (Pairs{{"a", std::string("\0b", 2)}}));
}

class OptionTextDispatch : public OptionTest {};

TEST_F(OptionTextDispatch, FirstPassSkipsStreamOptions) {
    DispatchOptionText(core, "acodec=libmp3lame\nnewaudio\nnewvideo=1\nnewsubtitle\nac=1\nsameq", true);
    EXPECT_EQ(core.audio_codec_name, "libmp3lame");
    EXPECT_EQ(core.audio_channels, 1);
    EXPECT_TRUE(core.same_quality);
}

TEST_F(OptionTextDispatch, SecondPassAddsStreamsToTheLastOutput) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { DispatchOptionText(core, "ac=1\nnewaudio", false); }),
              "At least one output file must be specified");
    EXPECT_EQ(core.audio_channels, 1);  // set before the failing line
}

// Both passes run over the same text; what appends to a list is taken once.
TEST_F(OptionTextDispatch, ListOptionsAreTakenOnceOverBothPasses) {
    const std::string text = "map=0:0\nmap_meta_data=0:0\nmetadata=title=t\nabsf=null\nvbsf=null\nsbsf=null\nac=1";
    DispatchOptionText(core, text, true);
    core.audio_channels = 2;
    DispatchOptionText(core, text, false);
    EXPECT_EQ(core.stream_map.size(), 1u);
    EXPECT_EQ(core.metadata_map.size(), 1u);
    EXPECT_EQ(core.metadata.size(), 1u);
    EXPECT_EQ(core.audio_bsf_list.size(), 1u);
    EXPECT_EQ(core.video_bsf_list.size(), 1u);
    EXPECT_EQ(core.subtitle_bsf_list.size(), 1u);
    EXPECT_EQ(core.audio_channels, 1) << "other options are dispatched again";
    // "vhook" fails in the first pass and is not tried again.
    EXPECT_EQ(MessageOf<FFmpegException>([&] { DispatchOptionText(core, "vhook=x.so", true); }),
              "Failed to add video hook function: x.so");
    EXPECT_NO_THROW(DispatchOptionText(core, "vhook=x.so", false));
}

TEST_F(OptionTextDispatch, FailuresStopTheText) {
    Listen();
    EXPECT_EQ(MessageOf<FFmpegException>([&] { DispatchOptionText(core, "ab=128\nthreads=17\nac=1", true); }),
              "threads must be from 0 (one per processor) to 16");
    EXPECT_EQ(CarrierInt(Audio(), "b"), 128);
    EXPECT_EQ(core.audio_channels, 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.rfind("WARNING: The bitrate parameter is set too low", 0), 0u);
    EXPECT_THROW(DispatchOptionText(core, "ar=fast", true), EConvertError);
}

}  // namespace

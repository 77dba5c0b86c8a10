// RealMedia to MP3 at the converter's settings, decoded back with libmpg123 and
// compared with the tones that went in: rate, channels, bit rate, length and
// the frequency and level of every channel.
#include <algorithm>

#include "tests/common/TranscodeFixture.h"

using namespace transcodetest;

namespace {

struct TCase {
    const char* name;
    bool ra144;        // else AC-3
    int in_rate;
    int in_channels;
    int out_channels;
    int out_rate;
    int kbps;
};

std::ostream& operator<<(std::ostream& os, const TCase& c) { return os << c.name; }

class TranscodeAudioTest : public TranscodeTest, public ::testing::WithParamInterface<TCase> {};

// Tones of the fixture: RA 14.4 carries 440 Hz; AC-3 carries 440 Hz left and
// 1000 Hz right (mono: 440 Hz).
std::vector<double> InputTones(const TCase& c) {
    if (c.ra144 || c.in_channels == 1) return {440.0};
    return {440.0, 1000.0};
}

TEST_P(TranscodeAudioTest, DecodesBackToTheTonesThatWentIn) {
    const TCase& c = GetParam();
    const std::string src = c.ra144 ? MakeRealAudio144(dir, "in.ra", 2.0, 440.0)
                                    : MakeRealAc3(dir, "in.rm", 2.0, c.in_rate, c.in_channels);
    const std::string dst = dir.File("out.mp3");
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    ASSERT_GT(in_seconds, 1.5);

    ASSERT_EQ(Convert(src, dst, c.out_channels, c.out_rate, c.kbps), "") << AllLines();
    EXPECT_TRUE(core.finished);

    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_EQ(mp3.layer, 3);
    EXPECT_EQ(mp3.rate, c.out_rate);
    EXPECT_EQ(mp3.channels, c.out_channels);
    EXPECT_EQ(mp3.bitrateKbps, c.kbps);
    EXPECT_EQ(mp3.minBitrateKbps, c.kbps);
    EXPECT_EQ(mp3.maxBitrateKbps, c.kbps);
    // No sample lost or doubled: as long as the input within one MP3 frame.
    EXPECT_NEAR(mp3.Seconds(), in_seconds, Mp3FrameSeconds(c.out_rate)) << "input " << in_seconds << " s";

    const std::vector<double> tones = InputTones(c);
    for (int ch = 0; ch < mp3.channels; ++ch) {
        const auto mid = Slice(mp3.Channel(ch), mp3.rate, 0.3, mp3.Seconds() - 0.3);
        if (c.out_channels == 1 && tones.size() == 2) {
            // A stereo input mixed down (by the decoder where it can, at its own
            // levels; else as the average): both tones are there, neither at full level.
            for (double f : tones) EXPECT_NEAR(ToneMagnitude(mid, mp3.rate, f), 0.3, 0.1) << f << " Hz";
            continue;
        }
        // Mono spread to stereo gives every channel the one tone; else channel by channel.
        const double f = tones.size() == 1 ? tones[0] : tones[ch];
        EXPECT_NEAR(DominantFrequency(mid, mp3.rate), f, 3.0) << "channel " << ch;
        const double level = ToneMagnitude(mid, mp3.rate, f);
        if (c.ra144) {
            // A speech codec: the tone comes through, its level less exactly.
            EXPECT_GT(level, 0.1) << "channel " << ch;
        } else {
            EXPECT_NEAR(level, 0.5, 0.1) << "channel " << ch;
        }
        for (double other : tones)
            if (other != f) EXPECT_LT(ToneMagnitude(mid, mp3.rate, other), 0.05) << "channel " << ch << " leaks " << other;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Converter, TranscodeAudioTest,
    ::testing::Values(TCase{"Ra144To8kMono32", true, 8000, 1, 1, 8000, 32},
                      TCase{"Ra144To44kStereo128", true, 8000, 1, 2, 44100, 128},
                      TCase{"Ra144To22kMono32", true, 8000, 1, 1, 22050, 32},
                      TCase{"Ac3_44kStereoTo44kStereo256", false, 44100, 2, 2, 44100, 256},
                      TCase{"Ac3_44kStereoTo44kStereo320", false, 44100, 2, 2, 44100, 320},
                      TCase{"Ac3_44kStereoTo22kMono128", false, 44100, 2, 1, 22050, 128},
                      TCase{"Ac3_48kStereoTo44kStereo128", false, 48000, 2, 2, 44100, 128},
                      TCase{"Ac3_48kMonoTo48kStereo320", false, 48000, 1, 2, 48000, 320},
                      TCase{"Ac3_44kMonoTo8kMono32", false, 44100, 1, 1, 8000, 32},
                      TCase{"Ac3_48kStereoTo48kMono32", false, 48000, 2, 1, 48000, 32},
                      TCase{"Ac3_44kStereoTo22kStereo128", false, 44100, 2, 2, 22050, 128}),
    [](const ::testing::TestParamInfo<TCase>& info) { return std::string(info.param.name); });

// A 5.1 AC-3 input to stereo: the decoder mixes down, the sides keep their tones.
TEST_F(TranscodeTest, SixChannelAc3MixesDownToStereo) {
    const std::string src = MakeRealAc3(dir, "in.rm", 2.0, 48000, 6);
    const std::string dst = dir.File("out.mp3");
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    ASSERT_EQ(Convert(src, dst, 2, 48000, 192), "") << AllLines();
    EXPECT_FALSE(Logged("Warning, using s16 intermediate sample format for resampling"))
        << "the decoder gave two channels: no resampler needed";
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_EQ(mp3.channels, 2);
    EXPECT_NEAR(mp3.Seconds(), in_seconds, Mp3FrameSeconds(48000));
    const auto left = Slice(mp3.Channel(0), mp3.rate, 0.3, 1.7);
    const auto right = Slice(mp3.Channel(1), mp3.rate, 0.3, 1.7);
    EXPECT_GT(ToneMagnitude(left, mp3.rate, 440.0), 0.1);
    EXPECT_LT(ToneMagnitude(left, mp3.rate, 1000.0), 0.05);
    EXPECT_GT(ToneMagnitude(right, mp3.rate, 1000.0), 0.1);
    EXPECT_LT(ToneMagnitude(right, mp3.rate, 440.0), 0.05);
    EXPECT_LT(Peak(left), 1.0);
}

// A RealAudio 3 file (.ra header, no RealMedia chunks) with 14.4 audio.
TEST_F(TranscodeTest, RealAudio3FileConvertsToo) {
    const std::string src = MakeFixture(dir, "in.ra", "ra3", {"--seconds", "2"});
    const std::string dst = dir.File("out.mp3");
    const double in_seconds = ReadMediaInfo(src).AudioSeconds();
    ASSERT_GT(in_seconds, 1.5);
    ASSERT_EQ(Convert(src, dst, 1, 22050, 64), "") << AllLines();
    const DecodedAudio mp3 = DecodeMp3(dst);
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_EQ(mp3.rate, 22050);
    EXPECT_NEAR(mp3.Seconds(), in_seconds, Mp3FrameSeconds(22050));
    EXPECT_NEAR(DominantFrequency(Slice(mp3.Channel(0), mp3.rate, 0.3, 1.7), mp3.rate), 440.0, 3.0);
}

}  // namespace

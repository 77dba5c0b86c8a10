// Input and output names are local files whatever they look like: a name that
// reads as an address makes no connection, and "file:x.rm" is not x.rm.
#include <filesystem>
#include <memory>

#include "tests/common/LocalNames.h"
#include "tests/common/TranscodeFixture.h"

using namespace transcodetest;

namespace {

class LocalNameTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        here = std::make_unique<ScopedWorkingDir>(dir.Path());
    }
    void TearDown() override {
        TranscodeTest::TearDown();
        here.reset();
    }

    // A tone of `freq` Hz at `name` (relative to the test's folder).
    std::string ToneAt(const std::string& name, double freq) {
        return MoveToName(MakeRealAc3(dir, "made.rm", 1.5, 44100, 2, {freq}), name);
    }

    LoopbackListener listener;
    std::unique_ptr<ScopedWorkingDir> here;
};

}  // namespace

TEST_F(LocalNameTest, NamesLikeAddressesConvertAsLocalFiles) {
    const std::string host = listener.HostPort();
    struct Case {
        std::string input;
        std::string output;
    } cases[] = {
        {"http://" + host + "/song.rm", "http://" + host + "/song.mp3"},
        {"http:" + host, "http:" + host + ".mp3"},
        {"tcp://" + host, "tls://" + host + "/out.mp3"},
        {"rtmp://" + host + "/live", "udp://" + host + "/out.mp3"},
        {"subfile,,start,0,end,100,,:made.rm", "crypto:out.mp3"},
        {"file:file:twice.rm", "file:file:twice.mp3"},
        {"take%d 100%%.rm", "take%03d 100%%.mp3"},  // no image-sequence numbering for a single file
    };
    double freq = 300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + " -> " + c.output);
        freq += 100;
        ToneAt(c.input, freq);
        if (c.output.find('/') != std::string::npos)
            std::filesystem::create_directories(std::filesystem::path(c.output).parent_path());
        lines.clear();
        core.ResetOptionState();
        ASSERT_EQ(Convert(c.input, c.output, 2, 44100, 128), "") << AllLines();
        const DecodedAudio audio = DecodeMp3(c.output);
        ASSERT_TRUE(audio.ok) << audio.error;
        EXPECT_NEAR(audio.Seconds(), 1.5, 0.1);
        EXPECT_GT(ToneMagnitude(Slice(audio.Channel(0), audio.rate, 0.2, 1.3), audio.rate, freq), 0.3);
    }
    EXPECT_EQ(listener.Connections(), 0);
}

TEST_F(LocalNameTest, FilePrefixIsPartOfTheName) {
    // x.rm holds 440 Hz, the file named "file:x.rm" 1000 Hz.
    ToneAt("x.rm", 440);
    ToneAt("file:x.rm", 1000);
    ASSERT_EQ(Convert("file:x.rm", "file:x.mp3", 2, 44100, 128), "") << AllLines();
    EXPECT_FALSE(FileExists("x.mp3"));
    const DecodedAudio audio = DecodeMp3("file:x.mp3");
    ASSERT_TRUE(audio.ok) << audio.error;
    const std::vector<float> middle = Slice(audio.Channel(0), audio.rate, 0.2, 1.3);
    EXPECT_GT(ToneMagnitude(middle, audio.rate, 1000), 0.3);
    EXPECT_LT(ToneMagnitude(middle, audio.rate, 440), 0.05);
}

TEST_F(LocalNameTest, MessagesNameTheFileAsGiven) {
    const std::string missing = "http://" + listener.HostPort() + "/missing.rm";
    EXPECT_FALSE(core.OpenInputFile(missing));
    EXPECT_EQ(core.last_error, missing + ": no such file or directory");

    ToneAt("in.rm", 440);
    ASSERT_TRUE(core.OpenInputFile("in.rm")) << core.last_error;
    core.SetCodecName('a', "libmp3lame");
    const std::string unwritable = "http://" + listener.HostPort() + "/no-folder/out.mp3";
    EXPECT_FALSE(core.OpenOutputFile(unwritable));
    EXPECT_EQ(core.last_error, "Could not open '" + unwritable + "': No such file or directory");
    EXPECT_EQ(listener.Connections(), 0);
}

TEST_F(LocalNameTest, MuxersThatNameTheirOwnFilesKeepThemLocal) {
    // The segment muxer writes files named from the output name's pattern.
    ToneAt("in.rm", 440);
    ASSERT_TRUE(Open("in.rm", "file:seg%03d.mp3", 2, 44100, 128, [&] { core.SetOutputFormat("segment"); }));
    EXPECT_EQ(Run(), "") << AllLines();
    EXPECT_FALSE(FileExists("seg000.mp3"));
    const DecodedAudio audio = DecodeMp3("file:seg000.mp3");
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_NEAR(audio.Seconds(), 1.5, 0.1);
    EXPECT_GT(ToneMagnitude(Slice(audio.Channel(0), audio.rate, 0.2, 1.3), audio.rate, 440), 0.3);
}

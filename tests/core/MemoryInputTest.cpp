// The conversion fuzz target reads its inputs from memory files opened by name:
// such an input must convert to the same sound as the same bytes on disk.
#include "tests/common/MemoryFile.h"
#include "tests/common/TranscodeFixture.h"

using namespace transcodetest;

namespace {
class MemoryInputTest : public TranscodeTest {};
}  // namespace

TEST_F(MemoryInputTest, ConvertsAsTheSameBytesOnDisk) {
    struct TCase {
        const char* name;
        std::function<std::string()> make;
        int channels, rate, kbps;
    };
    const TCase cases[] = {
        {"RealAudio 14.4", [&] { return MakeRealAudio144(dir, "a.rm", 1.0, 440.0); }, 2, 44100, 128},
        {"AC-3 to mono", [&] { return MakeRealAc3(dir, "c.rm", 1.0, 48000, 2, {440.0}); }, 1, 22050, 64},
        {"cut AC-3", [&] { return MakeCut(MakeRealAc3(dir, "d.rm", 1.0, 32000, 1, {440.0}), 60, dir.File("cut.rm")); },
         2, 16000, 32},
    };
    MemoryFile memory("transcode-test");
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string src = c.make();
        core.ReInitialize();
        ASSERT_EQ(Convert(memory.Hold(ReadFileBytes(src)), dir.File("memory.mp3"), c.channels, c.rate, c.kbps), "");
        core.ReInitialize();
        ASSERT_EQ(Convert(src, dir.File("disk.mp3"), c.channels, c.rate, c.kbps), "");

        const DecodedAudio from_memory = DecodeMp3(dir.File("memory.mp3"));
        const DecodedAudio from_disk = DecodeMp3(dir.File("disk.mp3"));
        ASSERT_TRUE(from_memory.ok) << from_memory.error;
        ASSERT_TRUE(from_disk.ok) << from_disk.error;
        EXPECT_EQ(from_memory.rate, c.rate);
        EXPECT_EQ(from_memory.channels, c.channels);
        EXPECT_NEAR(DominantFrequency(from_memory.Channel(0), from_memory.rate), 440.0, 10.0);
        EXPECT_EQ(from_memory.samples, from_disk.samples);
    }
}

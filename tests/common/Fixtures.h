#pragma once
// Test media made at test time by the ardentix-fixtures tool, in a temporary folder.
// Every Make* call runs the tool afresh (nothing is cached) and throws FixtureError
// with the command line and the tool's message when it fails, so the test that
// asked for the file fails with that text.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ardentix::test {

struct FixtureError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A fresh folder under /tmp, removed with everything in it when destroyed.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path + "/" + name; the file is not created.
  std::string File(const std::string& name) const;

private:
  std::string path_;
};

enum class RealAudio { None, Ac3, Ra144 };

// RealMedia, RealAudio 14.4 (always 8000 Hz mono), sine tone at freq.
std::string MakeRealAudio144(const TempDir& dir, const std::string& name, double seconds = 2.0,
                             double freq = 440.0);
// RealAudio 3 file (".ra\xfd" header and 14.4 frames, no RealMedia chunks), as the
// old RealAudio players wrote them.
std::string MakeBareRealAudio144(const TempDir& dir, const std::string& name, double seconds = 2.0,
                                 double freq = 440.0);
// RealMedia, AC-3 audio at 32000/44100/48000 Hz. freqs: one for all channels or one per
// channel (empty: 440 Hz left, 1000 Hz right, ...).
std::string MakeRealAc3(const TempDir& dir, const std::string& name, double seconds = 2.0,
                        int rate = 44100, int channels = 2, const std::vector<double>& freqs = {});
// RealMedia, RealVideo 1 ("rv10") or 2 ("rv20") 176x144 at 15 fps with the given audio
// (AC-3: 44100 Hz stereo 440/1000 Hz; 14.4: 8000 Hz mono 440 Hz).
std::string MakeRealVideo(const TempDir& dir, const std::string& name, double seconds = 2.0,
                          const std::string& video = "rv10", RealAudio audio = RealAudio::Ac3);
// 16-bit PCM WAV.
std::string MakeWav(const TempDir& dir, const std::string& name, double seconds = 2.0,
                    int rate = 44100, int channels = 2, const std::vector<double>& freqs = {});
// MP3 (libmp3lame) at a constant bit rate: a reference input, not an output of ours.
std::string MakeMp3(const TempDir& dir, const std::string& name, double seconds = 2.0,
                    int rate = 44100, int channels = 2, int bitrateKbps = 128,
                    const std::vector<double>& freqs = {});
// Any kind with any options of the tool, e.g.
// MakeFixture(dir, "v.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--size", "320x240"}).
std::string MakeFixture(const TempDir& dir, const std::string& name, const std::string& kind,
                        const std::vector<std::string>& options = {});
// A copy of src holding only the first `percent` % of its bytes.
std::string MakeCut(const std::string& src, double percent, const std::string& dst);
// `bytes` pseudo-random bytes from `seed` (same seed, same bytes); realMagic puts a
// RealMedia signature in front so readers get past the first check.
std::string MakeRandom(const TempDir& dir, const std::string& name, std::size_t bytes = 4096,
                       std::uint64_t seed = 1, bool realMagic = false);
std::string MakeEmpty(const TempDir& dir, const std::string& name);

// Real files written by other programs (see the README there): header-only.rm,
// header-only.ra, link.ram. They live in the workspace beside the checkout
// (../shared/samples; $ARDENTIX_SAMPLES_DIR instead when set), which a clone of
// its own does not have. A test that needs them starts with
//   if (!SamplesPresent()) GTEST_SKIP() << SamplesMissingText();
std::string SamplesDir();
std::string SamplePath(const std::string& name);
bool SamplesPresent();
std::string SamplesMissingText();

// The tool's read-back of a file through the media libraries ("info" kind).
struct MediaInfo {
  std::map<std::string, std::string> fields; // e.g. "format", "duration", "stream.0.codec"
  std::string Get(const std::string& key) const; // "" when absent
  double Number(const std::string& key) const;   // -1 when absent
  double Duration() const { return Number("duration"); }          // container, seconds
  double AudioSeconds() const { return Number("audio_seconds"); } // decoded audio, seconds
};
MediaInfo ReadMediaInfo(const std::string& path);
// Decodes the first audio stream of any readable file into a 16-bit WAV at dst.
std::string DecodeToWav(const std::string& src, const std::string& dst);

// Runs the tool with these arguments and no shell; does not throw on a failed run.
struct ToolRun {
  int exitCode = -1; // -1: killed by a signal or could not start
  std::string out;
  std::string err;
};
ToolRun RunFixtureTool(const std::vector<std::string>& args);
// Same, throws FixtureError unless the tool exits 0.
std::string RunFixtureToolOrThrow(const std::vector<std::string>& args);

std::string ReadFileBytes(const std::string& path);

} // namespace ardentix::test

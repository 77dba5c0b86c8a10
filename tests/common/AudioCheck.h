#pragma once
// Checking audio independently of the engine: MP3 decoding with libmpg123, a WAV
// reader, and signal measures for "this file holds a 440 Hz tone for 2 s".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ardentix::test {

struct DecodedAudio {
  bool ok = false;           // decoded to the end without error and holds samples
  std::string error;         // why not ok
  long rate = 0;
  int channels = 0;
  std::size_t frames = 0;    // samples per channel
  std::vector<float> samples; // interleaved, -1..1

  // MP3 only, from the stream's frame headers.
  int layer = 0;             // 1, 2 or 3
  int bitrateKbps = 0;       // of the first audio frame
  int minBitrateKbps = 0;    // over all audio frames: equal to max for constant bit rate
  int maxBitrateKbps = 0;
  long long mpegFrames = 0;  // MPEG audio frames decoded

  double Seconds() const { return rate > 0 ? static_cast<double>(frames) / rate : 0.0; }
  std::vector<float> Channel(int c) const;
  std::vector<std::int16_t> ToInt16() const; // interleaved
};

// Gapless decoding (the encoder's delay and padding removed when the file says so).
DecodedAudio DecodeMp3(const std::string& path);
// 8/16/24/32-bit PCM and 32/64-bit float WAV, plain or extensible.
DecodedAudio ReadWav(const std::string& path);
// The first audio stream of any file the media libraries read (loaded first),
// the encoder's delay removed where the file says so.
DecodedAudio DecodeWithLibraries(const std::string& path);

// The samples of one channel between two times in seconds (clamped to the signal).
std::vector<float> Slice(const std::vector<float>& mono, long rate, double from, double to);
double Rms(const std::vector<float>& mono);
double Peak(const std::vector<float>& mono);
// Amplitude of the sine at `freq` Hz in the signal (Hann-windowed Goertzel): a tone of
// peak amplitude A reads about A; other tones more than a few Hz away read near 0.
double ToneMagnitude(const std::vector<float>& mono, long rate, double freq);
// The strongest frequency above minHz, in Hz (windowed FFT over the middle of the
// signal, interpolated between bins); 0 for silence or too short a signal.
double DominantFrequency(const std::vector<float>& mono, long rate, double minHz = 20.0);
// A synthetic sine for checking the checks.
std::vector<float> MakeSine(long rate, double freq, double seconds, double amplitude = 0.5);

} // namespace ardentix::test

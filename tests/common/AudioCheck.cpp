#include "tests/common/AudioCheck.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <numbers>

namespace ardentix::test {

std::vector<float> DecodedAudio::Channel(int c) const {
  std::vector<float> out;
  if (c < 0 || c >= channels)
    return out;
  out.reserve(frames);
  for (std::size_t i = 0; i < frames; ++i)
    out.push_back(samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]);
  return out;
}

std::vector<std::int16_t> DecodedAudio::ToInt16() const {
  std::vector<std::int16_t> out;
  out.reserve(samples.size());
  for (float s : samples)
    out.push_back(static_cast<std::int16_t>(std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f)));
  return out;
}

namespace {

struct Mpg123Delete {
  void operator()(mpg123_handle* h) const {
    mpg123_close(h);
    mpg123_delete(h);
  }
};

} // namespace

DecodedAudio DecodeMp3(const std::string& path) {
  DecodedAudio a;
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
  int err = MPG123_OK;
  std::unique_ptr<mpg123_handle, Mpg123Delete> mh(mpg123_new(nullptr, &err));
  if (!mh) {
    a.error = std::string("mpg123_new: ") + mpg123_plain_strerror(err);
    return a;
  }
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
  // Keep the stream's own rate and channels; only the sample encoding is fixed.
  mpg123_format_none(mh.get());
  const long* rates = nullptr;
  std::size_t nrates = 0;
  mpg123_rates(&rates, &nrates);
  for (std::size_t i = 0; i < nrates; ++i)
    mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh.get(), path.c_str()) != MPG123_OK) {
    a.error = "cannot open " + path + ": " + mpg123_strerror(mh.get());
    return a;
  }
  // Frame by frame, so every frame's header (bit rate) is seen.
  bool formatSeen = false;
  while (true) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    std::size_t bytes = 0;
    const int r = mpg123_decode_frame(mh.get(), &num, &audio, &bytes);
    if (r == MPG123_DONE)
      break;
    if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
      a.error = std::string("decoding failed: ") + mpg123_strerror(mh.get());
      return a;
    }
    if (r == MPG123_NEW_FORMAT || !formatSeen) {
      long rate = 0;
      int ch = 0, enc = 0;
      mpg123_getformat(mh.get(), &rate, &ch, &enc);
      if (formatSeen && (rate != a.rate || ch != a.channels)) {
        a.error = "the audio format changes inside the stream";
        return a;
      }
      a.rate = rate;
      a.channels = ch;
      formatSeen = true;
    }
    if (r == MPG123_OK) {
      mpg123_frameinfo2 fi{};
      if (mpg123_info2(mh.get(), &fi) == MPG123_OK) {
        if (a.mpegFrames == 0) {
          a.layer = fi.layer;
          a.bitrateKbps = fi.bitrate;
        }
        a.minBitrateKbps = a.mpegFrames == 0 ? fi.bitrate : std::min(a.minBitrateKbps, fi.bitrate);
        a.maxBitrateKbps = std::max(a.maxBitrateKbps, fi.bitrate);
      }
      ++a.mpegFrames;
    }
    const auto* s = reinterpret_cast<const std::int16_t*>(audio);
    for (std::size_t i = 0; audio && i < bytes / 2; ++i)
      a.samples.push_back(s[i] / 32768.0f);
  }
  if (a.channels > 0)
    a.frames = a.samples.size() / static_cast<std::size_t>(a.channels);
  if (a.frames == 0) {
    a.error = "no audio in " + path;
    return a;
  }
  a.ok = true;
  return a;
}

namespace {

std::uint32_t Le(const std::string& d, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(d[at + static_cast<std::size_t>(i)]);
  return v;
}

} // namespace

DecodedAudio ReadWav(const std::string& path) {
  DecodedAudio a;
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    a.error = "cannot open " + path;
    return a;
  }
  const std::string d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (d.size() < 12 || d.compare(0, 4, "RIFF") != 0 || d.compare(8, 4, "WAVE") != 0) {
    a.error = path + " is not a WAV file";
    return a;
  }
  int tag = 0, bits = 0;
  std::size_t dataAt = 0, dataSize = 0;
  bool haveFmt = false, haveData = false;
  for (std::size_t at = 12; at + 8 <= d.size();) {
    const std::string id = d.substr(at, 4);
    const std::size_t size = Le(d, at + 4, 4);
    const std::size_t body = at + 8;
    const std::size_t avail = std::min(size, d.size() - body);
    if (id == "fmt " && avail >= 16) {
      tag = static_cast<int>(Le(d, body, 2));
      a.channels = static_cast<int>(Le(d, body + 2, 2));
      a.rate = static_cast<long>(Le(d, body + 4, 4));
      bits = static_cast<int>(Le(d, body + 14, 2));
      if (tag == 0xFFFE && avail >= 26)
        tag = static_cast<int>(Le(d, body + 24, 2)); // sub-format GUID starts with the tag
      haveFmt = true;
    } else if (id == "data") {
      dataAt = body;
      dataSize = avail; // a cut file keeps what it has
      haveData = true;
      break;
    }
    if (size > d.size() - body)
      break;
    at = body + size + (size & 1);
  }
  if (!haveFmt || !haveData) {
    a.error = path + ": no " + std::string(haveFmt ? "data" : "fmt ") + " chunk";
    return a;
  }
  const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool flt = tag == 3 && (bits == 32 || bits == 64);
  if ((!pcm && !flt) || a.channels <= 0 || a.rate <= 0) {
    a.error = path + ": unsupported WAV format (tag " + std::to_string(tag) + ", " +
              std::to_string(bits) + " bits)";
    return a;
  }
  const std::size_t bytes = static_cast<std::size_t>(bits / 8);
  const std::size_t count = dataSize / bytes / static_cast<std::size_t>(a.channels) *
                            static_cast<std::size_t>(a.channels);
  a.samples.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = dataAt + i * bytes;
    float v = 0;
    if (flt && bits == 32) {
      const std::uint32_t u = Le(d, at, 4);
      std::memcpy(&v, &u, 4);
    } else if (flt) {
      std::uint64_t u = Le(d, at, 4) | (static_cast<std::uint64_t>(Le(d, at + 4, 4)) << 32);
      double dv = 0;
      std::memcpy(&dv, &u, 8);
      v = static_cast<float>(dv);
    } else if (bits == 8) {
      v = (static_cast<int>(Le(d, at, 1)) - 128) / 128.0f;
    } else {
      // Sign-extend from the sample's width.
      const std::uint32_t u = Le(d, at, static_cast<int>(bytes)) << (32 - bits);
      v = static_cast<float>(static_cast<std::int32_t>(u) / 2147483648.0);
    }
    a.samples.push_back(v);
  }
  a.frames = count / static_cast<std::size_t>(a.channels);
  a.ok = true;
  return a;
}

std::vector<float> Slice(const std::vector<float>& mono, long rate, double from, double to) {
  const auto clampIndex = [&](double t) {
    const double i = std::floor(t * static_cast<double>(rate));
    return static_cast<std::size_t>(std::clamp(i, 0.0, static_cast<double>(mono.size())));
  };
  const std::size_t a = clampIndex(from), b = clampIndex(to);
  if (b <= a)
    return {};
  return std::vector<float>(mono.begin() + static_cast<std::ptrdiff_t>(a),
                            mono.begin() + static_cast<std::ptrdiff_t>(b));
}

double Rms(const std::vector<float>& mono) {
  if (mono.empty())
    return 0.0;
  double sum = 0;
  for (float s : mono)
    sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(mono.size()));
}

double Peak(const std::vector<float>& mono) {
  double p = 0;
  for (float s : mono)
    p = std::max(p, std::fabs(static_cast<double>(s)));
  return p;
}

namespace {

double Hann(std::size_t n, std::size_t size) {
  return size < 2 ? 1.0 : 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) /
                                               static_cast<double>(size - 1));
}

void Fft(std::vector<std::complex<double>>& x) {
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const auto u = x[i + k], v = x[i + k + len / 2] * w;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

} // namespace

double ToneMagnitude(const std::vector<float>& mono, long rate, double freq) {
  const std::size_t n = mono.size();
  if (n == 0 || rate <= 0)
    return 0.0;
  const double w = 2.0 * std::numbers::pi * freq / static_cast<double>(rate);
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0, wsum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double win = Hann(i, n);
    wsum += win;
    const double s = mono[i] * win + coeff * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  const double re = s1 - s2 * std::cos(w), im = s2 * std::sin(w);
  return wsum > 0 ? 2.0 * std::hypot(re, im) / wsum : 0.0;
}

double DominantFrequency(const std::vector<float>& mono, long rate, double minHz) {
  std::size_t n = 1;
  while (n * 2 <= mono.size() && n < (1u << 16))
    n *= 2;
  if (n < 64 || rate <= 0)
    return 0.0;
  const std::size_t start = (mono.size() - n) / 2;
  std::vector<std::complex<double>> x(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = mono[start + i] * Hann(i, n);
  Fft(x);
  const double binHz = static_cast<double>(rate) / static_cast<double>(n);
  std::size_t best = 0;
  double bestMag = 0;
  for (std::size_t k = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(minHz / binHz)));
       k < n / 2; ++k)
    if (std::abs(x[k]) > bestMag) {
      bestMag = std::abs(x[k]);
      best = k;
    }
  if (best == 0 || bestMag < 1e-9 * static_cast<double>(n))
    return 0.0;
  double offset = 0;
  if (best + 1 < n / 2) {
    // Parabola through the log magnitudes of the peak and its neighbours.
    const double a = std::log(std::abs(x[best - 1]) + 1e-300), b = std::log(bestMag),
                 c = std::log(std::abs(x[best + 1]) + 1e-300);
    const double den = a - 2 * b + c;
    if (den < 0)
      offset = 0.5 * (a - c) / den;
  }
  return (static_cast<double>(best) + offset) * binHz;
}

std::vector<float> MakeSine(long rate, double freq, double seconds, double amplitude) {
  const auto n = static_cast<std::size_t>(std::llround(seconds * static_cast<double>(rate)));
  std::vector<float> out(n);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(i) /
                                                     static_cast<double>(rate)));
  return out;
}

} // namespace ardentix::test

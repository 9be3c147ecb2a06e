// Mastering: loudness and true-peak metering, the limiter, the end fade, dithering to 16 bits,
// and the decoder that measures the encoded result.
#include "master.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>

#include "dsp.h"
#include "mp3decode.h"

// Direct-form biquad.
struct Biquad {
  double b0, b1, b2, a1, a2, z1, z2;
};

// One sample through a biquad (transposed direct form II).
static double biquadRun(Biquad &q, double x) {
  double y = q.b0 * x + q.z1;
  q.z1 = q.b1 * x - q.a1 * y + q.z2;
  q.z2 = q.b2 * x - q.a2 * y;
  return y;
}

// The two K-weighting stages (high shelf, then high-pass), derived for 44.1 kHz
// from the analog prototypes of the loudness standard.
static std::array<Biquad, 2> kWeighting() {
  double f0 = 1681.974450955533, gdb = 3.999843853973347, q = 0.7071752369554196;
  double k = std::tan(kPi * f0 / kRate);
  double vh = std::pow(10.0, gdb / 20.0);
  double vb = std::pow(vh, 0.4996667741545416);
  double a0 = 1.0 + k / q + k * k;
  Biquad shelf{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
               2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0, 0.0, 0.0};
  f0 = 38.13547087602444;
  q = 0.5003270373238773;
  k = std::tan(kPi * f0 / kRate);
  a0 = 1.0 + k / q + k * k;
  Biquad hp{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0, 0.0, 0.0};
  return {shelf, hp};
}

// Loudness of a block's mean square, in LUFS.
static double blockLoudness(double p) {
  return -0.691 + 10.0 * std::log10(std::max(p, 1e-30));
}

// Sum of the blocks louder than both -70 LUFS and the gate, and how many they are.
static double gatedSum(const std::vector<double> &blocks, double gate, size_t &cnt) {
  double sum = 0.0;
  cnt = 0;
  for (double p : blocks) {
    if (blockLoudness(p) > -70.0 && blockLoudness(p) > gate) {
      sum += p;
      ++cnt;
    }
  }
  return sum;
}

// K-weighted mean square in 100 ms pieces, 400 ms blocks, absolute and relative gates.
double integratedLufs(const Mix &m) {
  const size_t n = m.l.size();
  const size_t hop = 4410;    // 100 ms
  std::vector<double> power;  // mean square per 100 ms piece, both channels summed
  auto kl = kWeighting(), kr = kWeighting();
  double acc = 0.0;
  for (size_t i = 0; i < n; ++i) {
    double l = biquadRun(kl[1], biquadRun(kl[0], m.l[i]));
    double r = biquadRun(kr[1], biquadRun(kr[0], m.r[i]));
    acc += l * l + r * r;
    if ((i + 1) % hop == 0) {
      power.push_back(acc / static_cast<double>(hop));
      acc = 0.0;
    }
  }
  // 400 ms blocks overlapping by 75 %.
  std::vector<double> blocks;
  for (size_t i = 0; i + 4 <= power.size(); ++i) {
    blocks.push_back((power[i] + power[i + 1] + power[i + 2] + power[i + 3]) / 4.0);
  }
  // The absolute gate at -70 LUFS first, then the relative one 10 LU under what passed it.
  size_t cnt = 0;
  double sum = gatedSum(blocks, -70.0, cnt);
  if (cnt == 0) return -70.0;
  sum = gatedSum(blocks, blockLoudness(sum / static_cast<double>(cnt)) - 10.0, cnt);
  return cnt ? blockLoudness(sum / static_cast<double>(cnt)) : -70.0;
}

// Windowed-sinc taps for the three in-between points of 4x oversampling (32 taps each).
static std::array<std::array<double, 32>, 3> interpTaps() {
  std::array<std::array<double, 32>, 3> taps{};
  for (int ph = 1; ph <= 3; ++ph) {
    double frac = ph / 4.0;
    for (int k = 0; k < 32; ++k) {
      double x = (k - 15) - frac;  // sample offset from the point being made
      double sinc = std::sin(kPi * x) / (kPi * x);
      double w = 0.5 + 0.5 * std::cos(kPi * x / 16.5);
      taps[static_cast<size_t>(ph - 1)][static_cast<size_t>(k)] = sinc * w;
    }
  }
  return taps;
}

// Peak of one channel around sample i: the sample itself and the three points after it.
static double localPeak(const std::vector<double> &x, size_t i, const std::array<std::array<double, 32>, 3> &taps) {
  double p = std::fabs(x[i]);
  if (i < 15 || i + 17 > x.size()) return p;
  for (const auto &t : taps) {
    double v = 0.0;
    for (size_t k = 0; k < 32; ++k) v += t[k] * x[i - 15 + k];
    p = std::max(p, std::fabs(v));
  }
  return p;
}

// Per-sample true-peak envelope of both channels.
static std::vector<double> peakEnvelope(const Mix &m) {
  auto taps = interpTaps();
  std::vector<double> p(m.l.size());
  for (size_t i = 0; i < p.size(); ++i) p[i] = std::max(localPeak(m.l, i, taps), localPeak(m.r, i, taps));
  return p;
}

// Largest value of the oversampled peak envelope.
double truePeak(const Mix &m) {
  std::vector<double> p = peakEnvelope(m);
  return p.empty() ? 0.0 : *std::max_element(p.begin(), p.end());
}

// Limiter gain curve for a signal scaled by gain whose true-peak envelope is peak:
// look-ahead minimum, slow release, then a box average over the look-ahead, which
// keeps every sample's gain at or below what its own peak needs.
static std::vector<double> limiterGain(const std::vector<double> &peak, double gain, double ceiling) {
  const size_t la = 88;  // 2 ms
  const size_t n = peak.size();
  std::vector<double> need(n);
  for (size_t i = 0; i < n; ++i) {
    double p = peak[i] * gain;
    need[i] = p > ceiling ? ceiling / p : 1.0;
  }
  // Minimum over [i, i + la] with a monotonic queue.
  std::vector<double> held(n);
  std::deque<size_t> q;
  for (size_t j = n; j-- > 0;) {
    while (!q.empty() && need[q.back()] >= need[j]) q.pop_back();
    q.push_back(j);
    while (q.front() > j + la) q.pop_front();
    held[j] = need[q.front()];
  }
  const double rel = 1.0 - std::exp(-1.0 / (0.12 * kRate));
  double g = 1.0;
  for (size_t i = 0; i < n; ++i) {
    g = std::min(held[i], g + (1.0 - g) * rel);
    held[i] = g;
  }
  std::vector<double> out(n);
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    sum += held[i];
    if (i > la) sum -= held[i - la - 1];
    out[i] = sum / static_cast<double>(std::min(i + 1, la + 1));
    if (i < la) out[i] = std::min(out[i], held[i]);
  }
  return out;
}

// Removes DC and subsonics, fades the start in over 10 ms and the last bars out to silence.
static void highPassAndFade(Mix &m) {
  // DC and subsonic removal: second-order high-pass at 18 Hz on each side.
  Svf hl{}, hr{};
  const double g = svfCoef(18.0);
  // The last bars fade to silence; the tail after them is cut to zero.
  const double fadeFrom = static_cast<double>(barSample(kSections.end - 4.5));
  const double fadeTo = static_cast<double>(kTotal) - 0.15 * kRate;
  for (size_t i = 0; i < m.l.size(); ++i) {
    double t = static_cast<double>(i);
    double a = 1.0;
    if (t >= fadeTo) {
      a = 0.0;
    } else if (t > fadeFrom) {
      double x = (t - fadeFrom) / (fadeTo - fadeFrom);
      a = (1.0 - x) * (1.0 - x) * (0.5 + 0.5 * std::cos(kPi * x));
    }
    if (i < 441) a *= static_cast<double>(i) / 441.0;
    m.l[i] = svfRun(hl, m.l[i], g, 1.414).high * a;
    m.r[i] = svfRun(hr, m.r[i], g, 1.414).high * a;
  }
}

// High-pass, end fade, then gain and limiter iterated until the loudness is on target.
MasterReport master(Mix &m, double targetLufs, double ceilingDb) {
  const size_t n = m.l.size();
  highPassAndFade(m);
  const double ceiling = std::pow(10.0, ceilingDb / 20.0) * 0.995;  // small margin for the estimate
  std::vector<double> peak = peakEnvelope(m);
  double gain = 1.0;
  Mix work{std::vector<double>(n), std::vector<double>(n)};
  std::vector<double> gc;
  double lufs = 0.0;
  for (int iter = 0; iter < 8; ++iter) {
    gc = limiterGain(peak, gain, ceiling);
    for (size_t i = 0; i < n; ++i) {
      work.l[i] = m.l[i] * gain * gc[i];
      work.r[i] = m.r[i] * gain * gc[i];
    }
    lufs = integratedLufs(work);
    if (std::fabs(lufs - targetLufs) < 0.02) break;
    gain *= std::pow(10.0, (targetLufs - lufs) / 20.0);
  }
  double minGc = gc.empty() ? 1.0 : *std::min_element(gc.begin(), gc.end());
  const auto over = std::count_if(gc.begin(), gc.end(), [](double v) { return v < 0.8912509381337456; });
  // Safety: the gain curve changes between samples, so verify and trim if needed.
  double tp = truePeak(work);
  double lim = std::pow(10.0, ceilingDb / 20.0);
  if (tp > lim) {
    double s = lim / tp * 0.999;
    for (size_t i = 0; i < n; ++i) {
      work.l[i] *= s;
      work.r[i] *= s;
    }
    tp *= s;
    lufs = integratedLufs(work);
  }
  m.l.swap(work.l);
  m.r.swap(work.r);
  return {20.0 * std::log10(gain), lufs, 20.0 * std::log10(tp), 20.0 * std::log10(minGc),
          n ? static_cast<double>(over) / static_cast<double>(n) : 0.0};
}

// Dithered rounding to 16 bits, clamped to the sample range.
Pcm16 toPcm16(const Mix &m) {
  Pcm16 pcm;
  pcm.samples.resize(m.l.size() * 2);
  XorShift rng{0x5EEDF00DCAFEULL};
  for (size_t i = 0; i < m.l.size(); ++i) {
    for (int c = 0; c < 2; ++c) {
      double x = (c ? m.r[i] : m.l[i]) * 32767.0;
      // Silence stays digital silence; elsewhere triangular dither of one LSB.
      if (x != 0.0) x += xorShiftUniform(rng) - xorShiftUniform(rng);
      double v = std::clamp(std::round(x), -32768.0, 32767.0);
      pcm.samples[2 * i + static_cast<size_t>(c)] = static_cast<int16_t>(v);
    }
  }
  return pcm;
}

// Decodes with the shared portable float decoder and splits the channels.
bool decodeMp3(const Bytes &data, Mix &out, std::vector<float> &pcm) {
  out = {};
  std::string error;
  if (!mp3DecodeFloat(data.data(), data.size(), pcm, error)) return false;
  out.l.reserve(pcm.size() / 2);
  out.r.reserve(pcm.size() / 2);
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    out.l.push_back(static_cast<double>(pcm[i]));
    out.r.push_back(static_cast<double>(pcm[i + 1]));
  }
  return true;
}

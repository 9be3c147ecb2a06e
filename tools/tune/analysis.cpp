// Onsets by spectral flux over short windows, the beat that folds them most sharply, and the
// strongest onset near a time.
#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "fft.h"

// Window and hop of the analysis: 5.8 ms windows every 1.45 ms, short enough that an onset is
// placed within a few milliseconds.
constexpr size_t kWindow = 256;
constexpr size_t kHop = 64;
// The flux is taken below 4 kHz, where the kick, the snare and the clap mark the beat; above it
// the hats' offbeats would outweigh them.
constexpr double kTopHz = 4000.0;
// Bins of one beat period when the onsets are folded onto it.
constexpr int kFoldBins = 512;

Onsets onsetsOf(const std::vector<float> &stereo, double rate) {
  Onsets o;
  o.hopSeconds = static_cast<double>(kHop) / rate;
  o.offsetSeconds = static_cast<double>(kWindow / 2) / rate;
  const size_t frames = stereo.size() / 2;
  const std::vector<double> hann = hannWindow(kWindow);
  std::vector<double> previous(kWindow / 2, 0.0), level(kWindow / 2);
  std::vector<std::complex<double>> x(kWindow);
  const size_t top = std::min(kWindow / 2, static_cast<size_t>(kTopHz / rate * kWindow) + 1);
  for (size_t start = 0; start + kWindow <= frames; start += kHop) {
    for (size_t i = 0; i < kWindow; ++i) {
      const size_t s = 2 * (start + i);
      x[i] = 0.5 * (static_cast<double>(stereo[s]) + static_cast<double>(stereo[s + 1])) * hann[i];
    }
    fftInPlace(x);
    double rise = 0.0;
    for (size_t k = 1; k < top; ++k) {
      level[k] = std::log1p(1000.0 * std::abs(x[k]));
      rise += std::max(0.0, level[k] - previous[k]);
    }
    o.flux.push_back(start == 0 ? 0.0 : rise);
    std::swap(level, previous);
  }
  return o;
}

Onsets lowOnsetsOf(const std::vector<float> &stereo, double rate) {
  Onsets o;
  o.hopSeconds = static_cast<double>(kHop) / rate;
  // A second-order Butterworth low-pass at 150 Hz (bilinear transform).
  const double k = std::tan(M_PI * 150.0 / rate), norm = 1.0 / (1.0 + M_SQRT2 * k + k * k);
  const double b0 = k * k * norm, a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - M_SQRT2 * k + k * k) * norm;
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  std::vector<double> hopEnergy;
  double sum = 0.0;
  for (size_t i = 0; i < stereo.size() / 2; ++i) {
    const double x = 0.5 * (static_cast<double>(stereo[2 * i]) + static_cast<double>(stereo[2 * i + 1]));
    const double y = b0 * (x + 2.0 * x1 + x2) - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    sum += y * y;
    if ((i + 1) % kHop == 0) hopEnergy.push_back(sum), sum = 0.0;
  }
  // A window is kWindow / kHop hops; its energy against that of the window that ends where it starts.
  const size_t span = kWindow / kHop;
  for (size_t h = 0; h + span <= hopEnergy.size(); ++h) {
    double now = 1e-9, before = 1e-9;
    for (size_t j = 0; j < span; ++j) now += hopEnergy[h + j];
    for (size_t j = 1; j <= span && j <= h; ++j) before += hopEnergy[h - j];
    o.flux.push_back(h < span ? 0.0 : std::max(0.0, std::log(now / before)));
  }
  return o;
}

// Folds the onsets onto a period: the onset strength in each of kFoldBins parts of it.
static std::vector<double> fold(const Onsets &o, double period) {
  std::vector<double> bins(kFoldBins, 0.0);
  for (size_t k = 0; k < o.flux.size(); ++k) {
    const double at = std::fmod(static_cast<double>(k) * o.hopSeconds + o.offsetSeconds, period) / period;
    bins[std::min<size_t>(static_cast<size_t>(at * kFoldBins), kFoldBins - 1)] += o.flux[k];
  }
  return bins;
}

// The peak of a fold, refined between its neighbours, as a fraction of the period.
static double foldPeak(const std::vector<double> &bins, double &height) {
  const size_t at = static_cast<size_t>(std::max_element(bins.begin(), bins.end()) - bins.begin());
  const double l = bins[(at + kFoldBins - 1) % kFoldBins], c = bins[at], r = bins[(at + 1) % kFoldBins];
  const double curve = l - 2.0 * c + r;
  height = c;
  const double shift = curve < 0.0 ? 0.5 * (l - r) / curve : 0.0;
  return (static_cast<double>(at) + 0.5 + shift) / kFoldBins;
}

// The lag, in hops, between shortest and longest at which the onsets correlate best with
// themselves shifted: the rough length of the beat.
static size_t roughPeriod(const Onsets &o, double shortest, double longest) {
  double mean = 0.0;
  for (double v : o.flux) mean += v / static_cast<double>(o.flux.size());
  size_t best = 0;
  double bestSum = -1e300;
  for (size_t lag = static_cast<size_t>(shortest / o.hopSeconds); lag <= static_cast<size_t>(longest / o.hopSeconds); ++lag) {
    double sum = 0.0;
    for (size_t k = 0; k + lag < o.flux.size(); ++k) sum += (o.flux[k] - mean) * (o.flux[k + lag] - mean);
    if (sum > bestSum) bestSum = sum, best = lag;
  }
  return best;
}

Beat beatOf(const Onsets &o, double shortest, double longest) {
  // Around the rough period, the one whose fold gathers the onsets into the highest peak.
  const double rough = static_cast<double>(roughPeriod(o, shortest, longest)) * o.hopSeconds;
  Beat best;
  double bestHeight = -1.0;
  for (double p = rough * 0.99; p <= rough * 1.01; p += rough * 0.00005) {
    double height = 0.0;
    const double at = foldPeak(fold(o, p), height) * p;
    if (height <= bestHeight) continue;
    bestHeight = height;
    best.period = p;
    best.phase = at > p / 2 ? at - p : at;
  }
  return best;
}

double strongestOnset(const Onsets &o, double near, double window) {
  const auto frame = [&](double t) { return static_cast<long>(std::lround((t - o.offsetSeconds) / o.hopSeconds)); };
  const long first = std::max(frame(near - window), 1L);
  const long last = std::min(frame(near + window), static_cast<long>(o.flux.size()) - 2);
  long at = first;
  for (long k = first; k <= last; ++k) {
    if (o.flux[static_cast<size_t>(k)] > o.flux[static_cast<size_t>(at)]) at = k;
  }
  return static_cast<double>(at) * o.hopSeconds + o.offsetSeconds;
}

// The synthesiser's oscillators and envelopes on signals with known answers: aliasing, DC and
// clicks are faults a byte-exact render cannot point at and a listener would hardly pin down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "dsp.h"

namespace {

// Magnitude of one frequency in a signal: a single DFT bin under a Hann window.
double magnitudeAt(const std::vector<double> &x, double hz) {
  std::complex<double> acc = 0.0;
  const double n = static_cast<double>(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / n);
    acc += x[i] * w * std::polar(1.0, -2.0 * kPi * hz * static_cast<double>(i) / kRate);
  }
  return std::abs(acc) / (n / 4.0);
}

}  // namespace

// Each oscillator (saw, and pulses of several widths) against the same wave drawn naively from
// its phase: the fundamental stays, the harmonics that fold back under Nyquist are at least 10 dB
// weaker, and the pulses are offset to zero mean whatever their width.
TEST(TuneOscillators, PolyBlepWavesAliasLessAndHaveNoDc) {
  const double f = 3000.0, dt = f / kRate;  // harmonics 9 and 11 fold back to 17.1 and 11.1 kHz
  for (double pw : {0.0, 0.1, 0.3, 0.5, 0.8}) {
    SCOPED_TRACE(pw == 0.0 ? "saw" : "pulse of width " + std::to_string(pw));
    Osc o{0.0};
    std::vector<double> band(16384), naive(16384);
    double mean = 0.0;
    for (size_t i = 0; i < band.size(); ++i) {
      const double p = o.phase;
      naive[i] = pw == 0.0 ? 2.0 * p - 1.0 : (p < pw ? 1.0 : -1.0) - (2.0 * pw - 1.0);
      band[i] = pw == 0.0 ? oscSaw(o, dt) : oscPulse(o, dt, pw);
      mean += band[i] / static_cast<double>(band.size());
    }
    const double fundBand = magnitudeAt(band, f), fundNaive = magnitudeAt(naive, f);
    EXPECT_NEAR(fundBand / fundNaive, 1.0, 0.1);
    for (double alias : {17100.0, 11100.0}) {
      const double bandDb = 20.0 * std::log10(magnitudeAt(band, alias) / fundBand);
      EXPECT_LT(bandDb, 20.0 * std::log10(magnitudeAt(naive, alias) / fundNaive) - 10.0) << alias << " Hz";
    }
    EXPECT_NEAR(mean, 0.0, 5e-3);
  }
}

// Envelopes start and end at zero, peak where the gate allows, and never change between two
// samples by more than their steepest ramp (the attack, or the start of the release), wherever the
// gate falls: notes do not click.
TEST(TuneEnvelopes, AdsrNeverStepsWhereverTheGateFalls) {
  struct Env {
    double gate, a, d, s, r;
  };
  for (const Env &e : {Env{0.2, 0.003, 0.25, 0.65, 0.03},   // released in the sustain
                       Env{0.05, 0.003, 0.25, 0.65, 0.03},  // released in the decay
                       Env{0.1, 0.5, 1.5, 0.8, 0.9}}) {     // released in the attack
    SCOPED_TRACE("gate " + std::to_string(e.gate) + " attack " + std::to_string(e.a));
    double prev = 0.0, worst = 0.0, peak = 0.0;
    for (int i = 0; i <= static_cast<int>((e.gate + e.r) * kRate) + 10; ++i) {
      const double v = adsr(i / kRate, e.gate, e.a, e.d, e.s, e.r);
      worst = std::max(worst, std::fabs(v - prev));
      peak = std::max(peak, v);
      prev = v;
    }
    EXPECT_EQ(adsr(0.0, e.gate, e.a, e.d, e.s, e.r), 0.0);
    EXPECT_EQ(prev, 0.0);
    EXPECT_NEAR(peak, std::min(1.0, e.gate / e.a), 1e-3);
    EXPECT_LE(worst, std::max(1.0 / e.a, 2.0 / e.r) / kRate * 1.001);
  }
}

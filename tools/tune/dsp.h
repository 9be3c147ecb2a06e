// Building blocks of the synthesiser: band-limited oscillators, filters, envelopes (the noise comes
// from the shared xorshift64* generator in rng.h).
// Everything is plain double arithmetic so that a render is the same bit for bit each time.
#ifndef PARKHAUS_TUNE_DSP_H
#define PARKHAUS_TUNE_DSP_H

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "rng.h"
#include "timeline.h"

constexpr double kRate = static_cast<double>(kMusicRate);

// Equal-tempered frequency of a MIDI note number.
inline double midiHz(double note) {
  return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Correction around a phase wrap that removes most of the aliasing of a hard edge.
inline double polyBlep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

// Phase accumulator in [0, 1).
struct Osc {
  double phase;
};

// Advances the phase by dt cycles.
inline void oscStep(Osc &o, double dt) {
  o.phase += dt;
  if (o.phase >= 1.0) o.phase -= 1.0;
}

// Band-limited sawtooth, -1..1; dt = frequency / rate.
inline double oscSaw(Osc &o, double dt) {
  double v = 2.0 * o.phase - 1.0 - polyBlep(o.phase, dt);
  oscStep(o, dt);
  return v;
}

// Band-limited pulse with duty cycle pw, offset so that its mean is zero.
inline double oscPulse(Osc &o, double dt, double pw) {
  double v = (o.phase < pw ? 1.0 : -1.0) - (2.0 * pw - 1.0);
  v += polyBlep(o.phase, dt);
  double t2 = o.phase - pw;
  if (t2 < 0.0) t2 += 1.0;
  v -= polyBlep(t2, dt);
  oscStep(o, dt);
  return v;
}

// Sine.
inline double oscSine(Osc &o, double dt) {
  double v = std::sin(2.0 * kPi * o.phase);
  oscStep(o, dt);
  return v;
}

// State-variable filter in trapezoidal form: stable under fast cutoff changes.
struct Svf {
  double ic1, ic2;
};

// The filter's three outputs for one sample.
struct SvfOut {
  double low, band, high;
};

// Prewarped cutoff coefficient, kept safely below Nyquist.
inline double svfCoef(double hz) {
  hz = std::clamp(hz, 10.0, 0.45 * kRate);
  return std::tan(kPi * hz / kRate);
}

// One sample through the filter; k = 1/Q (2 = no resonance, small = sharp peak).
inline SvfOut svfRun(Svf &f, double x, double g, double k) {
  double a1 = 1.0 / (1.0 + g * (g + k));
  double a2 = g * a1;
  double a3 = g * a2;
  double v3 = x - f.ic2;
  double v1 = a1 * f.ic1 + a2 * v3;
  double v2 = f.ic2 + a2 * f.ic1 + a3 * v3;
  f.ic1 = 2.0 * v1 - f.ic1;
  f.ic2 = 2.0 * v2 - f.ic2;
  return {v2, v1, x - k * v1 - v2};
}

// One-pole smoother / lowpass.
struct OnePole {
  double z;
};

// Coefficient for a one-pole lowpass at hz.
inline double onePoleCoef(double hz) {
  return 1.0 - std::exp(-2.0 * kPi * hz / kRate);
}

// One sample of the one-pole lowpass.
inline double onePoleLowPass(OnePole &f, double x, double a) {
  f.z += a * (x - f.z);
  return f.z;
}

// Envelope level at t seconds after note-on for a note held gate seconds:
// linear attack, exponential decay towards sustain, release that reaches exactly zero
// after r seconds with a smooth end (no step at either end of a note).
inline double adsr(double t, double gate, double a, double d, double s, double r) {
  if (t < 0.0) return 0.0;
  auto held = [&](double u) { return u < a ? u / a : s + (1.0 - s) * std::exp(-(u - a) / d); };
  if (t < gate) return held(t);
  double x = (t - gate) / r;
  if (x >= 1.0) return 0.0;
  return held(gate) * (1.0 - x) * (1.0 - x);
}

// Equal-power pan gains for p in -1 (left) .. 1 (right).
inline void panGains(double p, double &gl, double &gr) {
  double a = (p + 1.0) * 0.25 * kPi;
  gl = std::cos(a);
  gr = std::sin(a);
}

#endif

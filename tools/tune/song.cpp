// The piece: the bar plans and melodies, the drum and pitched voices, the delay and reverb, and the
// arrangement that plays them all into the mix.
#include "song.h"

#include <array>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "dsp.h"

// Late sixteenths are pushed back by 6 % of a step for a little groove.
static constexpr double kSwing = 0.06;

// Everything the voices write into: the dry stereo mix, the mono sends to the
// ping-pong delay and to the reverb, and the sidechain shape the kick leaves.
struct Buses {
  std::vector<double> l, r, dly, rev, duck;
};

// One chord of the progression: bass root, pad voicing, and its third (3 minor, 4 major).
struct Chord {
  int root;
  std::array<int, 3> pad;
  int third;
};

// Chord for one letter of the bar plan.
static Chord chordOf(char c) {
  switch (c) {
  case 'a': return {33, {57, 60, 64}, 3};  // A minor
  case 'F': return {29, {57, 60, 65}, 4};  // F major
  case 'C': return {36, {55, 60, 64}, 4};  // C major
  case 'G': return {31, {55, 59, 62}, 4};  // G major
  case 'd': return {38, {57, 62, 65}, 3};  // D minor
  case 'E': return {40, {56, 59, 64}, 4};  // E major (harmonic minor dominant)
  default: return {40, {55, 59, 64}, 3};   // E minor
  }
}

// The bar plans: one character per bar, 70 bars, section by section (intro 9, build 6, theme
// 8 + 10, break 12, return 12, outro 13). The credits come back from each gap 1.6 bars after its
// middle (bars 10.6, 22.6, 34.6, 46.6 and 58.6); a fill or a riser leads each return.
static constexpr std::string_view kChords = "aaFFddEEE" "aFCGdE" "aFCGaFdE" "aFCGaFdEFE"
                                            "FGeaFGaadeFE" "aa" "aFCGaFdE" "dE" "aFCGaFdE" "aaaaa";
static constexpr std::string_view kBassPlan = "---------" "PP0115" "11211215" "2323234545"
                                              "LLLLLLLL00PP" "32" "34323432" "45" "3232LLLL-----";
static constexpr std::string_view kArpPlan = "-----1111" "111122" "12121212" "3333232323"
                                             "333333332222" "23" "23232311" "11" "1212121232---";
static constexpr std::string_view kKickPlan = "---------" "xfxxxf" "xxxxxxxf" "xxxxxxxxxx"
                                              "1-----------" "xf" "xxxxxfxx" "xf" "xxxx---------";
static constexpr std::string_view kSnarePlan = "---------" "-rxxxr" "xxxxxxxf" "xxxfxxxxxx"
                                               "----------rr" "xf" "xxxxxfxx" "xf" "xxxf---------";
static constexpr std::string_view kHatPlan = "---888sss" "ssssoo" "oooooooo" "oooooooooo"
                                             "--------88ss" "oo" "oooooooo" "oo" "oooossss88---";
static_assert(kChords.size() == kBars && kBassPlan.size() == kBars && kArpPlan.size() == kBars &&
              kKickPlan.size() == kBars && kSnarePlan.size() == kBars && kHatPlan.size() == kBars);

// Bass patterns, one character per sixteenth: r root, o octave, 5 fifth, 3 third,
// 7 minor seventh, upper case accented, '-' holds the previous note, '.' rests.
static constexpr std::array<std::string_view, 6> kBassPatterns = {
    "..r...r...r...r.", "..R..ro...R..ro.", "..R.ro.r..R.o.5r",
    "r.RorO.r..Ro.5.o", "..R..r.o..R.r-5-", "..R.ro.r.oR.O.O.",
};

// Arpeggio patterns: indices into the chord tones stacked over three octaves.
static constexpr std::array<std::array<int, 16>, 3> kArpPatterns = {{
    {0, 2, 4, 2, 1, 3, 5, 3, 0, 2, 4, 6, 5, 4, 3, 2},
    {0, 3, 1, 4, 2, 5, 3, 6, 4, 2, 5, 3, 6, 4, 2, 1},
    {0, 1, 2, 3, 4, 5, 6, 5, 4, 3, 2, 1, 0, 2, 4, 6},
}};

// Lead melody of the return from its third bar on, as the credits come back: one string per
// bar, note:length-in-sixteenths, '-' rests.
static constexpr std::array<std::string_view, 10> kLeadTune = {
    "E5:6 D5:2 C5:4 E5:4", "F5:6 E5:2 C5:4 A4:4", "G5:6 E5:2 C5:4 E5:2 G5:2", "D5:6 B4:2 G4:8",
    "E5:4 A5:4 G5:2 E5:2 C5:4", "F5:4 E5:2 D5:2 C5:4 A4:4", "D5:4 F5:4 A5:6 G5:2", "G#5:8 E5:4 B4:4",
    "A5:4 F5:4 D5:4 F5:4", "E5:8 G#5:4 B5:4",
};

// Bell counter-melody of the break (12 bars) and its echo in the outro (4 bars).
static constexpr std::array<std::string_view, 12> kBellBreak = {
    "A4:8 C5:8", "B4:8 D5:8", "E5:12 D5:4", "C5:16", "A4:8 C5:4 F5:4", "G5:8 F5:4 D5:4",
    "E5:16", "-:16", "F5:8 E5:4 D5:4", "E5:8 B4:8", "C5:8 A4:8", "G#4:8 B4:8",
};
static constexpr std::array<std::string_view, 4> kBellOutro = {
    "E5:6 D5:2 C5:4 E5:4", "F5:6 E5:2 C5:4 A4:4", "G5:6 E5:2 C5:4 E5:4", "D5:6 B4:2 G4:8",
};

int64_t gridSample(double step) {
  return std::llround(step * kStepSamples) - kCodecDelay;
}

// Start sample of a global sixteenth index, with swing on the late ones.
static int64_t stepTime(int64_t step) {
  return gridSample(static_cast<double>(step) + ((step & 1) ? kSwing : 0.0));
}

// Position in bars (fractional) of a sample of the render.
static double barPos(int64_t sample) {
  return static_cast<double>(sample + kCodecDelay) / (16.0 * kStepSamples);
}

// Exponential sweep from a to b as x runs 0..1.
static double sweep(double a, double b, double x) {
  x = std::clamp(x, 0.0, 1.0);
  return a * std::pow(b / a, x);
}

// Seeds a generator for one hit of one instrument, so hits do not depend on each other.
static XorShift seeded(uint64_t instrument, uint64_t index) {
  XorShift r{0x9E3779B97F4A7C15ULL ^ (instrument * 0x100000001B3ULL) ^ (index * 0xC2B2AE3D27D4EB4FULL)};
  if (r.s == 0) r.s = 1;
  for (int i = 0; i < 4; ++i) xorShiftNext(r);
  return r;
}

// Adds one stereo sample with its sends, ignoring anything past the end of the buffers.
static void emit(Buses &b, int64_t i, double l, double r, double dly, double rev) {
  if (i < 0 || i >= kTotal) return;
  size_t k = static_cast<size_t>(i);
  b.l[k] += l;
  b.r[k] += r;
  b.dly[k] += dly;
  b.rev[k] += rev;
}

// Sidechain gain at sample i for a given depth (1 = full duck right after a kick).
static double duckGain(const Buses &b, int64_t i, double depth) {
  if (i < 0 || i >= kTotal) return 1.0;
  return 1.0 - depth * b.duck[static_cast<size_t>(i)];
}

// Parses a note name such as "G#5" into a MIDI number; -1 for a rest.
static int parseNote(std::string_view s) {
  if (s.empty() || s[0] == '-') return -1;
  static constexpr int base[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  const bool sharp = s.size() > 1 && s[1] == '#';
  const int oct = s[sharp ? 2 : 1] - '0';
  return 12 * (oct + 1) + base[s[0] - 'A'] + (sharp ? 1 : 0);
}

// A melodic event: start and length in samples, MIDI note, velocity.
struct Note {
  int64_t start, len;
  int note;
  double vel;
};

// Turns bars of "note:len" text, one string of 16 sixteenths per bar, into notes from the given bar on.
static void parseBars(std::span<const std::string_view> bars, int bar, double vel, std::vector<Note> &out) {
  int64_t step = static_cast<int64_t>(bar) * 16;
  for (std::string_view text : bars) {
    std::istringstream tokens{std::string(text)};
    for (std::string tok; tokens >> tok;) {
      size_t colon = tok.find(':');
      int len = std::stoi(tok.substr(colon + 1));
      int n = parseNote(tok.substr(0, colon));
      if (n >= 0) out.push_back({stepTime(step), stepTime(step + len) - stepTime(step), n, vel});
      step += len;
    }
  }
}

// ---------------------------------------------------------------- drums

// Kick: a sine swept down from about 160 Hz to 48 Hz with a short click; also leaves
// its ducking shape for the instruments that must get out of its way.
static void kick(Buses &b, int64_t t0, double vel, uint64_t idx) {
  XorShift rng = seeded(1, idx);
  const int64_t len = static_cast<int64_t>(0.38 * kRate);
  Osc osc{0.0};
  Svf click{};
  for (int64_t j = 0; j < len; ++j) {
    double t = static_cast<double>(j) / kRate;
    double f = 50.0 + 115.0 * std::exp(-t / 0.026);
    double amp = std::exp(-t / 0.16) * std::min(1.0, t / 0.0006);
    double tail = j > len - 441 ? static_cast<double>(len - j) / 441.0 : 1.0;
    double s = std::tanh(1.6 * oscSine(osc, f / kRate)) / std::tanh(1.6);
    double n = svfRun(click, xorShiftBipolar(rng), svfCoef(3500.0), 1.2).band;
    s = s * amp + n * 0.5 * std::exp(-t / 0.0025) * std::min(1.0, t / 0.0004);
    s *= tail * vel * 0.5;
    emit(b, t0 + j, s, s, 0.0, 0.0);
  }
  // Ducking shape: a smooth dip that is already down when the kick starts (the
  // plan is known ahead), held for 30 ms, then back over ~200 ms.
  const int64_t lead = static_cast<int64_t>(0.004 * kRate);
  const int64_t dlen = static_cast<int64_t>(0.24 * kRate);
  for (int64_t j = -lead; j < dlen; ++j) {
    if (t0 + j < 0 || t0 + j >= kTotal) continue;
    double t = static_cast<double>(j) / kRate;
    double d = t < 0.0 ? 0.5 - 0.5 * std::cos(kPi * (t + 0.004) / 0.004)
                       : (t < 0.03 ? 1.0 : 0.5 + 0.5 * std::cos(kPi * (t - 0.03) / 0.21));
    double &slot = b.duck[static_cast<size_t>(t0 + j)];
    slot = std::max(slot, d * vel);
  }
}

// Snare: a short pitched body under band-passed noise.
static void snare(Buses &b, int64_t t0, double vel, uint64_t idx) {
  XorShift rng = seeded(2, idx);
  const int64_t len = static_cast<int64_t>(0.3 * kRate);
  Osc body{0.0};
  Svf nf{}, hp{};
  for (int64_t j = 0; j < len; ++j) {
    double t = static_cast<double>(j) / kRate;
    double fade = std::min(1.0, static_cast<double>(len - j) / 441.0) * std::min(1.0, t / 0.0008);
    double tone = oscSine(body, (185.0 + 60.0 * std::exp(-t / 0.01)) / kRate) * std::exp(-t / 0.045);
    double n = svfRun(nf, xorShiftBipolar(rng), svfCoef(5200.0), 1.0).low;
    n = svfRun(hp, n, svfCoef(1400.0), 1.4).high * std::exp(-t / 0.085);
    double s = (0.55 * tone + 0.8 * n) * fade * vel * 0.8;
    emit(b, t0 + j, s * 0.97, s, 0.0, s * 0.35);
  }
}

// Clap: three quick noise bursts and a short tail, band-passed.
static void clap(Buses &b, int64_t t0, double vel, uint64_t idx) {
  XorShift rng = seeded(3, idx);
  const int64_t len = static_cast<int64_t>(0.35 * kRate);
  Svf bp{};
  for (int64_t j = 0; j < len; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = 0.0;
    for (int k = 0; k < 3; ++k) {
      double u = t - 0.011 * k;
      if (u >= 0.0) env = std::max(env, std::min(1.0, u / 0.0005) * std::exp(-u / 0.005));
    }
    if (t > 0.022) env = std::max(env, 0.7 * std::exp(-(t - 0.022) / 0.11));
    double fade = std::min(1.0, static_cast<double>(len - j) / 441.0);
    double n = svfRun(bp, xorShiftBipolar(rng), svfCoef(1150.0), 0.8).band;
    double s = n * env * fade * vel * 1.0;
    emit(b, t0 + j, s, s * 0.85, 0.0, s * 0.5);
  }
}

// Metallic noise for hats and cymbals: six detuned pulse waves plus white noise.
using Metal = std::array<Osc, 6>;

// One sample of the metallic source.
static double metal(Metal &m, XorShift &rng, double noiseMix) {
  static constexpr std::array<double, 6> f = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
  double s = 0.0;
  for (size_t k = 0; k < 6; ++k) s += oscPulse(m[k], f[k] * 2.0 / kRate, 0.5);
  return (1.0 - noiseMix) * s / 6.0 + noiseMix * xorShiftBipolar(rng);
}

// Hi-hat, closed or open (decay in seconds); cut is its high-pass corner.
static void hat(Buses &b, int64_t t0, double vel, double decay, double cut, double pan, uint64_t idx) {
  XorShift rng = seeded(4, idx);
  const int64_t len = static_cast<int64_t>((decay * 5.0 + 0.01) * kRate);
  Metal m{};
  for (Osc &o : m) o.phase = xorShiftUniform(rng);
  Svf hp1{}, hp2{}, lp{};
  double gl, gr;
  panGains(pan, gl, gr);
  for (int64_t j = 0; j < len; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = std::min(1.0, t / 0.0005) * std::exp(-t / decay);
    double fade = std::min(1.0, static_cast<double>(len - j) / 220.0);
    double s = svfRun(hp1, metal(m, rng, 0.55), svfCoef(cut), 1.2).high;
    s = svfRun(hp2, s, svfCoef(cut), 1.6).high;
    s = svfRun(lp, s, svfCoef(14500.0), 1.4).low;
    s *= env * fade * vel * 0.8;
    emit(b, t0 + j, s * gl, s * gr, 0.0, s * 0.1);
  }
}

// Crash: long bright noise, a different stream on each side for width.
static void crash(Buses &b, int64_t t0, double vel, uint64_t idx) {
  XorShift rl = seeded(5, idx * 2), rr = seeded(5, idx * 2 + 1);
  const int64_t len = static_cast<int64_t>(2.6 * kRate);
  Metal ml{}, mr{};
  for (Osc &o : ml) o.phase = xorShiftUniform(rl);
  for (Osc &o : mr) o.phase = xorShiftUniform(rr);
  Svf hl{}, hr{}, ll{}, lr{};
  const double glp = svfCoef(15000.0);
  for (int64_t j = 0; j < len; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = std::min(1.0, t / 0.001) * std::exp(-t / 0.7) * std::min(1.0, static_cast<double>(len - j) / 4410.0);
    double l = svfRun(hl, metal(ml, rl, 0.7), svfCoef(4500.0), 1.3).high * env * vel * 0.4;
    double r = svfRun(hr, metal(mr, rr, 0.7), svfCoef(4500.0), 1.3).high * env * vel * 0.4;
    l = svfRun(ll, l, glp, 1.4).low;
    r = svfRun(lr, r, glp, 1.4).low;
    emit(b, t0 + j, l, r, 0.0, (l + r) * 0.2);
  }
}

// Riser: noise through a band-pass that sweeps up over the given number of bars.
static void riser(Buses &b, int64_t t0, int bars, double vel, uint64_t idx) {
  XorShift rl = seeded(6, idx * 2), rr = seeded(6, idx * 2 + 1);
  const int64_t len = barSample(barPos(t0) + bars) - t0;
  Svf fl{}, fr{};
  for (int64_t j = 0; j < len; ++j) {
    double x = static_cast<double>(j) / static_cast<double>(len);
    double g = svfCoef(sweep(250.0, 9000.0, x));
    double env = x * x * vel * 0.35 * std::min(1.0, static_cast<double>(len - j) / 220.0);
    double l = svfRun(fl, xorShiftBipolar(rl), g, 0.6).band * env;
    double r = svfRun(fr, xorShiftBipolar(rr), g, 0.6).band * env;
    emit(b, t0 + j, l, r, (l + r) * 0.2, (l + r) * 0.3);
  }
}

// ---------------------------------------------------------------- pitched voices

// Base cutoff of the bassline filter over the piece: rising through the build, breathing with
// the credits' sway (12 bars) after it.
static double bassCutoff(double bp) {
  const SectionBars &s = kSections;
  if (bp < s.theme) return sweep(140.0, 700.0, (bp - s.build) / (s.theme - s.build));
  if (bp < s.brk) return 420.0 + 380.0 * (0.5 - 0.5 * std::cos(2.0 * kPi * (bp - s.theme) / 12.0));
  if (bp < s.brk + 8) return 260.0;
  if (bp < s.ret) return sweep(260.0, 1400.0, (bp - (s.brk + 8)) / 4.0);
  if (bp < s.outro) return 560.0 + 520.0 * (0.5 - 0.5 * std::cos(2.0 * kPi * (bp - s.ret) / 12.0));
  return sweep(700.0, 160.0, (bp - s.outro) / 8.0);
}

// Resonant bass: saw and detuned square into a driven, peaky low-pass with a per-note
// filter envelope (stronger on accents), ducked under the kick.
static void bassNote(Buses &b, const Note &n, bool accent, double cutoff) {
  const int64_t rel = static_cast<int64_t>(0.03 * kRate);
  const double gate = static_cast<double>(n.len) / kRate;
  double f = midiHz(n.note);
  Osc o1{0.0}, o2{0.25};
  Svf lp{}, hp{};
  double fdec = accent ? 0.22 : 0.12, famt = accent ? 5.0 : 2.6, k = accent ? 0.22 : 0.38;
  for (int64_t j = 0; j < n.len + rel; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = adsr(t, gate, 0.003, 0.25, 0.65, 0.03);
    double s = 0.7 * oscSaw(o1, f / kRate) + 0.45 * oscPulse(o2, f * 1.004 / kRate, 0.5);
    double fc = cutoff * (1.0 + famt * std::exp(-t / fdec));
    s = svfRun(lp, std::tanh(1.3 * s), svfCoef(fc), k).low;
    s = svfRun(hp, s, svfCoef(32.0), 1.4).high;
    s = std::tanh(1.2 * s) * env * n.vel * (accent ? 1.15 : 1.0) * 0.5;
    s *= duckGain(b, n.start + j, 0.85);
    emit(b, n.start + j, s, s, 0.0, 0.0);
  }
}

// Pad cutoff over the piece: opens through the intro, breathes, opens again as the credits come
// back in the break, closes in the outro.
static double padCutoff(double bp) {
  const SectionBars &s = kSections;
  if (bp < s.build) return sweep(220.0, 2200.0, bp / s.build);
  if (bp < s.theme) return 2200.0;
  if (bp < s.brk) return 1900.0 + 700.0 * std::sin(2.0 * kPi * (bp - s.theme) / 6.0);
  if (bp < s.brk + 1.6) return sweep(900.0, 2600.0, (bp - s.brk) / 1.6);
  if (bp < s.ret) return sweep(2600.0, 5200.0, (bp - s.brk - 1.6) / 10.4);
  if (bp < s.outro) return 2500.0 + 800.0 * std::sin(2.0 * kPi * (bp - s.ret) / 6.0);
  return sweep(2500.0, 180.0, (bp - s.outro) / 12.0);
}

// Pad level over the piece, falling to nothing over the last bars.
static double padLevel(double bp) {
  const SectionBars &s = kSections;
  if (bp < s.build) return 1.5;
  if (bp < s.theme) return 0.9;
  if (bp < s.brk) return 0.6;
  if (bp < s.ret) return 0.75;
  if (bp < s.outro) return 0.55;
  return 0.85 * std::clamp((s.end - 0.5 - bp) / 5.0, 0.0, 1.0);
}

// Pad chord: three detuned saws per note spread across the stereo field, low-passed.
static void padChord(Buses &b, int64_t start, int64_t len, const Chord &c, double attack, uint64_t idx) {
  XorShift rng = seeded(7, idx);
  const double release = 0.9;
  const int64_t total = len + static_cast<int64_t>(release * kRate);
  const double gate = static_cast<double>(len) / kRate;
  static constexpr std::array<double, 3> detune = {-0.09, 0.0, 0.09};
  static constexpr std::array<double, 3> spread = {-0.7, 0.0, 0.7};
  std::array<Osc, 12> osc{};
  std::array<double, 12> dt{}, gl{}, gr{};
  for (size_t v = 0; v < 12; ++v) {
    size_t note = v / 3;
    int midi = note < 3 ? c.pad[note] : c.root + 24;  // the fourth voice doubles the root below
    dt[v] = midiHz(midi + detune[v % 3]) / kRate;
    osc[v].phase = xorShiftUniform(rng);
    panGains(spread[v % 3] * (note == 3 ? 0.3 : 1.0), gl[v], gr[v]);
  }
  Svf fl{}, fr{};
  double g = 0.0;
  // Level and cutoff glide towards the section's values so that no step is heard.
  OnePole lvl{padLevel(barPos(start))}, cut{padCutoff(barPos(start))};
  const double glide = onePoleCoef(4.0);
  for (int64_t j = 0; j < total; ++j) {
    int64_t i = start + j;
    double level = onePoleLowPass(lvl, padLevel(barPos(i)), glide);
    double fc = onePoleLowPass(cut, padCutoff(barPos(i)), glide);
    if ((j & 15) == 0) g = svfCoef(fc * (1.0 + 0.08 * std::sin(2.0 * kPi * 0.13 * static_cast<double>(i) / kRate)));
    double t = static_cast<double>(j) / kRate;
    double env = adsr(t, gate, attack, 1.5, 0.8, release);
    double l = 0.0, r = 0.0;
    for (size_t v = 0; v < 12; ++v) {
      double s = oscSaw(osc[v], dt[v]);
      l += s * gl[v];
      r += s * gr[v];
    }
    l = svfRun(fl, l, g, 1.1).low;
    r = svfRun(fr, r, g, 1.1).low;
    double a = env * level * 0.085 * duckGain(b, i, 0.5);
    emit(b, i, l * a, r * a, (l + r) * a * 0.05, (l + r) * a * 0.4);
  }
}

// Arpeggio filter over the piece.
static double arpCutoff(double bp) {
  const SectionBars &s = kSections;
  if (bp < s.build) return sweep(500.0, 1500.0, (bp - 5.0) / 4.0);
  if (bp < s.theme) return sweep(1500.0, 3200.0, (bp - s.build) / (s.theme - s.build));
  if (bp < s.brk) return 3000.0;
  if (bp < s.ret) return 2200.0 + 1500.0 * (bp - s.brk) / 12.0;
  if (bp < s.outro) return 3600.0;
  return sweep(3600.0, 500.0, (bp - s.outro) / 10.0);
}

// Arpeggio pluck: a narrow pulse through a low-pass with a quick filter blip.
static void arpNote(Buses &b, const Note &n, double pan) {
  const int64_t rel = static_cast<int64_t>(0.05 * kRate);
  const double gate = static_cast<double>(n.len) / kRate;
  double f = midiHz(n.note);
  double cut = arpCutoff(barPos(n.start));
  Osc o{0.0};
  Svf lp{};
  double gl, gr;
  panGains(pan, gl, gr);
  double pw = 0.3 + 0.15 * std::sin(2.0 * kPi * barPos(n.start) / 6.0);
  for (int64_t j = 0; j < n.len + rel; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = adsr(t, gate, 0.002, 0.09, 0.2, 0.05);
    double s = svfRun(lp, oscPulse(o, f / kRate, pw), svfCoef(cut * (1.0 + 2.0 * std::exp(-t / 0.04))), 0.9).low;
    s *= env * n.vel * 0.2 * duckGain(b, n.start + j, 0.3);
    emit(b, n.start + j, s * gl, s * gr, s * 0.45, s * 0.2);
  }
}

// Lead: two detuned saws and a square an octave down, delayed vibrato, a soft filter.
static void leadNote(Buses &b, const Note &n) {
  const double release = 0.14;
  const int64_t rel = static_cast<int64_t>(release * kRate);
  const double gate = static_cast<double>(n.len) / kRate;
  Osc o1{0.0}, o2{0.37}, o3{0.61}, lfo{0.0};
  Svf lp{}, lps{};
  for (int64_t j = 0; j < n.len + rel; ++j) {
    double t = static_cast<double>(j) / kRate;
    double vib = 0.14 * std::min(1.0, std::max(0.0, (t - 0.22) / 0.3)) * oscSine(lfo, 5.4 / kRate);
    double f = midiHz(n.note + vib);
    double env = adsr(t, gate, 0.008, 0.35, 0.72, release);
    double a = oscSaw(o1, f * 0.9965 / kRate);
    double c = oscSaw(o2, f * 1.0035 / kRate);
    double sq = oscPulse(o3, f * 0.5 / kRate, 0.5);
    double l = 0.6 * a + 0.4 * c + 0.3 * sq;
    double r = 0.4 * a + 0.6 * c + 0.3 * sq;
    double g = svfCoef(2100.0 * (1.0 + 1.3 * std::exp(-t / 0.18)));
    SvfOut m = svfRun(lp, 0.5 * (l + r), g, 1.0);
    // The side signal keeps the detuned width, filtered like the common part.
    double side = svfRun(lps, 0.5 * (l - r), g, 1.0).low * 0.5;
    double amp = env * n.vel * 0.22 * duckGain(b, n.start + j, 0.15);
    double sl = (m.low + side) * amp, sr = (m.low - side) * amp;
    emit(b, n.start + j, sl, sr, (sl + sr) * 0.3, (sl + sr) * 0.3);
  }
}

// Bell: two-operator FM with a decaying index, for the break and the outro.
static void bellNote(Buses &b, const Note &n) {
  const double release = 0.5;
  const int64_t total = n.len + static_cast<int64_t>(release * kRate);
  const double gate = static_cast<double>(n.len) / kRate;
  double f = midiHz(n.note);
  Osc pc{0.0}, pm{0.0};  // carrier and modulator
  for (int64_t j = 0; j < total; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = adsr(t, gate, 0.003, 0.8, 0.25, release);
    double index = 0.4 + 1.8 * std::exp(-t / 0.35);
    double s = std::sin(2.0 * kPi * pc.phase + index * std::sin(2.0 * kPi * pm.phase));
    oscStep(pc, f / kRate);
    oscStep(pm, 2.0 * f / kRate);
    s *= env * n.vel * 0.12;
    emit(b, n.start + j, s * 0.9, s, s * 0.55, s * 0.5);
  }
}

// Chord stab: the chord an octave up on two detuned saws per note, a snappy filter.
static void stabChord(Buses &b, int64_t start, const Chord &c, double vel, uint64_t idx) {
  XorShift rng = seeded(8, idx);
  const double gate = 0.1, release = 0.06;
  const int64_t total = static_cast<int64_t>((gate + release) * kRate);
  std::array<Osc, 6> osc{};
  std::array<double, 6> dt{};
  for (size_t v = 0; v < 6; ++v) {
    dt[v] = midiHz(c.pad[v / 2] + 12 + (v & 1 ? 0.08 : -0.08)) / kRate;
    osc[v].phase = xorShiftUniform(rng);
  }
  Svf fl{}, fr{};
  for (int64_t j = 0; j < total; ++j) {
    double t = static_cast<double>(j) / kRate;
    double env = adsr(t, gate, 0.002, 0.12, 0.3, release);
    double l = 0.0, r = 0.0;
    for (size_t v = 0; v < 6; ++v) (v & 1 ? r : l) += oscSaw(osc[v], dt[v]);
    double g = svfCoef(700.0 + 4200.0 * std::exp(-t / 0.05));
    l = svfRun(fl, l, g, 0.8).low;
    r = svfRun(fr, r, g, 0.8).low;
    double a = env * vel * 0.07 * duckGain(b, start + j, 0.3);
    emit(b, start + j, l * a, r * a, (l + r) * a * 0.35, (l + r) * a * 0.3);
  }
}

// ---------------------------------------------------------------- effects

// Ping-pong delay of a dotted eighth with a band-limited feedback path, added to the mix.
static void delayFx(Buses &b) {
  const size_t d = static_cast<size_t>(std::llround(3 * kStepSamples));
  std::vector<double> dl(d, 0.0), dr(d, 0.0);
  OnePole lpl{}, lpr{}, hpl{}, hpr{};
  const double alp = onePoleCoef(3800.0), ahp = onePoleCoef(280.0);
  size_t pos = 0;
  for (size_t i = 0; i < static_cast<size_t>(kTotal); ++i) {
    double ol = dl[pos], orr = dr[pos];
    double fl = onePoleLowPass(lpl, ol, alp);
    fl -= onePoleLowPass(hpl, fl, ahp);
    double fr = onePoleLowPass(lpr, orr, alp);
    fr -= onePoleLowPass(hpr, fr, ahp);
    dl[pos] = b.dly[i] + fr * 0.42;
    dr[pos] = fl * 0.42;
    pos = pos + 1 == d ? 0 : pos + 1;
    b.l[i] += ol * 0.55;
    b.r[i] += orr * 0.55;
    b.rev[i] += (ol + orr) * 0.12;
  }
}

// Feedback comb with damping, as in the classic Schroeder-Moorer reverb.
struct Comb {
  std::vector<double> buf;
  size_t pos;
  double store;
};

// All-pass diffuser.
struct AllPass {
  std::vector<double> buf;
  size_t pos;
};

// One sample through a damped comb.
static double combRun(Comb &c, double x, double fb, double damp) {
  double out = c.buf[c.pos];
  c.store = out * (1.0 - damp) + c.store * damp;
  c.buf[c.pos] = x + c.store * fb;
  if (++c.pos == c.buf.size()) c.pos = 0;
  return out;
}

// One sample through an all-pass.
static double allPassRun(AllPass &a, double x) {
  double bo = a.buf[a.pos];
  a.buf[a.pos] = x + bo * 0.5;
  if (++a.pos == a.buf.size()) a.pos = 0;
  return bo - x;
}

// Stereo reverb of the mono send (pre-delayed, high-passed), added to the mix.
static void reverbFx(Buses &b) {
  static constexpr std::array<size_t, 8> combs = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
  static constexpr std::array<size_t, 4> aps = {556, 441, 341, 225};
  const size_t spread = 23;
  std::array<Comb, 8> cl, cr;
  std::array<AllPass, 4> al, ar;
  for (size_t k = 0; k < 8; ++k) {
    cl[k] = {std::vector<double>(combs[k], 0.0), 0, 0.0};
    cr[k] = {std::vector<double>(combs[k] + spread, 0.0), 0, 0.0};
  }
  for (size_t k = 0; k < 4; ++k) {
    al[k] = {std::vector<double>(aps[k], 0.0), 0};
    ar[k] = {std::vector<double>(aps[k] + spread, 0.0), 0};
  }
  const size_t pre = static_cast<size_t>(0.022 * kRate);
  OnePole hp{};
  const double ahp = onePoleCoef(220.0);
  const double fb = 0.86, damp = 0.3;
  for (size_t i = 0; i < static_cast<size_t>(kTotal); ++i) {
    double x = i >= pre ? b.rev[i - pre] : 0.0;
    x -= onePoleLowPass(hp, x, ahp);
    x *= 0.015;
    double l = 0.0, r = 0.0;
    for (size_t k = 0; k < 8; ++k) {
      l += combRun(cl[k], x, fb, damp);
      r += combRun(cr[k], x, fb, damp);
    }
    for (size_t k = 0; k < 4; ++k) {
      l = allPassRun(al[k], l);
      r = allPassRun(ar[k], r);
    }
    // The tail ducks lightly with the kick so the groove stays clear.
    double g = 1.0 - 0.35 * b.duck[i];
    b.l[i] += l * 0.9 * g;
    b.r[i] += r * 0.9 * g;
  }
}

// ---------------------------------------------------------------- arrangement

// Four on the floor; a fill bar ('f') trades the last beat for two quicker, softer kicks, and a
// last bar ('1') has its downbeat alone.
static void kickBar(Buses &b, int bar, char plan, uint64_t &hits) {
  const int64_t s0 = static_cast<int64_t>(bar) * 16;
  for (int s = 0; s < (plan == 'f' ? 12 : plan == '1' ? 1 : 16); s += 4) kick(b, stepTime(s0 + s), 1.0, hits++);
  if (plan != 'f') return;
  kick(b, stepTime(s0 + 14), 0.8, hits++);
  kick(b, stepTime(s0 + 15), 0.6, hits++);
}

// Backbeat of snare and clap with ghost notes every other bar; a fill bar ('f') adds a run into the next.
static void snareBar(Buses &b, int bar, char plan, XorShift &hum, uint64_t &hits) {
  const int64_t s0 = static_cast<int64_t>(bar) * 16;
  for (int s : {4, 12}) snare(b, stepTime(s0 + s), 0.95 + 0.05 * xorShiftUniform(hum), hits++);
  for (int s : {4, 12}) clap(b, stepTime(s0 + s) + 60, 0.9, hits++);
  if (bar % 4 == 1) snare(b, stepTime(s0 + 14), 0.22, hits++);
  if (bar % 4 == 3) snare(b, stepTime(s0 + 7), 0.2, hits++);
  static constexpr double run[3] = {0.45, 0.6, 0.8};
  if (plan != 'f') return;
  for (int k = 0; k < 3; ++k) snare(b, stepTime(s0 + 13 + k), run[k], hits++);
}

// Rolls: a pair of bars goes eighths -> sixteenths -> thirty-seconds;
// a single bar packs the same climb into one bar.
static void snareRollBar(Buses &b, int bar, uint64_t &hits) {
  const int64_t s0 = static_cast<int64_t>(bar) * 16;
  size_t ub = static_cast<size_t>(bar);
  bool first = ub + 1 < kSnarePlan.size() && kSnarePlan[ub + 1] == 'r';
  bool second = ub > 0 && kSnarePlan[ub - 1] == 'r';
  for (int s = 0; s < 16; ++s) {
    double x = s / 16.0;
    int sub = 1;
    double v;
    if (first) {
      if (s & 1) continue;
      v = 0.2 + 0.3 * x;
    } else if (second) {
      sub = s >= 8 ? 2 : 1;
      v = 0.4 + 0.4 * x;
    } else {
      if (s < 8 && (s & 1)) continue;
      sub = s >= 12 ? 2 : 1;
      v = 0.3 + 0.7 * x;
    }
    for (int hh = 0; hh < sub; ++hh) snare(b, gridSample(static_cast<double>(s0 + s) + 0.5 * hh), v, hits++);
  }
}

// Hats of one bar: offbeat eighths only ('8'), all sixteenths closed ('s'), or with open offbeats ('o');
// the intro opens their filter and level, the end of the outro fades them.
static void hatBar(Buses &b, int bar, char plan, XorShift &hum, uint64_t &hits) {
  const int64_t s0 = static_cast<int64_t>(bar) * 16;
  double cut = bar < kSections.build ? sweep(9000.0, 6500.0, bar / 9.0) : 7000.0;
  double lvl = bar < kSections.build ? 0.55 + 0.05 * bar : 1.0;
  if (bar >= kSections.outro + 8) lvl = 1.0 - 0.3 * (bar - kSections.outro - 7);
  for (int s = 0; s < 16; ++s) {
    bool off8 = (s % 4) == 2;
    if (plan == '8' && !off8) continue;
    double v = off8 ? 1.0 : ((s % 4) == 0 ? 0.55 : 0.42);
    v *= (0.88 + 0.12 * xorShiftUniform(hum)) * lvl;
    if (plan == 'o' && off8) hat(b, stepTime(s0 + s), v * 0.75, 0.11, 6500.0, -0.25, hits++);
    else hat(b, stepTime(s0 + s), v * 0.55, 0.028, cut, 0.25, hits++);
  }
  // A ride on the beats lifts the second half of the return.
  if (plan == 'o' && bar >= kSections.ret + 8 && bar < kSections.outro) {
    for (int s = 0; s < 16; s += 4) hat(b, stepTime(s0 + s), s == 0 ? 0.4 : 0.3, 0.3, 3800.0, -0.45, hits++);
  }
}

// Drums of one bar from the plans; hits numbers every hit so that each has a seed of its own.
static void drumBar(Buses &b, int bar, uint64_t &hits) {
  XorShift hum = seeded(20, static_cast<uint64_t>(bar));
  const size_t at = static_cast<size_t>(bar);
  if (kKickPlan[at] != '-') kickBar(b, bar, kKickPlan[at], hits);
  const char sn = kSnarePlan[at];
  if (sn == 'r') snareRollBar(b, bar, hits);
  if (sn != '-' && sn != 'r') snareBar(b, bar, sn, hum, hits);
  if (kHatPlan[at] != '-') hatBar(b, bar, kHatPlan[at], hum, hits);
}

// Semitones above the root for a note letter of a bass pattern.
static int bassInterval(char ch, const Chord &c) {
  if (ch == 'o' || ch == 'O') return 12;
  if (ch == '5') return 7;
  if (ch == '3') return c.third;
  return ch == '7' ? 10 : 0;
}

// One bar of a bass pattern: each note lasts until the next, less a little air.
static void bassPatternBar(Buses &b, int bar, std::string_view pat) {
  Chord c = chordOf(kChords[static_cast<size_t>(bar)]);
  double cut = bassCutoff(static_cast<double>(bar));
  int64_t s0 = static_cast<int64_t>(bar) * 16;
  for (int s = 0; s < 16; ++s) {
    char ch = pat[static_cast<size_t>(s)];
    if (ch == '.' || ch == '-') continue;
    int len = 1;
    while (s + len < 16 && pat[static_cast<size_t>(s + len)] == '-') ++len;
    int64_t start = stepTime(s0 + s);
    Note n{start, (stepTime(s0 + s + len) - start) * 8 / 10, c.root + bassInterval(ch, c), 0.9};
    bassNote(b, n, ch == 'R' || ch == 'O', cut * (1.0 + 0.1 * std::sin(s * 0.7 + bar)));
  }
}

// A held root under a bar of the break, darker than the patterns.
static void bassHeldBar(Buses &b, int bar) {
  Chord c = chordOf(kChords[static_cast<size_t>(bar)]);
  Note n{barSample(bar), barSample(bar + 1) - barSample(bar) - static_cast<int64_t>(0.04 * kRate), c.root, 0.6};
  bassNote(b, n, false, bassCutoff(static_cast<double>(bar)) * 0.6);
}

// Pumping sixteenths on the root with the offbeat an octave up, rising in level and filter.
static void bassPumpBar(Buses &b, int bar) {
  Chord c = chordOf(kChords[static_cast<size_t>(bar)]);
  int64_t s0 = static_cast<int64_t>(bar) * 16;
  for (int s = 0; s < 16; ++s) {
    Note n{stepTime(s0 + s), static_cast<int64_t>(kStepSamples * 0.6), c.root + (s % 4 == 2 ? 12 : 0), 0.6 + 0.2 * s / 16.0};
    bassNote(b, n, s % 4 == 2, bassCutoff(bar + s / 16.0));
  }
}

// Bass line from the plan: a held root ('L'), pumping sixteenths ('P') or one of the patterns.
static void bassTrack(Buses &b) {
  for (int bar = 0; bar < kBars; ++bar) {
    char p = kBassPlan[static_cast<size_t>(bar)];
    if (p == 'L') {
      bassHeldBar(b, bar);
    } else if (p == 'P') {
      bassPumpBar(b, bar);
    } else if (p != '-') {
      bassPatternBar(b, bar, kBassPatterns[static_cast<size_t>(p - '0')]);
    }
  }
}

// Pad: one voice per chord, held over two bars when the next bar repeats it; the last chord is
// held through the fade.
static void padTrack(Buses &b) {
  uint64_t idx = 0;
  int bar = 0;
  while (bar < kBars) {
    int end = bar + 1;
    if (end < kBars && kChords[static_cast<size_t>(end)] == kChords[static_cast<size_t>(bar)]) ++end;
    if (kChords.find_first_not_of(kChords[static_cast<size_t>(bar)], static_cast<size_t>(bar)) == std::string_view::npos) {
      end = kBars;
    }
    double attack = bar < kSections.build ? 1.2 : (bar >= kSections.brk && bar < kSections.ret ? 0.5 : 0.05);
    padChord(b, barSample(bar), barSample(end) - barSample(bar), chordOf(kChords[static_cast<size_t>(bar)]), attack, idx++);
    bar = end;
  }
}

// Level of the arpeggio in a bar: rising through the intro, back in the break, fading out.
static double arpLevel(int bar) {
  double lvl = bar < kSections.build ? 0.5 + 0.1 * (bar - 5) : 1.0;
  if (bar >= kSections.brk && bar < kSections.ret) lvl = 0.75;
  if (bar >= kSections.outro + 6) lvl = 1.0 - 0.25 * (bar - kSections.outro - 6);
  return lvl;
}

// One bar of the arpeggio: the pattern over the bar's chord, panned left and right in turn.
static void arpBar(Buses &b, int bar, const std::array<int, 16> &pat) {
  Chord c = chordOf(kChords[static_cast<size_t>(bar)]);
  double lvl = arpLevel(bar);
  // Every fourth bar the pattern climbs an octave higher in its second half,
  // as far as the pluck stays sweet (E6).
  int lift = (bar % 4 == 3) ? 12 : 0;
  for (int s = 0; s < 16; ++s) {
    int i = pat[static_cast<size_t>(s)];
    int midi = c.pad[static_cast<size_t>(i % 3)] + 12 * (i / 3) + 12;
    if (s >= 8 && midi + lift <= 88) midi += lift;
    int64_t s0 = static_cast<int64_t>(bar) * 16 + s;
    double v = ((s % 4) == 0 ? 1.0 : 0.72) * lvl;
    Note n{stepTime(s0), static_cast<int64_t>(kStepSamples * 0.55), midi, v};
    arpNote(b, n, (s & 1) ? 0.35 : -0.35);
  }
}

// Arpeggio from the plan.
static void arpTrack(Buses &b) {
  for (int bar = 0; bar < kBars; ++bar) {
    char p = kArpPlan[static_cast<size_t>(bar)];
    if (p != '-') arpBar(b, bar, kArpPatterns[static_cast<size_t>(p - '1')]);
  }
}

// Stabs in the second half of the theme and through the return: a two-bar rhythm.
static void stabTrack(Buses &b) {
  uint64_t idx = 0;
  for (int bar = 0; bar < kBars; ++bar) {
    bool on = (bar >= kSections.theme + 8 && bar < kSections.brk) || (bar >= kSections.ret + 2 && bar < kSections.outro);
    if (!on) continue;
    Chord c = chordOf(kChords[static_cast<size_t>(bar)]);
    int64_t s0 = static_cast<int64_t>(bar) * 16;
    const std::vector<int> steps = bar % 2 == 0 ? std::vector<int>{6, 14} : std::vector<int>{3, 6, 11};
    for (int s : steps) stabChord(b, stepTime(s0 + s), c, s == 3 ? 0.8 : 1.0, idx++);
  }
}

// Lead in the return from its third bar on, each note a little shorter than written.
static void leadTrack(Buses &b) {
  std::vector<Note> notes;
  parseBars(kLeadTune, kSections.ret + 2, 1.0, notes);
  for (const Note &n : notes) leadNote(b, {n.start, n.len - static_cast<int64_t>(kStepSamples / 4), n.note, n.vel});
}

// Bell in the break and an echo of the theme in the outro.
static void bellTrack(Buses &b) {
  std::vector<Note> notes;
  parseBars(kBellBreak, kSections.brk, 1.0, notes);
  parseBars(kBellOutro, kSections.outro + 4, 0.7, notes);
  for (const Note &n : notes) bellNote(b, n);
}

// Every track into the buses, the drums first: the kick leaves the ducking shape that the
// bass, pad, arpeggio, stabs and lead follow. Then the delay and the reverb returns.
Mix renderSong() {
  Buses b;
  for (std::vector<double> *bus : {&b.l, &b.r, &b.dly, &b.rev, &b.duck}) bus->assign(static_cast<size_t>(kTotal), 0.0);
  uint64_t hits = 0;
  for (int bar = 0; bar < kBars; ++bar) drumBar(b, bar, hits);
  // Crashes at the starts of the sections and where the credits come back (bars 11, 23, 47).
  const SectionBars &s = kSections;
  for (int bar : {s.build, s.build + 2, s.theme, s.theme + 8, s.brk, s.ret, s.ret + 2, s.outro}) {
    crash(b, stepTime(bar * 16), bar == s.theme || bar == s.brk || bar == s.ret ? 1.0 : 0.75, hits++);
  }
  // Risers into the build, into the theme, as the credits come back in the break, into the
  // return and into the outro.
  riser(b, barSample(s.build - 2), 2, 0.6, 0);
  riser(b, barSample(s.theme - 2), 2, 0.8, 1);
  riser(b, barSample(s.brk), 2, 0.35, 4);
  riser(b, barSample(s.ret - 2), 2, 0.6, 2);
  riser(b, barSample(s.outro - 2), 2, 0.5, 3);
  bassTrack(b);
  padTrack(b);
  arpTrack(b);
  stabTrack(b);
  leadTrack(b);
  bellTrack(b);
  delayFx(b);
  reverbFx(b);
  return {std::move(b.l), std::move(b.r)};
}

// tune: composes, renders, masters and encodes the demo's soundtrack.
//   tune OUT.mp3 [--wav OUT.wav] [--only kick,bass,...] [--raw] [--placeholder]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "dsp.h"
#include "files.h"
#include "master.h"
#include "mp3out.h"
#include "song.h"
#include "wav.h"

static constexpr size_t kFileSize = 2340864;
static constexpr double kTargetLufs = -14.0;
// First guesses for the PCM loudness and the limiter ceiling; the encoder takes a little
// loudness away (its low-pass) and adds some peak, and the loop corrects what is left.
static constexpr double kFirstPcmLufs = -13.6;
static constexpr double kCeilingDb = -1.85;
static constexpr double kMaxPeakDb = -1.2;  // what the decoded MP3 may reach (under -1 dBTP)

// A quiet, slowly fading A-minor chord: what the file held before the piece was done.
static Pcm16 renderPlaceholder() {
  Pcm16 pcm;
  const size_t frames = static_cast<size_t>(kTotal);
  pcm.samples.resize(frames * 2);
  const double freqs[3] = {220.0, 261.6255653005986, 329.6275569128699};
  for (size_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / kRate;
    double env = std::min(1.0, t / 2.0) * (1.0 - static_cast<double>(i) / static_cast<double>(frames));
    double s = 0;
    for (double f : freqs) s += std::sin(2.0 * kPi * f * t);
    int16_t v = static_cast<int16_t>(std::lround(s * env * 3000.0));
    pcm.samples[2 * i] = v;
    pcm.samples[2 * i + 1] = v;
  }
  return pcm;
}

// Track mask from a comma-separated list of names; 0 if a name is unknown.
static unsigned parseTracks(std::string_view list) {
  static constexpr struct {
    std::string_view name;
    unsigned bit;
  } names[] = {{"kick", kKick}, {"snare", kSnare}, {"hats", kHats},  {"cymbals", kCymbals},
               {"bass", kBass}, {"pad", kPad},     {"arp", kArp},    {"lead", kLead},
               {"bell", kBell}, {"riser", kRiser}, {"stabs", kStabs}};
  unsigned mask = 0;
  while (!list.empty()) {
    size_t c = list.find(',');
    std::string_view n = list.substr(0, c);
    list = c == std::string_view::npos ? std::string_view{} : list.substr(c + 1);
    unsigned bit = 0;
    for (const auto &e : names)
      if (e.name == n) bit = e.bit;
    if (!bit) return 0;
    mask |= bit;
  }
  return mask;
}

// Level of each section of the mastered mix, for checking the balance by numbers.
static void printSections(const Mix &m) {
  const SectionBars &s = kSections;
  const int bounds[] = {s.intro, s.build, s.theme, s.brk, s.ret, s.outro, s.end};
  const char *names[] = {"intro", "build", "theme", "break", "return", "outro"};
  for (int k = 0; k < 6; ++k) {
    size_t a = static_cast<size_t>(bounds[k] * kBar), b = static_cast<size_t>(bounds[k + 1] * kBar);
    double sum = 0.0, peak = 0.0, dc = 0.0;
    for (size_t i = a; i < b; ++i) {
      sum += m.l[i] * m.l[i] + m.r[i] * m.r[i];
      peak = std::max({peak, std::fabs(m.l[i]), std::fabs(m.r[i])});
      dc += m.l[i] + m.r[i];
    }
    double cnt = static_cast<double>(2 * (b - a));
    std::printf("tune: %-6s bars %2d-%2d  rms %6.1f dBFS  peak %6.1f dBFS  dc %.1e\n", names[k], bounds[k],
                bounds[k + 1] - 1, 10.0 * std::log10(sum / cnt + 1e-30), 20.0 * std::log10(peak + 1e-30), dc / cnt);
  }
}

// Masters, encodes, then decodes and measures the MP3 itself; corrects the loudness
// target and the limiter ceiling until the encoded file meets both.
static bool masterAndEncode(const Mix &mix, Pcm16 &pcm, Bytes &mp3) {
  double target = kFirstPcmLufs, ceiling = kCeilingDb;
  for (int pass = 0; pass < 5; ++pass) {
    Mix m = mix;
    MasterReport r = master(m, target, ceiling);
    pcm = toPcm16(m);
    if (!encodeMp3Cbr128(pcm, mp3)) {
      std::fprintf(stderr, "tune: encoder failed\n");
      return false;
    }
    Mix dec;
    if (!decodeMp3(mp3, dec)) {
      std::fprintf(stderr, "tune: the encoded stream does not decode\n");
      return false;
    }
    double lufs = integratedLufs(dec), tp = 20.0 * std::log10(truePeak(dec));
    std::printf(
        "tune: pass %d: gain %.2f dB, limiter down to %.2f dB (over 1 dB %.1f %% of the time); "
        "PCM %.2f LUFS %.2f dBTP; MP3 %.2f LUFS %.2f dBTP\n",
        pass, r.gainDb, r.maxReductionDb, 100.0 * r.shareOver1Db, r.lufs, r.truePeakDb, lufs, tp);
    bool loudOk = std::fabs(lufs - kTargetLufs) <= 0.1, peakOk = tp <= kMaxPeakDb;
    if (loudOk && peakOk) {
      printSections(m);
      return true;
    }
    if (!loudOk) target += kTargetLufs - lufs;
    if (!peakOk) ceiling -= tp - kMaxPeakDb + 0.05;
  }
  std::fprintf(stderr, "tune: loudness or peak still off target\n");
  return false;
}

// Parses the options, renders (or makes the placeholder), writes the WAV and the MP3.
int main(int argc, char **argv) {
  std::string out, wav;
  bool placeholder = false, raw = false;
  unsigned mask = kAllTracks;
  const char *usage = "usage: tune OUT.mp3 [--wav OUT.wav] [--only kick,bass,...] [--raw] [--placeholder]\n";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--wav") && i + 1 < argc)
      wav = argv[++i];
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      mask = parseTracks(argv[++i]);
      if (!mask) {
        std::fprintf(stderr, "tune: unknown track in %s\n", argv[i]);
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--raw"))
      raw = true;
    else if (!std::strcmp(argv[i], "--placeholder"))
      placeholder = true;
    else if (argv[i][0] != '-' && out.empty())
      out = argv[i];
    else {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  if (out.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  Pcm16 pcm;
  Bytes mp3, file;
  if (placeholder) {
    pcm = renderPlaceholder();
    if (!encodeMp3Cbr128(pcm, mp3)) {
      std::fprintf(stderr, "tune: encoder failed\n");
      return 1;
    }
  } else {
    Mix mix;
    renderSong(mix, mask);
    if (raw) {
      // Unmastered levels only, for balancing the tracks against each other.
      printSections(mix);
      return 0;
    }
    if (!masterAndEncode(mix, pcm, mp3)) return 1;
  }
  std::string error;
  Bytes wavFile;
  if (!wav.empty() && !wavEncode(pcm.samples, wavFile)) {
    std::fprintf(stderr, "tune: the render is too long for a WAV file\n");
    return 1;
  }
  if (!wav.empty() && !fileWrite(wav, wavFile, error)) {
    std::fprintf(stderr, "tune: %s\n", error.c_str());
    return 1;
  }
  if (!makeId3v2Tag("Parkhaus", "Tarvonell", mp3.size(), kFileSize, file)) {
    std::fprintf(stderr, "tune: %zu bytes of audio leave no room for the tag\n", mp3.size());
    return 1;
  }
  file.insert(file.end(), mp3.begin(), mp3.end());
  if (!fileWrite(out, file, error)) {
    std::fprintf(stderr, "tune: %s\n", error.c_str());
    return 1;
  }
  std::printf("tune: %zu bytes of audio, %zu of tag, %zu in all\n", mp3.size(), kFileSize - mp3.size(), file.size());
  return 0;
}

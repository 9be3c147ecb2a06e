// tune: composes, renders, masters and encodes the demo's soundtrack.
//   tune OUT.mp3 [--wav OUT.wav] [--only kick,bass,...] [--raw]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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
    for (const auto &e : names) {
      if (e.name == n) bit = e.bit;
    }
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

// What the command line asks for.
struct Options {
  std::string out, wav;
  unsigned mask = kAllTracks;
  bool raw = false;
};

// Reads the command line; false (with the reason printed) when it is not a valid one.
static bool parseOptions(int argc, char **argv, Options &o) {
  const char *usage = "usage: tune OUT.mp3 [--wav OUT.wav] [--only kick,bass,...] [--raw]\n";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--wav") && i + 1 < argc) {
      o.wav = argv[++i];
    } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      o.mask = parseTracks(argv[++i]);
      if (!o.mask) {
        std::fprintf(stderr, "tune: unknown track in %s\n", argv[i]);
        return false;
      }
    } else if (!std::strcmp(argv[i], "--raw")) {
      o.raw = true;
    } else if (argv[i][0] != '-' && o.out.empty()) {
      o.out = argv[i];
    } else {
      std::fputs(usage, stderr);
      return false;
    }
  }
  if (o.out.empty()) std::fputs(usage, stderr);
  return !o.out.empty();
}

// Writes the 16-bit render as a WAV file; false with the reason printed.
static bool writeWav(const std::string &path, const Pcm16 &pcm) {
  Bytes bytes;
  std::string error = "the render is too long for a WAV file";
  if (wavEncode(pcm.samples, bytes) && fileWrite(path, bytes, error)) return true;
  std::fprintf(stderr, "tune: %s\n", error.c_str());
  return false;
}

// Writes the tag and the MP3 frames as one file of exactly kFileSize bytes; false with the
// reason printed.
static bool writeMp3(const std::string &path, const Bytes &mp3) {
  Bytes file;
  if (!makeId3v2Tag("Parkhaus", "Tarvonell", mp3.size(), kFileSize, file)) {
    std::fprintf(stderr, "tune: %zu bytes of audio leave no room for the tag\n", mp3.size());
    return false;
  }
  file.insert(file.end(), mp3.begin(), mp3.end());
  std::string error;
  if (!fileWrite(path, file, error)) {
    std::fprintf(stderr, "tune: %s\n", error.c_str());
    return false;
  }
  std::printf("tune: %zu bytes of audio, %zu of tag, %zu in all\n", mp3.size(), kFileSize - mp3.size(), file.size());
  return true;
}

// Parses the options, renders, masters and encodes, and writes the WAV and the MP3.
int main(int argc, char **argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) return 2;
  Mix mix;
  renderSong(mix, o.mask);
  if (o.raw) {
    // Unmastered levels only, for balancing the tracks against each other.
    printSections(mix);
    return 0;
  }
  Pcm16 pcm;
  Bytes mp3;
  if (!masterAndEncode(mix, pcm, mp3)) return 1;
  if (!o.wav.empty() && !writeWav(o.wav, pcm)) return 1;
  return writeMp3(o.out, mp3) ? 0 : 1;
}

// tune: composes, renders, masters and encodes the demo's soundtrack.
//   tune OUT.mp3 [--wav OUT.wav]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "files.h"
#include "analysis.h"
#include "master.h"
#include "packlengths.h"
#include "song.h"
#include "timeline.h"
#include "wav.h"

static constexpr size_t kFileSize = packFixedLength("data/tune.mp3");
static constexpr double kTargetLufs = -14.0;
// First guesses for the PCM loudness and the limiter ceiling; the encoder takes a little
// loudness away (its low-pass) and adds some peak, and the loop corrects what is left.
static constexpr double kFirstPcmLufs = -13.6;
static constexpr double kCeilingDb = -1.85;
static constexpr double kMaxPeakDb = -1.2;  // what the decoded MP3 may reach (under -1 dBTP)

// Prints why a step failed; returns false.
static bool fail(const std::string &why) {
  std::fprintf(stderr, "tune: %s\n", why.c_str());
  return false;
}

// Masters, encodes, then decodes and measures the MP3 itself; corrects the loudness
// target and the limiter ceiling until the encoded file meets both. The last decode is kept.
static bool masterAndEncode(const Mix &mix, Pcm16 &pcm, Bytes &mp3, std::vector<float> &decoded) {
  double target = kFirstPcmLufs, ceiling = kCeilingDb;
  for (int pass = 0; pass < 5; ++pass) {
    Mix m = mix;
    MasterReport r = master(m, target, ceiling);
    pcm = toPcm16(m);
    if (!encodeMp3Cbr128(pcm, mp3)) return fail("encoder failed");
    Mix dec;
    if (!decodeMp3(mp3, dec, decoded)) return fail("the encoded stream does not decode");
    double lufs = integratedLufs(dec), tp = 20.0 * std::log10(truePeak(dec));
    std::printf(
        "tune: pass %d: gain %.2f dB, limiter down to %.2f dB (over 1 dB %.1f %% of the time); "
        "PCM %.2f LUFS %.2f dBTP; MP3 %.2f LUFS %.2f dBTP\n",
        pass, r.gainDb, r.maxReductionDb, 100.0 * r.shareOver1Db, r.lufs, r.truePeakDb, lufs, tp);
    bool loudOk = std::fabs(lufs - kTargetLufs) <= 0.1, peakOk = tp <= kMaxPeakDb;
    if (loudOk && peakOk) return true;
    if (!loudOk) target += kTargetLufs - lufs;
    if (!peakOk) ceiling -= tp - kMaxPeakDb + 0.05;
  }
  return fail("loudness or peak still off target");
}

// Writes the 16-bit render as a WAV file; false with the reason printed.
static bool writeWav(const std::string &path, const Pcm16 &pcm) {
  Bytes bytes;
  std::string error = "the render is too long for a WAV file";
  if (wavEncode(pcm.samples, bytes) && fileWrite(path, bytes, error)) return true;
  return fail(error);
}

// Writes the tag and the MP3 frames as one file of exactly kFileSize bytes; false with the
// reason printed.
static bool writeMp3(const std::string &path, const Bytes &mp3) {
  Bytes file;
  if (!makeId3v2Tag("Parkhaus", "Tarvonell", mp3.size(), kFileSize, file)) {
    return fail(std::to_string(mp3.size()) + " bytes of audio leave no room for the tag");
  }
  file.insert(file.end(), mp3.begin(), mp3.end());
  std::string error;
  if (!fileWrite(path, file, error)) return fail(error);
  std::printf("tune: %zu bytes of audio, %zu of tag, %zu in all\n", mp3.size(), kFileSize - mp3.size(), file.size());
  return true;
}

// Says where the encoded music's beat and its break and return fall against the picture's clock,
// from the decode of the encoded music.
static void reportSync(const std::vector<float> &pcm) {
  const Onsets onsets = onsetsOf(pcm, static_cast<double>(kMusicRate)), low = lowOnsetsOf(pcm, static_cast<double>(kMusicRate));
  const Beat beat = beatOf(onsets, 0.4, 0.7);
  const double breakAt = barSeconds(kSections.brk), returnAt = barSeconds(kSections.ret);
  std::printf("tune: beat every %.2f ms (%.2f BPM), its grid %+.1f ms from t = 0; break heard at %.3f s (bar %d), "
              "return at %.3f s (bar %d)\n",
              1000.0 * beat.period, 60.0 / beat.period, 1000.0 * beat.phase, strongestOnset(low, breakAt, 0.1),
              kSections.brk, strongestOnset(low, returnAt, 0.1), kSections.ret);
}

// Reads the command line, renders, masters and encodes, and writes the WAV and the MP3.
int main(int argc, char **argv) {
  std::string out, wav;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--wav") && i + 1 < argc) {
      wav = argv[++i];
    } else if (argv[i][0] != '-' && out.empty()) {
      out = argv[i];
    } else {
      out.clear();  // anything else makes the command line invalid
      break;
    }
  }
  if (out.empty()) {
    std::fputs("usage: tune OUT.mp3 [--wav OUT.wav]\n", stderr);
    return 2;
  }
  const Mix mix = renderSong();
  Pcm16 pcm;
  Bytes mp3;
  std::vector<float> decoded;
  if (!masterAndEncode(mix, pcm, mp3, decoded)) return 1;
  reportSync(decoded);
  if (!wav.empty() && !writeWav(wav, pcm)) return 1;
  return writeMp3(out, mp3) ? 0 : 1;
}

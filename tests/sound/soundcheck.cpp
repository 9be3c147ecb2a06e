// Helpers of the sound tests.
#include "soundcheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "files.h"
#include "master.h"
#include "mp3decode.h"

Bytes makeTestMp3(double seconds) {
  Pcm16 pcm;
  for (int i = 0; i < static_cast<int>(seconds * 44100); ++i) {
    const double t = i / 44100.0;
    pcm.samples.push_back(static_cast<int16_t>(12000.0 * std::cos(2.0 * M_PI * 440.0 * t)));
    pcm.samples.push_back(static_cast<int16_t>(9000.0 * std::cos(2.0 * M_PI * (660.0 + 200.0 * t) * t)));
  }
  Bytes mp3;
  encodeMp3Cbr128(pcm, mp3);
  return mp3;
}

Bytes decodeAt(const Bytes &mp3, long rate) {
  std::vector<int16_t> pcm;
  std::string error;
  mp3Decode(mp3.data(), mp3.size(), pcm, error, rate);
  const auto *bytes = reinterpret_cast<const uint8_t *>(pcm.data());
  return Bytes(bytes, bytes + pcm.size() * sizeof(int16_t));
}

Played comparePlayed(const Bytes &output, const Bytes &reference) {
  Played p;
  const auto nonZero = [](const Bytes &b) { return size_t(std::find_if(b.begin(), b.end(), [](uint8_t v) { return v; }) - b.begin()); };
  const size_t outFirst = nonZero(output), refFirst = nonZero(reference);
  // The first non-zero byte belongs to the first non-zero sample: both are aligned on it.
  if (outFirst == output.size() || refFirst == reference.size() || outFirst < refFirst || (outFirst - refFirst) % 4) {
    p.why = "no audio, or none that can be the reference placed on a sample frame";
    return p;
  }
  p.found = true;
  p.start = outFirst - refFirst;
  while (p.matched < reference.size() && p.start + p.matched < output.size() &&
         output[p.start + p.matched] == reference[p.matched]) {
    ++p.matched;
  }
  p.silentAfter = std::all_of(output.begin() + long(p.start + p.matched), output.end(), [](uint8_t v) { return !v; });
  p.why = "the output departs from the reference at PCM byte " + std::to_string(p.matched) + " of " +
          std::to_string(reference.size()) + (p.silentAfter ? ", then silence" : ", and is not silent after it");
  return p;
}

bool waitForFileSize(const std::string &path, size_t size, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  struct stat st{};
  while (stat(path.c_str(), &st) != 0 || size_t(st.st_size) < size) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Played awaitPlayed(const std::string &path, const Bytes &reference, size_t after, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    const Bytes output = fileRead(path);
    const Played p = comparePlayed(output, reference);
    if ((p.found && output.size() >= p.start + reference.size() + after) || std::chrono::steady_clock::now() > until) {
      return p;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

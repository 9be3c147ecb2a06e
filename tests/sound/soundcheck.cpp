// Helpers of the sound tests.
#include "soundcheck.h"

#include <lame/lame.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "files.h"
#include "mp3mem.h"

Bytes makeTestMp3(double seconds) {
  const int frames = static_cast<int>(seconds * 44100);
  std::vector<short> pcm(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    // Cosines start at full level, so the first decoded samples are already non-zero.
    pcm[2 * i] = static_cast<short>(12000.0 * std::cos(2.0 * M_PI * 440.0 * t));
    pcm[2 * i + 1] = static_cast<short>(9000.0 * std::cos(2.0 * M_PI * (660.0 + 200.0 * t) * t));
  }
  lame_global_flags *lame = lame_init();
  lame_set_in_samplerate(lame, 44100);
  lame_set_brate(lame, 128);
  lame_set_bWriteVbrTag(lame, 1);
  Bytes mp3(static_cast<size_t>(1.25 * frames + 7200));
  int n = lame_init_params(lame) < 0 ? 0 : lame_encode_buffer_interleaved(lame, pcm.data(), frames, mp3.data(), int(mp3.size()));
  n += lame_encode_flush(lame, mp3.data() + n, int(mp3.size()) - n);
  mp3.resize(size_t(std::max(n, 0)));
  // The info frame was written as a placeholder in front; the final one takes its place.
  unsigned char tag[2880];
  const size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
  if (tagSize > 0 && tagSize <= mp3.size()) std::copy(tag, tag + tagSize, mp3.begin());
  lame_close(lame);
  return mp3;
}

Bytes decodeAt(const Bytes &mp3, long rate) {
  Bytes pcm;
  mpg123_handle *mh = mpg123_new(nullptr, nullptr);
  Mp3Memory source{mp3.data(), mp3.size(), 0};
  int result = mh && mp3memOpen(mh, &source, rate) ? MPG123_OK : MPG123_ERR;
  while (result == MPG123_OK || result == MPG123_NEW_FORMAT) {
    unsigned char buffer[16384];
    size_t done = 0;
    result = mpg123_read(mh, buffer, sizeof buffer, &done);
    pcm.insert(pcm.end(), buffer, buffer + done);
  }
  mpg123_delete(mh);
  return pcm;
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

// Helpers of the sound tests.
#include "soundcheck.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>
#include <vector>

#include "files.h"
#include "mp3decode.h"

Bytes decodeAt(const Bytes &mp3, long rate) {
  std::vector<int16_t> pcm;
  std::string error;
  mp3Decode(mp3.data(), mp3.size(), pcm, error, rate);
  const auto *bytes = reinterpret_cast<const uint8_t *>(pcm.data());
  return Bytes(bytes, bytes + pcm.size() * sizeof(int16_t));
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

// Helpers of the sound tests.
#include "soundcheck.h"

#include <sys/stat.h>

#include <vector>

#include "files.h"
#include "mp3decode.h"
#include "process.h"

Bytes decodeAt(const Bytes &mp3, long rate) {
  std::vector<int16_t> pcm;
  std::string error;
  mp3Decode(mp3.data(), mp3.size(), pcm, error, rate);
  const auto *bytes = reinterpret_cast<const uint8_t *>(pcm.data());
  return Bytes(bytes, bytes + pcm.size() * sizeof(int16_t));
}

bool waitForFileSize(const std::string &path, size_t size, double seconds) {
  struct stat st{};
  return procWaitUntil(seconds, [&] { return stat(path.c_str(), &st) == 0 && size_t(st.st_size) >= size; }, 5);
}

Played awaitPlayed(const std::string &path, const Bytes &reference, size_t after, double seconds) {
  Played p;
  procWaitUntil(seconds, [&] {
    const Bytes output = fileRead(path);
    p = comparePlayed(output, reference);
    return p.found && output.size() >= p.start + reference.size() + after;
  });
  return p;
}

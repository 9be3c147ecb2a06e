// The one WAV writer.
#include "timeline.h"
#include "wav.h"

#include <cstring>

bool wavHeader(int64_t sampleFrames, uint8_t h[44]) {
  const int64_t bytes = sampleFrames * 4;
  if (sampleFrames < 0 || bytes > 0xFFFFFFFFLL - 36) return false;
  memcpy(h, "RIFF", 4);
  setLe32(h + 4, static_cast<uint32_t>(36 + bytes));
  memcpy(h + 8, "WAVEfmt ", 8);
  setLe32(h + 16, 16);
  setLe16(h + 20, 1);  // PCM
  setLe16(h + 22, 2);  // stereo
  setLe32(h + 24, kMusicRate);
  setLe32(h + 28, kMusicRate * 4);
  setLe16(h + 32, 4);
  setLe16(h + 34, 16);
  memcpy(h + 36, "data", 4);
  setLe32(h + 40, static_cast<uint32_t>(bytes));
  return true;
}

bool wavEncode(const std::vector<int16_t> &stereo, Bytes &out) {
  out.assign(44, 0);
  if (!wavHeader(static_cast<int64_t>(stereo.size() / 2), out.data())) return false;
  out.resize(44 + stereo.size() / 2 * 4);
  for (size_t i = 0; i < stereo.size() / 2 * 2; i++) setLe16(&out[44 + 2 * i], static_cast<uint16_t>(stereo[i]));
  return true;
}

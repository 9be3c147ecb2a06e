// Helpers of the sound tests: reference decoding, and
// waiting for what SDL's disk audio driver writes.
#ifndef PARKHAUS_SOUNDCHECK_H
#define PARKHAUS_SOUNDCHECK_H

#include <cstddef>
#include <string>

#include "bytes.h"
#include "played.h"
#include "timeline.h"

// Bytes of PCM per second at the music's rate, stereo, signed 16-bit.
constexpr size_t kPcmBytesPerSecond = size_t(kMusicRate) * 4;

// The MP3 decoded to interleaved signed 16-bit stereo at the given rate, as bytes.
Bytes decodeAt(const Bytes &mp3, long rate);

// Waits until the file holds at least size bytes; false after the timeout.
bool waitForFileSize(const std::string &path, size_t size, double seconds);

// Waits until the device's file holds the whole reference and `after` bytes more, wherever in the
// file it starts (or the timeout passes), and compares.
Played awaitPlayed(const std::string &path, const Bytes &reference, size_t after, double seconds);

#endif

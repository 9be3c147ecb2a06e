// Helpers for the sound tests: MP3s made with LAME, reference decoding with libmpg123, and
// reading back what SDL's disk audio driver wrote.
#ifndef PARKHAUS_SOUNDCHECK_H
#define PARKHAUS_SOUNDCHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Bytes of PCM per second at 44.1 kHz, stereo, signed 16-bit.
constexpr size_t kPcmBytesPerSecond = 44100 * 4;

// Encodes a deterministic stereo test signal (two tones, loud from the first sample) of the given
// length as a 128 kbps CBR MP3 at 44.1 kHz, with LAME's info frame so decoders trim its padding.
Bytes makeTestMp3(double seconds);

// Decodes MP3 bytes with libmpg123's defaults, from a file as a player would, to interleaved s16 PCM.
Bytes decodeMp3File(const std::string &path);
Bytes decodeMp3Bytes(const Bytes &mp3);

// Reads a whole file; empty when it cannot be read.
Bytes readFile(const std::string &path);
bool writeFile(const std::string &path, const Bytes &bytes);

// Index of the first non-zero byte at or after from, or the size when there is none.
size_t firstNonZero(const Bytes &bytes, size_t from = 0);
bool allZero(const Bytes &bytes, size_t from, size_t to);

// What the device wrote, laid against the reference: the played part must start on a sample
// boundary, equal the reference byte for byte for `matched` bytes, and be followed only by zeros.
struct PlayedCheck {
  bool foundStart = false;  // the output holds non-zero audio at all
  size_t start = 0;         // offset of the reference's first byte in the output
  size_t matched = 0;       // reference bytes reproduced exactly
  bool silentAfter = false; // everything after the matched part is zero
  std::string why;          // what went wrong, for the failure message
};
PlayedCheck comparePlayed(const Bytes &output, const Bytes &reference);

// Waits until the file holds at least size bytes; false after the timeout.
bool waitForFileSize(const std::string &path, size_t size, double seconds);

// A small PNG file made in memory (8 x 8, RGB), as data that is certainly no MP3.
Bytes makeTestPng();

// One file of a test pack: its name and bytes; declaredSize, when set, replaces the length
// written in the entry header (to make a damaged entry).
struct PackFile {
  std::string name;
  Bytes data;
  long declaredSize = -1;
};

// A pack image in the library's format: "ZDAR", total length, "DAT" entries, the directory with
// its name table, and the "END" trailer with the directory offset.
Bytes makeTestPack(const std::vector<PackFile> &files);

#endif

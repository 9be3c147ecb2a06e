// MP3 encoding of the rendered tune and the ID3v2 tag that pads the file to its fixed size.
#ifndef PARKHAUS_TUNE_MP3OUT_H
#define PARKHAUS_TUNE_MP3OUT_H

#include <cstdint>
#include <string>
#include <vector>

// Interleaved 16-bit stereo PCM at 44.1 kHz.
struct Pcm16 {
  std::vector<int16_t> samples;  // L R L R ...
  size_t frames() const { return samples.size() / 2; }
};

// Encodes PCM with LAME at 128 kbps CBR: no Xing/Info frame, no ID3v1.
// Returns false (and an empty result) if the encoder could not be set up.
bool encodeMp3Cbr128(const Pcm16 &pcm, std::vector<uint8_t> &out);

// Builds an ID3v2.3 tag with title and artist, padded so that tag + audio make
// exactly totalSize bytes. Returns false if the audio leaves no room for the tag.
bool makeId3v2Tag(const std::string &title, const std::string &artist, size_t audioSize, size_t totalSize,
                  std::vector<uint8_t> &tag);

// Writes bytes to a file; false on any failure.
bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes);

// Writes a 16-bit stereo 44.1 kHz WAV; false on any failure.
bool writeWav(const std::string &path, const Pcm16 &pcm);

#endif

// MP3 encoding of the rendered tune and the ID3v2 tag that pads the file to its fixed size.
#ifndef PARKHAUS_TUNE_MP3OUT_H
#define PARKHAUS_TUNE_MP3OUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

// Interleaved 16-bit stereo PCM at 44.1 kHz.
struct Pcm16 {
  std::vector<int16_t> samples;  // L R L R ...
  size_t frames() const { return samples.size() / 2; }
};

// Encodes PCM with LAME at 128 kbps CBR: no Xing/Info frame, no ID3v1.
// Returns false (and an empty result) if the encoder could not be set up.
bool encodeMp3Cbr128(const Pcm16 &pcm, Bytes &out);

// Builds an ID3v2.3 tag with title and artist, padded so that tag + audio make
// exactly totalSize bytes. Returns false if the audio leaves no room for the tag.
bool makeId3v2Tag(const std::string &title, const std::string &artist, size_t audioSize, size_t totalSize,
                  Bytes &tag);

#endif

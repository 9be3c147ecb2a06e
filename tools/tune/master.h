// Mastering: DC removal, loudness measurement, a true-peak limiter, the end fade and
// the 16-bit conversion; then the MP3 encoding and the ID3v2 tag that pads the file to its size.
#ifndef PARKHAUS_TUNE_MASTER_H
#define PARKHAUS_TUNE_MASTER_H

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "song.h"

// Interleaved 16-bit stereo PCM at 44.1 kHz.
struct Pcm16 {
  std::vector<int16_t> samples;  // L R L R ...
  size_t frames() const { return samples.size() / 2; }
};

// Integrated loudness (ITU-R BS.1770 gating) of a stereo buffer, in LUFS.
double integratedLufs(const Mix &m);

// Highest inter-sample peak estimated with 4x oversampling, linear full scale.
double truePeak(const Mix &m);

// Figures of the mastering pass.
struct MasterReport {
  double gainDb, lufs, truePeakDb, maxReductionDb;
  double shareOver1Db;  // share of the samples the limiter takes down by more than 1 dB
};

// Removes DC and subsonics, fades the very end, and sets the gain so that after the
// true-peak limiter (ceiling in dBTP) the loudness lands on targetLufs.
MasterReport master(Mix &m, double targetLufs, double ceilingDb);

// Converts to 16-bit with TPDF dither from a fixed seed.
Pcm16 toPcm16(const Mix &m);

// Decodes MP3 data to a stereo buffer (mp3DecodeFloat, the same on every machine), for the
// checks of the encoded result, keeping the interleaved samples too. False if nothing decodes.
bool decodeMp3(const Bytes &data, Mix &out, std::vector<float> &interleaved);

// Encodes PCM with LAME at 128 kbps CBR: no Xing/Info frame, no ID3v1.
// Returns false (and an empty result) if the encoder could not be set up.
bool encodeMp3Cbr128(const Pcm16 &pcm, Bytes &out);

// A track for the sound tests and benchmarks: seconds of loud stereo noise, without a period (so
// that a cross-correlation finds one lag only), as a 128 kbps MP3 at 44.1 kHz.
Bytes mp3NoiseTrack(double seconds);

// Builds an ID3v2.3 tag with title and artist, padded so that tag + audio make
// exactly totalSize bytes. Returns false if the audio leaves no room for the tag.
bool makeId3v2Tag(const std::string &title, const std::string &artist, size_t audioSize, size_t totalSize,
                  Bytes &tag);

#endif

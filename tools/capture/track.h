// The music of a capture: the MP3 decoded to 44.1 kHz 16-bit stereo, cut to a span, written as WAV.
#ifndef PARKHAUS_CAPTURE_TRACK_H
#define PARKHAUS_CAPTURE_TRACK_H

#include <cstdint>
#include <string>
#include <vector>

// Decodes the music as the demo plays it, from the pack's data/tune.mp3; false with a reason when
// the pack lacks it or it does not decode.
bool captureLoadMusic(std::vector<int16_t> &pcm, std::string &error);

// Copies sample frames [first, first + count) of pcm into out; the part past the end is silence.
void captureCutSpan(const std::vector<int16_t> &pcm, int64_t first, int64_t count, std::vector<int16_t> &out);

// Writes the samples as a WAV file, making its folder; through a part file renamed when complete.
bool captureWriteWavFile(const std::string &path, const std::vector<int16_t> &stereo, std::string &error);

#endif

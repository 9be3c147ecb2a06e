// MP3 encoding of the rendered tune and the ID3v2 tag that pads the file to its fixed size.
#pragma once
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
bool encode_mp3_cbr128(const Pcm16 &pcm, std::vector<uint8_t> &out);

// Builds an ID3v2.3 tag with title and artist, padded so that tag + audio make
// exactly total_size bytes. Returns false if the audio leaves no room for the tag.
bool make_id3v2_tag(const std::string &title, const std::string &artist, size_t audio_size,
                    size_t total_size, std::vector<uint8_t> &tag);

// Writes bytes to a file; false on any failure.
bool write_file(const std::string &path, const std::vector<uint8_t> &bytes);

// Writes a 16-bit stereo 44.1 kHz WAV; false on any failure.
bool write_wav(const std::string &path, const Pcm16 &pcm);

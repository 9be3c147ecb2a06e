// The file parts of the tune: LAME encoding at 128 kbps CBR, the padded ID3v2 tag, and the WAV and
// MP3 files on disk.
#include "mp3out.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdio>

// Runs the whole PCM through one LAME encoder set up for plain constant-rate frames.
bool encodeMp3Cbr128(const Pcm16 &pcm, std::vector<uint8_t> &out) {
  out.clear();
  lame_global_flags *gf = lame_init();
  if (!gf) return false;
  lame_set_in_samplerate(gf, 44100);
  lame_set_out_samplerate(gf, 44100);
  lame_set_num_channels(gf, 2);
  lame_set_mode(gf, JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, 128);
  lame_set_quality(gf, 2);
  lame_set_bWriteVbrTag(gf, 0);            // no Xing/Info frame
  lame_set_write_id3tag_automatic(gf, 0);  // no ID3v1 (the v2 tag is ours)
  lame_set_findReplayGain(gf, 0);
  if (lame_init_params(gf) < 0) {
    lame_close(gf);
    return false;
  }
  const size_t chunk = 8192;
  std::vector<unsigned char> buf(chunk * 5 / 4 + 7200);
  size_t frames = pcm.frames();
  for (size_t pos = 0; pos < frames; pos += chunk) {
    size_t n = std::min(chunk, frames - pos);
    // lame_encode_buffer_interleaved takes a non-const pointer but only reads it.
    short *src = const_cast<short *>(reinterpret_cast<const short *>(pcm.samples.data() + 2 * pos));
    int got = lame_encode_buffer_interleaved(gf, src, static_cast<int>(n), buf.data(), static_cast<int>(buf.size()));
    if (got < 0) {
      lame_close(gf);
      out.clear();
      return false;
    }
    out.insert(out.end(), buf.begin(), buf.begin() + got);
  }
  int got = lame_encode_flush(gf, buf.data(), static_cast<int>(buf.size()));
  lame_close(gf);
  if (got < 0) {
    out.clear();
    return false;
  }
  out.insert(out.end(), buf.begin(), buf.begin() + got);
  return true;
}

// Appends one ID3v2.3 text frame (ISO-8859-1).
static void putTextFrame(std::vector<uint8_t> &tag, const char id[4], const std::string &text) {
  uint32_t size = static_cast<uint32_t>(text.size() + 1);
  tag.insert(tag.end(), id, id + 4);
  for (int shift = 24; shift >= 0; shift -= 8) tag.push_back(static_cast<uint8_t>(size >> shift));
  tag.push_back(0);  // flags
  tag.push_back(0);
  tag.push_back(0);  // encoding: ISO-8859-1
  tag.insert(tag.end(), text.begin(), text.end());
}

// Header, the two text frames, then zero padding up to the wanted total.
bool makeId3v2Tag(const std::string &title, const std::string &artist, size_t audioSize, size_t totalSize,
                  std::vector<uint8_t> &tag) {
  tag.assign({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
  putTextFrame(tag, "TIT2", title);
  putTextFrame(tag, "TPE1", artist);
  if (audioSize > totalSize || totalSize - audioSize < tag.size()) return false;
  size_t tagSize = totalSize - audioSize;
  size_t body = tagSize - 10;
  if (body >= (1u << 28)) return false;
  tag.resize(tagSize, 0);
  // Syncsafe size: four 7-bit groups.
  tag[6] = static_cast<uint8_t>((body >> 21) & 0x7f);
  tag[7] = static_cast<uint8_t>((body >> 14) & 0x7f);
  tag[8] = static_cast<uint8_t>((body >> 7) & 0x7f);
  tag[9] = static_cast<uint8_t>(body & 0x7f);
  return true;
}

// Plain fwrite of the whole buffer.
bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

// Appends a little-endian value of n bytes.
static void putLe(std::vector<uint8_t> &b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// RIFF header for 16-bit stereo 44.1 kHz, then the samples.
bool writeWav(const std::string &path, const Pcm16 &pcm) {
  uint32_t dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
  std::vector<uint8_t> b;
  b.reserve(44 + dataBytes);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  putLe(b, 36 + dataBytes, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  putLe(b, 16, 4);
  putLe(b, 1, 2);          // PCM
  putLe(b, 2, 2);          // channels
  putLe(b, 44100, 4);      // rate
  putLe(b, 44100 * 4, 4);  // byte rate
  putLe(b, 4, 2);          // block align
  putLe(b, 16, 2);         // bits
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  putLe(b, dataBytes, 4);
  for (int16_t s : pcm.samples) putLe(b, static_cast<uint16_t>(s), 2);
  return writeFile(path, b);
}

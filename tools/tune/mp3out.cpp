// The tune's MP3 data: LAME encoding at 128 kbps CBR and the ID3v2 tag padded to the file's size.
#include "master.h"

#include <lame/lame.h>

#include <algorithm>

#include "rng.h"
#include "timeline.h"

// Runs the whole PCM through one LAME encoder set up for plain constant-rate frames.
bool encodeMp3Cbr128(const Pcm16 &pcm, Bytes &out) {
  out.clear();
  lame_global_flags *gf = lame_init();
  if (!gf) return false;
  lame_set_in_samplerate(gf, kMusicRate);
  lame_set_out_samplerate(gf, kMusicRate);
  lame_set_num_channels(gf, 2);
  lame_set_mode(gf, JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, 128);
  lame_set_quality(gf, 2);
  lame_set_bWriteVbrTag(gf, 0);            // no Xing/Info frame
  lame_set_write_id3tag_automatic(gf, 0);  // no ID3v1 (the v2 tag is ours)
  lame_set_findReplayGain(gf, 0);
  const size_t chunk = 8192;
  std::vector<unsigned char> buf(chunk * 5 / 4 + 7200);
  int got = lame_init_params(gf);  // negative on failure, like every call below
  for (size_t pos = 0; got >= 0 && pos < pcm.frames(); pos += chunk) {
    size_t n = std::min(chunk, pcm.frames() - pos);
    // lame_encode_buffer_interleaved takes a non-const pointer but only reads it.
    short *src = const_cast<short *>(reinterpret_cast<const short *>(pcm.samples.data() + 2 * pos));
    got = lame_encode_buffer_interleaved(gf, src, static_cast<int>(n), buf.data(), static_cast<int>(buf.size()));
    if (got > 0) out.insert(out.end(), buf.begin(), buf.begin() + got);
  }
  if (got >= 0) got = lame_encode_flush(gf, buf.data(), static_cast<int>(buf.size()));
  if (got > 0) out.insert(out.end(), buf.begin(), buf.begin() + got);
  lame_close(gf);
  if (got < 0) out.clear();
  return got >= 0;
}

// Appends one ID3v2.3 text frame (ISO-8859-1).
static void putTextFrame(Bytes &tag, const char id[4], const std::string &text) {
  tag.insert(tag.end(), id, id + 4);
  putBe32(tag, static_cast<uint32_t>(text.size() + 1));
  tag.insert(tag.end(), {0, 0, 0});  // no flags; encoding ISO-8859-1
  tag.insert(tag.end(), text.begin(), text.end());
}

// Header, the two text frames, then zero padding up to the wanted total.
bool makeId3v2Tag(const std::string &title, const std::string &artist, size_t audioSize, size_t totalSize,
                  Bytes &tag) {
  tag.assign({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0});
  putTextFrame(tag, "TIT2", title);
  putTextFrame(tag, "TPE1", artist);
  if (audioSize > totalSize || totalSize - audioSize < tag.size()) return false;
  size_t tagSize = totalSize - audioSize;
  size_t body = tagSize - 10;
  if (body >= (1u << 28)) return false;
  tag.resize(tagSize, 0);
  // Syncsafe size: four 7-bit groups.
  for (int k = 0; k < 4; ++k) tag[6 + k] = static_cast<uint8_t>((body >> (21 - 7 * k)) & 0x7f);
  return true;
}

Bytes mp3NoiseTrack(double seconds) {
  Pcm16 pcm;
  XorShift noise{20261209};
  for (int i = 0; i < static_cast<int>(seconds * kMusicRate) * 2; i++) {
    pcm.samples.push_back(static_cast<int16_t>(static_cast<int64_t>(xorShiftNext(noise) >> 48) / 4 - 8192));
  }
  Bytes mp3;
  encodeMp3Cbr128(pcm, mp3);
  return mp3;
}

// A whole MP3 held in memory decoded at once.
#include "mp3decode.h"

// Decodes with the named libmpg123 decoder (null: the fastest) into samples of the encoding.
template <typename Sample>
static bool decodeWith(const char *decoderName, int encoding, long rate, const uint8_t *data, size_t size,
                       std::vector<Sample> &pcm, std::string &error) {
  pcm.clear();
  if (!data || size == 0) {
    error = "the music is empty";
    return false;
  }
  int err = MPG123_OK;
  mpg123_handle *mh = mpg123_new(decoderName, &err);
  if (!mh) {
    error = std::string("libmpg123: ") + mpg123_plain_strerror(err);
    return false;
  }
  Mp3Memory source{data, size, 0};
  bool ok = mp3memOpen(mh, &source, rate, encoding);
  std::vector<Sample> buffer(1 << 15);
  while (ok) {
    size_t done = 0;
    err = mpg123_read(mh, buffer.data(), buffer.size() * sizeof(Sample), &done);
    pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(done / sizeof(Sample)));
    if (err == MPG123_DONE) break;
    ok = err == MPG123_OK || err == MPG123_NEW_FORMAT;
  }
  if (!ok) error = std::string("libmpg123: ") + mpg123_strerror(mh);
  mpg123_close(mh);
  mpg123_delete(mh);
  if (pcm.size() % 2 != 0) pcm.pop_back();
  if (ok && pcm.empty()) {
    error = "the music decodes to no samples";
    ok = false;
  }
  return ok;
}

bool mp3Decode(const uint8_t *data, size_t size, std::vector<int16_t> &pcm, std::string &error, long rate) {
  return decodeWith(nullptr, MPG123_ENC_SIGNED_16, rate, data, size, pcm, error);
}

bool mp3DecodeFloat(const uint8_t *data, size_t size, std::vector<float> &pcm, std::string &error) {
  return decodeWith("generic", MPG123_ENC_FLOAT_32, kMusicRate, data, size, pcm, error);
}

// The music of a capture: MP3 decoding from memory, cutting to the span, WAV output.
#include "track.h"

#include <mpg123.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "options.h"

// A read cursor over the MP3 bytes, for libmpg123's replaced reader.
struct MemReader {
  const unsigned char *data;
  size_t size;
  size_t pos;
};

// Reads like POSIX read from the memory cursor.
static mpg123_ssize_t memRead(void *handle, void *buf, size_t n) {
  MemReader *r = static_cast<MemReader *>(handle);
  size_t left = r->size - r->pos;
  if (n > left) n = left;
  memcpy(buf, r->data + r->pos, n);
  r->pos += n;
  return static_cast<mpg123_ssize_t>(n);
}

// Seeks like POSIX lseek within the memory cursor; refuses positions outside the data.
static off_t memSeek(void *handle, off_t offset, int whence) {
  MemReader *r = static_cast<MemReader *>(handle);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off_t>(r->pos) : static_cast<off_t>(r->size);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  off_t to = base + offset;
  if (to < 0 || to > static_cast<off_t>(r->size)) return -1;
  r->pos = static_cast<size_t>(to);
  return to;
}

// Decodes the whole MP3 from memory through a replaced libmpg123 reader.
bool captureDecodeMp3(const unsigned char *data, size_t size, std::vector<int16_t> &pcm, std::string &error) {
  pcm.clear();
  if (!data || size == 0) {
    error = "the music is empty";
    return false;
  }
#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  int err = MPG123_OK;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  if (!mh) {
    error = std::string("libmpg123: ") + mpg123_plain_strerror(err);
    return false;
  }
  MemReader reader{data, size, 0};
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  bool ok = mpg123_format_none(mh) == MPG123_OK &&
            mpg123_format(mh, kCaptureSampleRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) == MPG123_OK &&
            mpg123_replace_reader_handle(mh, memRead, memSeek, nullptr) == MPG123_OK &&
            mpg123_open_handle(mh, &reader) == MPG123_OK;
  if (!ok) {
    error = std::string("libmpg123: ") + mpg123_strerror(mh);
    mpg123_delete(mh);
    return false;
  }
  std::vector<unsigned char> buf(1 << 16);
  while (true) {
    size_t done = 0;
    err = mpg123_read(mh, buf.data(), buf.size(), &done);
    const size_t samples = done / sizeof(int16_t);
    const int16_t *decoded = reinterpret_cast<const int16_t *>(buf.data());
    pcm.insert(pcm.end(), decoded, decoded + samples);
    if (err == MPG123_DONE) break;
    if (err == MPG123_NEW_FORMAT || err == MPG123_OK) continue;
    error = std::string("libmpg123: ") + mpg123_strerror(mh);
    mpg123_close(mh);
    mpg123_delete(mh);
    return false;
  }
  mpg123_close(mh);
  mpg123_delete(mh);
  if (pcm.size() % 2 != 0) pcm.pop_back();
  if (pcm.empty()) {
    error = "the music decodes to no samples";
    return false;
  }
  return true;
}

// The span of the music, padded with silence past its end.
void captureCutSpan(const std::vector<int16_t> &pcm, int64_t first, int64_t count, std::vector<int16_t> &out) {
  out.assign(static_cast<size_t>(count) * 2, 0);
  int64_t have = static_cast<int64_t>(pcm.size() / 2);
  if (first >= have || count <= 0) return;
  int64_t n = std::min(count, have - first);
  std::copy_n(pcm.begin() + first * 2, n * 2, out.begin());
}

// Stores a 32-bit little-endian value.
static void put32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Stores a 16-bit little-endian value.
static void put16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// The canonical 44-byte PCM header.
bool captureWavHeader(int64_t sampleFrames, unsigned char h[44]) {
  const int64_t bytes = sampleFrames * 4;
  if (sampleFrames < 0 || bytes > 0xFFFFFFFFLL - 36) return false;
  memcpy(h, "RIFF", 4);
  put32(h + 4, static_cast<uint32_t>(36 + bytes));
  memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  put16(h + 20, 1);  // PCM
  put16(h + 22, 2);  // stereo
  put32(h + 24, kCaptureSampleRate);
  put32(h + 28, kCaptureSampleRate * 4);
  put16(h + 32, 4);
  put16(h + 34, 16);
  memcpy(h + 36, "data", 4);
  put32(h + 40, static_cast<uint32_t>(bytes));
  return true;
}

// Writes all of buf, retrying short writes and interruptions.
static bool writeAll(int fd, const void *buf, size_t n, std::string &error) {
  const char *p = static_cast<const char *>(buf);
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error = strerror(w < 0 ? errno : EIO);
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Header, then the samples in little-endian order.
bool captureWriteWav(int fd, const std::vector<int16_t> &stereo, std::string &error) {
  unsigned char header[44];
  if (!captureWavHeader(static_cast<int64_t>(stereo.size() / 2), header)) {
    error = "the span is too long for a WAV file (more than 4 GB)";
    return false;
  }
  if (!writeAll(fd, header, sizeof header, error)) return false;
  // Little-endian samples; on a big-endian machine swap a copy first.
  if constexpr (std::endian::native == std::endian::little) {
    return writeAll(fd, stereo.data(), stereo.size() * sizeof(int16_t), error);
  } else {
    std::vector<unsigned char> le(stereo.size() * 2);
    for (size_t i = 0; i < stereo.size(); i++) put16(&le[i * 2], static_cast<uint16_t>(stereo[i]));
    return writeAll(fd, le.data(), le.size(), error);
  }
}

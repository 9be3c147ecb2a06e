// An MP3 held whole in memory, read in place by libmpg123.
#include "mp3mem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// libmpg123's read hook: copies the next bytes of the memory block into the decoder's buffer.
static mpg123_ssize_t memoryRead(void *handle, void *buffer, size_t count) {
  auto *source = static_cast<Mp3Memory *>(handle);
  const size_t n = std::min(count, source->size - source->pos);
  std::memcpy(buffer, source->data + source->pos, n);
  source->pos += n;
  return static_cast<mpg123_ssize_t>(n);
}

// libmpg123's seek hook over the memory block; positions outside it are refused.
static off_t memorySeek(void *handle, off_t offset, int whence) {
  auto *source = static_cast<Mp3Memory *>(handle);
  off_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<off_t>(source->pos);
  } else if (whence == SEEK_END) {
    base = static_cast<off_t>(source->size);
  } else if (whence != SEEK_SET) {
    return -1;
  }
  const off_t target = base + offset;
  if (target < 0 || target > static_cast<off_t>(source->size)) return -1;
  source->pos = static_cast<size_t>(target);
  return target;
}

bool mp3memOpen(mpg123_handle *decoder, Mp3Memory *source, long rate, int encoding) {
  return mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0) == MPG123_OK &&
         mpg123_format_none(decoder) == MPG123_OK &&
         mpg123_format(decoder, rate, MPG123_STEREO, encoding) == MPG123_OK &&
         mpg123_replace_reader_handle(decoder, memoryRead, memorySeek, nullptr) == MPG123_OK &&
         mpg123_open_handle(decoder, source) == MPG123_OK;
}

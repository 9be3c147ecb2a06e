// Fuzzes the OIA mesh loader, or the TGA loader when FUZZ_TGA is defined, through a memory-backed
// file, as both take a path. Whatever they accept must be made of the input's own bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "util.h"

static int fd = -1;
static char path[64];

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fd = memfd_create("fuzz_loader", 0);
  if (fd < 0 || !freopen("/dev/null", "w", stdout)) abort();
  snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) abort();
#ifdef FUZZ_TGA
  util_image_t *image = util_imageFromTGA(path);
  if (!image) return 0;
  // The size is the header's; the pixels are those after the image ID, moved but not changed.
  const size_t bytes = static_cast<size_t>(image->width) * image->height * 4, at = 18 + (size ? data[0] : 0);
  if (size < at + bytes || image->width != (data[12] | data[13] << 8) || image->height != (data[14] | data[15] << 8) ||
      std::accumulate(image->data, image->data + bytes, 0L) != std::accumulate(data + at, data + at + bytes, 0L))
    abort();
  free(image->data);
  free(image);
#else
  util_oia_t *mesh = util_oiaLoad(path);
  if (!mesh) return 0;
  // The count is the header's; the data is the bytes after the header (on this little-endian host).
  const size_t bytes = static_cast<size_t>(mesh->count) * mesh->stride;
  if (size < 10 + bytes || mesh->count != (data[8] << 8 | data[9]) || memcmp(mesh->data, data + 10, bytes) != 0) abort();
  free(mesh->data);
  free(mesh);
#endif
  return 0;
}

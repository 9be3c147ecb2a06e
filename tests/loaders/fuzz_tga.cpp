// Fuzzes the TGA image loader through a memory-backed file, as it takes a path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "util.h"

static int gFd = -1;
static char gPath[64];

// Makes the memory file once and sends the loader's messages away.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gFd = memfd_create("fuzz_tga", 0);
  if (gFd < 0) abort();
  snprintf(gPath, sizeof(gPath), "/proc/self/fd/%d", gFd);
  if (!freopen("/dev/null", "w", stdout)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (ftruncate(gFd, 0) != 0) abort();
  if (size && pwrite(gFd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  util_image_t *image = util_imageFromTGA(gPath);
  if (image) {
    // The pixels the record claims must all have come from the file.
    size_t bytes = static_cast<size_t>(image->width) * static_cast<size_t>(image->height) * 4;
    if (image->width < 0 || image->height < 0 || size < 18 + data[0] + bytes) abort();
    volatile unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum = sum + image->data[i];
    free(image->data);
    free(image);
  }
  return 0;
}

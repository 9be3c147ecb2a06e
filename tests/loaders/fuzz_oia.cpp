// Fuzzes the OIA mesh loader through a memory-backed file, as it takes a path.
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
  gFd = memfd_create("fuzz_oia", 0);
  if (gFd < 0) abort();
  snprintf(gPath, sizeof(gPath), "/proc/self/fd/%d", gFd);
  if (!freopen("/dev/null", "w", stdout)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (ftruncate(gFd, 0) != 0) abort();
  if (size && pwrite(gFd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  util_oia_t *mesh = util_oiaLoad(gPath);
  if (mesh) {
    // Every byte the record claims must be there.
    size_t bytes = static_cast<size_t>(mesh->count) * static_cast<size_t>(mesh->stride);
    if (size < 10 + bytes || mesh->stride <= 0 || mesh->count < 0) abort();
    volatile unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum = sum + static_cast<unsigned char *>(mesh->data)[i];
    free(mesh->data);
    free(mesh);
  }
  return 0;
}

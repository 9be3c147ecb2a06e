// The loaders take paths, so their fuzzers hand them a memory-backed file holding the input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The memory file and its path; set by fuzzMemfdInit.
inline int gFuzzFd = -1;
inline char gFuzzPath[64];

// Makes the memory file once and sends the loader's messages away.
inline void fuzzMemfdInit(const char *name) {
  gFuzzFd = memfd_create(name, 0);
  if (gFuzzFd < 0) abort();
  snprintf(gFuzzPath, sizeof(gFuzzPath), "/proc/self/fd/%d", gFuzzFd);
  if (!freopen("/dev/null", "w", stdout)) abort();
}

// Puts one input into the memory file, replacing the last.
inline void fuzzMemfdWrite(const uint8_t *data, size_t size) {
  if (ftruncate(gFuzzFd, 0) != 0) abort();
  if (size && pwrite(gFuzzFd, data, size, 0) != static_cast<ssize_t>(size)) abort();
}

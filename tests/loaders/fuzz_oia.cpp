// Fuzzes the OIA mesh loader through a memory-backed file, as it takes a path.
#include <cstdint>
#include <cstdlib>

#include "fuzz_memfd.h"
#include "util.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzMemfdInit("fuzz_oia");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzMemfdWrite(data, size);
  util_oia_t *mesh = util_oiaLoad(gFuzzPath);
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

// Fuzzes the TGA image loader through a memory-backed file, as it takes a path.
#include <cstdint>
#include <cstdlib>

#include "fuzz_memfd.h"
#include "util.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzMemfdInit("fuzz_tga");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzMemfdWrite(data, size);
  util_image_t *image = util_imageFromTGA(gFuzzPath);
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

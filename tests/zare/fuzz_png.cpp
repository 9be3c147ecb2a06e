// Fuzzes the PNG load from a memory file: any input must decode or fail cleanly.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "png.h"
#include "zarelib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 24)) {
    return 0;
  }
  // An exactly sized copy, so that any read past the end is seen.
  unsigned char *copy = static_cast<unsigned char *>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  zare_lib_t *lib = zare_new();
  zare_png_t *png = zare_png_new(lib);
  zare_memfile_t mf = {copy, static_cast<int32_t>(size), 0};
  const int result = zare_png_loadFromMem(png, &mf);
  if (result == 0) {
    // A successful decode holds every row: touch all of it.
    volatile unsigned sum = 0;
    for (uint32_t i = 0; i < png->iSize; ++i) sum = sum + png->pData[i];
  } else if (result != -1 && result != ZARE_ERR_NOT_PNG) {
    abort();
  }
  zare_png_delete(&png);
  zare_delete(lib);
  free(copy);
  return 0;
}

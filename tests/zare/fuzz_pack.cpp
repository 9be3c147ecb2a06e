// Fuzzes the pack lookup and memory-file load, then the PNG decode of the found entry.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "zarelib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8 || size > (1u << 24)) {
    return 0;
  }
  unsigned char *pack = static_cast<unsigned char *>(malloc(size));
  memcpy(pack, data, size);
  // The total length is the one field a registered pack is trusted for.
  const uint32_t length = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) pack[4 + i] = static_cast<unsigned char>(length >> (8 * i));
  zare_lib_t *lib = zare_new();
  zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack));
  for (const char *name : {"data/organ.png", "data/tune.mp3", "a", ""}) {
    zare_memfile_t mf = {nullptr, 0, 0};
    if (zare_memfile_load(lib, &mf, name) == 0) {
      if (mf.iSize < 0 || mf.pData < pack || mf.pData + mf.iSize > pack + size) abort();
      volatile unsigned sum = 0;
      for (int32_t i = 0; i < mf.iSize; ++i) sum = sum + mf.pData[i];
    }
  }
  zare_image_t *img = zare_imageFromPNG(lib, "data/organ.png");
  zare_image_delete(lib, &img);
  zare_getTrace(lib);
  zare_delete(lib);
  free(pack);
  return 0;
}

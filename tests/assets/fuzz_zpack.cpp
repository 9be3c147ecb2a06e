// Fuzzes the pack tool's reader: it must refuse any damaged pack without reading outside it.
#include "packfmt.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  PackDirectory dir;
  std::string err;
  packRead(std::span<const uint8_t>(data, size), dir, err);
  return 0;
}

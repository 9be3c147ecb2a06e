// Little- and big-endian fields of 16 and 32 bits: read from and written to byte buffers, for
// every file format the tools, benchmarks and tests handle (pack, PNG, TGA, OIA, WAV, ID3).
#ifndef PARKHAUS_TOOLS_BYTES_H
#define PARKHAUS_TOOLS_BYTES_H

#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Reads a little-endian field at p.
inline uint16_t getLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t getLe32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads a big-endian field at p.
inline uint32_t getBe32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Overwrites a field at p.
inline void setLe16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void setLe32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void setBe32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Appends a field to a buffer.
inline void putLe16(Bytes &b, uint16_t v) {
  b.resize(b.size() + 2);
  setLe16(b.data() + b.size() - 2, v);
}
inline void putLe32(Bytes &b, uint32_t v) {
  b.resize(b.size() + 4);
  setLe32(b.data() + b.size() - 4, v);
}
inline void putBe32(Bytes &b, uint32_t v) {
  b.resize(b.size() + 4);
  setBe32(b.data() + b.size() - 4, v);
}

#endif

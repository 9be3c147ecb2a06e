// Small deterministic random generators, so that every run of a tool makes the same bytes.
// Two of them, because the committed pictures and the committed tune were each made with one
// and must come out byte for byte the same.
#ifndef PARKHAUS_TOOLS_RNG_H
#define PARKHAUS_TOOLS_RNG_H

#include <cstdint>

// splitmix64: the pictures and meshes.
struct SplitMix {
  uint64_t s;
};

// The next raw 64-bit value.
inline uint64_t splitMixNext(SplitMix &r) {
  uint64_t z = (r.s += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// A uniform value in [0, 1) with 24 bits.
inline float splitMixUniform(SplitMix &r) { return float(splitMixNext(r) >> 40) / float(1ull << 24); }

// xorshift64*: the tune's noise, hits and humanising.
struct XorShift {
  uint64_t s;
};

// The next raw 64-bit value.
inline uint64_t xorShiftNext(XorShift &r) {
  r.s ^= r.s >> 12;
  r.s ^= r.s << 25;
  r.s ^= r.s >> 27;
  return r.s * 2685821657736338717ull;
}

// A uniform value in [0, 1) with 53 bits.
inline double xorShiftUniform(XorShift &r) {
  return static_cast<double>(xorShiftNext(r) >> 11) * (1.0 / 9007199254740992.0);
}

// A uniform value in [-1, 1).
inline double xorShiftBipolar(XorShift &r) { return 2.0 * xorShiftUniform(r) - 1.0; }

#endif

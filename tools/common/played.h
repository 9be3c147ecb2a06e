// What a sound device wrote (SDL's disk driver's file) laid against the music it was given: where
// the music begins in it and how much of it came out exactly, for the tests and benchmarks.
#ifndef PARKHAUS_TOOLS_PLAYED_H
#define PARKHAUS_TOOLS_PLAYED_H

#include <cstddef>
#include <string>

#include "bytes.h"

// Where the reference (16-bit stereo PCM) starts in the output, on a sample frame; how many of
// its bytes came out exactly; whether only zeros follow them; and a sentence saying so.
struct Played {
  bool found = false;
  size_t start = 0;
  size_t matched = 0;
  bool silentAfter = false;
  std::string why;
};

// Lays the reference against the output, aligned on the first sample that is not silence.
Played comparePlayed(const Bytes &output, const Bytes &reference);

#endif

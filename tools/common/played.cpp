// What a sound device wrote laid against the music it was given.
#include "played.h"

#include <algorithm>

Played comparePlayed(const Bytes &output, const Bytes &reference) {
  Played p;
  const auto nonZero = [](const Bytes &b) { return size_t(std::find_if(b.begin(), b.end(), [](uint8_t v) { return v; }) - b.begin()); };
  const size_t outFirst = nonZero(output), refFirst = nonZero(reference);
  // The first non-zero byte belongs to the first non-zero sample: both are aligned on it.
  if (outFirst == output.size() || refFirst == reference.size() || outFirst < refFirst || (outFirst - refFirst) % 4) {
    p.why = "no audio, or none that can be the reference placed on a sample frame";
    return p;
  }
  p.found = true;
  p.start = outFirst - refFirst;
  while (p.matched < reference.size() && p.start + p.matched < output.size() &&
         output[p.start + p.matched] == reference[p.matched]) {
    ++p.matched;
  }
  p.silentAfter = std::all_of(output.begin() + long(p.start + p.matched), output.end(), [](uint8_t v) { return !v; });
  p.why = "the output departs from the reference at PCM byte " + std::to_string(p.matched) + " of " +
          std::to_string(reference.size()) + (p.silentAfter ? ", then silence" : ", and is not silent after it");
  return p;
}

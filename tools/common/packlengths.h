// The lengths that the pack's layout fixes for the files of data/ it carries: the media and tune
// tools make each of these files exactly this long, and the tests hold the pack to them.
#ifndef PARKHAUS_TOOLS_PACKLENGTHS_H
#define PARKHAUS_TOOLS_PACKLENGTHS_H

#include <cstddef>
#include <string_view>

// One file of the pack and its length in bytes.
struct PackFixedLength {
  std::string_view name;
  size_t length;
};

// In the pack's directory order.
constexpr PackFixedLength kPackFixedLengths[] = {
    {"data/organ.png", 186435},     {"data/suck_thing_mask.png", 1932}, {"data/suck_thing.png", 1446},
    {"data/suck_front.png", 42810}, {"data/suck_mask.png", 4770},       {"data/suck_back.png", 128643},
    {"data/tex-park.png", 30739},   {"data/tex-cow-env.png", 16032},    {"data/vosquel.oia", 17650},
    {"data/tune.mp3", 2340864},
};

// The fixed length of the named file; 0 for a file the layout does not fix.
constexpr size_t packFixedLength(std::string_view name) {
  for (const PackFixedLength &f : kPackFixedLengths) {
    if (f.name == name) return f.length;
  }
  return 0;
}

#endif

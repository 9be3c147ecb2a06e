// The piece itself: arrangement, instruments and effects, rendered before mastering.
#ifndef PARKHAUS_TUNE_SONG_H
#define PARKHAUS_TUNE_SONG_H

#include <cstdint>
#include <vector>

// 126 BPM: a sixteenth note is exactly 5250 samples at 44.1 kHz, a bar 84000.
constexpr int64_t kStep = 5250;
constexpr int64_t kBar = 16 * kStep;
constexpr int kBars = 76;
// Samples per channel of the whole file: the bars plus a short tail for the last echoes.
constexpr int64_t kTotal = 6448000;

// Stereo buffer of kTotal frames.
struct Mix {
  std::vector<double> l, r;
};

// Instruments that can be soloed for listening checks.
enum Track : unsigned {
  kKick = 1u << 0,
  kSnare = 1u << 1,
  kHats = 1u << 2,
  kCymbals = 1u << 3,
  kBass = 1u << 4,
  kPad = 1u << 5,
  kArp = 1u << 6,
  kLead = 1u << 7,
  kBell = 1u << 8,
  kRiser = 1u << 9,
  kStabs = 1u << 10,
  kAllTracks = (1u << 11) - 1,
};

// Renders the arrangement (only the tracks in mask) with delay and reverb, unmastered.
void renderSong(Mix &out, unsigned mask);

// First bar of each section, and the bar after the last one.
struct SectionBars {
  int intro, build, theme, brk, ret, outro, end;
};
constexpr SectionBars kSections = {0, 8, 16, 32, 44, 64, 76};

#endif

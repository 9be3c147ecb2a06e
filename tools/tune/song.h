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

// Renders the arrangement with delay and reverb, unmastered.
Mix renderSong();

// First bar of each section, and the bar after the last one.
struct SectionBars {
  int intro, build, theme, brk, ret, outro, end;
};
constexpr SectionBars kSections = {0, 8, 16, 32, 44, 64, 76};

#endif

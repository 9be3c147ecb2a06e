// The piece itself: arrangement, instruments and effects, rendered before mastering.
#ifndef PARKHAUS_TUNE_SONG_H
#define PARKHAUS_TUNE_SONG_H

#include <cstdint>
#include <vector>

#include "timeline.h"

// The frame's clock sets the tempo: a beat of kBeatSeconds (pi/6 s, 114.59 BPM) from t = 0, on
// which the picture's gaps and turns fall on bar lines. A sixteenth is a quarter beat, pi/24 s,
// 5772.65 samples, so every note is placed on the nearest sample of that exact grid.
constexpr double kStepSamples = static_cast<double>(kMusicRate) * kPi / 24.0;
constexpr int kBars = 70;
// Samples per channel of the whole file: as many as its fixed size holds at 128 kbps with the
// codec's delay. The 70 bars would need 6,465,398; the master fades the last bars to silence by
// 0.15 s before kTotal, so the last bar's final 0.39 s, silent, are not stored.
constexpr int64_t kTotal = 6448000;
// The MP3 encoder and decoder together delay the music by 1105 samples (576 + 529): the render
// runs that much ahead, so that the decoded music meets the picture's clock.
constexpr int64_t kCodecDelay = 1105;

// The render's sample at which a sixteenth (counted from t = 0, fractions allowed) falls.
int64_t gridSample(double step);

// The render's sample at which a bar begins.
inline int64_t barSample(double bar) { return gridSample(16.0 * bar); }

// The time on the picture's clock at which a bar begins, in seconds.
inline double barSeconds(double bar) { return 16.0 * bar * kStepSamples / static_cast<double>(kMusicRate); }

// Stereo buffer of kTotal frames.
struct Mix {
  std::vector<double> l, r;
};

// Renders the arrangement with delay and reverb, unmastered.
Mix renderSong();

// First bar of each section, and the bar after the last one. Each begins at a landmark of the
// frame: the build at the first gap in the credits (bar 9), the theme at the centre-piece's first
// turn (bar 15), the break at the third gap (bar 33), the return at the fourth gap, where the
// centre-piece also turns (bar 45), the outro at the fifth gap (bar 57).
struct SectionBars {
  int intro, build, theme, brk, ret, outro, end;
};
constexpr SectionBars kSections = {0, 9, 15, 33, 45, 57, 70};

#endif

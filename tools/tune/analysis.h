// What a listener's ear follows in the music, measured: the onsets (spectral flux), the beat they
// keep, and where a section's first hit falls. The tune tool reports it, the tests hold it to the
// picture's clock.
#ifndef PARKHAUS_TUNE_ANALYSIS_H
#define PARKHAUS_TUNE_ANALYSIS_H

#include <vector>

// Onset strength, one value per hop of the analysis: how much the log spectrum rose from the
// previous window, summed over the frequencies that rose. Value k belongs to the time at the
// middle of its window, k * hopSeconds + offsetSeconds.
struct Onsets {
  double hopSeconds = 0.0;
  double offsetSeconds = 0.0;
  std::vector<double> flux;
};

// The onsets of interleaved stereo samples at the given rate.
Onsets onsetsOf(const std::vector<float> &stereo, double rate);

// The onsets of the lowest octaves alone (below 150 Hz), where the kick stands out: how much the
// energy of a window rose over the window just before it, in nepers. Value k belongs to the
// start of its window.
Onsets lowOnsetsOf(const std::vector<float> &stereo, double rate);

// A regular beat: its period and the time of the grid line nearest t = 0 (between minus and plus
// half a period), in seconds.
struct Beat {
  double period = 0.0;
  double phase = 0.0;
};

// The beat, between the shortest and the longest period given, whose grid the onsets of the whole
// piece fall on most strongly.
Beat beatOf(const Onsets &onsets, double shortest, double longest);

// The time of the strongest onset within window seconds of the given time.
double strongestOnset(const Onsets &onsets, double near, double window);

#endif

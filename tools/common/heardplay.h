// The stand-in's music played to a sound server of our own by a player process and recorded as
// it is heard, for the sound tests and the benchmarks.
#ifndef PARKHAUS_TOOLS_HEARDPLAY_H
#define PARKHAUS_TOOLS_HEARDPLAY_H

#include <string>
#include <vector>

#include "heard.h"

// What one player run gave: the origin of its clock (the moment the track's first sample is due,
// on the steady clock), the recording, and when a stall ended (seconds after the origin; -1: none).
struct HeardPlayed {
  double origin = 0.0, resumed = -1.0;
  HeardRecording rec;
};

// The player's side: with the arguments "--play FILE" it plays the MP3 FILE through the stand-in,
// with SDL's choice of backend, until its standard input closes, and gives its exit status; for
// any other arguments -1, so that the caller goes on as itself.
int heardPlayerMain(int argc, char **argv);

// Records the server's sink while this program, run as the player with SDL_AUDIODRIVER set to
// driver (empty: unset), plays the track for the given seconds of its clock; once its clock has
// passed stallAt, its whole process is stopped for stallSeconds. False with a reason on failure.
bool heardPlay(const HeardServer &server, const std::string &driver, const std::string &track, double seconds,
               HeardPlayed &out, std::string &error, double stallAt = 0, double stallSeconds = 0);

// The offsets (seconds, later positive) of the 100 ms stretches heard between from and to
// seconds on the player's clock, laid against the tune (16-bit stereo at the music's rate).
std::vector<double> heardOffsets(const HeardPlayed &played, const std::vector<int16_t> &tune, double from, double to);

#endif

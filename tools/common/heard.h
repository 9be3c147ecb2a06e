// What a listener hears through a sound server: a recording of a sink's monitor with the moment
// each sample left the sink, laid against the tune, for the sound tests and the benchmarks.
#ifndef PARKHAUS_TOOLS_HEARD_H
#define PARKHAUS_TOOLS_HEARD_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

// 16-bit stereo frames at rate; frame i left the sink at startSeconds + i / rate on the steady clock.
struct HeardRecording {
  std::vector<int16_t> samples;
  int rate = 0;
  double startSeconds = 0.0;
};

// A sound server of our own, reached on a socket in its folder, with a null sink "out" whose
// monitor is recorded: PulseAudio at 44.1 kHz, or PipeWire (48 kHz) with wireplumber and its
// pulse server, in a D-Bus session of its own.
struct HeardServer {
  std::string folder;
  std::string address;  // for PULSE_SERVER and heardStart
  int rate = 0;
  pid_t pid = -1;
};

// Starts the server in the folder (which the server may fill) and waits until its sink's monitor
// can be recorded; false with a reason when it ends first.
bool heardServerStart(HeardServer &server, bool pipewire, const std::string &folder, std::string &error);

// Ends the server and everything it started.
void heardServerStop(HeardServer &server);

// The settings a player needs to play to the server: PULSE_SERVER and the runtime folder.
std::vector<std::string> heardServerEnvironment(const HeardServer &server);

struct HeardRecorder;

// Starts recording the source (a sink's monitor) of the PulseAudio-speaking server at rate; null
// with a reason when the server cannot be reached.
HeardRecorder *heardStart(const std::string &server, const std::string &source, int rate, std::string &error);

// Waits until frames heard at the steady clock's time until are recorded, at most timeout
// seconds; false when they are not (the server stopped sending, or reading failed).
bool heardWait(HeardRecorder *recorder, double until, double timeout);

// Stops the recording and hands it over; false when reading from the server failed on the way.
bool heardStop(HeardRecorder *recorder, HeardRecording &out, std::string &error);

// A stretch of the recording laid against the tune: at is its middle, in seconds after origin;
// offset is how late (positive) or early the tune was heard there; heard is false where the
// stretch holds no clear copy of the tune (silence, or too little of it).
struct HeardWindow {
  double at = 0.0;
  double offset = 0.0;
  bool heard = false;
};

// The offset of every stretch of windowSeconds, found by cross-correlation with the tune (16-bit
// stereo at tuneRate) within half a second either way; origin is the moment the tune's first
// sample is due, on the steady clock.
std::vector<HeardWindow> heardAlign(const HeardRecording &rec, const std::vector<int16_t> &tune, int tuneRate,
                                    double origin, double windowSeconds);

// A run of frames of the recording equal to the tune's, frame for frame.
struct HeardRun {
  size_t at = 0;      // first frame in the recording
  size_t from = 0;    // the tune's frame it equals
  size_t length = 0;  // frames
};

// The exact copies of the tune in a recording made at the tune's own rate, in order; silence
// belongs to no run.
std::vector<HeardRun> heardExactRuns(const HeardRecording &rec, const std::vector<int16_t> &tune);

// The silences of more than minSeconds inside the heard stretch of the recording, as start and
// length in seconds after origin: the holes a listener hears.
std::vector<std::pair<double, double>> heardHoles(const HeardRecording &rec, double origin, double minSeconds);

// Monotonic seconds on the clock the recordings are stamped with.
double heardNow(void);

#endif

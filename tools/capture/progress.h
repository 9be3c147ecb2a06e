// Progress of a capture on standard error: a bar on a terminal, occasional lines otherwise.
#ifndef PARKHAUS_CAPTURE_PROGRESS_H
#define PARKHAUS_CAPTURE_PROGRESS_H

#include <cstdint>
#include <string>

#include "options.h"

struct CaptureSink;

// Counts towards total frames; terminal chooses the bar over plain lines.
struct CaptureProgress {
  int64_t total = 0;
  bool terminal = false;
  bool quiet = false;
  bool barShown = false;
  double startSeconds = 0.0;
  double lastShown = -1.0;
};

// Notes that done frames are finished at time now (captureNow's seconds); redraws the bar at most
// ten times a second, or prints a line every five seconds when standard error is not a terminal.
void captureProgressUpdate(CaptureProgress &p, int64_t done, double now);

// Ends the bar's line so that the next message starts on a line of its own.
void captureProgressEnd(CaptureProgress &p);

// The text of one progress report: "120/600 frames  61.2 fps  0:07 left".
std::string captureProgressText(int64_t done, int64_t total, double seconds);

// The line said when a capture has been written: "wrote a.mp4 (90 frames, 1.500 s, with the
// music) in 3.0 s, 60.0 frames/s", or for PNG frames their count, the first and the last.
std::string captureDoneText(const CaptureOptions &o, const CaptureSpan &span, const CaptureSink &sink, double took);

// Seconds on a steady clock.
double captureNow(void);

#endif

// Command line of the capture tool: what to render, how fast, how large and where to.
#ifndef PARKHAUS_CAPTURE_OPTIONS_H
#define PARKHAUS_CAPTURE_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>


// Upper bounds that keep a mistyped option from asking for days of frames or giant windows.
constexpr double kCaptureMaxFps = 1000.0;
constexpr int kCaptureMaxSide = 8192;
constexpr int64_t kCaptureMaxFrames = 10'000'000;

enum class CaptureFormat { Png, Wav, Mp4 };

// One entry of --frames: a frame number, or a time in seconds (written with an s suffix).
struct CapturePick {
  bool seconds;
  double value;
};

// Everything the command line says; durations below zero mean "to the end of the tune".
struct CaptureOptions {
  double fps = 60.0;
  std::string fpsText = "60";
  double start = 0.0;
  double duration = -1.0;
  int width = 640;
  int height = 480;
  std::string out;
  CaptureFormat format = CaptureFormat::Mp4;
  bool formatGiven = false;
  std::vector<CapturePick> picks;
  bool framesGiven = false;
  bool ownXServer = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// The frames to draw: 0 up to first + count - 1; those from first on are written.
// With --frames, only the listed frame numbers (ascending, no repeats) are written.
struct CaptureSpan {
  int64_t first = 0;
  int64_t count = 0;
  std::vector<int64_t> picked;
};

// Parses argv into options; on a mistake returns false with a one-line reason in error.
// hasFfmpeg decides the default format when none is given (MP4 with ffmpeg, PNG frames without).
bool captureParseOptions(int argc, char **argv, bool hasFfmpeg, CaptureOptions &options, std::string &error);

// Works out the frames to draw and write; tuneSamples is the length of the music in sample frames
// (below zero when there is no music, which only an explicit --duration or --frames can do without).
bool captureMakeSpan(const CaptureOptions &options, int64_t tuneSamples, CaptureSpan &span, std::string &error);

// The last frame that is drawn.
int64_t captureLastFrame(const CaptureSpan &span);

// The demo's time value for frame k at the given rate: k / rate, as the 32-bit float the frame reads.
float captureFrameTime(int64_t frame, double fps);

// The first music sample frame that belongs to frame k.
int64_t captureSampleAt(int64_t frame, double fps);

// The usage text printed by --help.
const char *captureUsage(void);

#endif

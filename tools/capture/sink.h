// Where captured frames go: PNG files in a folder, or ffmpeg making an MP4, on a writer thread
// so that drawing the next frame overlaps writing the last.
#ifndef PARKHAUS_CAPTURE_SINK_H
#define PARKHAUS_CAPTURE_SINK_H

#include <signal.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "options.h"

// The signals that ask a capture to stop: caught on the frame loop's thread, blocked on the writers'.
inline constexpr int kCaptureStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// One frame waiting to be written: a buffer of width x height BGRA pixels, bottom row first.
struct CaptureJob {
  int buffer;
  int64_t frame;
};

struct CaptureSink {
  CaptureFormat format = CaptureFormat::Png;
  int width = 0;
  int height = 0;
  std::string out;       // the folder, or the finished file
  std::string partPath;  // the MP4 while it is being made
  // ffmpeg
  pid_t ffmpeg = -1;
  int pipeFd = -1;
  // The writer threads (one for the ordered ffmpeg pipe, two for PNG files) and their buffers.
  std::vector<std::thread> workers;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<int> freeBuffers;
  std::deque<CaptureJob> queue;
  bool closing = false;
  bool failed = false;
  std::string error;
  int64_t written = 0;
  int64_t firstWritten = -1;  // lowest and highest frame number written in full
  int64_t lastWritten = -1;
};

// Prepares the output: makes the folder (and missing parents), or for an MP4 the parent folder,
// a trial of the part file and the ffmpeg process with the music (stereo samples at 44.1 kHz)
// handed over on an unlinked temporary file. Starts the writer thread.
bool captureSinkOpen(CaptureSink &sink, CaptureFormat format, int width, int height, const std::string &out,
                     const std::string &fpsText, const std::string &ffmpegPath, const std::vector<int16_t> &music,
                     std::string &error);

// A free frame buffer to read the next frame into; null once writing has failed.
uint8_t *captureSinkBuffer(CaptureSink &sink);

// Hands the buffer last returned by captureSinkBuffer to the writer as the given frame.
void captureSinkSubmit(CaptureSink &sink, uint8_t *buffer, int64_t frame);

// True once the writer has failed (the reason is in sink.error).
bool captureSinkFailed(CaptureSink &sink);

// Writes what is queued, ends ffmpeg and puts the MP4 in place. On failure removes the part file.
bool captureSinkFinish(CaptureSink &sink, std::string &error);

// Stops at once: ends the writer and ffmpeg and removes the part file.
void captureSinkAbort(CaptureSink &sink);

// Kills ffmpeg's process group and waits for nothing, for a stop that cannot wait.
void captureSinkKill(const CaptureSink &sink);

// Writes BGRA rows (bottom row first) as an RGB PNG through a part file; false on a write error.
bool captureWritePng(const std::string &path, const uint8_t *bgra, int width, int height, std::string &error);

// The frame file name inside the PNG folder: frame-000123.png.
std::string capturePngName(int64_t frame);

#endif

// Where captured frames go: PNG files, or an ffmpeg pipe for an MP4, written on a thread of their own.
#include "sink.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "files.h"
#include "pngwrite.h"
#include "process.h"
#include "refuse.h"
#include "wav.h"

// PNG files are encoded on two threads, as deflate costs more than drawing a frame; the MP4's
// frames go down one pipe in order. Each writer has a buffer in hand, plus one being read back and a spare.
constexpr int kPngWriters = 2;

// frame-NNNNNN.png for frame NNNNNN.
std::string capturePngName(int64_t frame) {
  char name[40];
  snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(frame));
  return name;
}

bool captureWritePng(const std::string &path, const uint8_t *bgra, int width, int height, std::string &error) {
  // Speed over size: on these frames row filters cost more time than they save bytes at level 1.
  PngSpec spec;
  spec.width = width;
  spec.height = height;
  spec.pixels = PngPixels::Bgrx;
  spec.level = 1;
  const size_t stride = static_cast<size_t>(width) * 4;
  std::vector<const uint8_t *> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; y++) rows[static_cast<size_t>(y)] = bgra + (height - 1 - y) * stride;
  Bytes png;
  if (!pngEncodeRows(spec, rows.data(), png)) {
    return refuse(error, "cannot write '" + path + ".part': PNG encoder failed");
  }
  return fileWrite(path, png, error);
}

// Writes every row of a bottom-up frame to the pipe, top row first, without copying.
static bool pipeFrame(int fd, const uint8_t *bgra, int width, int height, std::string &error) {
  const size_t stride = static_cast<size_t>(width) * 4;
  std::vector<iovec> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; y++) {
    rows[static_cast<size_t>(y)].iov_base = const_cast<uint8_t *>(bgra + (height - 1 - y) * stride);
    rows[static_cast<size_t>(y)].iov_len = stride;
  }
  size_t at = 0;
  while (at < rows.size()) {
    int n = static_cast<int>(std::min<size_t>(rows.size() - at, IOV_MAX));
    ssize_t w = writev(fd, &rows[at], n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      return refuse(error, errno == EPIPE ? "ffmpeg stopped reading frames" : std::string("writing to ffmpeg: ") +
          strerror(errno));
    }
    // Skip the rows written in full, and trim the one written in part.
    size_t left = static_cast<size_t>(w);
    while (left > 0 && left >= rows[at].iov_len) {
      left -= rows[at].iov_len;
      at++;
    }
    if (left > 0) {
      rows[at].iov_base = static_cast<uint8_t *>(rows[at].iov_base) + left;
      rows[at].iov_len -= left;
    }
  }
  return true;
}

// A writer thread: takes queued frames in order and writes them until told to close or one fails.
static void writerLoop(CaptureSink *sink) {
  while (true) {
    CaptureJob job{};
    {
      std::unique_lock<std::mutex> hold(sink->lock);
      sink->changed.wait(hold, [sink] { return !sink->queue.empty() || sink->closing || sink->failed; });
      if (sink->queue.empty() || sink->failed) return;
      job = sink->queue.front();
      sink->queue.pop_front();
    }
    const uint8_t *pixels = sink->buffers[static_cast<size_t>(job.buffer)].data();
    std::string error;
    bool ok = sink->format == CaptureFormat::Mp4
                  ? pipeFrame(sink->pipeFd, pixels, sink->width, sink->height, error)
                  : captureWritePng(sink->out + "/" + capturePngName(job.frame), pixels, sink->width, sink->height,
                                    error);
    std::unique_lock<std::mutex> hold(sink->lock);
    sink->freeBuffers.push_back(job.buffer);
    if (ok) {
      sink->written++;
      if (sink->firstWritten < 0 || job.frame < sink->firstWritten) sink->firstWritten = job.frame;
      if (job.frame > sink->lastWritten) sink->lastWritten = job.frame;
    } else {
      if (!sink->failed) sink->error = error;
      sink->failed = true;
      sink->queue.clear();
      sink->changed.notify_all();
      return;
    }
    sink->changed.notify_all();
  }
}

// Puts the music on an unlinked temporary file as a WAV, so nothing is left behind even if we are killed.
static int musicFile(const std::vector<int16_t> &music, std::string &error) {
  Bytes wav;
  const int fd = fileTemp();
  if (fd < 0 || !wavEncode(music, wav) || !fileWriteFd(fd, wav.data(), wav.size()) || lseek(fd, 0, SEEK_SET) != 0) {
    error = std::string("cannot write the music for ffmpeg to a temporary file: ") + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Starts ffmpeg reading raw BGRA frames on its standard input and the music WAV on descriptor 3,
// in a process group of its own so that a Ctrl-C reaches only us and we end ffmpeg ourselves.
static bool startFfmpeg(CaptureSink &sink, const std::string &fpsText, const std::string &ffmpegPath, int musicFd,
                        std::string &error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return refuse(error, std::string("pipe: ") + strerror(errno));
  // A pipe that holds a whole frame lets ffmpeg read in large steps.
  fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  ProcSpec spec;
  spec.argv = {ffmpegPath, "-hide_banner", "-nostdin", "-loglevel", "error", "-nostats",
               "-f", "rawvideo", "-pix_fmt", "bgra", "-video_size",
               std::to_string(sink.width) + "x" + std::to_string(sink.height), "-framerate", fpsText, "-i", "pipe:0"};
  spec.argv.insert(spec.argv.end(), {"-f", "wav", "-i", "pipe:3", "-map", "0:v", "-map", "1:a", "-c:a", "aac", "-b:a", "192k"});
  spec.extraFds = {{3, musicFd}};
  // The fastest x264 preset keeps encoding below the cost of drawing a frame on two cores;
  // bitexact flags and no metadata make two captures of the same span the same file.
  spec.argv.insert(spec.argv.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "18", "-pix_fmt", "yuv420p",
                                     "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact",
                                     "-map_metadata", "-1", "-movflags", "+faststart", "-f", "mp4", "-y",
                                     sink.partPath});
  spec.stdinFd = fds[0];
  spec.stdoutFd = kProcDevNull;
  spec.ownGroup = true;
  sink.ffmpeg = procStart(spec, error);
  close(fds[0]);
  if (sink.ffmpeg < 0) {
    close(fds[1]);
    return false;
  }
  sink.pipeFd = fds[1];
  return true;
}

// Makes the PNG folder and tries it with a file of our own before anything is drawn.
static bool preparePngFolder(const std::string &out, std::string &error) {
  if (!fileMakeDirs(out, error)) return false;
  const std::string probe = out + "/.parkhaus-capture-probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return refuse(error, "cannot write into the folder '" + out + "': " + strerror(errno));
  close(fd);
  unlink(probe.c_str());
  return true;
}

// Makes the MP4's folder, tries its part file, and starts ffmpeg with the music; on failure
// leaves no part file behind.
static bool prepareMp4(CaptureSink &sink, const std::string &fpsText, const std::string &ffmpegPath,
                       const std::vector<int16_t> &music, std::string &error) {
  sink.partPath = sink.out + ".part";
  if (!fileMakeParentDirs(sink.out, error)) return false;
  const int fd = open(sink.partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return refuse(error, "cannot write '" + sink.partPath + "': " + strerror(errno));
  close(fd);
  const int musicFd = musicFile(music, error);
  const bool started = musicFd >= 0 && startFfmpeg(sink, fpsText, ffmpegPath, musicFd, error);
  if (musicFd >= 0) close(musicFd);
  if (!started) unlink(sink.partPath.c_str());
  return started;
}

bool captureSinkOpen(CaptureSink &sink, CaptureFormat format, int width, int height, const std::string &out,
                     const std::string &fpsText, const std::string &ffmpegPath, const std::vector<int16_t> &music,
                     std::string &error) {
  sink.format = format;
  sink.width = width;
  sink.height = height;
  sink.out = out;
  if (format == CaptureFormat::Png && !preparePngFolder(out, error)) return false;
  if (format == CaptureFormat::Mp4 && !prepareMp4(sink, fpsText, ffmpegPath, music, error)) return false;
  const size_t frameBytes = static_cast<size_t>(width) * height * 4;
  const int writers = format == CaptureFormat::Png ? kPngWriters : 1;
  sink.buffers.assign(static_cast<size_t>(writers + 2), std::vector<uint8_t>(frameBytes));
  for (size_t i = 0; i < sink.buffers.size(); i++) sink.freeBuffers.push_back(static_cast<int>(i));
  // The writers start with the stop signals blocked, so that a Ctrl-C and a second one reach the
  // frame loop's thread in the order they were sent.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int sig : kCaptureStopSignals) sigaddset(&stops, sig);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  for (int i = 0; i < writers; i++) sink.workers.emplace_back(writerLoop, &sink);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return true;
}

// Waits for a free frame buffer; null once a writer has failed.
uint8_t *captureSinkBuffer(CaptureSink &sink) {
  std::unique_lock<std::mutex> hold(sink.lock);
  sink.changed.wait(hold, [&sink] { return !sink.freeBuffers.empty() || sink.failed; });
  if (sink.failed) return nullptr;
  int b = sink.freeBuffers.back();
  sink.freeBuffers.pop_back();
  return sink.buffers[static_cast<size_t>(b)].data();
}

// Queues the filled buffer for the writers.
void captureSinkSubmit(CaptureSink &sink, uint8_t *buffer, int64_t frame) {
  std::unique_lock<std::mutex> hold(sink.lock);
  const auto held = std::ranges::find(sink.buffers, buffer, [](const std::vector<uint8_t> &b) { return b.data(); });
  if (held != sink.buffers.end()) sink.queue.push_back({static_cast<int>(held - sink.buffers.begin()), frame});
  sink.changed.notify_all();
}

// Whether a writer has failed.
bool captureSinkFailed(CaptureSink &sink) {
  std::unique_lock<std::mutex> hold(sink.lock);
  return sink.failed;
}

// Lets the writers finish what is queued (or drop it when abandon is set) and joins them.
static void stopWriter(CaptureSink &sink, bool abandon) {
  if (sink.workers.empty()) return;
  {
    std::unique_lock<std::mutex> hold(sink.lock);
    if (abandon) sink.queue.clear();
    sink.closing = true;
    sink.changed.notify_all();
  }
  for (std::thread &w : sink.workers) w.join();
  sink.workers.clear();
}

// Waits for ffmpeg and returns its exit status (128 + signal when a signal ended it).
static int waitFfmpeg(CaptureSink &sink) {
  if (sink.ffmpeg <= 0) return 0;
  const int status = procWait(sink.ffmpeg, -1);
  sink.ffmpeg = -1;
  return status;
}

// Drains the queue, ends ffmpeg and renames the part file into place.
bool captureSinkFinish(CaptureSink &sink, std::string &error) {
  stopWriter(sink, false);
  if (sink.format != CaptureFormat::Mp4) {
    if (sink.failed) error = sink.error;
    return !sink.failed;
  }
  if (sink.pipeFd >= 0) close(sink.pipeFd);
  sink.pipeFd = -1;
  int status = waitFfmpeg(sink);
  if (sink.failed || status != 0) {
    unlink(sink.partPath.c_str());
    error = sink.failed ? sink.error : "";
    if (status != 0) {
      if (!error.empty()) error += "; ";
      error += status == 127 ? "ffmpeg could not be run"
               : status > 128 ? "ffmpeg was killed"
                             : "ffmpeg failed with exit status " + std::to_string(status);
    }
    return false;
  }
  if (rename(sink.partPath.c_str(), sink.out.c_str()) != 0) {
    error = "cannot rename '" + sink.partPath + "' to '" + sink.out + "': " + strerror(errno);
    unlink(sink.partPath.c_str());
    return false;
  }
  return true;
}

// Ends ffmpeg and what it started, with no wait; safe in a signal handler. ffmpeg leads its own
// process group from the moment it is started, so the group's kill reaches it too.
void captureSinkKill(const CaptureSink &sink) {
  if (sink.ffmpeg > 0) kill(-sink.ffmpeg, SIGKILL);
}

// Stops everything at once and removes the part file.
void captureSinkAbort(CaptureSink &sink) {
  // Killing ffmpeg first ends a write the writer may be blocked in.
  captureSinkKill(sink);
  stopWriter(sink, true);
  if (sink.pipeFd >= 0) close(sink.pipeFd);
  sink.pipeFd = -1;
  waitFfmpeg(sink);
  if (!sink.partPath.empty()) unlink(sink.partPath.c_str());
}

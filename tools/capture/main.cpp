// parkhaus-capture: draws the demo frame by frame on its own clock and writes PNG frames, a WAV
// of the music, or an MP4 with the music; starts an Xvfb of its own where there is no display.
#include <GL/freeglut.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datadata.h"
#include "globals.h"
#include "main.h"
#include "options.h"
#include "progress.h"
#include "sink.h"
#include "track.h"
#include "xserver.h"
#include "zarelib.h"

// What must be undone however the tool ends: read by the signal handler and at exit, so plain data.
static volatile sig_atomic_t gStopSignal = 0;
static pid_t gXvfbPid = -1;
static pid_t gFfmpegPid = -1;
static char gPartPath[4096];

// Where the frame being drawn is to be read back; null for frames that are drawn but not written.
static uint8_t *gReadTarget = nullptr;
static bool gReadDone = false;
static int gWidth = 0;
static int gHeight = 0;

extern "C" void __real_glutSwapBuffers(void);

// The frame's swap, wrapped at link time: the finished frame is read from the back buffer just
// before it is shown, which gives exactly the pixels the frame drew whatever the swap leaves behind
// (Mesa's software rasteriser reads the front buffer back black after a swap).
extern "C" void __wrap_glutSwapBuffers(void) {
  if (gReadTarget) {
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, gWidth, gHeight, GL_BGRA, GL_UNSIGNED_BYTE, gReadTarget);
    gReadTarget = nullptr;
    gReadDone = true;
  }
  __real_glutSwapBuffers();
}

// Ends the helper processes and removes the part file; safe in a signal handler.
static void cleanUpNow(void) {
  if (gFfmpegPid > 0) {
    kill(-gFfmpegPid, SIGKILL);
    kill(gFfmpegPid, SIGKILL);
  }
  if (gXvfbPid > 0) kill(gXvfbPid, SIGTERM);
  if (gPartPath[0]) unlink(gPartPath);
}

// Runs at exit(), which freeglut and Xlib call on fatal errors of their own.
static void cleanUpAtExit(void) {
  if (gPartPath[0] && gFfmpegPid <= 0 && gXvfbPid <= 0) {
    unlink(gPartPath);
    return;
  }
  cleanUpNow();
}

// The first Ctrl-C (or TERM, HUP) asks the frame loop to stop and tidy up; a second one ends at once.
static void onSignal(int sig) {
  if (gStopSignal) {
    cleanUpNow();
    _exit(128 + sig);
  }
  gStopSignal = sig;
}

// Notes the part file for removal should the process end before it is finished.
static void notePart(const std::string &path) {
  snprintf(gPartPath, sizeof gPartPath, "%s", path.c_str());
}

// freeglut's fatal errors: say that there is no GL context, tidy up and leave.
__attribute__((format(printf, 1, 0))) static void onGlutError(const char *fmt, va_list ap) {
  char text[512];
  vsnprintf(text, sizeof text, fmt, ap);
  fprintf(stderr, "parkhaus-capture: no GL context could be had: %s\n", text);
  exit(1);
}

// freeglut's warnings are of no use to someone capturing; keep them off the progress bar.
static void onGlutWarning(const char *, va_list) {}

// A redisplay callback for GLUT's sake; the tool draws by calling the demo's own display callback.
static void noDisplay(void) {}

// The music as the demo plays it: the pack's data/tune.mp3, or the loose file while the pack lacks it.
static bool loadMusic(std::vector<int16_t> &pcm, std::string &from, std::string &error) {
  zare_lib_t *lib = zare_new();
  if (lib) zare_dar_add(lib, (zare_data_t *)dataData);
  zare_memfile_t *mf = lib ? zare_memfile_new(lib) : nullptr;
  bool inPack = mf && zare_memfile_load(lib, mf, "data/tune.mp3") == 0 && mf->pData && mf->iSize > 0;
  bool ok = false;
  if (inPack) {
    from = "the pack's data/tune.mp3";
    ok = captureDecodeMp3(mf->pData, static_cast<size_t>(mf->iSize), pcm, error);
  } else {
    from = "data/tune.mp3 (the pack has none)";
    FILE *f = fopen("data/tune.mp3", "rb");
    if (!f) {
      error = std::string("the pack has no data/tune.mp3, and data/tune.mp3 cannot be read: ") + strerror(errno);
    } else {
      std::vector<unsigned char> bytes;
      unsigned char chunk[1 << 16];
      size_t n;
      while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
      fclose(f);
      ok = captureDecodeMp3(bytes.data(), bytes.size(), pcm, error);
    }
  }
  // The memory file owns no bytes and the library has no delete for it: it is a plain calloc'd record.
  free(mf);
  if (lib) zare_delete(lib);
  if (!ok) error = "cannot decode the music: " + error;
  return ok;
}

// Writes the span's music as a WAV through a part file that is renamed when complete.
static bool writeWavFile(const std::string &out, const std::vector<int16_t> &span, std::string &error) {
  size_t slash = out.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !captureMakeDirs(out.substr(0, slash), error)) return false;
  std::string part = out + ".part";
  int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot write '" + part + "': " + strerror(errno);
    return false;
  }
  notePart(part);
  bool ok = captureWriteWav(fd, span, error);
  if (close(fd) != 0 && ok) {
    ok = false;
    error = strerror(errno);
  }
  if (ok && rename(part.c_str(), out.c_str()) != 0) {
    ok = false;
    error = "cannot rename to '" + out + "': " + strerror(errno);
  }
  if (!ok) {
    unlink(part.c_str());
    if (error.find('\'') == std::string::npos) error = "cannot write '" + part + "': " + error;
  }
  gPartPath[0] = '\0';
  return ok;
}

// Opens a window of the capture size on a usable display, starting an Xvfb when there is none.
static bool openContext(const CaptureOptions &o, CaptureXServer &server, std::string &error) {
  std::string why;
  bool useOwn = o.ownXServer || !captureDisplayUsable(nullptr, o.width, o.height, why);
  if (useOwn) {
    if (!o.quiet && !o.ownXServer) fprintf(stderr, "parkhaus-capture: %s; starting an Xvfb of its own\n", why.c_str());
    if (!captureStartXvfb(o.width, o.height, server, error)) {
      error = "no GL context could be had: " + error;
      return false;
    }
    gXvfbPid = server.pid;
    setenv("DISPLAY", server.display.c_str(), 1);
  }
  static int argc = 1;
  static char arg0[] = "parkhaus-capture";
  static char *argv[] = {arg0, nullptr};
  glutInitErrorFunc(onGlutError);
  glutInitWarningFunc(onGlutWarning);
  glutInit(&argc, argv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(o.width, o.height);
  glutInitWindowPosition(0, 0);
  const int window = glutCreateWindow("parkhaus-capture");
  captureReleaseDisplay();
  if (window <= 0) {
    error = "no GL context could be had: the window could not be made";
    return false;
  }
  glutDisplayFunc(noDisplay);
  const char *renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
  if (!renderer) {
    error = "no GL context could be had: the window has no current GL context";
    return false;
  }
  if (!o.quiet) {
    fprintf(stderr, "parkhaus-capture: drawing with %s on %s%s\n", renderer, getenv("DISPLAY"),
            useOwn ? " (an Xvfb of its own)" : "");
  }
  return true;
}

// Prints the reason for a failure and leaves with the given status.
[[noreturn]] static void fail(int status, const std::string &message) {
  fprintf(stderr, "parkhaus-capture: %s\n", message.c_str());
  exit(status);
}

// Parses the options, gets the music, opens the output and the GL context, then draws every frame in turn.
int main(int argc, char **argv) {
  // A closed ffmpeg pipe and a file grown past its limit come back as write errors we can report.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  atexit(cleanUpAtExit);

  const std::string ffmpeg = captureFindProgram("ffmpeg");
  CaptureOptions o;
  std::string error;
  if (!captureParseOptions(argc, argv, !ffmpeg.empty(), o, error)) {
    fprintf(stderr, "parkhaus-capture: %s\nTry 'parkhaus-capture --help' for the options.\n", error.c_str());
    return 2;
  }
  if (o.help) {
    fputs(captureUsage(), stdout);
    return 0;
  }

  // The music: for the WAV and the MP4, and for the length of a capture of the whole tune.
  std::vector<int16_t> tune;
  std::string tuneFrom;
  bool haveTune = false;
  if (o.format != CaptureFormat::Png || (!o.framesGiven && o.duration < 0.0)) {
    haveTune = loadMusic(tune, tuneFrom, error);
    if (!haveTune && (o.format == CaptureFormat::Wav || o.duration < 0.0)) fail(1, error);
    if (!haveTune) fprintf(stderr, "parkhaus-capture: %s; the MP4 will have no sound\n", error.c_str());
  }
  CaptureSpan span;
  if (!captureMakeSpan(o, haveTune ? static_cast<int64_t>(tune.size() / 2) : -1, span, error)) {
    fprintf(stderr, "parkhaus-capture: %s\nTry 'parkhaus-capture --help' for the options.\n", error.c_str());
    return 2;
  }
  const int64_t firstSample = captureSampleAt(span.first, o.fps);
  const int64_t spanSamples = captureSampleAt(span.first + span.count, o.fps) - firstSample;
  std::vector<int16_t> music;
  if (haveTune && o.format != CaptureFormat::Png) {
    unsigned char header[44];
    if (!captureWavHeader(spanSamples, header)) fail(2, "the span is too long for its music to fit a WAV (4 GB)");
    captureCutSpan(tune, firstSample, spanSamples, music);
  }
  tune = {};
  const double seconds = static_cast<double>(span.count) / o.fps;

  if (o.format == CaptureFormat::Wav) {
    if (!writeWavFile(o.out, music, error)) fail(1, error);
    if (!o.quiet) {
      fprintf(stderr, "parkhaus-capture: wrote %s (%.3f s from %.3f s, %lld samples at 44.1 kHz stereo, from %s)\n",
              o.out.c_str(), seconds, static_cast<double>(span.first) / o.fps, static_cast<long long>(spanSamples),
              tuneFrom.c_str());
    }
    return 0;
  }

  struct stat dataDir{};
  if (stat("data", &dataDir) != 0 || !S_ISDIR(dataDir.st_mode)) {
    fprintf(stderr, "parkhaus-capture: there is no data/ folder here, so the frames lack the loose textures and "
                    "meshes; run it from the folder that holds data/\n");
  }

  // The output first, so that an unwritable one is reported before anything is drawn.
  CaptureSink sink;
  if (!captureSinkOpen(sink, o.format, o.width, o.height, o.out, o.fpsText, ffmpeg, music, error)) fail(1, error);
  music = {};
  if (o.format == CaptureFormat::Mp4) {
    gFfmpegPid = sink.ffmpeg;
    notePart(sink.partPath);
  }
  CaptureXServer server;
  if (!openContext(o, server, error)) {
    captureSinkAbort(sink);
    gFfmpegPid = -1;
    captureReleaseDisplay();
    captureStopXvfb(server);
    gXvfbPid = -1;
    fail(1, error);
  }

  const int64_t last = captureLastFrame(span);
  if (!o.quiet) {
    if (span.picked.empty()) {
      fprintf(stderr, "parkhaus-capture: frames %lld to %lld (%.3f s from %.3f s at %s fps, %dx%d) to %s\n",
              static_cast<long long>(span.first), static_cast<long long>(last), seconds,
              static_cast<double>(span.first) / o.fps, o.fpsText.c_str(), o.width, o.height, o.out.c_str());
    } else {
      fprintf(stderr, "parkhaus-capture: %zu chosen frames up to frame %lld (%dx%d at %s fps) to %s\n",
              span.picked.size(), static_cast<long long>(last), o.width, o.height, o.fpsText.c_str(), o.out.c_str());
    }
  }

  // The demo's start-up as the program runs it, then one reshape to the capture size.
  glInit();
  myInit();
  reshapeCallBack(o.width, o.height);
  gWidth = o.width;
  gHeight = o.height;

  CaptureProgress progress;
  captureProgressStart(progress, last + 1, isatty(2) != 0, o.quiet);
  const double began = captureNow();
  size_t nextPick = 0;
  bool ok = true;
  for (int64_t k = 0; k <= last && ok; k++) {
    if (gStopSignal) break;
    bool write = span.picked.empty() ? k >= span.first : (nextPick < span.picked.size() && span.picked[nextPick] == k);
    uint8_t *buffer = nullptr;
    if (write) {
      buffer = captureSinkBuffer(sink);
      if (!buffer) {
        ok = false;
        break;
      }
      nextPick++;
    }
    t = captureFrameTime(k, o.fps);
    gReadTarget = buffer;
    gReadDone = false;
    displayCallBack();
    if (write) {
      if (!gReadDone) {
        error = "the frame did not reach its buffer swap, so it could not be read back";
        ok = false;
        break;
      }
      captureSinkSubmit(sink, buffer, k);
    }
    captureProgressUpdate(progress, k + 1);
  }
  captureProgressEnd(progress);
  const double took = captureNow() - began;

  bool finished = false;
  if (gStopSignal) {
    captureSinkAbort(sink);
    error = std::string("stopped by ") + strsignal(gStopSignal);
  } else if (!ok && !captureSinkFailed(sink)) {
    captureSinkAbort(sink);
  } else {
    // Also after a failed write: ffmpeg is then waited for, so its exit status is part of the report.
    finished = captureSinkFinish(sink, error);
  }
  gFfmpegPid = -1;
  gPartPath[0] = '\0';
  // Let go of the display before its server ends, so Xlib does not report a broken connection.
  glutExit();
  captureStopXvfb(server);
  gXvfbPid = -1;

  const double fps = took > 0.0 ? static_cast<double>(last + 1) / took : 0.0;
  if (!finished) {
    std::string what = error;
    if (o.format == CaptureFormat::Mp4) {
      what += "; no MP4 was written (the part file is removed)";
    } else if (sink.written > 0) {
      const bool gaps = span.picked.empty() && sink.lastWritten - sink.firstWritten + 1 != sink.written;
      what += "; " + std::to_string(sink.written) + " complete frames (" + capturePngName(sink.firstWritten) + " to " +
              capturePngName(sink.lastWritten) + (gaps ? ", with gaps" : "") + ") were written to " + o.out +
              " before that";
    } else {
      what += "; no frames were written";
    }
    fail(gStopSignal ? 128 + gStopSignal : 1, what);
  }
  if (!o.quiet) {
    if (o.format == CaptureFormat::Mp4) {
      fprintf(stderr, "parkhaus-capture: wrote %s (%lld frames, %.3f s, music from %s) in %.1f s, %.1f frames/s\n",
              o.out.c_str(), static_cast<long long>(span.count), seconds, haveTune ? tuneFrom.c_str() : "nowhere",
              took, fps);
    } else {
      fprintf(stderr, "parkhaus-capture: wrote %lld frames (%s to %s) to %s in %.1f s, %.1f frames/s\n",
              static_cast<long long>(sink.written), capturePngName(sink.firstWritten).c_str(),
              capturePngName(sink.lastWritten).c_str(), o.out.c_str(), took, fps);
    }
  }
  return 0;
}

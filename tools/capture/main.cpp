// parkhaus-capture: draws the demo frame by frame on its own clock and writes PNG frames, a WAV
// of the music, or an MP4 with the music; starts an Xvfb of its own where there is no display.
#include <GL/freeglut.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "datadir.h"
#include "globals.h"
#include "main.h"
#include "options.h"
#include "process.h"
#include "progress.h"
#include "refuse.h"
#include "sink.h"
#include "track.h"
#include "wav.h"
#include "xvfb.h"

// What must be undone however the tool ends: read by the signal handler and at exit, so plain data
// (of the sink, only its ffmpeg pid). A tool's own Xvfb needs nothing here: it is sent TERM as we end.
static volatile sig_atomic_t gStopSignal = 0;
static const CaptureSink *gSink = nullptr;  // the output being made, whose ffmpeg must not outlive us
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

// Ends ffmpeg and removes the part file; safe in a signal handler, and run at exit(), which
// freeglut and Xlib call on fatal errors of their own.
static void cleanUpNow(void) {
  if (gSink) captureSinkKill(*gSink);
  if (gPartPath[0]) unlink(gPartPath);
}

// The first Ctrl-C (or TERM, HUP) asks the frame loop to stop and tidy up; a second one ends at once.
static void onSignal(int sig) {
  // Swapped in one step, so that two signals handled at once on two threads cannot both be the first.
  if (__atomic_exchange_n(&gStopSignal, sig, __ATOMIC_SEQ_CST) != 0) {
    cleanUpNow();
    _exit(128 + sig);
  }
}

// Ignores the signals that come back as write errors and catches those that ask us to stop.
static void installSignalHandlers(void) {
  // A closed ffmpeg pipe and a file grown past its limit come back as write errors we can report.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // While one stop signal is handled the others wait, so that a second one always finds the first noted.
  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : kCaptureStopSignals) sigaddset(&sa.sa_mask, sig);
  for (int sig : kCaptureStopSignals) sigaction(sig, &sa, nullptr);
  atexit(cleanUpNow);
}

// Notes the part file for removal should the process end before it is finished.
static void notePart(const std::string &path) {
  snprintf(gPartPath, sizeof gPartPath, "%s", path.c_str());
}

// freeglut's fatal errors: say that there is no GL context, tidy up and leave at once. exit()
// would run Xlib's handlers on the failed request too, which report it and call exit() again.
__attribute__((format(printf, 1, 0))) static void onGlutError(const char *fmt, va_list ap) {
  char text[512];
  vsnprintf(text, sizeof text, fmt, ap);
  fprintf(stderr, "parkhaus-capture: no GL context could be had: %s\n", text);
  cleanUpNow();
  _exit(1);
}

// freeglut's warnings are of no use to someone capturing; keep them off the progress bar.
static void onGlutWarning(const char *, va_list) {}

// A redisplay callback for GLUT's sake; the tool draws by calling the demo's own display callback.
static void noDisplay(void) {}

// Prints the reason for a failure and leaves with the given status.
[[noreturn]] static void fail(int status, const std::string &message) {
  fprintf(stderr, "parkhaus-capture: %s\n", message.c_str());
  exit(status);
}

// Prints the reason for a mistake on the command line and leaves with status 2.
[[noreturn]] static void usageFail(const std::string &message) {
  fail(2, message + "\nTry 'parkhaus-capture --help' for the options.");
}

// The music a capture needs, cut to the span. The tune is read for the WAV and the MP4, and for
// the length of a capture of the whole tune; a PNG capture of a given span goes without.
struct CaptureMusic {
  int64_t firstSample = 0;
  int64_t samples = 0;
  std::vector<int16_t> span;
};

// Decodes the tune when the capture needs it and settles the span of frames to draw.
static void prepareSpan(const CaptureOptions &o, CaptureSpan &span, CaptureMusic &music) {
  std::vector<int16_t> tune;
  std::string error;
  const bool needed = o.format != CaptureFormat::Png || (!o.framesGiven && o.duration < 0.0);
  if (needed && !captureLoadMusic(tune, error)) fail(1, error);
  if (!captureMakeSpan(o, needed ? static_cast<int64_t>(tune.size() / 2) : -1, span, error)) usageFail(error);
  music.firstSample = captureSampleAt(span.first, o.fps);
  music.samples = captureSampleAt(span.first + span.count, o.fps) - music.firstSample;
  if (o.format != CaptureFormat::Png) {
    uint8_t header[44];
    if (!wavHeader(music.samples, header)) fail(2, "the span is too long for its music to fit a WAV (4 GB)");
    captureCutSpan(tune, music.firstSample, music.samples, music.span);
  }
}

// Writes the span's music as a WAV and says what it wrote.
static void writeWav(const CaptureOptions &o, const CaptureSpan &span, const CaptureMusic &music) {
  std::string error;
  notePart(o.out + ".part");
  if (!captureWriteWavFile(o.out, music.span, error)) fail(1, error);
  gPartPath[0] = '\0';
  if (!o.quiet) {
    fprintf(stderr, "parkhaus-capture: wrote %s (%.3f s from %.3f s, %lld samples at 44.1 kHz stereo)\n",
            o.out.c_str(), static_cast<double>(span.count) / o.fps, static_cast<double>(span.first) / o.fps,
            static_cast<long long>(music.samples));
  }
}

// Opens a window of the capture size on a usable display, starting an Xvfb when there is none.
static bool openContext(const CaptureOptions &o, XvfbServer &server, std::string &error) {
  std::string why;
  const bool useOwn = o.ownXServer || !xvfbDisplayUsable(nullptr, o.width, o.height, why);
  if (useOwn) {
    if (!o.quiet && !o.ownXServer) fprintf(stderr, "parkhaus-capture: %s; starting an Xvfb of its own\n", why.c_str());
    if (!xvfbStart(o.width, o.height, server, error)) return refuse(error, "no GL context could be had: " + error);
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
  xvfbReleaseDisplay();
  const char *renderer = window > 0 ? reinterpret_cast<const char *>(glGetString(GL_RENDERER)) : nullptr;
  if (!renderer) {
    return refuse(error, window > 0 ? "no GL context could be had: the window has no current GL context"
                                    : "no GL context could be had: the window could not be made");
  }
  glutDisplayFunc(noDisplay);
  if (!o.quiet) {
    fprintf(stderr, "parkhaus-capture: drawing with %s on %s%s\n", renderer, getenv("DISPLAY"),
            useOwn ? " (an Xvfb of its own)" : "");
  }
  return true;
}

// Opens the output first, so that an unwritable one is reported before anything is drawn, then
// the GL context; leaves with a message when either cannot be had.
static void openOutputAndContext(const CaptureOptions &o, const std::string &ffmpeg, CaptureMusic &music,
                                 CaptureSink &sink, XvfbServer &server) {
  std::string error;
  gSink = &sink;
  if (!captureSinkOpen(sink, o.format, o.width, o.height, o.out, o.fpsText, ffmpeg, music.span, error)) fail(1, error);
  music.span = {};
  if (o.format == CaptureFormat::Mp4) notePart(sink.partPath);
  if (!openContext(o, server, error)) {
    captureSinkAbort(sink);
    xvfbReleaseDisplay();
    xvfbStop(server);
    fail(1, error);
  }
}

// Says what is about to be drawn and where it goes.
static void reportStart(const CaptureOptions &o, const CaptureSpan &span) {
  const long long last = static_cast<long long>(captureLastFrame(span));
  if (o.quiet) return;
  if (span.picked.empty()) {
    fprintf(stderr, "parkhaus-capture: frames %lld to %lld (%.3f s from %.3f s at %s fps, %dx%d) to %s\n",
            static_cast<long long>(span.first), last, static_cast<double>(span.count) / o.fps,
            static_cast<double>(span.first) / o.fps, o.fpsText.c_str(), o.width, o.height, o.out.c_str());
  } else {
    fprintf(stderr, "parkhaus-capture: %zu chosen frames up to frame %lld (%dx%d at %s fps) to %s\n",
            span.picked.size(), last, o.width, o.height, o.fpsText.c_str(), o.out.c_str());
  }
}

// Draws every frame from the first in sequence, the demo's own way, and hands those to be
// written to the sink. False with a reason when a frame could not be read back or written.
static bool drawFrames(const CaptureOptions &o, const CaptureSpan &span, CaptureSink &sink, std::string &error) {
  const int64_t last = captureLastFrame(span);
  CaptureProgress progress{last + 1, isatty(2) != 0, o.quiet, false, captureNow()};
  size_t nextPick = 0;
  bool ok = true;
  for (int64_t k = 0; k <= last && ok && !gStopSignal; k++) {
    const bool write = span.picked.empty() ? k >= span.first
                                           : (nextPick < span.picked.size() && span.picked[nextPick] == k);
    uint8_t *buffer = write ? captureSinkBuffer(sink) : nullptr;
    if (write && !buffer) ok = false;
    if (!ok) break;
    nextPick += write;
    t = captureFrameTime(k, o.fps);
    gReadTarget = buffer;
    gReadDone = false;
    displayCallBack();
    if (write && !gReadDone) {
      error = "the frame did not reach its buffer swap, so it could not be read back";
      ok = false;
    }
    if (write && ok) captureSinkSubmit(sink, buffer, k);
    captureProgressUpdate(progress, k + 1, captureNow());
  }
  captureProgressEnd(progress);
  return ok;
}

// Finishes the output after the frame loop: drains it, or abandons it after a stop or a failure.
static bool finishOutput(CaptureSink &sink, bool drawn, std::string &error) {
  bool finished = false;
  if (gStopSignal || (!drawn && !captureSinkFailed(sink))) {
    captureSinkAbort(sink);
    if (gStopSignal) error = std::string("stopped by ") + strsignal(gStopSignal);
  } else {
    // Also after a failed write: ffmpeg is then waited for, so its exit status is part of the report.
    finished = captureSinkFinish(sink, error);
  }
  gSink = nullptr;
  gPartPath[0] = '\0';
  return finished;
}

// Says what was, and was not, written after a failure, and leaves.
[[noreturn]] static void reportFailure(const CaptureOptions &o, const CaptureSpan &span, const CaptureSink &sink,
                                       std::string what) {
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

// Says what was written, how long it took and at what rate.
static void reportSuccess(const CaptureOptions &o, const CaptureSpan &span, const CaptureSink &sink, double took) {
  if (!o.quiet) fprintf(stderr, "parkhaus-capture: %s\n", captureDoneText(o, span, sink, took).c_str());
}

// Parses the options, gets the music, opens the output and the GL context, then draws every frame in turn.
int main(int argc, char **argv) {
  procOpenStandardFds();
  installSignalHandlers();
  const std::string ffmpeg = procFind("ffmpeg");
  CaptureOptions o;
  std::string error;
  if (!captureParseOptions(argc, argv, !ffmpeg.empty(), o, error)) usageFail(error);
  if (o.help || o.version) {
    fputs(o.help ? captureUsage() : "parkhaus-capture " PARKHAUS_VERSION "\n", stdout);
    return 0;
  }
  // The output is named from the user's folder; then the tool moves to where the loose files are.
  o.out = std::filesystem::absolute(o.out).string();
  const bool haveData = datadirEnter(PARKHAUS_DATA_FROM_EXE);
  CaptureSpan span;
  CaptureMusic music;
  prepareSpan(o, span, music);
  if (o.format == CaptureFormat::Wav) {
    writeWav(o, span, music);
    return 0;
  }
  if (!haveData) {
    fprintf(stderr, "parkhaus-capture: no data/ folder with the loose textures and meshes was found here, beside "
                    "the tool or where it is installed, so the frames lack them\n");
  }
  CaptureSink sink;
  XvfbServer server;
  openOutputAndContext(o, ffmpeg, music, sink, server);
  reportStart(o, span);

  // The demo's start-up as the program runs it, then one reshape to the capture size.
  glInit();
  myInit();
  reshapeCallBack(o.width, o.height);
  gWidth = o.width;
  gHeight = o.height;
  const double began = captureNow();
  const bool drawn = drawFrames(o, span, sink, error);
  const double took = captureNow() - began;
  const bool finished = finishOutput(sink, drawn, error);
  // Let go of the display before its server ends, so Xlib does not report a broken connection.
  glutExit();
  xvfbStop(server);
  if (!finished) reportFailure(o, span, sink, error);
  reportSuccess(o, span, sink, took);
  return 0;
}

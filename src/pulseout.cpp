// The libpulse output: a threaded main loop, one context and one playback stream, filled on the
// server's requests with the latency the server reports for each write.
#include "pulseout.h"

#include <pulse/pulseaudio.h>

#include <ctime>

static pa_threaded_mainloop *gLoop = nullptr;
static pa_context *gContext = nullptr;
static pa_stream *gStream = nullptr;
static PulseFill gFill = nullptr;

// The steady clock in nanoseconds.
static int64_t steadyNs(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The server asks for bytes: they are filled for the moment the server says they will be heard.
static void onWrite(pa_stream *stream, size_t bytes, void *) {
  void *buffer = nullptr;
  if (pa_stream_begin_write(stream, &buffer, &bytes) < 0 || buffer == nullptr) return;
  bytes -= bytes % 4;
  pa_usec_t latency = 0;
  int negative = 0;
  int64_t heard = steadyNs();
  if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
    heard += (negative ? -1 : 1) * static_cast<int64_t>(latency) * 1000;
  }
  gFill(static_cast<unsigned char *>(buffer), bytes, heard);
  pa_stream_write(stream, buffer, bytes, nullptr, 0, PA_SEEK_RELATIVE);
}

// Context and stream states: wake the opening thread once either is ready or has failed.
static void onContextState(pa_context *, void *) { pa_threaded_mainloop_signal(gLoop, 0); }
static void onStreamState(pa_stream *, void *) { pa_threaded_mainloop_signal(gLoop, 0); }

// Waits, with the loop locked, until the context (no stream yet) or the stream is ready; false on failure.
static bool waitReady(void) {
  while (true) {
    const bool ready = gStream ? pa_stream_get_state(gStream) == PA_STREAM_READY : pa_context_get_state(gContext) == PA_CONTEXT_READY;
    const bool good = gStream ? PA_STREAM_IS_GOOD(pa_stream_get_state(gStream)) : PA_CONTEXT_IS_GOOD(pa_context_get_state(gContext));
    if (ready || !good) return ready;
    pa_threaded_mainloop_wait(gLoop);
  }
}

bool pulseOutOpen(int rate, double bufferSeconds, PulseFill fill) {
  if (gLoop != nullptr) return true;
  gLoop = pa_threaded_mainloop_new();
  if (gLoop == nullptr) return false;
  gFill = fill;
  gContext = pa_context_new(pa_threaded_mainloop_get_api(gLoop), "Parkhaus");
  bool ready = false;
  pa_threaded_mainloop_lock(gLoop);
  if (gContext != nullptr) {
    pa_context_set_state_callback(gContext, onContextState, nullptr);
    ready = pa_context_connect(gContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
            pa_threaded_mainloop_start(gLoop) == 0 && waitReady();
  }
  if (ready) {
    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), 2};
    gStream = pa_stream_new(gContext, "Parkhaus", &spec, nullptr);
    ready = gStream != nullptr;
  }
  if (ready) {
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(bufferSeconds * rate) * 4;
    attr.prebuf = 0;  // never held back after an underrun: what is written next plays at once
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    pa_stream_set_state_callback(gStream, onStreamState, nullptr);
    pa_stream_set_write_callback(gStream, onWrite, nullptr);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    ready = pa_stream_connect_playback(gStream, nullptr, &attr, flags, nullptr, nullptr) == 0 && waitReady();
  }
  pa_threaded_mainloop_unlock(gLoop);
  if (!ready) pulseOutClose();
  return ready;
}

void pulseOutLock(void) {
  if (gLoop != nullptr) pa_threaded_mainloop_lock(gLoop);
}

void pulseOutUnlock(void) {
  if (gLoop != nullptr) pa_threaded_mainloop_unlock(gLoop);
}

void pulseOutClose(void) {
  if (gLoop == nullptr) return;
  pa_threaded_mainloop_stop(gLoop);
  if (gStream != nullptr) {
    pa_stream_disconnect(gStream);
    pa_stream_unref(gStream);
  }
  if (gContext != nullptr) {
    pa_context_disconnect(gContext);
    pa_context_unref(gContext);
  }
  pa_threaded_mainloop_free(gLoop);
  gLoop = nullptr;
  gContext = nullptr;
  gStream = nullptr;
  gFill = nullptr;
}

// The sound stand-in: one MP3 stream read in place from a block of memory, decoded by libmpg123
// and played once at 44.1 kHz, stereo, signed 16-bit: to the desktop's sound server through
// libpulse where there is one and SDL would choose it anyway, otherwise through an SDL2 device.
//
// Decoding happens on the output's thread. The data sits in memory, so a read never waits, and
// each request is a few MP3 frames of decoding, tens of microseconds. A damaged stretch costs at
// most kMaxErrorsPerCallback resync attempts of libmpg123's resync limit (1 KiB each) per request;
// the rest of it is skipped over the following requests, which play silence meanwhile.
// Opening decodes the first frame at once: libmpg123 skips an ID3v2 tag and up to 64 KiB of junk
// before it; data in which it finds no frame there is not an MP3.
#include "fsound.h"

#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <mpg123.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mp3mem.h"
#include "pulseout.h"
#include "timeline.h"

// Device buffer in sample frames (about 93 ms): a stall of the audio thread shorter than that is
// no hole; the latency it adds is accounted for on the clock, so it costs no sync.
constexpr Uint16 kDeviceSamples = 4096;
constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * 2;
// The open check decodes up to one MP3 frame of 1152 samples; the callback plays it first.
constexpr size_t kProbeBytes = 1152 * kBytesPerFrame;
constexpr int kMaxErrorsPerCallback = 4;
constexpr int kMaxReadsPerCallback = 64;

// One stream: the caller's bytes (not owned, not copied), the read position and the decoder.
struct FSOUND_STREAM {
  Mp3Memory source;
  mpg123_handle *decoder = nullptr;
  long rate = 0;
  std::array<unsigned char, kProbeBytes> probe{};
  size_t probeLength = 0;
  size_t probeUsed = 0;
  bool finished = false;
  int64_t position = 0;  // the next sample frame of the track to play
  FSOUND_STREAM *next = nullptr;
};

// The one output device; 0 while none is open.
static SDL_AudioDeviceID gDevice = 0;
static int gMixRate = kMusicRate;
// The stream the callback plays; written only with the device locked.
static FSOUND_STREAM *gPlaying = nullptr;
// Every stream opened: streams are never closed and stay owned here until the process ends.
static FSOUND_STREAM *gStreams = nullptr;
static bool gExitHandlerSet = false;
static bool gDecoderLibraryReady = false;

// The sound clock. Sample frame s of the playing stream is due at gOriginNs + s / rate, the
// moment of FSOUND_Init's call, which the caller makes as its own clock starts. Outputs that
// play to a listener are held to it; SDL's disk and dummy drivers write every sample as it comes.
static bool gOnClock = false;
static int64_t gOriginNs = 0;
// Played through SDL, which does not say when a buffer is heard: each is taken to follow the
// last, or, when the audio thread was so late that the device ran dry, to be heard at once.
static int64_t gNextHeardNs = -1;
// Off by more than this, the stream is moved onto the clock; within it, it plays on undisturbed.
constexpr int64_t kSlackNs = 10000000;
// What the sound server holds of the stream when it is played to directly: a stall of the
// program shorter than that is no hole, and the latency it adds is accounted for.
constexpr double kServerBufferSeconds = 0.25;
// Whether the stream goes to the sound server directly rather than to SDL's device.
static bool gPulse = false;

// The steady clock in nanoseconds.
static int64_t monotonicNs(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Fills out with the stream's next PCM bytes; returns how many it wrote (fewer at the end, or
// while a damaged stretch is being skipped).
static size_t streamDecode(FSOUND_STREAM *stream, unsigned char *out, size_t length) {
  size_t filled = 0;
  if (stream->probeUsed < stream->probeLength) {
    size_t n = std::min(length, stream->probeLength - stream->probeUsed);
    std::memcpy(out, stream->probe.data() + stream->probeUsed, n);
    stream->probeUsed += n;
    stream->position += static_cast<int64_t>(n / kBytesPerFrame);
    filled = n;
  }
  int errors = 0;
  // A bound on the reads of one callback, should libmpg123 ever report success without output.
  for (int reads = 0; reads < kMaxReadsPerCallback && filled < length && !stream->finished; ++reads) {
    size_t done = 0;
    size_t before = stream->source.pos;
    int result = mpg123_read(stream->decoder, out + filled, length - filled, &done);
    filled += done;
    stream->position += static_cast<int64_t>(done / kBytesPerFrame);
    if (result == MPG123_OK || result == MPG123_NEW_FORMAT) continue;
    if (result == MPG123_DONE || result == MPG123_NEED_MORE) {
      stream->finished = true;
    } else if (stream->source.pos == before && done == 0) {
      // An error that consumed nothing would repeat for ever: that is the end of what can be played.
      stream->finished = true;
    } else if (++errors >= kMaxErrorsPerCallback) {
      break;
    }
  }
  return filled;
}

// Decodes and drops the stream's next frames, up to count; false once it has ended.
static bool streamSkip(FSOUND_STREAM *stream, int64_t count) {
  std::array<unsigned char, 4096 * kBytesPerFrame> scratch;
  while (count > 0 && !stream->finished) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(count, 4096)) * kBytesPerFrame;
    const size_t got = streamDecode(stream, scratch.data(), want);
    if (got == 0) break;
    count -= static_cast<int64_t>(got / kBytesPerFrame);
  }
  return !stream->finished;
}

// Where the clock says a buffer heard from heardNs belongs: frames of the stream to skip
// (positive) or to wait for in silence (negative).
static int64_t clockError(const FSOUND_STREAM *stream, int64_t heardNs) {
  const int64_t due = (heardNs - gOriginNs) * gMixRate / 1000000000;
  const int64_t error = due - stream->position;
  return std::llabs(error) * 1000000000 / gMixRate > kSlackNs ? error : 0;
}

// Fills a buffer with the playing stream, on the clock when heardNs is known (not below zero),
// and with silence after the stream's end.
static void fillBuffer(unsigned char *out, size_t length, int64_t heardNs) {
  size_t filled = 0;
  if (gPlaying != nullptr) {
    const int64_t error = heardNs >= 0 ? clockError(gPlaying, heardNs) : 0;
    if (error > 0) streamSkip(gPlaying, error);
    // Early: silence first, the music after it.
    const size_t frames = length / kBytesPerFrame;
    const size_t wait = error < 0 ? static_cast<size_t>(std::min<int64_t>(-error, static_cast<int64_t>(frames))) * kBytesPerFrame : 0;
    std::memset(out, 0, wait);
    filled = wait + streamDecode(gPlaying, out + wait, length - wait);
  }
  std::memset(out + filled, 0, length - filled);
}

// SDL's audio callback, on SDL's audio thread.
static void audioCallback(void *, Uint8 *out, int length) {
  int64_t heard = -1;
  if (gOnClock) {
    const int64_t now = monotonicNs();
    if (gNextHeardNs < now - kSlackNs) gNextHeardNs = now;
    heard = gNextHeardNs;
    gNextHeardNs += static_cast<int64_t>(length / kBytesPerFrame) * 1000000000 / gMixRate;
  }
  fillBuffer(out, static_cast<size_t>(length), heard);
}

// Holds the output's thread off while the playing stream changes.
static void outputLock(void) {
  if (gPulse) pulseOutLock();
  else SDL_LockAudioDevice(gDevice);
}
static void outputUnlock(void) {
  if (gPulse) pulseOutUnlock();
  else SDL_UnlockAudioDevice(gDevice);
}

// Runs at exit before the static destructors and library teardown: stops the callback for good
// and closes the device, so nothing plays, decodes or touches freed state while the process ends.
static void closeAudioAtExit(void) {
  if (gPulse) {
    pulseOutLock();
    gPlaying = nullptr;
    pulseOutUnlock();
    pulseOutClose();
    gPulse = false;
    return;
  }
  if (gDevice == 0) return;
  SDL_LockAudioDevice(gDevice);
  gPlaying = nullptr;
  SDL_UnlockAudioDevice(gDevice);
  SDL_PauseAudioDevice(gDevice, 1);
  SDL_CloseAudioDevice(gDevice);
  gDevice = 0;
  // The stand-in is SDL's only user, so all of SDL goes, with the D-Bus connection it may have made.
  SDL_Quit();
}

// alsa-lib's error handler, replaced by one that prints nothing.
static void alsaErrorQuiet(const char *, int, const char *, int, const char *, ...) {}

// Without a sound card alsa-lib prints its own errors to standard error when SDL tries it. SDL
// loads it at run time, so the quiet handler is set in the same shared library, which then stays
// loaded so that the handler stays in place; where the library is not installed, nothing is done.
static void alsaSilence(void) {
  void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (alsa == nullptr) return;
  using Handler = void (*)(const char *, int, const char *, int, const char *, ...);
  auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
  if (setHandler != nullptr) setHandler(alsaErrorQuiet);
}

// Sets the stand-in's exit handler once.
static void closeAtExit(void) {
  if (!gExitHandlerSet) gExitHandlerSet = (atexit(closeAudioAtExit) == 0);
}

// Opens the output at the given rate, playing silence until a stream is played: the sound
// server itself where SDL would choose its PulseAudio backend anyway, otherwise SDL's device.
// Returns 1 when sound is available, 0 when not.
signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int) {
  if (gDevice != 0 || gPulse) return 1;
  const int64_t called = monotonicNs();
  if (mixrate < 8000 || mixrate > 192000 || maxsoftwarechannels < 1) return 0;
  gOriginNs = called;
  gMixRate = mixrate;
  const char *asked = getenv("SDL_AUDIODRIVER");
  if ((asked == nullptr || *asked == '\0' || strcmp(asked, "pulseaudio") == 0) &&
      pulseOutOpen(mixrate, kServerBufferSeconds, fillBuffer)) {
    gPulse = true;
    gOnClock = true;
    closeAtExit();
    return 1;
  }
  // The demo never pumps SDL's events, so SDL must not take over SIGINT and SIGTERM.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  alsaSilence();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    SDL_Quit();
    return 0;
  }
  SDL_AudioSpec want{};
  want.freq = mixrate;
  want.format = AUDIO_S16SYS;
  want.channels = kChannels;
  want.samples = kDeviceSamples;
  want.callback = audioCallback;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts to whatever the hardware takes, the callback always sees our format.
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device == 0) {
    SDL_Quit();
    return 0;
  }
  gDevice = device;
  const char *driver = SDL_GetCurrentAudioDriver();
  gOnClock = driver != nullptr && strcmp(driver, "disk") != 0 && strcmp(driver, "dummy") != 0;
  gNextHeardNs = -1;
  closeAtExit();
  return 1;
}

// Releases a stream that failed its open check.
static void streamDiscard(FSOUND_STREAM *stream) {
  if (stream->decoder != nullptr) {
    mpg123_close(stream->decoder);
    mpg123_delete(stream->decoder);
  }
  delete stream;
}

// Opens an MP3 held whole in memory (FSOUND_LOADMEMORY: data is the file, length its size) without
// copying it. Decodes the first frame at once; data in which libmpg123 finds no frame gives null.
FSOUND_STREAM *FSOUND_Stream_OpenFile(const char *data, unsigned int mode, int length) {
  if ((mode & FSOUND_LOADMEMORY) == 0 || data == nullptr || length <= 0) return nullptr;
  if (!gDecoderLibraryReady) {
    if (mpg123_init() != MPG123_OK) return nullptr;
    gDecoderLibraryReady = true;
  }
  auto *stream = new FSOUND_STREAM;
  stream->source.data = reinterpret_cast<const unsigned char *>(data);
  stream->source.size = static_cast<size_t>(length);
  stream->rate = gMixRate;
  int error = MPG123_OK;
  stream->decoder = mpg123_new(nullptr, &error);
  if (stream->decoder == nullptr) {
    delete stream;
    return nullptr;
  }
  mpg123_handle *decoder = stream->decoder;
  // One output format only: the device's rate, stereo, signed 16-bit.
  if (!mp3memOpen(decoder, &stream->source, stream->rate)) {
    streamDiscard(stream);
    return nullptr;
  }
  // The open check: read until libmpg123 reports the first frame's format, then keep that frame's PCM.
  bool foundFrame = false;
  for (int attempt = 0; attempt < 4 && stream->probeLength == 0 && !stream->finished; ++attempt) {
    size_t done = 0;
    int result = mpg123_read(decoder, stream->probe.data(), stream->probe.size(), &done);
    stream->probeLength = done;
    if (result == MPG123_NEW_FORMAT) {
      foundFrame = true;
    } else if (result == MPG123_OK) {
      foundFrame = foundFrame || done > 0;
    } else if (result == MPG123_DONE || result == MPG123_NEED_MORE) {
      stream->finished = true;
    } else {
      break;
    }
  }
  if (!foundFrame) {
    streamDiscard(stream);
    return nullptr;
  }
  stream->next = gStreams;
  gStreams = stream;
  return stream;
}

// Hands the stream to the output (and unpauses SDL's device), on the clock begun by FSOUND_Init:
// a stream played later starts where the clock is, not at its beginning; returns the channel, or -1 when there is no
// device or no stream. The stream is never looped: it plays once to its end, then silence.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream) {
  if ((gDevice == 0 && !gPulse) || stream == nullptr || stream->rate != gMixRate) return -1;
  outputLock();
  gPlaying = stream;
  outputUnlock();
  if (!gPulse) SDL_PauseAudioDevice(gDevice, 0);
  return channel;
}

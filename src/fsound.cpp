// The sound stand-in: one MP3 stream read in place from a block of memory, decoded by libmpg123
// and played once through an SDL2 audio device at 44.1 kHz, stereo, signed 16-bit.
//
// Decoding happens inside SDL's audio callback. The data sits in memory, so a read never waits,
// and each callback asks for one device buffer (2048 sample frames, about 46 ms), which is a
// little under two MP3 frames of decoding, tens of microseconds. A damaged stretch costs at most
// kMaxErrorsPerCallback resync attempts of libmpg123's resync limit (1 KiB each) per callback;
// the rest of it is skipped over the following callbacks, which play silence meanwhile.
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

#include "mp3mem.h"
#include "timeline.h"

// Device buffer in sample frames: large enough that wake-ups are rare, small enough to start at once.
constexpr Uint16 kDeviceSamples = 2048;
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

// Fills out with the stream's next PCM bytes; returns how many it wrote (fewer at the end, or
// while a damaged stretch is being skipped).
static size_t streamDecode(FSOUND_STREAM *stream, unsigned char *out, size_t length) {
  size_t filled = 0;
  if (stream->probeUsed < stream->probeLength) {
    size_t n = std::min(length, stream->probeLength - stream->probeUsed);
    std::memcpy(out, stream->probe.data() + stream->probeUsed, n);
    stream->probeUsed += n;
    filled = n;
  }
  int errors = 0;
  // A bound on the reads of one callback, should libmpg123 ever report success without output.
  for (int reads = 0; reads < kMaxReadsPerCallback && filled < length && !stream->finished; ++reads) {
    size_t done = 0;
    size_t before = stream->source.pos;
    int result = mpg123_read(stream->decoder, out + filled, length - filled, &done);
    filled += done;
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

// SDL's audio callback, on SDL's audio thread: the playing stream's PCM, silence after its end.
static void audioCallback(void *, Uint8 *out, int length) {
  size_t filled = 0;
  if (gPlaying != nullptr) {
    filled = streamDecode(gPlaying, out, static_cast<size_t>(length));
  }
  std::memset(out + filled, 0, static_cast<size_t>(length) - filled);
}

// Runs at exit before the static destructors and library teardown: stops the callback for good
// and closes the device, so nothing plays, decodes or touches freed state while the process ends.
static void closeAudioAtExit(void) {
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

// Opens the output device (paused) at the given rate; returns 1 when sound is available, 0 when not.
signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int) {
  if (gDevice != 0) return 1;
  if (mixrate < 8000 || mixrate > 192000 || maxsoftwarechannels < 1) return 0;
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
  gMixRate = mixrate;
  if (!gExitHandlerSet) {
    gExitHandlerSet = (atexit(closeAudioAtExit) == 0);
  }
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

// Hands the stream to the device and unpauses it; returns the channel, or -1 when there is no
// device or no stream. The stream is never looped: it plays once to its end, then silence.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream) {
  if (gDevice == 0 || stream == nullptr || stream->rate != gMixRate) return -1;
  SDL_LockAudioDevice(gDevice);
  gPlaying = stream;
  SDL_UnlockAudioDevice(gDevice);
  SDL_PauseAudioDevice(gDevice, 0);
  return channel;
}

// Decoding cost of the music as a share of one core.
//
// 1. The decoder alone: libmpg123 decodes the whole tune from memory, as the stand-in does, as fast
//    as it can; its CPU time over the tune's duration is the share of one core while it plays.
// 2. The stand-in in real time: SDL's disk driver paced at the device buffer's duration, writing to
//    /dev/null; the process's CPU time with the device paused (silence), then while the tune plays.
//    The difference is what the callback's decoding adds.
//
// Usage: bench_sound [file.mp3] [seconds of real-time playing]   (default data/tune.mp3, 10 s)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "fsound.h"
#include "mp3mem.h"
#include "timeline.h"

// CPU time of the whole process (all threads) in seconds.
static double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of the calling thread in seconds: one read's own work, whatever else the machine runs.
static double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

static double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Decodes the whole file from memory in device-buffer-sized reads, as the callback does; returns
// the PCM byte count, the CPU time and the longest single read (one callback's worth) in seconds.
static size_t decodeAll(const Bytes &mp3, double &cpuSeconds, double &longestRead) {
  mpg123_handle *mh = mpg123_new(nullptr, nullptr);
  Mp3Memory source{mp3.data(), mp3.size(), 0};
  size_t total = 0;
  double start = processCpuSeconds();
  if (mh && mp3memOpen(mh, &source, kMusicRate)) {
    std::vector<unsigned char> buffer(2048 * 4);
    for (;;) {
      size_t done = 0;
      double t0 = threadCpuSeconds();
      int result = mpg123_read(mh, buffer.data(), buffer.size(), &done);
      // The first reads parse the tags and the first frame; the stand-in does that when opening.
      if (total > 0) longestRead = std::max(longestRead, threadCpuSeconds() - t0);
      total += done;
      if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
    }
    mpg123_close(mh);
  }
  cpuSeconds = processCpuSeconds() - start;
  mpg123_delete(mh);
  return total;
}

// Process CPU share of one core over the given wall time.
static double cpuShareOver(double seconds) {
  double cpu0 = processCpuSeconds();
  double wall0 = wallSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (processCpuSeconds() - cpu0) / (wallSeconds() - wall0);
}

int main(int argc, char **argv) {
  std::string path = argc > 1 ? argv[1] : std::string(PARKHAUS_SOURCE_DIR) + "/data/tune.mp3";
  double playSeconds = argc > 2 ? atof(argv[2]) : 10.0;
  const Bytes mp3 = fileRead(path);
  if (mp3.empty()) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }

  double best = 1e9;
  double longest = 0;
  size_t pcmBytes = 0;
  for (int run = 0; run < 5; ++run) {
    double cpu = 0;
    double longestRead = 0;
    pcmBytes = decodeAll(mp3, cpu, longestRead);
    best = std::min(best, cpu);
    longest = std::max(longest, longestRead);
  }
  double duration = static_cast<double>(pcmBytes) / (static_cast<double>(kMusicRate) * 4);
  printf("tune: %s, %zu bytes, %.2f s of music\n", path.c_str(), mp3.size(), duration);
  printf("decoder alone: %.1f ms CPU for the whole tune (best of 5), %.0fx real time, %.3f%% of one core\n",
         best * 1000.0, duration / best, 100.0 * best / duration);
  printf("one device buffer (2048 frames, %.1f ms of music): %.1f us CPU on average, %.1f us at most\n",
         2048 * 1000.0 / static_cast<double>(kMusicRate), best * 1e6 / (static_cast<double>(pcmBytes) / 8192), longest * 1e6);

  // Real-time playing through the stand-in; the disk driver's default pace is one buffer per buffer time.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  unsetenv("SDL_DISKAUDIODELAY");
  if (!FSOUND_Init(kMusicRate, 1, 0)) {
    fprintf(stderr, "no audio device\n");
    return 1;
  }
  FSOUND_STREAM *stream =
      FSOUND_Stream_OpenFile(reinterpret_cast<const char *>(mp3.data()), FSOUND_NORMAL | FSOUND_LOADMEMORY,
                             static_cast<int>(mp3.size()));
  if (stream == nullptr) {
    fprintf(stderr, "not an MP3: %s\n", path.c_str());
    return 1;
  }
  double idle = cpuShareOver(std::min(5.0, playSeconds));
  FSOUND_Stream_Play(0, stream);
  double playing = cpuShareOver(std::min(playSeconds, duration - 1.0));
  printf("stand-in, device paused (silence): %.3f%% of one core\n", 100.0 * idle);
  printf("stand-in, playing the tune in real time: %.3f%% of one core (callback decoding adds %.3f%%)\n",
         100.0 * playing, 100.0 * (playing - idle));
  return 0;
}

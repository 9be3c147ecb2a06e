// When the music starts against the picture's clock: from the start reading that start-up takes
// (time 0 of every frame) to the first sample of the tune handed to the sound device, through the
// demo's own initSound and the pack linked into it.
//
// SDL's disk driver stands in for the device, told to ask for a buffer every millisecond
// (SDL_DISKAUDIODELAY=1), so that what is measured is the software's path, not the wait for a
// device buffer's turn. A thread notes when each buffer reaches the file; where in the file the
// tune begins tells which buffer held its first sample. Each run is a process of its own, since
// the sound device opens once per process. The GLUT callbacks that start-up registers in between
// are left out: that is four stored pointers.
//
// Usage: bench_start [runs]   (default 21)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "datadata.h"
#include "files.h"
#include "globals.h"
#include "main.h"
#include "mp3decode.h"
#include "played.h"
#include "timeline.h"

// Microseconds since 1970 on the clock the demo's start reading uses.
static int64_t nowMicros() {
  win_timeval tv{};
  win_gettimeofday(&tv, nullptr);
  return int64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// The tune's first decoded samples, as the stand-in will hand them over.
static Bytes tuneStart() {
  zare_memfile_t mf{};
  zare_memfile_load(pzl, &mf, "data/tune.mp3");
  std::vector<int16_t> pcm;
  std::string error;
  mp3Decode(mf.pData, size_t(mf.iSize), pcm, error);
  pcm.resize(std::min<size_t>(pcm.size(), 2 * size_t(kMusicRate)));
  const auto *bytes = reinterpret_cast<const uint8_t *>(pcm.data());
  return Bytes(bytes, bytes + pcm.size() * 2);
}

// One run: the start reading, initSound, and the file watched until the tune has begun. The
// microseconds from the reading to the first buffer with the tune in it; -1 if it never came.
static int64_t oneRun(const std::string &file) {
  pzl = zare_new();
  zare_dar_add(pzl, (zare_data_t *)dataData);
  const Bytes reference = tuneStart();
  // Time and file size after each buffer, until the file holds four times the tune's start.
  std::vector<std::pair<int64_t, off_t>> writes;
  std::thread watch([&] {
    for (struct stat st{}; writes.empty() || writes.back().second < off_t(4 * reference.size()); std::this_thread::yield()) {
      if (stat(file.c_str(), &st) == 0 && (writes.empty() || st.st_size != writes.back().second)) {
        writes.push_back({nowMicros(), st.st_size});
      }
    }
  });
  startTime = nowMicros();  // as start-up's last step takes it
  initSound();
  watch.join();
  const Played played = comparePlayed(fileRead(file), reference);
  for (const auto &[when, size] : writes) {
    if (played.found && size_t(size) > played.start) return when - startTime;
  }
  return -1;
}

int main(int argc, char **argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 21;
  const std::string file = "/tmp/bench_start-" + std::to_string(getpid()) + ".raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      const int64_t offset = oneRun(file);
      (void)!write(fds[1], &offset, sizeof offset);
      _exit(0);
    }
    int64_t offset = -1;
    (void)!read(fds[0], &offset, sizeof offset);
    close(fds[0]), close(fds[1]);
    waitpid(child, nullptr, 0);
    unlink(file.c_str());
    if (offset >= 0) ms.push_back(double(offset) / 1000.0);
  }
  if (ms.empty()) {
    fprintf(stderr, "the tune never reached the device\n");
    return 1;
  }
  std::sort(ms.begin(), ms.end());
  printf("start reading to the tune's first sample at the device: median %.2f ms, fastest %.2f ms, slowest %.2f ms "
         "(%zu runs; one frame at 60 Hz is 16.7 ms)\n",
         ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
  return 0;
}

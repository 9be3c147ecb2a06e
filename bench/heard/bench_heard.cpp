// How the stand-in's music is heard through each sound server: its offset from the clock (the
// median and the extremes of 100 ms stretches) and its holes, at idle and beside CPU-bound loads
// (stress-ng). Each server is started as nobody with a null sink whose monitor is recorded.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files.h"
#include "fsound.h"
#include "heard.h"
#include "mp3decode.h"
#include "process.h"
#include "timeline.h"

// Plays the track seconds long in a player process of its own on the server and records it.
static bool measure(const HeardServer &server, const char *driver, const std::string &track, double seconds,
                    const std::vector<int16_t> &pcm, std::string &row) {
  std::string error;
  HeardRecorder *rec = heardStart(server.address, "out.monitor", server.rate, error);
  if (rec == nullptr || !heardWait(rec, heardNow() + 0.05, 30.0)) return false;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';
  ProcSpec spec;
  spec.argv = {self, "--play", track, std::to_string(seconds)};
  spec.setEnv = heardServerEnvironment(server);
  (*driver ? spec.setEnv : spec.unsetEnv).push_back(*driver ? std::string("SDL_AUDIODRIVER=") + driver : "SDL_AUDIODRIVER");
  int out[2];
  if (pipe(out) != 0) return false;
  spec.stdoutFd = out[1];
  const pid_t player = procStart(spec, error);
  close(out[1]);
  char line[64] = {};
  double origin = 0;
  const bool started = player > 0 && read(out[0], line, sizeof line - 1) > 0 && sscanf(line, "origin %lf", &origin) == 1;
  close(out[0]);
  const bool heard = started && heardWait(rec, origin + seconds, seconds + 60.0);
  if (player > 0) procStop(player, SIGTERM, 5.0);
  HeardRecording recording;
  if (!heardStop(rec, recording, error) || !heard) return false;
  std::vector<double> o;
  for (const HeardWindow &w : heardAlign(recording, pcm, kMusicRate, origin, 0.1)) {
    if (w.heard && w.at > 0.1) o.push_back(w.offset * 1000);
  }
  if (o.empty()) return false;
  std::sort(o.begin(), o.end());
  const auto holes = heardHoles(recording, origin, 0.002);
  double holeMs = 0;
  for (const auto &h : holes) holeMs += h.second * 1000;
  char buf[160];
  snprintf(buf, sizeof buf, "%+7.1f %+7.1f %+7.1f %6zu %8.1f", o[o.size() / 2], o.front(), o.back(), holes.size(), holeMs);
  row = buf;
  return true;
}

// Removes a folder and all it holds.
static void removeFolder(const std::string &path) {
  ProcSpec rm;
  rm.argv = {"rm", "-rf", path};
  procRun(rm, 30.0);
}

int main(int argc, char **argv) {
  if (argc > 3 && std::string(argv[1]) == "--play") {
    const std::string path = argv[2];
    static Bytes mp3;
    if (!fileRead(path, mp3)) return 2;
    const double origin = heardNow();
    if (!FSOUND_Init(kMusicRate, 1, 0)) return 2;
    FSOUND_STREAM *stream = FSOUND_Stream_OpenFile(reinterpret_cast<const char *>(mp3.data()), FSOUND_NORMAL | FSOUND_LOADMEMORY, int(mp3.size()));
    if (FSOUND_Stream_Play(0, stream) < 0) return 3;
    printf("origin %.9f\n", origin);
    fflush(stdout);
    pause();
    return 0;
  }
  const std::string why = procBecomeNobody(argc, argv, {});
  if (!why.empty()) return fprintf(stderr, "bench_heard: %s\n", why.c_str()), 1;
  const double seconds = argc > 1 ? atof(argv[1]) : 20.0;
  std::vector<int> loads;
  for (int i = 2; i < argc; i++) loads.push_back(atoi(argv[i]));
  if (loads.empty()) loads = {0, 1, 2};
  char folder[] = "/tmp/bench-heard-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string track = std::string(folder) + "/track.mp3";
  const Bytes mp3 = heardTestTrack(seconds + 2);
  std::string error;
  if (!fileWrite(track, mp3, error)) return fprintf(stderr, "bench_heard: %s\n", error.c_str()), 1;
  std::vector<int16_t> pcm;
  mp3Decode(mp3.data(), mp3.size(), pcm, error);
  printf("%-34s %5s %7s %7s %7s %6s %8s\n", "server (output)", "loads", "median", "min", "max", "holes", "hole ms");
  const struct { bool pipewire; const char *driver, *name; } servers[] = {
      {false, "", "PulseAudio 44.1 kHz (libpulse)"}, {true, "", "PipeWire 48 kHz (libpulse)"},
      {true, "pipewire", "PipeWire 48 kHz (SDL pipewire)"}};
  for (const auto &s : servers) {
    for (int load : loads) {
      HeardServer server;
      const std::string dir = std::string(folder) + "/server";
      ProcSpec stress;
      stress.argv = {"stress-ng", "--cpu", std::to_string(load), "--timeout", "600"};
      stress.stdoutFd = stress.stderrFd = kProcDevNull;
      stress.ownGroup = true;
      const pid_t loadPid = load > 0 ? procStart(stress, error) : -1;
      std::string row = "(no result)";
      if (mkdir(dir.c_str(), 0700) == 0 && heardServerStart(server, s.pipewire, dir, error)) {
        if (!measure(server, s.driver, track, seconds, pcm, row)) row = "(no result)";
        heardServerStop(server);
      } else {
        row = error;
      }
      if (loadPid > 0) procStop(loadPid, SIGTERM, 5.0, true);
      removeFolder(dir);
      printf("%-34s %5d %s\n", s.name, load, row.c_str());
      fflush(stdout);
    }
  }
  removeFolder(folder);
  return 0;
}

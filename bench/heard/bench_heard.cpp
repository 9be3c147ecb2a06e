// How the stand-in's music is heard through each sound server: its offset from the clock (the
// median and the extremes of 100 ms stretches) and its holes, at idle and beside CPU-bound loads
// (stress-ng). Each server is started as nobody with a null sink whose monitor is recorded.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files.h"
#include "heardplay.h"
#include "master.h"
#include "mp3decode.h"
#include "process.h"
#include "tempfolder.h"
#include "timeline.h"

// Plays the track seconds long in a player process of its own on the server and records it.
static bool measure(const HeardServer &server, const char *driver, const std::string &track, double seconds,
                    const std::vector<int16_t> &pcm, std::string &row) {
  HeardPlayed played;
  std::string error;
  if (!heardPlay(server, driver, track, seconds, played, error)) return row = error, false;
  std::vector<double> o = heardOffsets(played, pcm, 0.1, seconds);
  for (double &v : o) v *= 1000;
  if (o.empty()) return false;
  std::sort(o.begin(), o.end());
  const auto holes = heardHoles(played.rec, played.origin, 0.002);
  double holeMs = 0;
  for (const auto &h : holes) holeMs += h.second * 1000;
  char buf[160];
  snprintf(buf, sizeof buf, "%+7.1f %+7.1f %+7.1f %6zu %8.1f", o[o.size() / 2], o.front(), o.back(), holes.size(), holeMs);
  row = buf;
  return true;
}

int main(int argc, char **argv) {
  if (const int status = heardPlayerMain(argc, argv); status >= 0) return status;
  const std::string why = procBecomeNobody(argc, argv, {});
  if (!why.empty()) return fprintf(stderr, "bench_heard: %s\n", why.c_str()), 1;
  const double seconds = argc > 1 ? atof(argv[1]) : 20.0;
  std::vector<int> loads;
  for (int i = 2; i < argc; i++) loads.push_back(atoi(argv[i]));
  if (loads.empty()) loads = {0, 1, 2};
  const TempFolder folder("bench-heard");
  const std::string track = (folder / "track.mp3").string();
  const Bytes mp3 = mp3NoiseTrack(seconds + 2);
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
      const TempFolder dir("bench-heard-server");
      ProcSpec stress;
      stress.argv = {"stress-ng", "--cpu", std::to_string(load), "--timeout", "600"};
      stress.stdoutFd = stress.stderrFd = kProcDevNull;
      stress.ownGroup = true;
      const pid_t loadPid = load > 0 ? procStart(stress, error) : -1;
      std::string row = "(no result)";
      if (heardServerStart(server, s.pipewire, dir.str(), error)) {
        measure(server, s.driver, track, seconds, pcm, row);
        heardServerStop(server);
      } else {
        row = error;
      }
      if (loadPid > 0) procStop(loadPid, SIGTERM, 5.0, true);
      printf("%-34s %5d %s\n", s.name, load, row.c_str());
      fflush(stdout);
    }
  }
  return 0;
}

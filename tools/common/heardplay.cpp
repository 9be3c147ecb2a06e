// The player process and the recording of what it plays.
#include "heardplay.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "files.h"
#include "fsound.h"
#include "process.h"
#include "timeline.h"

int heardPlayerMain(int argc, char **argv) {
  if (argc != 3 || std::string(argv[1]) != "--play") return -1;
  static Bytes mp3;  // the stream plays from it until the process ends
  if (!fileRead(argv[2], mp3)) return 2;
  // The clock's origin, read as the demo reads its own, just before the device opens.
  const double origin = heardNow();
  if (!FSOUND_Init(kMusicRate, 1, 0)) return 2;
  FSOUND_STREAM *stream = FSOUND_Stream_OpenFile(reinterpret_cast<const char *>(mp3.data()), FSOUND_NORMAL | FSOUND_LOADMEMORY, int(mp3.size()));
  if (FSOUND_Stream_Play(0, stream) < 0) return 3;
  printf("origin %.9f\n", origin);
  fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}

// Starts the player; its origin line read from its standard output. -1 with a reason on failure;
// the player ends when *input is closed.
static pid_t startPlayer(const HeardServer &server, const std::string &driver, const std::string &track, int *input,
                         double &origin, std::string &error) {
  int out[2], in[2];
  if (pipe2(out, O_CLOEXEC) != 0) return error = "no pipe", -1;
  if (pipe2(in, O_CLOEXEC) != 0) return close(out[0]), close(out[1]), error = "no pipe", -1;
  ProcSpec spec;
  spec.argv = {procSelf(), "--play", track};
  spec.setEnv = heardServerEnvironment(server);
  procSpecEnvironment(spec, {driver.empty() ? "SDL_AUDIODRIVER" : "SDL_AUDIODRIVER=" + driver});
  spec.stdinFd = in[0];
  spec.stdoutFd = out[1];
  const pid_t player = procStart(spec, error);
  close(in[0]);
  close(out[1]);
  *input = in[1];
  char line[64] = {};
  const ssize_t n = player > 0 ? read(out[0], line, sizeof line - 1) : 0;  // once its stream plays
  close(out[0]);
  if (player > 0 && sscanf(n > 0 ? line : "", "origin %lf", &origin) == 1) return player;
  close(in[1]);
  if (player > 0) {
    const int status = procWait(player, 30.0);
    error = "the player did not start: status " + std::to_string(status < 0 ? procStop(player, SIGKILL, 0.0) : status);
  }
  return -1;
}

bool heardPlay(const HeardServer &server, const std::string &driver, const std::string &track, double seconds,
               HeardPlayed &out, std::string &error, double stallAt, double stallSeconds) {
  HeardRecorder *rec = heardStart(server.address, "out.monitor", server.rate, error);
  if (rec == nullptr) return false;
  HeardRecording ignored;
  // An idle sink may take a while to start sending.
  if (!heardWait(rec, heardNow() + 0.05, 30.0)) return heardStop(rec, ignored, error), error = "the sink sent nothing", false;
  int input = -1;
  const pid_t player = startPlayer(server, driver, track, &input, out.origin, error);
  if (player < 0) return heardStop(rec, ignored, error), false;
  bool ok = true;
  if (stallSeconds > 0) {
    ok = heardWait(rec, out.origin + stallAt, 30.0);
    kill(player, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(stallSeconds));  // the stall itself
    kill(player, SIGCONT);
    out.resumed = heardNow() - out.origin;
  }
  ok = ok && heardWait(rec, out.origin + seconds, seconds + 60.0);
  close(input);
  int status = procWait(player, 30.0);
  if (status < 0) status = procStop(player, SIGKILL, 0.0);
  if (!heardStop(rec, out.rec, error)) return false;
  if (!ok) error = "the sink did not send the whole track";
  if (ok && status != 0) error = "the player ended with status " + std::to_string(status), ok = false;
  return ok;
}

std::vector<double> heardOffsets(const HeardPlayed &played, const std::vector<int16_t> &tune, double from, double to) {
  std::vector<double> out;
  for (const HeardWindow &w : heardAlign(played.rec, tune, kMusicRate, played.origin, 0.1)) {
    if (w.heard && w.at >= from && w.at <= to) out.push_back(w.offset);
  }
  return out;
}

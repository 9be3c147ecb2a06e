// Recording a sink's monitor through libpulse (PulseAudio, or PipeWire's pulse server) and laying
// the recording against the tune.
#include "heard.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "fft.h"
#include "process.h"
#include "timeline.h"

// Reads of 10 ms: each is stamped with the server's latency, which dates its last frame.
constexpr int kChunkMs = 10;

struct HeardRecorder {
  pa_simple *stream = nullptr;
  int rate = 0;
  std::thread reader;
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable grown;
  bool failed = false;
  std::string error;
  std::vector<int16_t> samples;
  std::vector<double> starts;  // per read: when its first frame left the sink
  double lastEnd = 0.0;        // when the last frame read left the sink
};

double heardNow(void) {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The reader thread: reads until told to stop, dating each read by the latency the server reports.
static void readLoop(HeardRecorder *r) {
  const size_t frames = static_cast<size_t>(r->rate) * kChunkMs / 1000;
  std::vector<int16_t> chunk(frames * 2);
  while (!r->stop) {
    int error = 0;
    if (pa_simple_read(r->stream, chunk.data(), chunk.size() * 2, &error) < 0) {
      std::lock_guard<std::mutex> hold(r->lock);
      r->failed = true;
      r->error = pa_strerror(error);
      r->grown.notify_all();
      return;
    }
    const double now = heardNow();
    const pa_usec_t latency = pa_simple_get_latency(r->stream, &error);
    const double end = now - static_cast<double>(latency) * 1e-6;
    std::lock_guard<std::mutex> hold(r->lock);
    const size_t before = r->samples.size() / 2;
    r->samples.insert(r->samples.end(), chunk.begin(), chunk.end());
    r->starts.push_back(end - static_cast<double>(before + frames) / r->rate);
    r->lastEnd = end;
    r->grown.notify_all();
  }
}

bool heardServerStart(HeardServer &s, bool pipewire, const std::string &folder, std::string &error) {
  s.folder = folder;
  s.rate = pipewire ? 48000 : kMusicRate;
  const std::string socket = folder + (pipewire ? "/pulse/native" : "/native");
  s.address = "unix:" + socket;
  const std::string script =
      // wireplumber ends at once when PipeWire does not answer yet, so it starts once PipeWire's socket is there.
      pipewire ? "pipewire & until [ -S \"$PIPEWIRE_RUNTIME_DIR/pipewire-0\" ]; do sleep 0.05; done; "
                 "wireplumber & pipewire-pulse & "
                 "until pactl load-module module-null-sink sink_name=out >/dev/null 2>&1; do sleep 0.05; done; wait"
               : "exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -L 'module-null-sink "
                 "sink_name=out' -L 'module-native-protocol-unix socket=" + socket + "'";
  ProcSpec spec;
  spec.argv = {"dbus-run-session", "--", "sh", "-c", script};
  spec.setEnv = heardServerEnvironment(s);
  spec.setEnv.push_back("HOME=" + folder);
  spec.stdoutFd = spec.stderrFd = kProcDevNull;
  spec.ownGroup = true;
  spec.deathSignal = SIGKILL;
  s.pid = procStart(spec, error);
  // libpulse looks for the server's cookie in our home.
  setenv("HOME", folder.c_str(), 1);
  // Ready once a recording of the sink delivers sound; a server that never gets there (PipeWire
  // without its session manager, say) is ended after 30 s, which also ends a read waiting on it.
  const double deadline = heardNow() + 30.0;
  while (s.pid > 0 && procWait(s.pid, 0.05) < 0 && heardNow() < deadline) {
    std::string why;
    HeardRecorder *probe = access(socket.c_str(), F_OK) == 0 ? heardStart(s.address, "out.monitor", s.rate, why) : nullptr;
    if (probe == nullptr) continue;
    const bool flowing = heardWait(probe, heardNow() + 0.05, deadline - heardNow());
    if (!flowing) heardServerStop(s);
    HeardRecording ignored;
    heardStop(probe, ignored, why);
    if (flowing) return true;
  }
  error = std::string(pipewire ? "PipeWire" : "PulseAudio") + " did not get its sink recorded within 30 s";
  heardServerStop(s);
  return false;
}

void heardServerStop(HeardServer &s) {
  if (s.pid <= 0) return;
  procStop(s.pid, SIGTERM, 5.0, true);
  // The session's leader ends before the servers in its group have finished writing their state
  // into the folder, which the caller is about to remove: wait for the whole group.
  if (!procWaitUntil(5.0, [&] { return kill(-s.pid, 0) != 0; })) kill(-s.pid, SIGKILL);
  s.pid = -1;
}

std::vector<std::string> heardServerEnvironment(const HeardServer &s) {
  return {"PULSE_SERVER=" + s.address, "XDG_RUNTIME_DIR=" + s.folder, "PIPEWIRE_RUNTIME_DIR=" + s.folder};
}

HeardRecorder *heardStart(const std::string &server, const std::string &source, int rate, std::string &error) {
  pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), 2};
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(rate * kChunkMs / 1000 * 4);
  int code = 0;
  pa_simple *stream = pa_simple_new(server.c_str(), "parkhaus-heard", PA_STREAM_RECORD, source.c_str(), "monitor", &spec,
                                    nullptr, &attr, &code);
  if (stream == nullptr) {
    error = "cannot record " + source + " on " + server + ": " + pa_strerror(code);
    return nullptr;
  }
  auto *r = new HeardRecorder;
  r->stream = stream;
  r->rate = rate;
  r->reader = std::thread(readLoop, r);
  return r;
}

bool heardWait(HeardRecorder *r, double until, double timeout) {
  std::unique_lock<std::mutex> hold(r->lock);
  auto reached = [r, until] { return r->failed || (!r->starts.empty() && r->lastEnd >= until); };
  return r->grown.wait_for(hold, std::chrono::duration<double>(timeout), reached) && !r->failed;
}

bool heardStop(HeardRecorder *r, HeardRecording &out, std::string &error) {
  r->stop = true;
  r->reader.join();
  pa_simple_free(r->stream);
  out.rate = r->rate;
  out.samples = std::move(r->samples);
  // The median of the reads' dates: one late wake-up of the reader does not move it.
  std::vector<double> starts = r->starts;
  std::sort(starts.begin(), starts.end());
  out.startSeconds = starts.empty() ? 0.0 : starts[starts.size() / 2];
  const bool ok = !r->failed;
  error = r->error;
  delete r;
  return ok;
}

// The tune as mono doubles at rate, by linear interpolation (the identity at its own rate).
static std::vector<double> monoAt(const std::vector<int16_t> &tune, int tuneRate, int rate) {
  const size_t frames = tune.size() / 2;
  const size_t n = static_cast<size_t>(static_cast<double>(frames) * rate / tuneRate);
  std::vector<double> out(n);
  for (size_t i = 0; i < n; i++) {
    const double x = static_cast<double>(i) * tuneRate / rate;
    const size_t a = std::min(static_cast<size_t>(x), frames - 1), b = std::min(a + 1, frames - 1);
    const double f = x - static_cast<double>(a);
    out[i] = ((tune[a * 2] + tune[a * 2 + 1]) * (1.0 - f) + (tune[b * 2] + tune[b * 2 + 1]) * f) * 0.5;
  }
  return out;
}

std::vector<HeardWindow> heardAlign(const HeardRecording &rec, const std::vector<int16_t> &tune, int tuneRate,
                                    double origin, double windowSeconds) {
  std::vector<HeardWindow> out;
  if (rec.rate <= 0 || tune.size() < 2) return out;
  const std::vector<double> ref = monoAt(tune, tuneRate, rec.rate);
  const size_t window = static_cast<size_t>(windowSeconds * rec.rate), reach = static_cast<size_t>(rec.rate / 2);
  size_t size = 1;
  while (size < window + 2 * reach) size <<= 1;
  const size_t frames = rec.samples.size() / 2;
  for (size_t at = 0; at + window <= frames; at += window) {
    HeardWindow w;
    const double heardAt = rec.startSeconds + static_cast<double>(at) / rec.rate;  // window start, on the clock
    w.at = heardAt + windowSeconds / 2 - origin;
    // The stretch of the tune that would be heard there if on time, with half a second either side.
    const double due = (heardAt - origin) * rec.rate;
    const long first = std::lround(due) - static_cast<long>(reach);
    std::vector<std::complex<double>> a(size), b(size);
    double energyW = 0.0;
    for (size_t i = 0; i < window; i++) {
      const double v = (rec.samples[(at + i) * 2] + rec.samples[(at + i) * 2 + 1]) * 0.5;
      a[i] = v;
      energyW += v * v;
    }
    std::vector<double> seg(window + 2 * reach, 0.0);
    for (size_t i = 0; i < seg.size(); i++) {
      const long k = first + static_cast<long>(i);
      if (k >= 0 && static_cast<size_t>(k) < ref.size()) seg[i] = ref[static_cast<size_t>(k)], b[i] = seg[i];
    }
    // corr[lag] = sum over i of window[i] * seg[i + lag], through the spectra.
    fftInPlace(a);
    fftInPlace(b);
    for (size_t i = 0; i < size; i++) b[i] = std::conj(b[i]) * a[i];  // the inverse, as a conjugated forward transform
    fftInPlace(b);
    size_t best = 0;
    double bestValue = -1e300;
    for (size_t lag = 0; lag <= 2 * reach; lag++) {
      const double c = b[lag].real() / static_cast<double>(size);
      if (c > bestValue) bestValue = c, best = lag;
    }
    double energyS = 0.0, dot = 0.0;
    for (size_t i = 0; i < window; i++) {
      energyS += seg[best + i] * seg[best + i];
      dot += seg[best + i] * (rec.samples[(at + i) * 2] + rec.samples[(at + i) * 2 + 1]) * 0.5;
    }
    const double score = energyW > 0.0 && energyS > 0.0 ? dot / std::sqrt(energyW * energyS) : 0.0;
    w.heard = score > 0.5;
    // The window starts with tune frame first + best, which was due at that over the rate after origin.
    w.offset = heardAt - (origin + static_cast<double>(first + static_cast<long>(best)) / rec.rate);
    out.push_back(w);
  }
  return out;
}

std::vector<HeardRun> heardExactRuns(const HeardRecording &rec, const std::vector<int16_t> &tune) {
  // Four frames name a place in the tune; silent ones name none.
  auto key = [](const int16_t *s) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < 8; i++) h = (h ^ static_cast<uint16_t>(s[i])) * 1099511628211ull;
    return h;
  };
  auto silent = [](const int16_t *s) { return std::all_of(s, s + 8, [](int16_t v) { return v == 0; }); };
  const size_t tuneFrames = tune.size() / 2, frames = rec.samples.size() / 2;
  std::unordered_map<uint64_t, size_t> places;
  for (size_t j = 0; j + 4 <= tuneFrames; j++) {
    if (!silent(&tune[j * 2])) places.emplace(key(&tune[j * 2]), j);
  }
  std::vector<HeardRun> runs;
  for (size_t i = 0; i + 4 <= frames;) {
    const int16_t *s = &rec.samples[i * 2];
    auto found = silent(s) ? places.end() : places.find(key(s));
    if (found == places.end() || !std::equal(s, s + 8, &tune[found->second * 2])) {
      i++;
      continue;
    }
    HeardRun run{i, found->second, 0};
    while (run.at + run.length < frames && run.from + run.length < tuneFrames &&
           rec.samples[(run.at + run.length) * 2] == tune[(run.from + run.length) * 2] &&
           rec.samples[(run.at + run.length) * 2 + 1] == tune[(run.from + run.length) * 2 + 1]) {
      run.length++;
    }
    runs.push_back(run);
    i += run.length;
  }
  return runs;
}

std::vector<std::pair<double, double>> heardHoles(const HeardRecording &rec, double origin, double minSeconds) {
  std::vector<std::pair<double, double>> holes;
  const size_t frames = rec.samples.size() / 2;
  auto zero = [&rec](size_t i) { return rec.samples[i * 2] == 0 && rec.samples[i * 2 + 1] == 0; };
  size_t first = 0, last = frames;
  while (first < frames && zero(first)) first++;
  while (last > first && zero(last - 1)) last--;
  for (size_t i = first; i < last;) {
    if (!zero(i)) {
      i++;
      continue;
    }
    size_t end = i;
    while (end < last && zero(end)) end++;
    const double length = static_cast<double>(end - i) / rec.rate;
    if (length > minSeconds) holes.push_back({rec.startSeconds + static_cast<double>(i) / rec.rate - origin, length});
    i = end;
  }
  return holes;
}


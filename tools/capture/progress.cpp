// Progress of a capture on standard error.
#include "progress.h"

#include <chrono>
#include <cstdio>

#include "sink.h"

// Seconds on the steady clock, for rates and time left.
double captureNow(void) {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Frames done of all, the rate so far and the time left at that rate.
std::string captureProgressText(int64_t done, int64_t total, double seconds) {
  char buf[128];
  double fps = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  if (done <= 0 || fps <= 0.0) {
    snprintf(buf, sizeof buf, "%lld/%lld frames", static_cast<long long>(done), static_cast<long long>(total));
    return buf;
  }
  long long left = static_cast<long long>(static_cast<double>(total - done) / fps + 0.5);
  snprintf(buf, sizeof buf, "%lld/%lld frames  %.1f fps  %lld:%02lld left", static_cast<long long>(done),
           static_cast<long long>(total), fps, left / 60, left % 60);
  return buf;
}

// Shows the bar (terminal) or a line (otherwise), not more often than its interval.
void captureProgressUpdate(CaptureProgress &p, int64_t done, double now) {
  if (p.quiet || p.total <= 0) return;
  // The first line waits for an interval too, so that short captures stay quiet.
  if (p.lastShown < 0.0 && !p.terminal) p.lastShown = now;
  if (now - p.lastShown < (p.terminal ? 0.1 : 5.0) && !(done >= p.total && p.terminal)) return;
  p.lastShown = now;
  const std::string text = captureProgressText(done, p.total, now - p.startSeconds);
  if (!p.terminal) {
    fprintf(stderr, "parkhaus-capture: %s\n", text.c_str());
    return;
  }
  const size_t filled = static_cast<size_t>(static_cast<double>(done) * 30 / static_cast<double>(p.total));
  fprintf(stderr, "\r[%s%s] %s\033[K", std::string(filled, '#').c_str(), std::string(30 - filled, '.').c_str(), text.c_str());
  p.barShown = true;
}

// Ends the bar's line so that the next message starts on a line of its own.
void captureProgressEnd(CaptureProgress &p) {
  if (p.barShown) fputc('\n', stderr);
  p.barShown = false;
}

// The closing report: what was written, in how long and at what rate; every frame drawn counts,
// those before the span too.
std::string captureDoneText(const CaptureOptions &o, const CaptureSpan &span, const CaptureSink &sink, double took) {
  const double fps = took > 0.0 ? static_cast<double>(captureLastFrame(span) + 1) / took : 0.0;
  char rate[96];
  snprintf(rate, sizeof rate, " in %.1f s, %.1f frames/s", took, fps);
  if (o.format == CaptureFormat::Mp4) {
    char length[64];
    snprintf(length, sizeof length, " frames, %.3f s, with the music)", static_cast<double>(span.count) / o.fps);
    return "wrote " + o.out + " (" + std::to_string(span.count) + length + rate;
  }
  return "wrote " + std::to_string(sink.written) + " frames (" + capturePngName(sink.firstWritten) + " to " +
         capturePngName(sink.lastWritten) + ") to " + o.out + rate;
}

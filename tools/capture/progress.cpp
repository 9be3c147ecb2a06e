// Progress of a capture on standard error.
#include "progress.h"

#include <chrono>
#include <cstdio>

// Seconds on the steady clock, for rates and time left.
double captureNow(void) {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Starts counting and remembers where the report goes.
void captureProgressStart(CaptureProgress &p, int64_t total, bool terminal, bool quiet) {
  p = CaptureProgress{};
  p.total = total;
  p.terminal = terminal;
  p.quiet = quiet;
  p.startSeconds = captureNow();
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
void captureProgressUpdate(CaptureProgress &p, int64_t done) {
  if (p.quiet || p.total <= 0) return;
  double now = captureNow();
  double interval = p.terminal ? 0.1 : 5.0;
  bool last = done >= p.total;
  if (p.lastShown >= 0.0 && now - p.lastShown < interval && !(last && p.terminal)) return;
  if (!p.terminal && p.lastShown < 0.0) {
    // The first line waits for an interval too, so short captures stay quiet.
    p.lastShown = now;
    return;
  }
  p.lastShown = now;
  std::string text = captureProgressText(done, p.total, now - p.startSeconds);
  if (p.terminal) {
    constexpr int width = 30;
    int filled = static_cast<int>(static_cast<double>(done) * width / static_cast<double>(p.total));
    char bar[width + 1];
    for (int i = 0; i < width; i++) bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    fprintf(stderr, "\r[%s] %s\033[K", bar, text.c_str());
    p.barShown = true;
  } else {
    fprintf(stderr, "parkhaus-capture: %s\n", text.c_str());
  }
  fflush(stderr);
}

// Ends the bar line.
void captureProgressEnd(CaptureProgress &p) {
  if (p.barShown) fputc('\n', stderr);
  p.barShown = false;
}

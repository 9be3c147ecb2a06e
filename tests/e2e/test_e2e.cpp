// The real demo executable on the harness's X display, watched and driven as a viewer would:
// once from the repository root with its music written to a file, once in an empty folder
// without any of its loose files and without a sound device.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "files.h"
#include "gltest.h"
#include "process.h"
#include "soundcheck.h"

// After GoogleTest, whose names the X headers' macros would clash with.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// One run of the demo; the destructor ends it if it still runs.
struct DemoRun {
  pid_t pid = -1;
  int log = -1;  // standard output and error, on an unlinked temporary file
  int status = -1;
  ~DemoRun();
};

DemoRun::~DemoRun() {
  if (pid > 0) procStop(pid, SIGKILL, 0.0);
  if (log >= 0) close(log);
}

// Starts the demo in workdir with NAME=value settings added to the environment.
bool demoStart(DemoRun &demo, const std::string &workdir, const std::vector<std::string> &env) {
  demo.log = fileTemp();
  ProcSpec spec;
  // The demo prints through stdio; line buffering keeps its lines even when it is killed.
  spec.argv = {"stdbuf", "-oL", PARKHAUS_EXE};
  spec.workdir = workdir;
  spec.setEnv = env;
  spec.stdoutFd = spec.stderrFd = demo.log;
  std::string error;
  demo.pid = demo.log >= 0 ? procStart(spec, error) : -1;
  return demo.pid > 0;
}

// Waits for the demo's window; its X id, empty on timeout.
std::string demoWaitWindow(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    ProcSpec spec;
    spec.argv = {"xdotool", "search", "--onlyvisible", "--name", "^Parkhaus$"};
    const std::string id = procRun(spec, 10.0).output;
    if (!id.empty() && id[0] >= '0' && id[0] <= '9') return id.substr(0, id.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

// Focuses the window and presses one key (an X key name such as "q", "Escape" or "shift+q").
void demoKey(const std::string &window, const std::string &key) {
  ProcSpec spec;
  spec.argv = {"xdotool", "windowfocus", "--sync", window, "key", key};
  procRun(spec, 10.0);
}

// True while the demo runs.
bool demoAlive(DemoRun &demo) {
  if (demo.pid <= 0) return false;
  demo.status = procWait(demo.pid, 0.0);
  if (demo.status >= 0) demo.pid = -1;
  return demo.pid > 0;
}

// Waits for the demo to end; its exit status, or -1 (after killing it) on timeout.
int demoWaitExit(DemoRun &demo, double seconds) {
  if (demo.pid <= 0) return demo.status;
  demo.status = procWait(demo.pid, seconds);
  if (demo.status < 0) procStop(demo.pid, SIGKILL, 0.0);
  demo.pid = -1;
  return demo.status;
}

// What the demo printed so far.
std::string demoOutput(const DemoRun &demo) { return demo.log >= 0 ? fileReadFd(demo.log) : ""; }

// The whole X screen as RGB bytes, top row first.
std::vector<uint8_t> demoScreenshot(int &width, int &height) {
  std::vector<uint8_t> rgb;
  width = height = 0;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return rgb;
  XWindowAttributes wa;
  XGetWindowAttributes(dpy, DefaultRootWindow(dpy), &wa);
  XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, wa.width, wa.height, AllPlanes, ZPixmap);
  for (int y = 0; img && y < wa.height; y++) {
    for (int x = 0; x < wa.width; x++) {
      const unsigned long p = XGetPixel(img, x, y);
      rgb.insert(rgb.end(), {uint8_t((p & img->red_mask) >> 16), uint8_t((p & img->green_mask) >> 8),
                             uint8_t(p & img->blue_mask)});
    }
  }
  if (img) {
    width = wa.width;
    height = wa.height;
    XDestroyImage(img);
  }
  XCloseDisplay(dpy);
  return rgb;
}

// Occurrences of a text in another.
int countOf(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The demo fills the screen with a moving picture: of two screenshots a second apart, the second
// is more than half lit and more than 1 % changed.
void expectMovingFullScreenPicture() {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  int w = 0, h = 0;
  const auto first = demoScreenshot(w, h);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto second = demoScreenshot(w, h);
  ASSERT_EQ(w * h, kGlTestWidth * kGlTestHeight);
  ASSERT_EQ(first.size(), second.size());
  size_t lit = 0, changed = 0;
  for (size_t i = 0; i + 2 < second.size(); i += 3) {
    lit += (second[i] | second[i + 1] | second[i + 2]) != 0;
    changed += !std::equal(&second[i], &second[i] + 3, &first[i]);
  }
  EXPECT_GT(lit, size_t(w) * h / 2);
  EXPECT_GT(changed, size_t(w) * h / 100);
}


TEST(EndToEnd, PlaysThePicturesAndTheTuneUntilEscape) {
  const Bytes reference = decodeAt(fileRead(std::string(PARKHAUS_SOURCE_DIR) + "/data/tune.mp3"), 44100);
  ASSERT_GT(reference.size(), 60 * kPcmBytesPerSecond);
  char audio[] = "/tmp/parkhaus-e2e-XXXXXX";
  close(mkstemp(audio));
  DemoRun demo;
  // The disk driver about five times faster than real time, so seconds of music arrive quickly.
  ASSERT_TRUE(demoStart(demo, PARKHAUS_SOURCE_DIR, {"SDL_AUDIODRIVER=disk", std::string("SDL_DISKAUDIOFILE=") + audio,
                                             "SDL_DISKAUDIODELAY=10"}));
  const std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  expectMovingFullScreenPicture();
  demoKey(window, "shift+q");
  EXPECT_TRUE(waitForFileSize(audio, 4 * kPcmBytesPerSecond + 65536, 30.0)) << "the music did not play";
  EXPECT_TRUE(demoAlive(demo)) << "Q (upper case) must not quit: " << demoOutput(demo);
  demoKey(window, "Escape");
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << demoOutput(demo);
  // Xvfb cannot switch screen modes: the demo says so and opens a full-screen window; no sound message.
  const std::string printed = demoOutput(demo);
  EXPECT_EQ(countOf(printed, "Parkhaus: game mode not available, opening a full-screen window\n"), 1) << printed;
  EXPECT_EQ(countOf(printed, "Sound:") + countOf(printed, "Error"), 0) << printed;
  const Bytes output = fileRead(audio);
  unlink(audio);
  const Played p = comparePlayed(output, reference);
  ASSERT_TRUE(p.found) << p.why;
  EXPECT_GE(p.matched, 4 * kPcmBytesPerSecond) << p.why;
  EXPECT_LT(p.matched, reference.size()) << "the whole tune played before Escape";
  // No noise at exit: after the last sample of the tune comes nothing or silence.
  EXPECT_TRUE(p.silentAfter) << p.why;
  EXPECT_EQ(output.size() % 4, 0u);
}

TEST(EndToEnd, RunsOnWithoutTheLooseFilesAndASoundDeviceUntilQ) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("parkhaus-e2e-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  DemoRun demo;
  ASSERT_TRUE(demoStart(demo, dir.string(), {"SDL_AUDIODRIVER=no-such-driver"}));
  const std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  // The car park and the logo still come from the pack's pictures.
  expectMovingFullScreenPicture();
  ASSERT_TRUE(demoAlive(demo)) << "ended early: " << demoOutput(demo);
  demoKey(window, "q");
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << demoOutput(demo);
  std::filesystem::remove_all(dir);
  const std::string printed = demoOutput(demo);
  EXPECT_EQ(countOf(printed, "Error while opening OIA: : No such file or directory\n"), 3) << printed;
  EXPECT_EQ(countOf(printed, "Sound: Init\n"), 1) << printed;
  // The stream is opened all the same, from the pack's good tune; the textures came from the pack.
  EXPECT_EQ(countOf(printed, "Sound: LoadSong") + countOf(printed, "Error loading texture"), 0) << printed;
}

}  // namespace

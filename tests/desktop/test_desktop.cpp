// The demo on the desktops people use: real Wayland compositors started headless, each with its
// Xwayland, and the built demo as one of its X clients. The whole program runs as a user who is
// not root (nobody, when it is started as root): the compositors want that, and Xwayland lets in
// only the clients of the user who started it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>

#include "demorun.h"
#include "files.h"
#include "process.h"
#include "tempfolder.h"

// After GoogleTest, whose names the X headers' macros would clash with.
#include <X11/Xlib.h>

namespace fs = std::filesystem;

namespace {

// Why this machine cannot run the tests at all; empty when it can.
std::string gCannotRun;

// The size of every compositor's one output.
constexpr int kOutputWidth = 1280;
constexpr int kOutputHeight = 720;

// How a compositor is started, and how it tells the display its Xwayland serves: a line of its
// log (the regular expression's first group), or, without one, the file {runtime}/display that
// its start-up command writes. Its arguments, settings and files go through expand().
struct CompositorSpec {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  const char *displayLine = nullptr;
  std::vector<std::pair<std::string, std::string>> files = {};  // written into {runtime} first
};

// The start-up command of the compositors that run one: it writes $DISPLAY where the test looks.
const std::string kWriteDisplay = "echo \"$DISPLAY\" > {runtime}/display.part && mv {runtime}/display.part {runtime}/display";

// The text with {runtime}, {w} and {h} replaced by the runtime folder and the output's size.
std::string expand(std::string text, const std::string &runtime) {
  for (const auto &[from, to] : {std::pair<std::string, std::string>{"{runtime}", runtime}, {"{w}", std::to_string(kOutputWidth)},
                                 {"{h}", std::to_string(kOutputHeight)}}) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  }
  return text;
}

// The X displays' lock files in /tmp, by name.
std::set<std::string> xLocks() {
  std::set<std::string> locks;
  for (const fs::directory_entry &e : fs::directory_iterator("/tmp"))
    if (const std::string n = e.path().filename().string(); n.starts_with(".X") && n.ends_with("-lock")) locks.insert(n);
  return locks;
}

// One compositor running in a process group of its own, with its runtime folder and its log.
struct Desktop {
  TempFolder runtime;
  pid_t pid = -1;
  int log = fileTemp();
  std::string display, xauthority, why;
  const std::set<std::string> locksBefore = xLocks();

  ~Desktop() {
    if (pid > 0) procStop(pid, SIGTERM, 10.0, true);
    if (log >= 0) close(log);
    // mutter makes its displays' lock files and sockets itself and leaves them when it is stopped:
    // those that came with this desktop go once the server they name has ended.
    for (const std::string &name : xLocks()) {
      const pid_t server = std::atoi(fileToString("/tmp/" + name).c_str());
      if (locksBefore.count(name) || server <= 0 || !procWaitUntil(10.0, [&] { return kill(server, 0) != 0 && errno == ESRCH; })) continue;
      std::error_code ec;
      fs::remove("/tmp/" + name, ec);
      fs::remove("/tmp/.X11-unix/X" + name.substr(2, name.size() - 7), ec);
    }
  }
  std::string output() const { return fileReadFd(log); }
  bool running() { return pid > 0 && procWait(pid, 0.0) < 0; }

  // Starts the compositor and waits until it names its X display; false, saying why, when it
  // does not within the deadline.
  bool start(const CompositorSpec &spec, double seconds) {
    for (const auto &[name, text] : spec.files) {
      const std::string content = expand(text, runtime.str());
      if (!fileWrite((runtime / name).string(), content.data(), content.size(), why)) return false;
      fs::permissions(runtime / name, fs::perms::owner_all);
    }
    ProcSpec p;
    p.argv = {"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + runtime.str(), "XDG_RUNTIME_DIR=" + runtime.str()};
    for (const std::string &e : spec.env) p.argv.push_back(expand(e, runtime.str()));
    for (const std::string &a : spec.argv) p.argv.push_back(expand(a, runtime.str()));
    p.workdir = runtime.str();
    p.stdoutFd = p.stderrFd = log;
    p.ownGroup = true;
    p.deathSignal = SIGKILL;
    if ((pid = procStart(p, why)) < 0) return false;
    std::smatch m;
    const auto named = [&] {
      const std::string text = spec.displayLine ? output() : fileToString(runtime / "display");
      if (spec.displayLine ? !std::regex_search(text, m, std::regex(spec.displayLine)) : text.empty()) return !running();
      display = spec.displayLine ? m[1].str() : text.substr(0, text.find('\n'));
      return true;
    };
    if (!procWaitUntil(seconds, named, 50) || display.empty()) {
      why = running() ? "the compositor named no X display" : "the compositor ended before it named its X display";
      return false;
    }
    // Mutter gives its Xwayland a cookie file, which X clients need.
    for (const fs::directory_entry &e : fs::directory_iterator(runtime.path)) {
      if (e.path().filename().string().starts_with(".mutter-Xwaylandauth.")) xauthority = e.path().string();
    }
    return true;
  }

  static std::string fileToString(const fs::path &path) {
    const Bytes b = fileRead(path.string());
    return std::string(b.begin(), b.end());
  }
};

// Opens the display, waiting while an Xwayland started on demand comes up; null after the deadline.
Display *openDisplayWaiting(double seconds) {
  Display *dpy = nullptr;
  procWaitUntil(seconds, [&] { return (dpy = XOpenDisplay(nullptr)) != nullptr; }, 100);
  return dpy;
}

// True while the server has not closed the connection.
bool connectionOpen(Display *dpy) {
  char byte = 0;
  const ssize_t n = recv(ConnectionNumber(dpy), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

// The demo on one compositor: it covers the output, its frames move, q quits it with status 0,
// and the compositor, its Xwayland and another client of it are still there afterwards.
void runOnDesktop(const CompositorSpec &spec) {
  if (!gCannotRun.empty()) GTEST_SKIP() << gCannotRun;
  if (procFind(spec.argv[0]).empty()) {
    GTEST_SKIP() << spec.argv[0] << " is not installed";
  }
  Desktop desktop;
  ASSERT_TRUE(desktop.start(spec, 60.0)) << desktop.why << "\n" << desktop.output();
  setenv("DISPLAY", desktop.display.c_str(), 1);
  if (desktop.xauthority.empty()) {
    unsetenv("XAUTHORITY");
  } else {
    setenv("XAUTHORITY", desktop.xauthority.c_str(), 1);
  }
  // Another client of the desktop, with a window of its own, that must outlive the demo.
  Display *other = openDisplayWaiting(60.0);
  ASSERT_NE(other, nullptr) << "Xwayland on " << desktop.display << " does not answer\n" << desktop.output();
  const Window otherWindow = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 16, 16, 0, 0, 0);
  XSync(other, False);

  fs::create_directories(desktop.runtime / "empty");
  DemoRun demo(PARKHAUS_EXE, (desktop.runtime / "empty").string(), {"SDL_AUDIODRIVER=dummy"});
  const std::string window = demoWaitWindow(60.0);
  ASSERT_FALSE(window.empty()) << demo.output() << desktop.output();
  std::string why;
  EXPECT_TRUE(demoWaitCoversScreen(std::stoul(window), 30.0, why)) << why;
  EXPECT_TRUE(demoWaitMovingPicture(std::stoul(window), 60.0, why)) << why;
  // A headless compositor without a keyboard may give the focus elsewhere: the key goes to the window.
  demoKey(window, "q", true);
  EXPECT_EQ(demo.wait(60.0), 0) << demo.output();
  EXPECT_EQ(demo.output(), "Parkhaus: game mode not available under Xwayland, opening a full-screen window\n");

  EXPECT_TRUE(desktop.running()) << "the compositor ended:\n" << desktop.output();
  ASSERT_TRUE(connectionOpen(other)) << "Xwayland closed its other client's connection:\n" << desktop.output();
  Display *again = XOpenDisplay(nullptr);
  ASSERT_NE(again, nullptr) << "Xwayland no longer answers";
  XWindowAttributes attributes{};
  EXPECT_NE(XGetWindowAttributes(again, otherWindow, &attributes), 0) << "the other client's window is gone";
  XCloseDisplay(again);
  XCloseDisplay(other);
}

TEST(Desktop, WestonHeadless) {
  runOnDesktop({{"weston", "--backend=headless-backend.so", "--xwayland", "--width={w}", "--height={h}",
                 "--socket=wayland-test", "--idle-time=0"},
                {},
                "xserver listening on display (:[0-9]+)"});
}

TEST(Desktop, MutterHeadless) {
  runOnDesktop({{"dbus-run-session", "--", "mutter", "--wayland", "--headless", "--virtual-monitor", "{w}x{h}"},
                {},
                "Using public X11 display (:[0-9]+)"});
}

TEST(Desktop, SwayHeadlessWithXwaylandOnDemand) {
  runOnDesktop({{"sway", "--config", "{runtime}/config"},
                {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"},
                nullptr,
                {{"config", "xwayland enable\nexec sh -c '" + kWriteDisplay + "'\n"}}});
}

TEST(Desktop, KwinVirtual) {
  // Debian's kwin_wayland carries a file capability that an unprivileged user may not be allowed
  // to take; a copy without it, under the same name (Qt finds kwin's platform plugin by it), runs.
  const std::string kwin = procFind("kwin_wayland");
  if (kwin.empty()) GTEST_SKIP() << "kwin_wayland is not installed";
  const TempFolder bin;
  std::error_code ec;
  fs::copy_file(kwin, bin / "kwin_wayland", ec);
  ASSERT_FALSE(ec) << ec.message();
  runOnDesktop({{"dbus-run-session", "--", (bin / "kwin_wayland").string(), "--virtual", "--xwayland", "--width", "{w}",
                 "--height", "{h}", "{runtime}/start"},
                {"QT_QPA_PLATFORM=offscreen"},
                nullptr,
                {{"start", "#!/bin/sh\n" + kWriteDisplay + "\n"}}});
}

}  // namespace

int main(int argc, char **argv) {
  // Once more as nobody, where nobody may run both this program and the demo.
  gCannotRun = procBecomeNobody(argc, argv, {PARKHAUS_EXE});
  // An X request that fails (a window already gone) is reported by the request's result, not by exiting.
  XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

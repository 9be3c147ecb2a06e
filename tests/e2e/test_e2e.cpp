// The real demo driven as a viewer would: from the repository root, and installed from its package or cmake.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "files.h"
#include "gltest.h"
#include "mp3mem.h"
#include "process.h"
#include "runin.h"
#include "soundcheck.h"
#include "tempfolder.h"

// After GoogleTest, whose names the X headers' macros would clash with.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;

namespace {

// One run of the demo program exe in workdir, with NAME=value settings added to its environment;
// the destructor ends it if it still runs.
struct DemoRun {
  pid_t pid = -1;
  int log = fileTemp();  // standard output and error, on an unlinked temporary file
  int status = -1;
  DemoRun(const std::string &exe, const std::string &workdir, const std::vector<std::string> &env) {
    ProcSpec spec;
    // The demo prints through stdio; line buffering keeps its lines even when it is killed.
    spec.argv = {"stdbuf", "-oL", exe};
    spec.workdir = workdir;
    spec.setEnv = env;
    spec.stdoutFd = spec.stderrFd = log;
    std::string error;
    pid = log >= 0 ? procStart(spec, error) : -1;
  }
  ~DemoRun() {
    if (pid > 0) procStop(pid, SIGKILL, 0.0);
    if (log >= 0) close(log);
  }
  // Waits for the demo to end, at most the given seconds (0: only looks); its exit status, -1
  // while it runs.
  int wait(double seconds) {
    if (pid > 0 && (status = procWait(pid, seconds)) >= 0) pid = -1;
    return status;
  }
  // What the demo printed so far.
  std::string output() const { return fileReadFd(log); }
};

// Waits for the demo's window; its X id, empty on timeout.
std::string demoWaitWindow(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const std::string id = runIn({}, {"xdotool", "search", "--onlyvisible", "--name", "^Parkhaus$"}).output;
    if (!id.empty() && id[0] >= '0' && id[0] <= '9') return id.substr(0, id.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

// Focuses the window and presses one key (an X key name such as "q", "Escape" or "shift+q").
void demoKey(const std::string &window, const std::string &key) {
  runIn({}, {"xdotool", "windowfocus", "--sync", window, "key", key});
}

// The whole X screen, one 24-bit colour per pixel; empty when it cannot be read.
std::vector<uint32_t> demoScreenshot() {
  std::vector<uint32_t> pixels;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return pixels;
  const Window root = DefaultRootWindow(dpy);
  XImage *img = XGetImage(dpy, root, 0, 0, kGlTestWidth, kGlTestHeight, AllPlanes, ZPixmap);
  for (int y = 0; img && y < kGlTestHeight; y++)
    for (int x = 0; x < kGlTestWidth; x++) pixels.push_back(uint32_t(XGetPixel(img, x, y) & 0xffffff));
  if (img) XDestroyImage(img);
  XCloseDisplay(dpy);
  return pixels;
}

// Waits until the screen shows the demo's moving picture: more than half of it lit, and more than
// 1 % of it changed since the first look. False, saying why, after the deadline.
bool waitMovingFullScreenPicture(double seconds, std::string &why) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  const std::vector<uint32_t> first = demoScreenshot();
  while (std::chrono::steady_clock::now() < end) {
    const std::vector<uint32_t> now = demoScreenshot();
    size_t lit = 0, changed = 0;
    for (size_t i = 0; i < now.size() && now.size() == first.size(); i++) lit += now[i] != 0, changed += now[i] != first[i];
    why = std::to_string(lit) + " pixels lit, " + std::to_string(changed) + " changed";
    if (lit > now.size() / 2 && changed > now.size() / 100) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The frame at 10 s as the capture tool at exe draws it from the empty folder; empty when it fails.
Bytes frameAt10s(const std::string &exe, const TempFolder &tmp, const std::string &name) {
  const ProcResult r = runIn((tmp / "empty").string(), {exe, "--quiet", "--frames", "10s", "--out", (tmp / name).string()});
  EXPECT_EQ(r.status, 0) << exe << ": " << r.output;
  return fileRead((tmp / name / "frame-000600.png").string());
}

TEST(EndToEnd, PlaysThePicturesAndTheTuneUntilEscape) {
  const Bytes reference = decodeAt(fileRead(std::string(PARKHAUS_SOURCE_DIR) + "/data/tune.mp3"), kMusicRate);
  ASSERT_GT(reference.size(), 60 * kPcmBytesPerSecond);
  const TempFolder tmp;
  const std::string audio = (tmp / "audio.raw").string();
  // The disk driver about five times faster than real time, so seconds of music arrive quickly.
  DemoRun demo(PARKHAUS_EXE, PARKHAUS_SOURCE_DIR, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio, "SDL_DISKAUDIODELAY=10"});
  const std::string window = demoWaitWindow(60.0);
  ASSERT_FALSE(window.empty()) << demo.output();
  std::string why;
  EXPECT_TRUE(waitMovingFullScreenPicture(60.0, why)) << why;
  demoKey(window, "shift+q");
  EXPECT_TRUE(waitForFileSize(audio, 4 * kPcmBytesPerSecond + 65536, 60.0)) << "the music did not play";
  EXPECT_EQ(demo.wait(0.0), -1) << "Q (upper case) must not quit: " << demo.output();
  demoKey(window, "Escape");
  EXPECT_EQ(demo.wait(60.0), 0) << demo.output();
  // Xvfb cannot switch screen modes: the demo says so and opens a full-screen window; then only SDL's notice.
  const std::string printed = demo.output(), sdl = "CRITICAL: You are using the SDL disk";
  EXPECT_EQ(printed.substr(0, printed.find(sdl)), "Parkhaus: game mode not available, opening a full-screen window\n") << printed;
  const Played p = comparePlayed(fileRead(audio), reference);
  ASSERT_TRUE(p.found) << p.why;
  EXPECT_GE(p.matched, 4 * kPcmBytesPerSecond) << p.why;
  // No noise at exit: after the last sample of the tune comes nothing or silence.
  EXPECT_TRUE(p.silentAfter) << p.why;
}

// The Debian package: CPack builds it, lintian finds no error, its desktop entry, metainfo and
// manual pages pass their checkers, and unpacked it runs from an empty folder: the capture tool
// draws the build's frame byte for byte, and the demo loads its installed loose files and quits on q.
TEST(Installed, ThePackageIsCleanAndRunsFromAnEmptyFolder) {
  const TempFolder tmp;
  fs::create_directories(tmp / "empty");
  ProcResult r = runIn(tmp.str(), {CPACK_EXE, "--config", PARKHAUS_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB",
                                   "-B", (tmp / "pkg").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string deb = (tmp / "pkg" / ("parkhaus_" PARKHAUS_VERSION "_amd64.deb")).string();
  r = runIn(tmp.str(), {"lintian", deb}, {"TMPDIR=" + tmp.str()});  // where it keeps its caches
  EXPECT_EQ(r.status, 0) << r.output;  // lintian fails on any error
  ASSERT_EQ(runIn(tmp.str(), {"dpkg-deb", "-x", deb, (tmp / "root").string()}).status, 0);
  const fs::path usr = tmp / "root/usr";
  r = runIn(tmp.str(), {"desktop-file-validate", (usr / "share/applications/invalid.zared.parkhaus.desktop").string()});
  EXPECT_TRUE(r.status == 0 && r.output.empty()) << r.output;
  r = runIn(tmp.str(), {"appstreamcli", "validate", "--no-net", (usr / "share/metainfo/invalid.zared.parkhaus.metainfo.xml").string()});
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char *page : {"man6/parkhaus.6.gz", "man1/parkhaus-capture.1.gz"}) {
    r = runIn(tmp.str(), {"man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", (usr / "share/man" / page).string()},
              {"LC_ALL=C.UTF-8", "MANWIDTH=80"});
    EXPECT_EQ(r.status, 0) << page;
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << page << ": " << r.output.substr(0, 2000);
  }

  const Bytes built = frameAt10s(CAPTURE_EXE, tmp, "built");
  ASSERT_FALSE(built.empty());
  EXPECT_TRUE(frameAt10s((usr / "games/parkhaus-capture").string(), tmp, "unpacked") == built);

  DemoRun demo((usr / "games/parkhaus").string(), (tmp / "empty").string(), {"SDL_AUDIODRIVER=dummy"});
  const std::string window = demoWaitWindow(60.0);
  ASSERT_FALSE(window.empty()) << demo.output();
  std::string why;
  EXPECT_TRUE(waitMovingFullScreenPicture(60.0, why)) << why;
  // It loads from the installed data folder, which it found from its own place.
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(demo.pid) + "/cwd", ec),
            fs::canonical(usr / "share/games/parkhaus")) << ec.message();
  demoKey(window, "q");
  EXPECT_EQ(demo.wait(60.0), 0) << demo.output();
  EXPECT_EQ(demo.output(), "Parkhaus: game mode not available, opening a full-screen window\n");
}

// cmake --install into a prefix of a user's own, as that user (nobody when the test runs as root):
// the files land under the prefix, and the installed capture tool draws the build's frame.
TEST(Installed, AnInstallIntoAPrefixByAUserRunsFromAnEmptyFolder) {
  const TempFolder tmp;
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "prefix");
  std::vector<std::string> asUser;
  const fs::path manifest = fs::path(PARKHAUS_BUILD_DIR) / "install_manifest.txt";
  if (geteuid() == 0) {
    // cmake --install notes what it installed in the build folder, which root owns here.
    asUser = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    if (runIn(tmp.str(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "test", "-r",
                          PARKHAUS_BUILD_DIR "/cmake_install.cmake"}).status != 0) {
      GTEST_SKIP() << "the user nobody cannot read the build folder " PARKHAUS_BUILD_DIR;
    }
    fs::permissions(tmp.path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(chown((tmp / "prefix").c_str(), 65534, 65534), 0);
    std::string error;
    ASSERT_TRUE(fileWrite(manifest.string(), Bytes{}, error)) << error;
    fs::permissions(manifest, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
  }
  std::vector<std::string> install = asUser;
  install.insert(install.end(), {CMAKE_EXE, "--install", PARKHAUS_BUILD_DIR, "--prefix", (tmp / "prefix").string()});
  const ProcResult r = runIn(tmp.str(), install);
  if (geteuid() == 0) fs::remove(manifest);
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char *file : {"games/parkhaus", "share/applications/invalid.zared.parkhaus.desktop",
                           "share/icons/hicolor/48x48/apps/parkhaus.png", "share/man/man6/parkhaus.6.gz", "share/doc/parkhaus/copyright"}) {
    EXPECT_TRUE(fs::exists(tmp / "prefix" / file)) << file;
  }
  const Bytes built = frameAt10s(CAPTURE_EXE, tmp, "built");
  ASSERT_FALSE(built.empty());
  EXPECT_TRUE(frameAt10s((tmp / "prefix/games/parkhaus-capture").string(), tmp, "installed") == built);
}

}  // namespace

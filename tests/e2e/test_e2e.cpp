// The real demo driven as a viewer would: from the repository root, and installed from its package or cmake.
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "demorun.h"
#include "files.h"
#include "gltest.h"
#include "process.h"
#include "soundcheck.h"
#include "tempfolder.h"
#include "timeline.h"

namespace fs = std::filesystem;

namespace {

// The frame at 10 s as the capture tool at exe draws it from the empty folder; empty when it fails.
Bytes frameAt10s(const std::string &exe, const TempFolder &tmp, const std::string &name) {
  const ProcResult r = procRunIn((tmp / "empty").string(), {exe, "--quiet", "--frames", "10s", "--out", (tmp / name).string()});
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
  // Without a window manager the window still covers the screen, every row and column of it.
  EXPECT_TRUE(demoWaitCoversScreen(std::stoul(window), 60.0, why)) << why;
  EXPECT_TRUE(demoWaitMovingPicture(0, 60.0, why)) << why;
  const DemoPicture screen = demoGrab(0);
  ASSERT_EQ(screen.pixels.size(), size_t(screen.width) * screen.height);
  // The night-blue clear colour is never black, so a black pixel on an edge is one the window missed.
  const auto at = [&](int x, int y) { return screen.pixels[size_t(y) * size_t(screen.width) + size_t(x)]; };
  int top = 0, bottom = 0, left = 0, right = 0;
  for (int x = 0; x < screen.width; x++) top += at(x, 0) == 0, bottom += at(x, screen.height - 1) == 0;
  for (int y = 0; y < screen.height; y++) left += at(0, y) == 0, right += at(screen.width - 1, y) == 0;
  EXPECT_EQ(top + bottom + left + right, 0) << "black pixels on the edges: top " << top << ", bottom " << bottom
                                            << ", left " << left << ", right " << right;
  EXPECT_TRUE(demoCursorHidden()) << "the pointer shows over the demo";
  demoKey(window, "shift+q");
  // Two new pictures after the key: the loop that drew the second had read it, as GLUT reads every
  // pending event before it draws.
  EXPECT_TRUE(demoWaitMovingPicture(0, 60.0, why) && demoWaitMovingPicture(0, 60.0, why)) << why;
  EXPECT_EQ(demo.wait(0.0), -1) << "Q (upper case) must not quit: " << demo.output();
  EXPECT_TRUE(waitForFileSize(audio, 4 * kPcmBytesPerSecond + 65536, 60.0)) << "the music did not play";
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

// With no sound server and no sound card, SDL's own choice of backend finds nothing: the demo says
// "Sound: Init" and runs on, and the audio libraries print nothing of their own.
TEST(EndToEnd, WithoutASoundServerOrCardOnlySoundInitIsPrinted) {
  const TempFolder tmp;
  std::string error;
  ASSERT_TRUE(fileWrite((tmp / "client.conf").string(), "autospawn = no\n", 15, error)) << error;
  const std::string none = (tmp / "none").string();
  // An empty ALSA configuration has no device, as a machine without a card has none.
  DemoRun demo(PARKHAUS_EXE, PARKHAUS_SOURCE_DIR,
               {"SDL_AUDIODRIVER", "XDG_RUNTIME_DIR=" + tmp.str(), "PULSE_CLIENTCONFIG=" + (tmp / "client.conf").string(),
                "PULSE_SERVER=unix:" + none, "PIPEWIRE_REMOTE=" + none, "ALSA_CONFIG_PATH=/dev/null"});
  const std::string window = demoWaitWindow(60.0);
  ASSERT_FALSE(window.empty()) << demo.output();
  std::string why;
  EXPECT_TRUE(demoWaitMovingPicture(0, 60.0, why)) << why;
  demoKey(window, "Escape");
  EXPECT_EQ(demo.wait(60.0), 0) << demo.output();
  EXPECT_EQ(demo.output(), "Parkhaus: game mode not available, opening a full-screen window\nSound: Init\n");
}

// The Debian package: CPack builds it, lintian finds no error, its desktop entry, metainfo and
// manual pages pass their checkers, and unpacked it runs from an empty folder: the capture tool
// draws the build's frame byte for byte, and the demo loads its installed loose files and quits on q.
TEST(Installed, ThePackageIsCleanAndRunsFromAnEmptyFolder) {
  const TempFolder tmp;
  fs::create_directories(tmp / "empty");
  ProcResult r = procRunIn(tmp.str(), {CPACK_EXE, "--config", PARKHAUS_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB",
                                   "-B", (tmp / "pkg").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string deb = (tmp / "pkg" / ("parkhaus_" PARKHAUS_VERSION "_amd64.deb")).string();
  r = procRunIn(tmp.str(), {"lintian", deb}, {"TMPDIR=" + tmp.str()});  // where it keeps its caches
  EXPECT_EQ(r.status, 0) << r.output;  // lintian fails on any error
  ASSERT_EQ(procRunIn(tmp.str(), {"dpkg-deb", "-x", deb, (tmp / "root").string()}).status, 0);
  const fs::path usr = tmp / "root/usr";
  r = procRunIn(tmp.str(), {"desktop-file-validate", (usr / "share/applications/invalid.zared.parkhaus.desktop").string()});
  EXPECT_TRUE(r.status == 0 && r.output.empty()) << r.output;
  r = procRunIn(tmp.str(), {"appstreamcli", "validate", "--no-net", (usr / "share/metainfo/invalid.zared.parkhaus.metainfo.xml").string()});
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char *page : {"man6/parkhaus.6.gz", "man1/parkhaus-capture.1.gz"}) {
    r = procRunIn(tmp.str(), {"man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", (usr / "share/man" / page).string()},
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
  EXPECT_TRUE(demoWaitMovingPicture(0, 60.0, why)) << why;
  // It loads from the installed data folder, which it found from its own place.
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(demo.pid) + "/cwd", ec),
            fs::canonical(usr / "share/games/parkhaus")) << ec.message();
  demoKey(window, "q");
  EXPECT_EQ(demo.wait(60.0), 0) << demo.output();
  EXPECT_EQ(demo.output(), "Parkhaus: game mode not available, opening a full-screen window\n");
}

// Two builds of the package from this source by a user's own cmake (nobody's when the test runs as
// root and nobody can read the source), in two folders one after the other (so at two times), as a
// distribution builds it: the same bytes. The first build is also installed into a prefix of the
// user's own: the files land under it, and the installed capture tool draws the build's frame.
TEST(Installed, AUsersBuildsPackageToTheSameBytesAndInstallIntoAPrefix) {
  const TempFolder tmp;
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "user");
  std::vector<std::string> asUser = procAsNobody();
  std::vector<std::string> check = asUser;
  check.insert(check.end(), {"test", "-r", PARKHAUS_SOURCE_DIR "/CMakeLists.txt"});
  if (geteuid() == 0 && procRunIn(tmp.str(), check).status == 0) {
    fs::permissions(tmp.path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(chown((tmp / "user").c_str(), 65534, 65534), 0);
  } else {
    asUser.clear();
  }
  const auto step = [&](const std::string &folder, std::vector<std::string> argv) {
    argv.insert(argv.begin(), asUser.begin(), asUser.end());
    const ProcResult r = procRunIn(folder, argv, {"SOURCE_DATE_EPOCH"});
    EXPECT_EQ(r.status, 0) << r.output;
    return r.status == 0;
  };
  const std::string prefix = (tmp / "user/prefix").string();
  Bytes first;
  for (const char *folder : {"one", "second-build"}) {
    const std::string build = (tmp / "user" / folder).string();
    ASSERT_TRUE(step(tmp.str(), {CMAKE_EXE, "-S", PARKHAUS_SOURCE_DIR, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF"}) &&
                step(tmp.str(), {CMAKE_EXE, "--build", build}) && step(build, {CPACK_EXE, "-G", "DEB"}));
    const Bytes deb = fileRead(build + "/parkhaus_" PARKHAUS_VERSION "_amd64.deb");
    ASSERT_FALSE(deb.empty());
    if (!first.empty()) {
      EXPECT_TRUE(deb == first) << "the second build's package differs from the first";
      continue;
    }
    first = deb;
    ASSERT_TRUE(step(tmp.str(), {CMAKE_EXE, "--install", build, "--prefix", prefix}));
  }
  for (const char *file : {"games/parkhaus", "share/applications/invalid.zared.parkhaus.desktop",
                           "share/icons/hicolor/48x48/apps/parkhaus.png", "share/man/man6/parkhaus.6.gz", "share/doc/parkhaus/copyright"}) {
    EXPECT_TRUE(fs::exists(fs::path(prefix) / file)) << file;
  }
  const Bytes built = frameAt10s(CAPTURE_EXE, tmp, "built");
  ASSERT_FALSE(built.empty());
  EXPECT_TRUE(frameAt10s(prefix + "/games/parkhaus-capture", tmp, "installed") == built);
}

}  // namespace

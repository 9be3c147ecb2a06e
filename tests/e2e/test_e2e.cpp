// The real demo executable on the harness's X display, watched and driven as a viewer would:
// once from the repository root with its music written to a file, once in an empty folder
// without any of its loose files and without a sound device.
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "demoproc.h"
#include "files.h"
#include "gltest.h"
#include "soundcheck.h"

namespace {

// Screen pixels that are not black: the demo has drawn something there.
size_t litPixels(const std::vector<uint8_t> &rgb) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) n += (rgb[i] | rgb[i + 1] | rgb[i + 2]) != 0;
  return n;
}

// Pixels that differ between two screenshots of the same size.
size_t changedPixels(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
  return n;
}

// Occurrences of a text in another.
int countOf(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The demo fills the screen with a moving picture: two screenshots a second apart.
void expectMovingFullScreenPicture() {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  int w = 0, h = 0;
  const auto first = demoScreenshot(w, h);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto second = demoScreenshot(w, h);
  ASSERT_EQ(w * h, kGlTestWidth * kGlTestHeight);
  EXPECT_GT(litPixels(second), size_t(w) * h / 2);
  EXPECT_GT(changedPixels(first, second), size_t(w) * h / 100);
}

using EndToEnd = GlTest;

TEST(EndToEnd, PlaysThePicturesAndTheTuneUntilEscape) {
  const Bytes reference = decodeAt(fileRead(std::string(PROJECT_ROOT) + "/data/tune.mp3"), 44100);
  ASSERT_GT(reference.size(), 60 * kPcmBytesPerSecond);
  char audio[] = "/tmp/parkhaus-e2e-XXXXXX";
  close(mkstemp(audio));
  DemoRun demo;
  // The disk driver about five times faster than real time, so seconds of music arrive quickly.
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT, {"SDL_AUDIODRIVER=disk", std::string("SDL_DISKAUDIOFILE=") + audio,
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

// The real demo executable under the test's X display, with its music written to a file by SDL's
// disk driver, or with no usable sound device; quit with a real q key press as a viewer would.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "demoproc.h"
#include "gltest.h"
#include "soundcheck.h"

// Presses q through the X test extension, as a keyboard would, after giving the window the focus.
static void pressQ(const std::string &window) {
  std::string cmd = "xdotool windowfocus --sync " + window + " key q >/dev/null 2>&1";
  if (system(cmd.c_str()) < 0) perror("system");
}

// Pixels that differ between two screenshots of the same size.
static size_t changedPixels(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
    n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
  }
  return n;
}

// A file name of its own for what the disk driver writes.
static std::string tempPath() {
  char path[] = "/tmp/parkhaus-sound-XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}

TEST(SoundEndToEnd, PlaysThePacksTuneSampleForSampleAndQuitsCleanlyOnQ) {
  Bytes reference = decodeMp3File(std::string(PROJECT_ROOT) + "/data/tune.mp3");
  ASSERT_GT(reference.size(), 60 * kPcmBytesPerSecond) << "data/tune.mp3 does not decode to a minute of music";
  std::string file = tempPath();
  DemoProcess demo;
  // About five times faster than real time, so a few seconds of music arrive quickly.
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT,
                        {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + file, "SDL_DISKAUDIODELAY=10"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  const size_t wanted = 4 * kPcmBytesPerSecond;
  EXPECT_TRUE(waitForFileSize(file, wanted + 65536, 30.0)) << "the music did not play";
  EXPECT_TRUE(demoAlive(demo)) << demoOutput(demo);

  pressQ(window);
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << "no clean exit on q: " << demoOutput(demo);
  std::string printed = demoOutput(demo);
  EXPECT_EQ(printed.find("Sound:"), std::string::npos) << printed;

  Bytes output = readFile(file);
  unlink(file.c_str());
  PlayedCheck check = comparePlayed(output, reference);
  ASSERT_TRUE(check.foundStart) << check.why;
  EXPECT_GE(check.matched, wanted) << check.why;
  EXPECT_LT(check.matched, reference.size()) << "the whole tune played before q";
  // No noise at exit: after the last sample of the tune comes nothing or silence.
  EXPECT_TRUE(check.silentAfter) << check.why;
  EXPECT_EQ(output.size() % 4, 0u);
}

TEST(SoundEndToEnd, WithoutASoundDeviceSaysSoAndThePictureRuns) {
  DemoProcess demo;
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT, {"SDL_AUDIODRIVER=no-such-driver"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  auto first = demoScreenshot(w1, h1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto second = demoScreenshot(w2, h2);
  ASSERT_GT(w1, 0);
  ASSERT_EQ(w1, w2);
  // The picture moves on: the car park turns and the text sways between the two shots.
  EXPECT_GT(changedPixels(first, second), static_cast<size_t>(w1) * h1 / 100);
  EXPECT_TRUE(demoAlive(demo)) << demoOutput(demo);

  pressQ(window);
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << demoOutput(demo);
  std::string printed = demoOutput(demo);
  EXPECT_NE(printed.find("Sound: Init\n"), std::string::npos) << printed;
  // The stream is opened all the same, and the pack's tune is a good one.
  EXPECT_EQ(printed.find("Sound: LoadSong"), std::string::npos) << printed;
}

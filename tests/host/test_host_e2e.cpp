// The real demo executable under the test's X display: it starts, draws, and quits on its keys.
#include <unistd.h>

#include <filesystem>

#include "demoproc.h"
#include "gltest.h"

namespace {

// Counts screen pixels that are not black: the demo has drawn something.
size_t litPixels(const std::vector<unsigned char> &rgb) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) n += (rgb[i] | rgb[i + 1] | rgb[i + 2]) != 0;
  return n;
}

void runAndQuitWith(const std::string &key) {
  DemoProcess demo;
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT, {"SDL_AUDIODRIVER=dummy"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  sleep(1);
  EXPECT_TRUE(demoAlive(demo)) << demoOutput(demo);

  int w = 0, h = 0;
  auto shot = demoScreenshot(w, h);
  ASSERT_GT(w, 0);
  // The window covers the screen and the frame is drawn across it.
  EXPECT_GT(litPixels(shot), static_cast<size_t>(w) * h / 2);

  demoSendKey(window, key);
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << demoOutput(demo);
}

TEST(HostEndToEnd, QuitsWithStatusZeroOnEscape) { runAndQuitWith("Escape"); }

TEST(HostEndToEnd, QuitsWithStatusZeroOnQ) { runAndQuitWith("q"); }

TEST(HostEndToEnd, UpperCaseQDoesNotQuit) {
  DemoProcess demo;
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT, {"SDL_AUDIODRIVER=dummy"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  demoSendKey(window, "shift+q");
  sleep(1);
  EXPECT_TRUE(demoAlive(demo));
  demoSendKey(window, "q");
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0);
}

TEST(HostEndToEnd, OpensAFullScreenWindowWhenGameModeCannotBeHad) {
  // Xvfb cannot switch video modes, so the demo says so and opens a window instead.
  DemoProcess demo;
  ASSERT_TRUE(demoStart(demo, PROJECT_ROOT, {"SDL_AUDIODRIVER=dummy"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  sleep(1);
  demoSendKey(window, "q");
  ASSERT_EQ(demoWaitExit(demo, 10.0), 0);
  EXPECT_NE(demoOutput(demo).find("game mode not available"), std::string::npos) << demoOutput(demo);
}

}  // namespace

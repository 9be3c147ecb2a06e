// The real program started in an empty folder, without any of its loose TGA and OIA files:
// it reports the three missing meshes, keeps running on the pack's textures, and quits on q.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "demoproc.h"
#include "gltest.h"
#include "loaderdata.h"

// Occurrences of a text in another.
static int countOf(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(LoadersEndToEnd, RunsOnWithoutTheLooseFilesAndQuitsOnQ) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  DemoProcess demo;
  ASSERT_TRUE(demoStart(demo, dir.path, {"SDL_AUDIODRIVER=dummy"}));
  std::string window = demoWaitWindow(20.0);
  ASSERT_FALSE(window.empty()) << demoOutput(demo);
  // Frames are drawn for a while without the three meshes.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(demoAlive(demo)) << "ended early: " << demoOutput(demo);

  std::string cmd = "xdotool windowfocus --sync " + window + " key q >/dev/null 2>&1";
  if (system(cmd.c_str()) < 0) perror("system");
  EXPECT_EQ(demoWaitExit(demo, 10.0), 0) << "no clean exit on q: " << demoOutput(demo);

  std::string printed = demoOutput(demo);
  unlink(demo.outputPath.c_str());
  EXPECT_EQ(countOf(printed, "Error while opening OIA: : No such file or directory\n"), 3) << printed;
  EXPECT_EQ(countOf(printed, "Error loading texture"), 0) << printed;
}

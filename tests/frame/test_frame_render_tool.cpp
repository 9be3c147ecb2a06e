// parkhaus-render: the frames it writes are the frames the demo draws in sequence, and it
// refuses bad options with a message and a non-zero exit.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "framecheck.h"
#include "globals.h"
#include "main.h"

namespace {

using RenderTool = FrameTest;

int run(const std::string &args) {
  const std::string cmd = std::string(PARKHAUS_RENDER) + " " + args + " >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads a PNG as RGBA rows, bottom row first (as GL reads them); empty if it cannot be read.
std::vector<uint8_t> readPng(const std::string &path, int &w, int &h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), -w * 4, nullptr)) return {};
  return rgba;
}

TEST_F(RenderTool, WritesTheFramesTheDemoDrawsInSequence) {
  const std::string dir = ::testing::TempDir() + "parkhaus-render-test";
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
  ASSERT_EQ(run("--frames 1,3,0.05s --out " + dir), 0);

  startDemoState();
  myInit();
  for (int k = 0; k <= 3; ++k) {
    auto drawn = drawFrame(static_cast<float>(k / 60.0));
    if (k == 0 || k == 2) continue;
    char name[64];
    snprintf(name, sizeof name, "/frame-%06d.png", k);
    int w = 0, h = 0;
    auto written = readPng(dir + name, w, h);
    ASSERT_EQ(w, kGlTestWidth) << name;
    ASSERT_EQ(h, kGlTestHeight) << name;
    // The file keeps no alpha; compare the colour channels, which must be identical, since the
    // same code draws the same frames on the same rasteriser.
    size_t differ = 0;
    for (size_t i = 0; i < drawn.size(); i += 4) {
      for (size_t c = 0; c < 3; ++c) differ += drawn[i + c] != written[i + c];
    }
    EXPECT_EQ(differ, 0u) << name;
  }
  // 0.05 s at 60 frames a second is frame 3, written once; frame 0 was not asked for.
  FILE *f = fopen((dir + "/frame-000000.png").c_str(), "rb");
  EXPECT_EQ(f, nullptr);
  if (f) fclose(f);
}

TEST(RenderToolOptions, BadOptionsAreRefused) {
  EXPECT_EQ(run("--size 640"), 2);
  EXPECT_EQ(run("--size 0x480"), 2);
  EXPECT_EQ(run("--fps -3"), 2);
  EXPECT_EQ(run("--frames 1,,2"), 2);
  EXPECT_EQ(run("--frames -1"), 2);
  EXPECT_EQ(run("--frames 2.5"), 2);
  EXPECT_EQ(run("--bogus 1"), 2);
  EXPECT_EQ(run("--out"), 2);
  EXPECT_EQ(run("--out /nonexistent/folder --frames 0"), 1);
  EXPECT_EQ(run("--help"), 0);
}

}  // namespace

// The capture tool's frames against the frames the harness draws with the demo's own callbacks.
#include <GL/freeglut.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_util.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"

namespace {

// Set while a test wants the frames: the back buffer just before the swap, and both buffers after it.
bool gKeep = false;
std::vector<uint8_t> gBeforeSwap;
std::vector<uint8_t> gFrontAfterSwap;

}  // namespace

extern "C" void __real_glutSwapBuffers(void);

// The demo's swap, wrapped at link time so that the test sees the finished frame on both sides of it.
extern "C" void __wrap_glutSwapBuffers(void) {
  if (gKeep) gBeforeSwap = gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight);
  __real_glutSwapBuffers();
  if (gKeep) gFrontAfterSwap = gltestReadPixels(GL_FRONT, 0, 0, kGlTestWidth, kGlTestHeight);
}

namespace {

// RGB, top row first, from RGBA read by GL (bottom row first): the layout of a decoded PNG.
std::vector<uint8_t> topDownRgb(const std::vector<uint8_t> &rgba, int w, int h) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; y++) {
    const uint8_t *src = &rgba[static_cast<size_t>(h - 1 - y) * w * 4];
    uint8_t *dst = &rgb[static_cast<size_t>(y) * w * 3];
    for (int x = 0; x < w; x++) {
      dst[x * 3 + 0] = src[x * 4 + 0];
      dst[x * 3 + 1] = src[x * 4 + 1];
      dst[x * 3 + 2] = src[x * 4 + 2];
    }
  }
  return rgb;
}

// How many bytes of two equal-sized pictures differ.
size_t countDifferent(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); i++) n += a[i] != b[i];
  return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

// The file name the tool gives frame k.
std::string pngName(int64_t k) {
  char name[32];
  snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(k));
  return name;
}

// The demo's start-up in the harness window, as the tool runs it.
void startDemo() {
  glInit();
  myInit();
  reshapeCallBack(kGlTestWidth, kGlTestHeight);
}

// Draws frame k at the rate with the real display callback, keeping its pixels when keep is set.
void drawFrame(int64_t k, double fps, bool keep) {
  t = static_cast<float>(static_cast<double>(k) / fps);
  gKeep = keep;
  displayCallBack();
  gKeep = false;
}

using CaptureFramesTest = GlTest;

// Frames written after frames drawn but not written (--start) and frames chosen with --frames
// must be the pixels the demo's own display callback leaves, frame for frame from the first.
TEST_F(CaptureFramesTest, FramesEqualTheHarnessFramesDrawnInSequenceFromTheFirst) {
  const std::string dir = makeTempDir("frames");
  ASSERT_FALSE(dir.empty());
  const std::string spanDir = dir + "/span";
  const std::string pickDir = dir + "/picks";
  // At 30 frames per second: start 0.4 s is frame 12, 0.2 s more is frames 12..17.
  RunResult span = runCapture({"--png", "--fps", "30", "--start", "0.4", "--duration", "0.2", "--out", spanDir});
  ASSERT_EQ(span.status, 0) << span.output;
  RunResult picks = runCapture({"--frames", "3,0.5s,2", "--fps", "30", "--out", pickDir});
  ASSERT_EQ(picks.status, 0) << picks.output;
  EXPECT_EQ(listDir(spanDir), (std::vector<std::string>{"frame-000012.png", "frame-000013.png", "frame-000014.png",
                                                         "frame-000015.png", "frame-000016.png", "frame-000017.png"}));
  EXPECT_EQ(listDir(pickDir),
            (std::vector<std::string>{"frame-000002.png", "frame-000003.png", "frame-000015.png"}));

  startDemo();
  std::vector<uint8_t> first, previous;
  int frontDiffers = 0;
  for (int64_t k = 0; k <= 17; k++) {
    drawFrame(k, 30.0, true);
    std::vector<uint8_t> want = topDownRgb(gBeforeSwap, kGlTestWidth, kGlTestHeight);
    if (countDifferent(gBeforeSwap, gFrontAfterSwap) != 0) frontDiffers++;
    for (const std::string &folder : {spanDir, pickDir}) {
      const std::string path = folder + "/" + pngName(k);
      if (!fileExists(path)) continue;
      std::vector<uint8_t> got;
      int w = 0, h = 0;
      ASSERT_TRUE(readPngRgb(path, got, w, h)) << path;
      ASSERT_EQ(w, kGlTestWidth);
      ASSERT_EQ(h, kGlTestHeight);
      EXPECT_EQ(countDifferent(got, want), 0u) << "frame " << k << " of " << folder;
    }
    if (k == 0) first = want;
    if (k == 17) {
      EXPECT_NE(countDifferent(want, previous), 0u) << "the picture does not move, so the test proves little";
    }
    previous = want;
  }
  // The first frame is depth-tested and culls the car park away; later ones are not, so the
  // carried state shows in the picture.
  EXPECT_NE(countDifferent(first, previous), 0u);
  // How often the front buffer read after the swap was not the frame (every time under Mesa's
  // llvmpipe, where it reads black): why the tool reads the back buffer before the swap instead.
  RecordProperty("front_buffer_after_swap_differs_frames", frontDiffers);
  removeTree(dir);
}

// A frame drawn on its own, without the frames before it, is not what the capture writes:
// the state carried from frame to frame is part of the picture.
TEST_F(CaptureFramesTest, AFrameDrawnWithoutItsPredecessorsDiffersFromTheCapture) {
  const std::string dir = makeTempDir("alone");
  ASSERT_FALSE(dir.empty());
  RunResult run = runCapture({"--frames", "9", "--fps", "30", "--out", dir});
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<uint8_t> got;
  int w = 0, h = 0;
  ASSERT_TRUE(readPngRgb(dir + "/frame-000009.png", got, w, h));
  startDemo();
  drawFrame(9, 30.0, true);
  EXPECT_NE(countDifferent(got, topDownRgb(gBeforeSwap, kGlTestWidth, kGlTestHeight)), 0u);
  removeTree(dir);
}

}  // namespace

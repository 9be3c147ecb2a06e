// The GL test harness: every GL test binary runs on an Xvfb of its own, and every test gets a
// fresh GLUT window with its own GL context and the demo's globals at their initial values.
#ifndef PARKHAUS_GLTEST_H
#define PARKHAUS_GLTEST_H

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Size of the harness window and of its X screen, the same as the demo's screen.
constexpr int kGlTestWidth = 640;
constexpr int kGlTestHeight = 480;

class GlTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  int window = 0;
};

// Puts every global of the demo back to the value it has when the program starts.
void gltestResetGlobals();

// Reads a rectangle of a colour buffer as RGBA bytes, bottom row first.
std::vector<uint8_t> gltestReadPixels(GLenum buffer, int x, int y, int w, int h);

// The current GL_MODELVIEW_MATRIX or GL_PROJECTION_MATRIX, column-major.
std::array<float, 16> gltestMatrix(GLenum which);

// Runs draw() in feedback mode (GL_3D_COLOR_TEXTURE) and returns the raw buffer.
std::vector<float> gltestFeedback(void (*draw)());

// Sets the fixed GL state and the viewport as the demo's start-up and first reshape do.
void gltestStartDemo();

// Draws one frame at time `at` through the demo's display callback and returns the whole
// picture as it is shown (RGBA, bottom row first).
std::vector<uint8_t> gltestDrawFrame(float at);

// Pixel (x, y) of a whole-window picture, bottom row first.
std::array<int, 4> gltestAt(const std::vector<uint8_t> &rgba, int x, int y);

// Writes a whole-window picture to the test's temporary folder, for looking at a failure.
std::string gltestDump(const std::vector<uint8_t> &rgba, const std::string &name);

#endif

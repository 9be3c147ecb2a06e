// Test harness: a real GL context (a GLUT window under the X display), fresh for every test.
#ifndef PARKHAUS_GLTEST_H
#define PARKHAUS_GLTEST_H

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Size of the harness window, the same as the demo's screen.
constexpr int kGlTestWidth = 640;
constexpr int kGlTestHeight = 480;

// Fixture: each test gets a new window with its own GL context at GL's default state,
// and the demo's globals (time, camera, shading, aspect) back at their initial values.
class GlTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  int window = 0;
};

// Puts the demo's host globals back to their initial values.
void gltestResetGlobals();

// Reads a rectangle of the given colour buffer (GL_BACK or GL_FRONT) as RGBA bytes, bottom row first.
std::vector<uint8_t> gltestReadPixels(GLenum buffer, int x, int y, int w, int h);

// One RGBA pixel of the given buffer.
std::array<uint8_t, 4> gltestPixel(GLenum buffer, int x, int y);

// The current matrix of GL_MODELVIEW_MATRIX or GL_PROJECTION_MATRIX, column-major.
std::array<float, 16> gltestMatrix(GLenum which);

// Writes RGBA rows (bottom row first, as GL reads them) to a PNG file; for looking at failures.
bool gltestWritePng(const std::string &path, const std::vector<uint8_t> &rgba, int w, int h);

// Runs a feedback-mode pass around draw() and returns the raw feedback buffer (GL_3D_COLOR_TEXTURE).
std::vector<float> gltestFeedback(void (*draw)(), GLenum type = GL_3D_COLOR_TEXTURE);

#endif

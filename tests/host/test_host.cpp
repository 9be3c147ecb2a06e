// The host's callbacks, clock and frame set-up, driven in a real GL context.
#include <GL/glu.h>

#include <chrono>
#include <cmath>

#include "display.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"

namespace {

// The GL state a test reads back after driving the callbacks.
GLint glInt(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

void pressKeys(unsigned char key, int times) {
  for (int i = 0; i < times; i++) keyboardCallBack(key, 0, 0);
}

using HostTest = GlTest;

TEST_F(HostTest, CameraKeysStepByHalfAndStopAtTheirBounds) {
  pressKeys('l', 19);
  EXPECT_FLOAT_EQ(cam[0], 9.5f);
  pressKeys('l', 1);
  EXPECT_EQ(cam[0], 10.0f);
  pressKeys('l', 3);
  EXPECT_EQ(cam[0], 10.0f);

  pressKeys('j', 41);
  EXPECT_EQ(cam[0], -10.0f);

  pressKeys('i', 12);
  EXPECT_EQ(cam[2], 10.0f);
  pressKeys('k', 25);
  EXPECT_EQ(cam[2], 0.0f);
  pressKeys('i', 1);
  EXPECT_EQ(cam[2], 0.5f);
  EXPECT_EQ(cam[1], 0.0f);  // no key moves y
}

TEST_F(HostTest, TenKPressesFromTheStartReachTheOrigin) {
  pressKeys('k', 10);
  EXPECT_EQ(cam[2], 0.0f);
  pressKeys('k', 1);
  EXPECT_EQ(cam[2], 0.0f);
}

TEST_F(HostTest, STogglesTheShadingModelInGl) {
  glInit();
  EXPECT_EQ(glInt(GL_SHADE_MODEL), GL_SMOOTH);
  keyboardCallBack('s', 0, 0);
  EXPECT_EQ(shadeModel, static_cast<GLenum>(GL_FLAT));
  EXPECT_EQ(glInt(GL_SHADE_MODEL), GL_FLAT);
  keyboardCallBack('s', 0, 0);
  EXPECT_EQ(shadeModel, static_cast<GLenum>(GL_SMOOTH));
  EXPECT_EQ(glInt(GL_SHADE_MODEL), GL_SMOOTH);
}

TEST_F(HostTest, UpperCaseAndOtherKeysDoNothing) {
  const unsigned char keys[] = {'I', 'K', 'J', 'L', 'S', 'Q', 'x', ' ', '\r', 0, 255};
  for (unsigned char key : keys) keyboardCallBack(key, 17, 23);
  EXPECT_EQ(cam[0], 0.0f);
  EXPECT_EQ(cam[1], 0.0f);
  EXPECT_EQ(cam[2], 5.0f);
  EXPECT_EQ(shadeModel, static_cast<GLenum>(GL_SMOOTH));
}

TEST(HostDeathTest, EscapeAndQEndTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(keyboardCallBack(27, 0, 0), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(keyboardCallBack('q', 0, 0), ::testing::ExitedWithCode(0), "");
}

TEST(HostClock, WallClockIsUtcSecondsAndMicroseconds) {
  win_timeval tv{};
  auto before = std::chrono::system_clock::now().time_since_epoch();
  win_gettimeofday(&tv, nullptr);
  auto after = std::chrono::system_clock::now().time_since_epoch();
  int64_t us = static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
  EXPECT_GE(us, std::chrono::duration_cast<std::chrono::microseconds>(before).count());
  EXPECT_LE(us, std::chrono::duration_cast<std::chrono::microseconds>(after).count());
  EXPECT_GE(tv.tv_usec, 0);
  EXPECT_LE(tv.tv_usec, 999999);
}

TEST_F(HostTest, IdleSetsTimeFromTheStartReading) {
  EXPECT_EQ(t, 0.0f);  // before any idle call
  win_timeval tv{};
  win_gettimeofday(&tv, nullptr);
  int64_t now = static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;

  startTime = now - 2500000;  // 2.5 s ago
  idleCallBack();
  EXPECT_GE(t, 2.5f);
  EXPECT_LT(t, 3.5f);

  // An hour in: the microsecond counts subtract exactly, so t keeps its fractions.
  startTime = now - 3600LL * 1000000 - 250000;
  idleCallBack();
  EXPECT_GE(t, 3600.25f);
  EXPECT_LT(t, 3601.25f);

  startTime = now + 10 * 1000000;  // a start reading in the future gives a negative time
  idleCallBack();
  EXPECT_LT(t, -8.0f);
}

TEST_F(HostTest, ReshapeSetsViewportAndAspect) {
  EXPECT_EQ(aspect, 1.0);
  reshapeCallBack(640, 480);
  EXPECT_DOUBLE_EQ(aspect, 640.0 / 480.0);
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[0], 0);
  EXPECT_EQ(vp[1], 0);
  EXPECT_EQ(vp[2], 640);
  EXPECT_EQ(vp[3], 480);
  reshapeCallBack(300, 600);
  EXPECT_DOUBLE_EQ(aspect, 0.5);
}

// gluPerspective(100, a, 1, 100): m[0] = f / a, m[5] = f with f = cot(50 degrees).
TEST_F(HostTest, ProjectionUsesAspectOneBeforeAnyReshapeAndTheNewAspectAfter) {
  const double f = 1.0 / std::tan(50.0 * M_PI / 180.0);
  displaySetCamera();
  auto p = gltestMatrix(GL_PROJECTION_MATRIX);
  EXPECT_NEAR(p[0], f, 1e-5);
  EXPECT_NEAR(p[5], f, 1e-5);
  EXPECT_NEAR(p[10], -(100.0 + 1.0) / (100.0 - 1.0), 1e-5);
  EXPECT_NEAR(p[14], -2.0 * 100.0 * 1.0 / (100.0 - 1.0), 1e-5);
  EXPECT_EQ(glInt(GL_MATRIX_MODE), GL_MODELVIEW);

  reshapeCallBack(640, 480);
  displaySetCamera();
  p = gltestMatrix(GL_PROJECTION_MATRIX);
  EXPECT_NEAR(p[0], f * 480.0 / 640.0, 1e-5);
  EXPECT_NEAR(p[5], f, 1e-5);
}

// Applies a column-major matrix to (x, y, z, w).
std::array<float, 4> apply(const std::array<float, 16> &m, float x, float y, float z, float w) {
  std::array<float, 4> r{};
  for (int i = 0; i < 4; i++) r[i] = m[i] * x + m[4 + i] * y + m[8 + i] * z + m[12 + i] * w;
  return r;
}

TEST_F(HostTest, CameraLooksAtTheOriginFromCam) {
  displaySetCamera();
  auto m = gltestMatrix(GL_MODELVIEW_MATRIX);
  const std::array<float, 16> start = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1};
  for (int i = 0; i < 16; i++) EXPECT_NEAR(m[i], start[i], 1e-6) << i;

  cam[0] = 3.0f;
  cam[2] = 4.0f;
  displaySetCamera();
  m = gltestMatrix(GL_MODELVIEW_MATRIX);
  auto eye = apply(m, 3, 0, 4, 1);
  auto origin = apply(m, 0, 0, 0, 1);
  auto up = apply(m, 0, 1, 0, 0);
  EXPECT_NEAR(eye[0], 0, 1e-5);
  EXPECT_NEAR(eye[1], 0, 1e-5);
  EXPECT_NEAR(eye[2], 0, 1e-5);
  EXPECT_NEAR(origin[0], 0, 1e-5);
  EXPECT_NEAR(origin[1], 0, 1e-5);
  EXPECT_NEAR(origin[2], -5, 1e-5);  // five units straight ahead
  EXPECT_NEAR(up[1], 1, 1e-5);
}

TEST_F(HostTest, LightStaysAtItsWorldPointWhileTheCameraMoves) {
  for (float x : {0.0f, -10.0f, 6.5f}) {
    cam[0] = x;
    displaySetCamera();
    displaySetLight();
    auto m = gltestMatrix(GL_MODELVIEW_MATRIX);
    auto expected = apply(m, 2.0f, 0.5f, 6.0f, 1.0f);
    GLfloat pos[4];
    glGetLightfv(GL_LIGHT1, GL_POSITION, pos);
    for (int i = 0; i < 4; i++) EXPECT_NEAR(pos[i], expected[i], 1e-4) << "x " << x << " comp " << i;
  }
  // From the start camera the eye-space position is the world point moved 5 back.
  cam[0] = 0.0f;
  displaySetCamera();
  displaySetLight();
  GLfloat pos[4];
  glGetLightfv(GL_LIGHT1, GL_POSITION, pos);
  EXPECT_NEAR(pos[0], 2.0f, 1e-5);
  EXPECT_NEAR(pos[1], 0.5f, 1e-5);
  EXPECT_NEAR(pos[2], 1.0f, 1e-5);
  EXPECT_NEAR(pos[3], 1.0f, 1e-6);

  EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
  EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
  EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
  GLfloat amb[4], dif[4];
  glGetLightfv(GL_LIGHT1, GL_AMBIENT, amb);
  glGetLightfv(GL_LIGHT1, GL_DIFFUSE, dif);
  EXPECT_FLOAT_EQ(amb[0], 0.5f);
  EXPECT_FLOAT_EQ(amb[3], 1.0f);
  EXPECT_FLOAT_EQ(dif[1], 1.0f);
}

TEST_F(HostTest, FixedStateAfterGlInit) {
  glInit();
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(glInt(GL_DEPTH_FUNC), GL_LEQUAL);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  EXPECT_EQ(glInt(GL_CULL_FACE_MODE), GL_BACK);
  EXPECT_EQ(glInt(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
  GLfloat depth = 0;
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
  EXPECT_EQ(depth, 1.0f);
}

TEST_F(HostTest, ClearedFrameIsNightBlueEverywhere) {
  glInit();
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  displayClear();
  auto px = gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight);
  size_t wrong = 0;
  for (size_t i = 0; i < px.size(); i += 4) {
    // 0.2 of 255 is 51; allow one step for the conversion.
    if (px[i] != 0 || px[i + 1] != 0 || std::abs(px[i + 2] - 51) > 1) wrong++;
  }
  EXPECT_EQ(wrong, 0u);
  GLfloat d = 0;
  glReadPixels(10, 10, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
  EXPECT_EQ(d, 1.0f);
}

}  // namespace

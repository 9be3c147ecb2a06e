// The host's keys, clock, reshape, camera, light and loading, in a real GL context.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <set>
#include <string>

#include "display.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"

namespace {

using Host = GlTest;

// Microseconds since 1970 by the standard library's clock, to bracket the demo's readings.
int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Whether column-major matrix m takes (x, y, z, w) to `want`, to 1e-5.
bool maps(const std::array<float, 16> &m, std::array<float, 4> p, std::array<double, 4> want) {
  for (int i = 0; i < 4; i++) {
    if (std::fabs(m[i] * p[0] + m[4 + i] * p[1] + m[8 + i] * p[2] + m[12 + i] * p[3] - want[i]) > 1e-5) return false;
  }
  return true;
}

TEST_F(Host, DemoStartsFromTheStartCameraAndKeysMoveItInHalfStepsWithinBoundsAndToggleShading) {
  shadeModel = GL_FLAT;
  glInit();
  GLint shade = 0;
  glGetIntegerv(GL_SHADE_MODEL, &shade);
  EXPECT_EQ(shade, GL_FLAT) << "start-up applies the shading model";
  // Keys, then camera x and z and the shading; k ten times puts the eye on the origin, and stops.
  const std::tuple<std::string, float, float, GLint> cases[] = {
      {std::string(19, 'l'), 9.5f, 5, GL_SMOOTH},   {std::string(21, 'l'), 10, 5, GL_SMOOTH},
      {std::string(19, 'j'), -9.5f, 5, GL_SMOOTH},  {std::string(21, 'j'), -10, 5, GL_SMOOTH},
      {std::string(9, 'i'), 0, 9.5f, GL_SMOOTH},    {std::string(11, 'i'), 0, 10, GL_SMOOTH},
      {std::string(9, 'k'), 0, 0.5f, GL_SMOOTH},    {std::string(11, 'k') + "i", 0, 0.5f, GL_SMOOTH},
      {std::string(10, 'k'), 0, 0, GL_SMOOTH},      {"s", 0, 5, GL_FLAT},
      {"ss", 0, 5, GL_SMOOTH},                      {"IKJLSQx \r\x01\xff", 0, 5, GL_SMOOTH}};  // the last do nothing
  for (const auto &[keys, x, z, shading] : cases) {
    gltestResetGlobals();
    glShadeModel(GL_SMOOTH);
    for (char key : keys) keyboardCallBack(static_cast<unsigned char>(key), 17, 23);
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    EXPECT_EQ((std::array<float, 5>{cam[0], cam[1], cam[2], float(shadeModel), float(shade)}),
              (std::array<float, 5>{x, 0, z, float(shading), float(shading)}))
        << keys;
  }
}

TEST_F(Host, ReshapeAndCameraGiveTheProjectionAndTheViewOfTheOriginWithTheLightInTheWorld) {
  // gluPerspective(100, aspect, 1, 100): f = cot 50 degrees on y, f / aspect on x. Width 0: no reshape
  // yet. A window collapsed to height 0 keeps a usable projection, as if one pixel high.
  const double f = 1 / std::tan(50 * M_PI / 180);
  const std::array<float, 5> cases[] = {{0, 0, 1, 0, 5},        {640, 480, 4 / 3.0f, 3, 4}, {300, 600, 0.5f, -10, 10},
                                        {640, 0, 640, 0, 5},    {640, 480, 4 / 3.0f, 10, 0.5f}};  // width, height, aspect, camera x, z
  for (const auto &[width, height, ratio, x, z] : cases) {
    SCOPED_TRACE(x);
    if (width) reshapeCallBack(static_cast<int>(width), static_cast<int>(height));
    cam[0] = x, cam[2] = z;
    displaySetCamera();
    displaySetLight();
    std::array<GLint, 5> state;  // matrix mode and viewport
    glGetIntegerv(GL_MATRIX_MODE, &state[0]);
    glGetIntegerv(GL_VIEWPORT, &state[1]);
    EXPECT_EQ(state[0], GL_MODELVIEW);
    EXPECT_TRUE(!width || state == (std::array<GLint, 5>{GL_MODELVIEW, 0, 0, GLint(width), GLint(height)}));
    const auto p = gltestMatrix(GL_PROJECTION_MATRIX), m = gltestMatrix(GL_MODELVIEW_MATRIX);
    EXPECT_TRUE(maps(p, {1, 1, 0, 0}, {f / ratio, f, 0, 0}) && maps(p, {0, 0, -50, 1}, {0, 0, 4850.0 / 99, 50}));
    // The eye at cam, the origin straight ahead, world up the view's up, the light at
    // (2, 0.5, 6) in the world wherever the camera is, white.
    EXPECT_TRUE(maps(m, {x, 0, z, 1}, {0, 0, 0, 1}));
    EXPECT_TRUE(maps(m, {0, 0, 0, 1}, {0, 0, -std::hypot(x, z), 1}));
    EXPECT_TRUE(maps(m, {0, 1, 0, 0}, {0, 1, 0, 0}));
    std::array<float, 4> light, diffuse;
    glGetLightfv(GL_LIGHT1, GL_POSITION, light.data());
    glGetLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse.data());
    EXPECT_TRUE(maps(m, {2, 0.5f, 6, 1}, {light[0], light[1], light[2], light[3]}));
    EXPECT_EQ(diffuse, (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  }
}

TEST_F(Host, StartUpLoadsEverythingThenTakesTheStartReadingFromWhichIdleCountsTime) {
  glInit();
  // Without meshes the frame's mesh drawings draw nothing.
  for (void (*draw)() : {drawCube, drawThing2, drawThing, drawLogo}) EXPECT_TRUE(gltestFeedback(draw).empty());
  int64_t before = nowMicros();
  myInit();
  EXPECT_TRUE(startTime >= before && startTime <= nowMicros());
  EXPECT_EQ((std::set<GLuint>{texture[0], texture[2], texture[3], texLogo, texParkhaus, 0}).size(), 6u);
  EXPECT_EQ((std::set<const void *>{object, object2, object3, nullptr}).size(), 4u);
  // drawThing and drawThing2 draw different meshes; drawCube draws the cube's in white at 70 % alpha.
  EXPECT_NE(gltestFeedback(drawThing), gltestFeedback(drawThing2));
  drawCube();
  std::array<float, 4> colour;
  glGetFloatv(GL_CURRENT_COLOR, colour.data());
  EXPECT_EQ(colour, (std::array<float, 4>{1, 1, 1, 0.7f}));
  // The clock, UTC microseconds since 1970, read by idle: seconds since the start reading, fractions kept
  // an hour in, negative for a start reading in the future.
  for (int64_t ago : {0LL, 2500000LL, 3600250000LL, -10000000LL}) {
    before = nowMicros();
    startTime = before - ago;
    idleCallBack();
    EXPECT_GE(t, static_cast<float>((before - startTime) * 0.000001)) << ago;
    EXPECT_LE(t, static_cast<float>((nowMicros() - startTime) * 0.000001)) << ago;
  }
  // Once registered, the display callback draws the frame that an idle step asks for.
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  registerCallBacks();
  idleCallBack();
  glutMainLoopEvent();
  EXPECT_NE(gltestAt(gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight), 630, 5),
            (std::array<int, 4>{255, 255, 255, 255}));
  // And the reshape callback follows the window's size, once the X server has made the change.
  glutReshapeWindow(320, 160);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (aspect != 2.0 && std::chrono::steady_clock::now() < deadline) glutMainLoopEvent(), usleep(1000);
  EXPECT_EQ(aspect, 2.0);
}

}  // namespace

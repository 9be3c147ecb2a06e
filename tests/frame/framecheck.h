// Helpers for the frame tests: a fixture that owns the demo's texture and mesh globals,
// GL feedback parsed into primitives, small meshes and textures, and frames drawn in sequence.
#ifndef PARKHAUS_TESTS_FRAMECHECK_H
#define PARKHAUS_TESTS_FRAMECHECK_H

#include <GL/glu.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "gltest.h"
#include "util.h"

// One vertex as GL_3D_COLOR_TEXTURE feedback reports it: window position, colour, texture coordinates.
struct FbVertex {
  float x, y, z;
  float r, g, b, a;
  float s, t, p, q;
};

// One primitive of the feedback buffer (polygon, point or line) with its vertices.
struct FbPrim {
  GLenum token;
  std::vector<FbVertex> v;
};

// Runs draw() in feedback mode and parses the buffer; fails the test on a malformed buffer.
std::vector<FbPrim> feedback(const std::function<void()> &draw);

// All vertices of all polygons, in order.
std::vector<FbVertex> polygonVertices(const std::vector<FbPrim> &prims);

// A vertex expected by a test: window position and texture coordinates.
struct Expect {
  float x, y, s, t;
};

// Checks that the distinct vertices of `got` (within tol in position and texture coordinates)
// are exactly the expected set, order not counted. Returns a message, empty when they match.
std::string matchVertexSet(const std::vector<FbVertex> &got, const std::vector<Expect> &want,
                           float posTol = 0.01f, float texTol = 1e-5f);

// A mesh in the interleaved GL_T2F_N3F_V3F layout, owned by the test.
struct TestMesh {
  std::vector<float> data;
  util_oia_t oia{};
  // Adds a triangle with one normal and one texture coordinate for all three corners.
  void triangle(std::array<float, 9> xyz, std::array<float, 3> n, std::array<float, 2> st);
  // Finishes the record after the triangles are added.
  util_oia_t *finish();
};

// Makes a w x h RGBA texture with nearest filtering from bytes (bottom row first); returns its name.
GLuint makeTexture(int w, int h, const std::vector<uint8_t> &rgba);
GLuint makeSolidTexture(uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// Fixture: a fresh GL context, the texture and mesh globals cleared, the wall table restored.
class FrameTest : public GlTest {
protected:
  void SetUp() override;
  void TearDown() override;
  // Sets up the fixed GL state and the viewport as the demo's start-up and first reshape do.
  void startDemoState();
  // Draws one frame at time `at` through the demo's display callback and returns the picture
  // (RGBA, bottom row first) as the screen shows it.
  std::vector<uint8_t> drawFrame(float at);
  GLenum shownBuffer = 0;
};

// Pixel (x, y) of an RGBA picture of the test window's size, bottom row first.
std::array<int, 4> px(const std::vector<uint8_t> &rgba, int x, int y);

// Writes the picture to the test's output folder for looking at a failure; returns the path.
std::string dumpPicture(const std::vector<uint8_t> &rgba, const std::string &name);

// Where gluProject puts an object point under the current matrices and viewport.
std::array<double, 3> project(double x, double y, double z);

#endif

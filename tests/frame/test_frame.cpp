// The frame's drawings as GL reports them: feedback polygons, the state left, whole frames in sequence.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "display.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"
#include "parkhaus.h"
#include "suck.h"

namespace {

using Frame = GlTest;

// One vertex as GL_3D_COLOR_TEXTURE feedback reports it: window position, colour, texture coordinates.
struct Vtx {
  float x, y, z, r, g, b, a, s, t, p, q;
};
using Poly = std::vector<Vtx>;

// The polygons that draw() emits, in order; anything but polygons fails the test.
std::vector<Poly> polygons(void (*draw)()) {
  const std::vector<float> fb = gltestFeedback(draw);
  std::vector<Poly> out;
  size_t i = 0;
  for (; i + 1 < fb.size() && fb[i] == GL_POLYGON_TOKEN; i += 2 + out.back().size() * 11) {
    out.emplace_back(static_cast<size_t>(fb[i + 1]));
    std::memcpy(out.back().data(), &fb[i + 2], out.back().size() * sizeof(Vtx));
  }
  EXPECT_EQ(i, fb.size()) << "feedback holds more than polygons";
  return out;
}

// The unclipped quads that draw() emits, corners in drawing order, from GL's triangles 0 1 3 and 1 2 3.
std::vector<Poly> quads(void (*draw)()) {
  const auto tris = polygons(draw);
  std::vector<Poly> out;
  for (size_t i = 0; i + 1 < tris.size() && tris[i].size() == 3 && tris[i + 1].size() == 3 &&
                     !std::memcmp(&tris[i + 1][0], &tris[i][1], sizeof(Vtx)) &&
                     !std::memcmp(&tris[i + 1][2], &tris[i][2], sizeof(Vtx));
       i += 2) {
    out.push_back({tris[i][0], tris[i][1], tris[i + 1][1], tris[i][2]});
  }
  EXPECT_EQ(out.size() * 2, tris.size()) << "not all whole quads";
  return out;
}

// A GL_T2F_N3F_V3F mesh of triangles (s, t, three corners) with normals away from the light.
struct Mesh {
  std::vector<float> data;
  util_oia_t oia{GL_T2F_N3F_V3F, 0, GL_TRIANGLES, 0, nullptr};
  Mesh(std::initializer_list<std::array<float, 11>> triangles) {
    for (const auto &k : triangles) {
      for (int c = 2; c < 11; c += 3) data.insert(data.end(), {k[0], k[1], 0, 0, -1, k[c], k[c + 1], k[c + 2]});
    }
    oia.count = static_cast<GLint>(data.size() / 8), oia.data = data.data();
  }
};

// The cube's front face F and back face B, each with texture coordinates of its own; the object; the logo.
struct Scene {
  Mesh cube{{0.125f, 0.875f, -0.9f, -0.2f, 0.5f, -0.5f, -0.2f, 0.5f, -0.7f, 0.2f, 0.5f},
            {0.625f, 0.375f, -0.3f, -0.3f, 0.5f, 0.0f, 0.3f, 0.5f, 0.3f, -0.3f, 0.5f}};
  Mesh inner{{0.9f, 0.1f, -0.2f, -0.1f, 0, 0.2f, -0.1f, 0, 0, 0.2f, 0}};
  Mesh logo{{0.9f, 0.1f, -1, -1, 0, 1, -1, 0, 0, 1, 0}};
  Scene() { object2 = &cube.oia, object3 = &inner.oia, object = &logo.oia; }
};

// The middle of a polygon in the window.
std::array<float, 2> middle(const Poly &p) {
  std::array<float, 2> m{};
  for (const Vtx &v : p) m[0] += v.x / p.size(), m[1] += v.y / p.size();
  return m;
}

// A 2 x 1 RGBA texture with nearest filtering from its two texels; returns its name.
GLuint makeTexture(const std::array<uint8_t, 8> &texels) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return name;
}

// A texture of one colour.
GLuint solid(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return makeTexture({r, g, b, a, r, g, b, a}); }

// An integer GL state value.
GLint glInt(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

// Whether pixel `at` of a picture is within tolerance of a colour in red, green and blue.
testing::AssertionResult pixelNear(const std::vector<uint8_t> &picture, std::array<float, 2> at, std::array<int, 3> rgb,
                                   int tolerance) {
  const auto p = gltestAt(picture, static_cast<int>(at[0]), static_cast<int>(at[1]));
  for (int c = 0; c < 3; ++c) {
    if (std::abs(p[c] - rgb[c]) > tolerance) return testing::AssertionFailure() << p[0] << " " << p[1] << " " << p[2];
  }
  return testing::AssertionSuccess();
}

// An orthographic view, 25 units each side, lit red from (1, 2, 3) and green from (-3, -2, -1): colour tells normal.
void boxView() {
  glMatrixMode(GL_PROJECTION);
  glOrtho(-25, 25, -25, 25, -25, 25);
  glMatrixMode(GL_MODELVIEW);
  const float none[4] = {0, 0, 0, 1}, colour[2][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}};
  const float from[2][4] = {{1, 2, 3, 0}, {-3, -2, -1, 0}};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
  for (int i = 0; i < 2; ++i) {
    glLightfv(GL_LIGHT0 + i, GL_DIFFUSE, colour[i]);
    glLightfv(GL_LIGHT0 + i, GL_POSITION, from[i]);
    glEnable(GL_LIGHT0 + i);
  }
  glEnable(GL_LIGHTING);
}

// Where a vertex lies in the unit box drawn at 20 units in boxView.
std::array<float, 3> boxPoint(const Vtx &v) {
  return {(v.x / 640 * 50 - 25) / 20, (v.y / 480 * 50 - 25) / 20, 25 * (1 - 2 * v.z) / 20};
}

// Checks that a vertex of the unit box is lit as by the normal n, shrunk by the scale of 20.
void expectNormal(const Vtx &v, const std::array<float, 3> &n) {
  EXPECT_NEAR(v.r, 0.04f * std::max(0.0f, (n[0] + 2 * n[1] + 3 * n[2]) / std::sqrt(14.0f)), 1e-5f);
  EXPECT_NEAR(v.g, 0.04f * std::max(0.0f, (-3 * n[0] - 2 * n[1] - n[2]) / std::sqrt(14.0f)), 1e-5f);
}

TEST_F(Frame, TextDrawStringPutsEachCharacterInItsGlyphCell) {
  glOrtho(0, 1280, 480, 0, -1, 1);  // two canvas units per pixel across, one down; y down
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  // Letters' cases swapped in ASCII order; bytes outside the font take the terminator's cell (15, 5).
  static const char *const text = "Aa @_`Zz0/~\t\x80\xff";
  const int cells[][2] = {{1, 4},  {1, 2}, {0, 0},  {0, 2},  {15, 3}, {0, 4},  {10, 5},
                          {10, 3}, {0, 1}, {15, 0}, {14, 5}, {15, 5}, {15, 5}, {15, 5}};
  const auto glyphs = quads([] { textDrawString(10, 20, text); });
  ASSERT_EQ(glyphs.size(), std::size(cells));
  for (size_t i = 0; i < glyphs.size(); ++i) {
    // 100 x 40 at (10 + 60 i, 20), depth 0, from the bottom left up, across, down; its top at t = 1 - row / 16.
    const float x = 10 + 60.0f * i, s0 = cells[i][0] / 16.0f, tTop = 1 - cells[i][1] / 16.0f;
    for (int k = 0; k < 4; ++k) {
      const bool right = k >= 2, bottom = k == 0 || k == 3;
      const Vtx &v = glyphs[i][k];
      EXPECT_EQ((std::array<float, 5>{v.x * 2, v.y, v.z, v.s, v.t}),
                (std::array<float, 5>{right ? x + 100 : x, bottom ? 420.0f : 460.0f, 0.5f, right ? s0 + 1 / 16.0f : s0,
                                      bottom ? tTop - 1 / 16.0f : tTop}))
          << "glyph " << i;
    }
  }
  // On the y-down canvas an unmirrored glyph runs clockwise: a back face.
  glCullFace(GL_BACK);
  EXPECT_TRUE(polygons([] { textDrawString(10, 20, text); }).empty());
}

TEST_F(Frame, CreditsTiltSlideAndStretchWithTimeAndVanishWhileMirrored) {
  gltestStartDemo();
  // Per t, the canvas places (y down) of line 1's first glyph and line 9's, and the step to the
  // next glyph. At t = 36: tilted by -2.21 degrees, shifted by (28.24, 24.90), scaled by (0.3236, 1.3201).
  for (const auto &[at, x1, y1, x9, y9, dx, dy] : {std::array<float, 7>{0, 40, 220, 40, 700, 12, 0},
                                                  {36, 66.619f, 154.457f, 87.006f, 682.114f, 19.404f, -0.750f}}) {
    t = at;
    SCOPED_TRACE(t);
    glRotatef(10, 0, 0, 1);  // a modelview that the text must leave as it found it
    const auto modelview = gltestMatrix(GL_MODELVIEW_MATRIX), projection = gltestMatrix(GL_PROJECTION_MATRIX);
    std::vector<std::array<float, 2>> corners;  // each glyph's top left corner on the canvas
    for (const Poly &p : quads(drawText)) corners.push_back({p[1].x * 1200 / 640, (480 - p[1].y) * 900 / 480});
    EXPECT_TRUE(gltestMatrix(GL_MODELVIEW_MATRIX) == modelview && gltestMatrix(GL_PROJECTION_MATRIX) == projection &&
                glInt(GL_MATRIX_MODE) == GL_MODELVIEW);
    ASSERT_GT(corners.size(), 2u);
    auto near = [](std::array<float, 2> a, float x, float y) { return std::hypot(a[0] - x, a[1] - y) < 0.05f; };
    EXPECT_TRUE(near(corners[0], x1, y1) && near(corners[1], x1 + dx, y1 + dy));
    EXPECT_EQ(std::count_if(corners.begin(), corners.end(), [&, x = x9, y = y9](auto c) { return near(c, x, y); }), 1);
  }
  // Width factor 0.3 sin(t/4) + 0.2 < 0 from 15.49 to 22.21 s, every 8 pi s: mirrored, front faces, culled.
  for (float at : {18.0f, 40.5f, 40.75f, 43.0f, 47.2f, 47.5f, 50.0f}) {
    t = at;
    EXPECT_EQ(polygons(drawText).empty(), (at > 16 && at < 22) || (at > 40.6f && at < 47.3f)) << "t = " << at;
  }
}

TEST_F(Frame, CarParkTurnsThirtyDegreesASecondAndItsWallsShowTheirTiles) {
  texParkhaus = solid(1, 2, 3, 255);
  boxView();
  for (float at : {0.0f, 3.0f, 7.7f, 12.0f}) {
    // Turned back by 30 t degrees about (0.1, 1, 0.2), the box must stand square.
    glLoadIdentity();
    glRotatef(-30 * at, 0.1f, 1, 0.2f);
    const auto modelview = gltestMatrix(GL_MODELVIEW_MATRIX);
    t = at;
    SCOPED_TRACE(t);
    std::set<std::pair<int, float>> faces;
    for (const Poly &face : quads(parkhausDraw)) {
      std::array<std::array<float, 3>, 4> p;
      std::set<std::pair<float, float>> st;
      for (int k = 0; k < 4; ++k) {
        p[k] = boxPoint(face[k]);
        for (float c : p[k]) EXPECT_NEAR(std::fabs(c), 1, 1e-4) << "a corner of the box";
        st.insert({face[k].s, face[k].t});
      }
      int axis = 0;  // the coordinate that all four corners share
      while (axis < 3 && std::fabs(p[0][axis] * 3 - p[1][axis] - p[2][axis] - p[3][axis]) > 1e-3f) ++axis;
      ASSERT_LT(axis, 3) << "a face of the box";
      const float side = p[0][axis] > 0 ? 1.0f : -1.0f;
      faces.insert({axis, side});
      // Every face shows the whole picture; the z = -1 face carries the normal (0, 0, 1).
      EXPECT_EQ(st, (std::set<std::pair<float, float>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
      std::array<float, 3> n{};
      n[axis] = axis == 2 ? 1 : side;
      for (const Vtx &v : face) expectNormal(v, n);
    }
    EXPECT_EQ(faces.size(), 6u);
    EXPECT_EQ(gltestMatrix(GL_MODELVIEW_MATRIX), modelview);
  }
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && static_cast<GLuint>(glInt(GL_TEXTURE_BINDING_2D)) == texParkhaus);
  // The walls, which the frame does not call: the far one (0) shows tile 7, the near one (2) all the picture.
  static int side, tile = 7;
  const auto wall = [] {
    glBegin(GL_QUADS);
    parkhausDrawWall(side, tile);
    glEnd();
  };
  glLoadIdentity();
  glScalef(20, 20, 20);
  for (side = 0; side < 3; side += 2) {
    const auto drawn = quads(wall);
    ASSERT_EQ(drawn.size(), 1u) << "side " << side;
    std::set<std::pair<float, float>> st;
    for (const Vtx &v : drawn[0]) st.insert({v.s, v.t}), expectNormal(v, {0, 0, side == 0 ? 1.0f : -1.0f});
    for (const Vtx &a : drawn[0]) for (const Vtx &b : drawn[0]) EXPECT_TRUE((a.x == b.x) == (a.s == b.s) && (a.y == b.y) == (a.t == b.t)) << "s and t follow x and y";
    using Corners = std::set<std::pair<float, float>>;
    EXPECT_EQ(st, side == 0 ? Corners({{0.75f, 0.25f}, {0.75f, 0.5f}, {1, 0.25f}, {1, 0.5f}}) : Corners({{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
  }
  for (side = -1; side < 5; side += 2) EXPECT_TRUE(polygons(wall).empty()) << "side " << side;
}

// A polygon's kind: F or B, a face of Scene's cube; T, an unlit glyph in the text's colour; o, sphere-mapped
// (the inner object, or the logo once the text is drawn); ? anything else.
char label(const Poly &p) {
  if (std::hypot(p[0].r - 0.4f, p[0].g - 0.2f, p[0].b - 0.8f) + std::fabs(p[0].a - 0.4f) < 1e-4f) return 'T';
  const auto all = [&](float s, float t) {
    return std::all_of(p.begin(), p.end(), [&](const Vtx &v) { return v.s == s && v.t == t; });
  };
  if (all(0.125f, 0.875f)) return 'F';
  if (all(0.625f, 0.375f)) return 'B';
  return all(0.9f, 0.1f) ? '?' : 'o';
}

// One frame drawn at time `at` (after the display callback's clear, camera and light), with its GL
// state made hostile first when asked: its polygons, and how many of them the car park drew first.
struct FramePolys {
  std::vector<Poly> polys;
  size_t park = 0;
};
FramePolys framePolygons(float at, bool hostile = false) {
  t = at;
  displayClear();
  displaySetCamera();
  displaySetLight();
  if (hostile) {
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
  }
  FramePolys f;
  f.park = polygons(parkhausDraw).size();
  f.polys = polygons(displayDraw);
  return f;
}

// The polygons as letters, one per run of a label, the car park's as ?; the first of each in found.
std::string layers(const FramePolys &frame, std::map<char, Poly> *found = nullptr) {
  std::string word;
  for (size_t i = 0; i < frame.polys.size(); ++i) {
    const Poly &p = frame.polys[i];
    char c = i < frame.park ? '?' : label(p);
    if (c == 'o' && word.find('T') != std::string::npos) c = 'L';
    if (found) found->emplace(c, p);
    if (word.empty() || word.back() != c) word += c;
  }
  return word;
}

// Whether two polygons lie at the same place in the window, to a twentieth of a pixel.
bool samePlace(const Poly &a, const Poly &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::hypot(a[i].x - b[i].x, a[i].y - b[i].y) > 0.05f) return false;
  }
  return true;
}

TEST_F(Frame, DisplayDrawLayersItsPassesMovesThemWithTimeAndLeavesItsCarryOvers) {
  Scene scene;
  gltestStartDemo();
  texture[0] = texture[3] = texLogo = solid(1, 2, 3, 255);  // GL generates coordinates only for a texture
  // Camera z, whether the frame starts with culling off and texture generation on, time, layers.
  std::map<char, Poly> at[6];
  cam[2] = 10;
  EXPECT_EQ(layers(framePolygons(0), &at[0]), "BoFTL") << "first frame: the car park culled by start-up's GL_BACK";
  EXPECT_EQ(layers(framePolygons(0), &at[1]), "?BoFTL") << "from the second frame the text's GL_FRONT shows its inside";
  cam[2] = 5;
  EXPECT_EQ(layers(framePolygons(0)), "?BoFT") << "from the start camera the logo lies above the view";
  cam[2] = 10;
  EXPECT_EQ(layers(framePolygons(10, true), &at[2]), "?FBoFBTL") << "without culling both faces show in both passes";
  EXPECT_EQ(layers(framePolygons(20 * M_PI - 10, true), &at[3]), "?FBoFBTL");
  EXPECT_EQ(layers(framePolygons(500, true), &at[4]), "?FBoFBTL");
  // At t = 500 - 120 pi the group rocks as at 500, but sin(t / 134) is positive: it does not sink.
  EXPECT_EQ(layers(framePolygons(500 - 120 * M_PI, true), &at[5]), "?FBoFBTL");
  // Sphere-mapped in the first frame as in the second; at t = 0 the inner object sits in the middle.
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(at[0]['o'][c].s == at[1]['o'][c].s && at[0]['o'][c].t == at[1]['o'][c].t);
  EXPECT_LT(std::hypot(middle(at[1]['o'])[0] - 320, middle(at[1]['o'])[1] - 240), 0.5);
  // The group rocks by 180 sin(t / 20) degrees: the same at 10 and 20 pi - 10, another at 0; the
  // inner object wanders off the middle meanwhile.
  EXPECT_TRUE(samePlace(at[2]['F'], at[3]['F']) && samePlace(at[2]['B'], at[3]['B']));
  EXPECT_FALSE(samePlace(at[1]['F'], at[2]['F']));
  EXPECT_GT(std::hypot(middle(at[2]['o'])[0] - 320, middle(at[2]['o'])[1] - 240), 10);
  // While sin(t / 134) is negative the group also sinks and tips: elsewhere than with the same rocking.
  EXPECT_FALSE(samePlace(at[4]['F'], at[5]['F']));
  // Left for the next frame, without a GL error: the camera view alone, no depth test, GL_FRONT culled, no texgen.
  const auto modelview = gltestMatrix(GL_MODELVIEW_MATRIX);
  displaySetCamera();
  EXPECT_EQ(gltestMatrix(GL_MODELVIEW_MATRIX), modelview);
  const std::array<GLint, 7> left = {static_cast<GLint>(glGetError()), glInt(GL_MODELVIEW_STACK_DEPTH),
                                     glIsEnabled(GL_DEPTH_TEST),         glIsEnabled(GL_CULL_FACE),
                                     glInt(GL_CULL_FACE_MODE),           glIsEnabled(GL_TEXTURE_GEN_S),
                                     glIsEnabled(GL_TEXTURE_GEN_T)};
  EXPECT_EQ(left, (std::array<GLint, 7>{GL_NO_ERROR, 1, GL_FALSE, GL_TRUE, GL_FRONT, GL_FALSE, GL_FALSE}));
  // The logo sets sphere mapping up itself, and at t = 500 shows its back: culling is off for it.
  glCullFace(GL_BACK);
  glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_EYE_LINEAR);
  glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_EYE_LINEAR);
  EXPECT_EQ(polygons(drawLogo).size(), 1u);
  std::array<GLint, 2> modes;
  glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &modes[0]);
  glGetTexGeniv(GL_T, GL_TEXTURE_GEN_MODE, &modes[1]);
  EXPECT_EQ(modes, (std::array<GLint, 2>{GL_SPHERE_MAP, GL_SPHERE_MAP}));
}

TEST_F(Frame, FramesInSequencePaintEachLayerWithItsPicture) {
  Scene scene;
  gltestStartDemo();
  // Lit from behind, a surface is 0.24 of its texture (0.1 emission, 0.1 + 0.04 ambient).
  texParkhaus = solid(255, 0, 0, 255), texture[0] = solid(255, 0, 255, 128), texture[3] = solid(0, 255, 0, 128);
  texture[2] = solid(0, 255, 0, 255), texLogo = solid(255, 255, 0, 255);
  const auto first = gltestDrawFrame(0), second = gltestDrawFrame(0);
  cam[2] = 10;
  const auto third = gltestDrawFrame(0);
  // Where the frame put the cube's front face, the inner object and the logo, as GL reports it.
  std::map<char, Poly> near, far;
  layers(framePolygons(0), &far);
  cam[2] = 5;
  layers(framePolygons(0), &near);
  const auto f = middle(near['F']), centre = middle(near['o']);
  // First frame, depth-tested: corner clear, B half over it hiding the object, F too, two glyphs at 40 %.
  EXPECT_TRUE(pixelNear(first, {630, 5}, {0, 0, 51}, 1)) << gltestDump(first, "first");
  EXPECT_TRUE(pixelNear(first, centre, {31, 0, 56}, 2));
  EXPECT_TRUE(pixelNear(first, f, {31, 0, 56}, 2));
  EXPECT_TRUE(pixelNear(first, {30, 350}, {0, 32, 19}, 2));
  // Second frame, in call order: the car park red, the object opaque over B, F half over red.
  EXPECT_TRUE(pixelNear(second, {630, 5}, {66, 0, 0}, 6)) << gltestDump(second, "second");
  EXPECT_TRUE(pixelNear(second, centre, {0, 61, 0}, 2));
  EXPECT_TRUE(pixelNear(second, f, {64, 0, 31}, 5));
  // From further back the logo shows, lit, with its picture.
  EXPECT_TRUE(pixelNear(third, middle(far['L']), {61, 61, 0}, 2)) << gltestDump(third, "third");
}

// The second scene, which the frame does not call: its background and the corner picture over it.
TEST_F(Frame, SuckSceneTintsTheBackgroundAndBlendsTheCornerOverIt) {
  gltestStartDemo();
  texSuckBack = solid(255, 255, 0, 255), texSuck = makeTexture({255, 0, 0, 0, 255, 0, 0, 255});  // left clear, right red
  displaySetCamera();
  glCullFace(GL_FRONT);  // as the frame's text leaves it: the scene sets its own
  const auto modelview = gltestMatrix(GL_MODELVIEW_MATRIX), projection = gltestMatrix(GL_PROJECTION_MATRIX);
  suckDraw();
  EXPECT_TRUE(glInt(GL_CULL_FACE_MODE) == GL_BACK && glGetError() == GL_NO_ERROR && glInt(GL_MATRIX_MODE) == GL_MODELVIEW);
  EXPECT_TRUE(gltestMatrix(GL_MODELVIEW_MATRIX) == modelview && gltestMatrix(GL_PROJECTION_MATRIX) == projection);
  const auto picture = gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight);
  EXPECT_TRUE(pixelNear(picture, {320, 240}, {128, 51, 0}, 1)) << gltestDump(picture, "suck");
  EXPECT_TRUE(pixelNear(picture, {25, 430}, {128, 51, 0}, 1));
  EXPECT_TRUE(pixelNear(picture, {75, 430}, {128, 0, 0}, 1));
}

}  // namespace

// What the frame's drawing functions emit, captured with GL feedback mode: glyph cells and the
// text's layout, the car park's faces and walls, the suck scene's quads, the centre-piece's
// order of passes and its transforms, and the logo's placement.
//
// Feedback reports window positions before rasterisation, so positions are compared to 0.01 to
// 0.05 pixels (only float rounding separates them from the exact values); faces that GL culls or
// clips emit nothing, so each test sets the culling and the view so that what it asks for is
// emitted; quads may come back split into triangles, so vertices are compared as sets.
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "display.h"
#include "framecheck.h"
#include "globals.h"
#include "main.h"
#include "parkhaus.h"
#include "suck.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A 4 x 4 column-major matrix in double precision, for computing where things must land.
struct M4 {
  std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

M4 operator*(const M4 &a, const M4 &b) {
  M4 r;
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 4; ++row) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = sum;
    }
  }
  return r;
}

// Rotation by `deg` degrees about (x, y, z), normalised, by Rodrigues' formula.
M4 rot(double deg, double x, double y, double z) {
  const double len = std::sqrt(x * x + y * y + z * z);
  x /= len, y /= len, z /= len;
  const double c = std::cos(deg * kPi / 180.0), s = std::sin(deg * kPi / 180.0), k = 1 - c;
  M4 r;
  r.m = {x * x * k + c,     y * x * k + z * s, z * x * k - y * s, 0,
         x * y * k - z * s, y * y * k + c,     z * y * k + x * s, 0,
         x * z * k + y * s, y * z * k - x * s, z * z * k + c,     0,
         0,                 0,                 0,                 1};
  return r;
}

M4 trans(double x, double y, double z) {
  M4 r;
  r.m[12] = x, r.m[13] = y, r.m[14] = z;
  return r;
}

M4 scale(double s) {
  M4 r;
  r.m[0] = r.m[5] = r.m[10] = s;
  return r;
}

std::array<double, 3> apply(const M4 &a, double x, double y, double z) {
  return {a.m[0] * x + a.m[4] * y + a.m[8] * z + a.m[12], a.m[1] * x + a.m[5] * y + a.m[9] * z + a.m[13],
          a.m[2] * x + a.m[6] * y + a.m[10] * z + a.m[14]};
}

// The canvas the font tests draw on: one canvas unit per pixel, origin top left, y down.
void pixelCanvas() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, kGlTestWidth, kGlTestHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
}

// The four vertices of a glyph cell at canvas (x, y) as window coordinates on the pixel canvas.
std::vector<Expect> cell(float x, float y, int column, int row) {
  const float s0 = column / 16.0f, s1 = s0 + 1 / 16.0f;
  const float tt = 1 - row / 16.0f, tb = tt - 1 / 16.0f;
  const float H = kGlTestHeight;
  return {{x, H - (y + 40), s0, tb}, {x, H - y, s0, tt}, {x + 100, H - y, s1, tt}, {x + 100, H - (y + 40), s1, tb}};
}

using FrameFeedback = FrameTest;

TEST(FontOrder, LettersSwapCasesEverythingElseInAsciiOrder) {
  for (int c = 0x20; c <= 0x7e; ++c) {
    int index = c - 0x20;
    if (c >= 'a' && c <= 'z') index = c - 0x40;
    if (c >= 'A' && c <= 'Z') index = c;
    EXPECT_EQ(static_cast<unsigned char>(fontOrder[index]), c) << "character 0x" << std::hex << c;
  }
  EXPECT_EQ(fontOrder[95], '\0');
  EXPECT_EQ(fontOrder[32], '@');
  EXPECT_EQ(fontOrder[79], 'O');
}

TEST_F(FrameFeedback, TextDrawCharPicksTheGlyphCell) {
  pixelCanvas();
  struct Case {
    char c;
    int column, row;
  };
  // A character outside the table (tab, bytes of 0x80 and above, the zero byte) takes cell (15, 5).
  const Case cases[] = {{'A', 1, 4}, {'a', 1, 2}, {' ', 0, 0},    {'~', 14, 5},  {'\t', 15, 5},
                        {'\x80', 15, 5}, {'\xff', 15, 5}, {'\0', 15, 5}, {'@', 0, 2}, {'_', 15, 3}};
  for (const Case &k : cases) {
    auto prims = feedback([&] { textDrawChar(100, 200, k.c); });
    EXPECT_EQ(matchVertexSet(polygonVertices(prims), cell(100, 200, k.column, k.row)), "")
        << "character 0x" << std::hex << (static_cast<int>(k.c) & 0xff);
  }
  // The cells of "A" and the blank, with their coordinates written out.
  auto a = polygonVertices(feedback([] { textDrawChar(0, 0, 'A'); }));
  EXPECT_EQ(matchVertexSet(a, {{0, 440, 0.0625f, 0.6875f}, {0, 480, 0.0625f, 0.75f}, {100, 480, 0.125f, 0.75f},
                               {100, 440, 0.125f, 0.6875f}}),
            "");
  auto blank = polygonVertices(feedback([] { textDrawChar(0, 0, ' '); }));
  EXPECT_EQ(matchVertexSet(blank, {{0, 440, 0, 0.9375f}, {0, 480, 0, 1}, {100, 480, 0.0625f, 1},
                                   {100, 440, 0.0625f, 0.9375f}}),
            "");
}

TEST_F(FrameFeedback, GlyphQuadIsABackFaceOnTheCanvas) {
  pixelCanvas();
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  EXPECT_TRUE(feedback([] { textDrawChar(100, 100, 'Z'); }).empty());
  glCullFace(GL_FRONT);
  EXPECT_FALSE(feedback([] { textDrawChar(100, 100, 'Z'); }).empty());
}

TEST_F(FrameFeedback, TextDrawStringAdvancesSixtyUnitsPerCharacter) {
  pixelCanvas();
  auto v = polygonVertices(feedback([] { textDrawString(10, 20, "A~a "); }));
  std::vector<Expect> want;
  for (const auto &part : {cell(10, 20, 1, 4), cell(70, 20, 14, 5), cell(130, 20, 1, 2), cell(190, 20, 0, 0)}) {
    want.insert(want.end(), part.begin(), part.end());
  }
  EXPECT_EQ(matchVertexSet(v, want), "");
  EXPECT_TRUE(feedback([] { textDrawString(10, 20, ""); }).empty());
}

// Reads the glyphs of a feedback buffer back into lines of text: each polygon's texture rectangle
// names its cell, its window position its place. Lines are keyed by their top edge.
std::map<int, std::map<int, char>> readGlyphs(const std::vector<FbPrim> &prims) {
  std::map<int, std::map<int, char>> lines;
  for (const FbPrim &p : prims) {
    if (p.token != GL_POLYGON_TOKEN || p.v.empty()) continue;
    float minS = 9, maxT = -9, minX = 1e9f, maxY = -1e9f;
    for (const FbVertex &v : p.v) {
      minS = std::min(minS, v.s), maxT = std::max(maxT, v.t);
      minX = std::min(minX, v.x), maxY = std::max(maxY, v.y);
    }
    const int column = static_cast<int>(std::lround(minS * 16));
    const int row = static_cast<int>(std::lround((1 - maxT) * 16));
    const int index = row * 16 + column;
    const char c = (index >= 0 && index < 96) ? fontOrder[index] : '?';
    lines[static_cast<int>(std::lround(maxY * 10))][static_cast<int>(std::lround(minX * 10))] = c;
  }
  return lines;
}

const char *const kCredits[9] = {
    "Zared Parkhaus ...",          "Zared organs...",
    "Zared cows ...",              "totally fu'bared this...",
    "Just close your eyes and ",   "enjoy Tarvonells great tune.",
    "(Code: nomi - Tune: Tarvonell", "(Gfx: Velmor)",
    "...everything coded live...",
};

TEST_F(FrameFeedback, DrawTextLaysOutTheNineLinesAtTimeZero) {
  startDemoState();
  t = 0.0f;
  auto prims = feedback(drawText);
  auto lines = readGlyphs(prims);
  ASSERT_EQ(lines.size(), 9u);
  // Window rows run upwards, so the first line has the highest top edge.
  int i = 8;
  for (const auto &[top, glyphs] : lines) {
    std::string text;
    for (const auto &[x, c] : glyphs) text += c;
    EXPECT_EQ(text, kCredits[i]) << "line " << i + 1;
    --i;
  }
  // Line 1 starts at canvas (40, 220) and its characters advance 12 canvas units: on the
  // 1200 x 900 canvas over 640 x 480 pixels that is (21.33, 480 - 117.33) and 6.4 pixels.
  const auto &line1 = lines.rbegin()->second;
  EXPECT_NEAR(lines.rbegin()->first / 10.0, 480 - 220 * 480.0 / 900, 0.1);
  auto it = line1.begin();
  EXPECT_NEAR(it->first / 10.0, 40 * 640.0 / 1200, 0.1);
  EXPECT_NEAR(std::next(it)->first / 10.0 - it->first / 10.0, 12 * 640.0 / 1200, 0.15);
}

TEST_F(FrameFeedback, MirroredGlyphIsAFrontFaceAndCulledUnderTheTextsCulling) {
  pixelCanvas();
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glTranslatef(300, 0, 0);
  glScalef(-0.5f, 1, 1);
  EXPECT_TRUE(feedback([] { textDrawChar(100, 100, 'Z'); }).empty());
  glDisable(GL_CULL_FACE);
  EXPECT_EQ(matchVertexSet(polygonVertices(feedback([] { textDrawChar(100, 100, 'Z'); })),
                           {{250, 340, 0.625f, 0.625f}, {250, 380, 0.625f, 0.6875f}, {200, 380, 0.6875f, 0.6875f},
                            {200, 340, 0.6875f, 0.625f}}),
            "");
}

TEST_F(FrameFeedback, DrawTextVanishesWhileTheWidthFactorIsNegative) {
  startDemoState();
  // The width factor 0.3 sin(t/4) + 0.2 is negative from t = 15.49 to 22.21 and again every
  // 8 pi seconds: the glyphs are mirrored into front faces and culled. In the first window the
  // mirrored block also lies left of the canvas; from the second on (t = 40.6 to 47.3) the tilt
  // has turned and parts of it lie on the canvas, so there it is the culling that hides them.
  for (float at : {15.6f, 16.0f, 18.0f, 22.1f, 41.0f, 43.0f, 46.0f}) {
    t = at;
    EXPECT_TRUE(feedback(drawText).empty()) << "t = " << at;
  }
  for (float at : {41.0f, 43.0f, 46.0f}) {
    t = at;
    glDisable(GL_CULL_FACE);
    EXPECT_FALSE(feedback(drawText).empty()) << "mirrored but on the canvas, t = " << at;
    glEnable(GL_CULL_FACE);
  }
  for (float at : {13.0f, 22.4f, 25.0f}) {
    t = at;
    EXPECT_FALSE(feedback(drawText).empty()) << "t = " << at;
  }
}

// The unit box seen straight down -z, the wall quads well inside the view:
// window x = 160 x + 320, window y = 120 y + 240.
void wallView() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-2, 2, -2, 2, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  // A white light straight along the view and no ambient, so a vertex's red reads 0.8 x n.z.
  const float zero[4] = {0, 0, 0, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
  glEnable(GL_LIGHT0);
  glEnable(GL_LIGHTING);
}

std::vector<FbPrim> wall(int side, int tile, GLenum mode = GL_QUADS) {
  return feedback([&] {
    glBegin(mode);
    parkhausDrawWall(side, tile);
    glEnd();
  });
}

TEST_F(FrameFeedback, FarWallShowsItsAtlasTile) {
  wallView();
  struct Case {
    int tile;
    float s0, t0;
  };
  // Tiles count along s first; tile 16 runs on to t = 1..1.25 (no wrap), tile -1 to s = -0.25..0.
  for (const Case &k : {Case{0, 0, 0}, Case{5, 0.25f, 0.25f}, Case{16, 0, 1}, Case{7, 0.75f, 0.25f},
                        Case{-1, -0.25f, 0}}) {
    auto prims = wall(0, k.tile);
    const float s1 = k.s0 + 0.25f, t1 = k.t0 + 0.25f;
    EXPECT_EQ(matchVertexSet(polygonVertices(prims),
                             {{160, 120, k.s0, t1}, {480, 120, s1, t1}, {480, 360, s1, k.t0}, {160, 360, k.s0, k.t0}}),
              "")
        << "tile " << k.tile;
    // Front-facing from inside the box (not culled) and lit through its normal (0, 0, 1).
    for (const FbVertex &v : polygonVertices(prims)) EXPECT_NEAR(v.r, 0.8f, 0.01f) << "tile " << k.tile;
  }
}

TEST_F(FrameFeedback, NearWallShowsTheWholeTextureFacingInwards) {
  wallView();
  // Seen from outside (looking down -z at z = +1) the near wall is a back face and is culled.
  EXPECT_TRUE(wall(2, 0).empty());
  // Turned to face the viewer, as from the box's centre: emitted, lit through its normal (0, 0, -1).
  glRotatef(180, 0, 1, 0);
  auto v = polygonVertices(wall(2, 9));
  EXPECT_EQ(matchVertexSet(v, {{480, 120, 1, 0}, {480, 360, 1, 1}, {160, 360, 0, 1}, {160, 120, 0, 0}}), "");
  for (const FbVertex &p : v) EXPECT_NEAR(p.r, 0.8f, 0.01f);
}

TEST_F(FrameFeedback, OtherSidesEmitNothing) {
  wallView();
  glDisable(GL_CULL_FACE);
  // As points, any vertex emitted would show; side 0 shows its four as a check on the method.
  EXPECT_EQ(wall(0, 0, GL_POINTS).size(), 4u);
  for (int side : {1, 3, -1, 4}) EXPECT_TRUE(wall(side, 0, GL_POINTS).empty()) << "side " << side;
}

TEST_F(FrameFeedback, EditedWallVertexShowsInTheNextQuad) {
  wallView();
  parkhausWallVertices[2 * 3 + 0] = 0.5f;
  parkhausWallVertices[2 * 3 + 1] = 1.5f;
  auto v = polygonVertices(wall(0, 0));
  EXPECT_EQ(matchVertexSet(v, {{160, 120, 0, 0.25f}, {480, 120, 0.25f, 0.25f}, {400, 420, 0.25f, 0}, {160, 360, 0, 0}}),
            "");
  parkhausWallVertices[6 * 3 + 2] = -1.0f;  // near wall, upper right, moved onto the far plane
  glRotatef(180, 0, 1, 0);
  v = polygonVertices(wall(2, 0));
  EXPECT_EQ(matchVertexSet(v, {{480, 120, 1, 0}, {480, 360, 1, 1}, {160, 360, 0, 1}, {160, 120, 0, 0}}), "");
  for (const FbVertex &p : v) {
    // The moved corner now lies nearer the viewer: depth 0.25 instead of the far plane's 0.75.
    const bool moved = std::fabs(p.x - 160) < 0.01f && std::fabs(p.y - 360) < 0.01f;
    EXPECT_NEAR(p.z, moved ? 0.25f : 0.75f, 1e-4f);
  }
}

// The car park's face table: under an oblique view with unit normals and a light along the view,
// every face must come out with its four corners, its texture coordinates, its lighting (so its
// normal) and in its place in the drawing order.
void checkBoxFaces(float at) {
  struct Face {
    std::array<double, 3> n;
    std::array<std::array<double, 5>, 4> c;  // s, t, x, y, z
  };
  const Face faces[6] = {
      {{0, 0, 1}, {{{0, 1, -1, -1, 1}, {1, 1, 1, -1, 1}, {1, 0, 1, 1, 1}, {0, 0, -1, 1, 1}}}},
      {{0, 0, 1}, {{{1, 0, -1, -1, -1}, {1, 1, -1, 1, -1}, {0, 1, 1, 1, -1}, {0, 0, 1, -1, -1}}}},
      {{0, 1, 0}, {{{0, 1, -1, 1, -1}, {0, 0, -1, 1, 1}, {1, 0, 1, 1, 1}, {1, 1, 1, 1, -1}}}},
      {{0, -1, 0}, {{{1, 1, -1, -1, -1}, {0, 1, 1, -1, -1}, {0, 0, 1, -1, 1}, {1, 0, -1, -1, 1}}}},
      {{1, 0, 0}, {{{1, 0, 1, -1, -1}, {1, 1, 1, 1, -1}, {0, 1, 1, 1, 1}, {0, 0, 1, -1, 1}}}},
      {{-1, 0, 0}, {{{0, 0, -1, -1, -1}, {1, 0, -1, -1, 1}, {1, 1, -1, 1, 1}, {0, 1, -1, 1, -1}}}},
  };
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-40, 40, -40, 40, -40, 40);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRotatef(25, 1, 0, 0);
  glRotatef(35, 0, 1, 0);
  const float zero[4] = {0, 0, 0, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
  glEnable(GL_LIGHT0);
  glEnable(GL_LIGHTING);
  glEnable(GL_NORMALIZE);
  glDisable(GL_CULL_FACE);
  M4 view;
  glGetDoublev(GL_MODELVIEW_MATRIX, view.m.data());
  const M4 box = scale(20) * rot(30.0 * at, 0.1, 1.0, 0.2);

  struct Want {
    std::vector<Expect> v;
    float red;
  };
  std::vector<Want> want;
  for (const Face &f : faces) {
    Want w;
    for (const auto &c : f.c) {
      auto q = apply(box, c[2], c[3], c[4]);
      auto p = project(q[0], q[1], q[2]);
      w.v.push_back({static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(c[0]),
                     static_cast<float>(c[1])});
    }
    const M4 turn = view * rot(30.0 * at, 0.1, 1.0, 0.2);
    auto n = apply(turn, f.n[0], f.n[1], f.n[2]);
    w.red = static_cast<float>(0.8 * std::max(0.0, n[2]));
    want.push_back(w);
  }

  t = at;
  auto prims = feedback(parkhausDraw);
  std::vector<std::vector<FbVertex>> perFace(6);
  int lastFace = 0;
  for (const FbPrim &p : prims) {
    ASSERT_EQ(p.token, static_cast<GLenum>(GL_POLYGON_TOKEN));
    int face = -1;
    for (int f = 0; f < 6 && face < 0; ++f) {
      bool all = true;
      for (const FbVertex &v : p.v) {
        bool one = false;
        for (const Expect &e : want[f].v) {
          one = one || (std::fabs(v.x - e.x) < 0.05f && std::fabs(v.y - e.y) < 0.05f && v.s == e.s && v.t == e.t);
        }
        all = all && one;
      }
      if (all) face = f;
    }
    ASSERT_GE(face, 0) << "a polygon that is no face of the box, t = " << at;
    EXPECT_GE(face, lastFace) << "faces out of order, t = " << at;
    lastFace = face;
    perFace[face].insert(perFace[face].end(), p.v.begin(), p.v.end());
  }
  for (int f = 0; f < 6; ++f) {
    EXPECT_EQ(matchVertexSet(perFace[f], want[f].v, 0.05f), "") << "face " << f << ", t = " << at;
    for (const FbVertex &v : perFace[f]) EXPECT_NEAR(v.r, want[f].red, 0.01f) << "face " << f << ", t = " << at;
  }
}

TEST_F(FrameFeedback, CarParkBoxFacesAsTabledAndTurning) {
  // The z = -1 face is lit like the z = +1 face: both carry the normal (0, 0, 1).
  checkBoxFaces(0.0f);
  checkBoxFaces(3.0f);   // a quarter turn about (0.1, 1, 0.2)
  checkBoxFaces(12.0f);  // a full turn, back where it started
  checkBoxFaces(7.7f);
}

TEST_F(FrameFeedback, SuckSceneEmitsTheBackgroundThenTheCorner) {
  startDemoState();
  auto prims = feedback(suckDraw);
  // Background first, then the corner square; the y-down canvas maps y to 480 - y.
  std::vector<FbVertex> back, corner;
  for (const FbPrim &p : prims) {
    bool small = true;
    for (const FbVertex &v : p.v) small = small && v.x <= 100.01f && v.y >= 379.99f;
    if (small) {
      corner.insert(corner.end(), p.v.begin(), p.v.end());
    } else {
      EXPECT_TRUE(corner.empty()) << "background drawn after the corner";
      back.insert(back.end(), p.v.begin(), p.v.end());
    }
  }
  EXPECT_EQ(matchVertexSet(back, {{0, 0, 0, 1}, {640, 0, 1, 1}, {640, 480, 1, 0}, {0, 480, 0, 0}}), "");
  EXPECT_EQ(matchVertexSet(corner, {{0, 380, 0, 1}, {100, 380, 1, 1}, {100, 480, 1, 0}, {0, 480, 0, 0}}), "");
  for (const FbVertex &v : back) {
    EXPECT_NEAR(v.r, 0.5f, 1e-3f);
    EXPECT_NEAR(v.g, 0.2f, 1e-3f);
    EXPECT_NEAR(v.b, 0.9f, 1e-3f);
  }
}

// Meshes for the centre-piece: the cube with one triangle facing +z (front pass) and one facing
// -z (back pass), told apart by their texture coordinates; the inner object one triangle.
struct CentrePiece {
  TestMesh cube, thing, logo;
  static constexpr std::array<float, 2> kFrontSt{0.125f, 0.875f}, kBackSt{0.625f, 0.375f}, kMeshSt{0.9f, 0.1f};
  CentrePiece() {
    cube.triangle({-0.3f, -0.3f, 0.5f, 0.3f, -0.3f, 0.5f, 0, 0.3f, 0.5f}, {0, 0, 1}, kFrontSt);
    cube.triangle({-0.3f, -0.3f, -0.5f, 0, 0.3f, -0.5f, 0.3f, -0.3f, -0.5f}, {0, 0, -1}, kBackSt);
    thing.triangle({-0.2f, -0.2f, 0, 0.2f, -0.2f, 0, 0, 0.2f, 0}, {0, 0, 1}, kMeshSt);
    logo.triangle({-1, -1, 0, 1, -1, 0, 0, 1, 0}, {0, 0, 1}, kMeshSt);
    object2 = cube.finish();
    object3 = thing.finish();
    object = logo.finish();
  }
};

bool hasSt(const FbPrim &p, std::array<float, 2> st) {
  for (const FbVertex &v : p.v) {
    if (v.s != st[0] || v.t != st[1]) return false;
  }
  return !p.v.empty();
}

TEST_F(FrameFeedback, DisplayDrawOrdersItsPasses) {
  CentrePiece meshes;
  startDemoState();
  cam[2] = 10.0f;  // so that the logo is in view and emits
  const GLuint cubeTex = makeSolidTexture(255, 255, 255, 128);

  for (int frame = 0; frame < 2; ++frame) {
    texture[0] = cubeTex;
    t = 0.0f;
    displayClear();
    displaySetCamera();
    displaySetLight();
    auto prims = feedback(displayDraw);
    // Label every polygon with its layer and collapse runs, so the layers read as a word.
    std::string layers;
    for (const FbPrim &p : prims) {
      char label = 'o';  // lit: car park, inner object or logo
      if (hasSt(p, CentrePiece::kBackSt)) label = 'B';
      else if (hasSt(p, CentrePiece::kFrontSt)) label = 'F';
      else if (std::fabs(p.v[0].a - 0.4f) < 1e-3f) label = 'T';  // unlit glyphs in the text colour
      if (layers.empty() || layers.back() != label) layers += label;
    }
    // The first frame culls the car park (GL_BACK from start-up); from the second, the text's
    // GL_FRONT lets its inside through. Then back faces of the cube, the object, front faces,
    // the text and the logo.
    EXPECT_EQ(layers, frame == 0 ? "BoFTo" : "oBoFTo") << "frame " << frame;
  }
}

// Where a point of the cube or of the inner object must land at time `at`, under the camera.
M4 group(double at) {
  M4 g = scale(0.7) * rot(-15, 1, 0, 0);
  const float s = static_cast<float>(std::sin(static_cast<double>(static_cast<float>(at)) / 134.0));
  if (s < 0) g = g * trans(0, s, 0) * rot(-40.0 * s, 1, 0, 0);
  return g * rot(180 * std::sin(at / 20), 0, 1, 0);
}

M4 innerObject(double at) {
  return group(at) * rot(0.8 * at, 0.8, 0.3, 0.1) * trans(1.5 * std::sin(0.23 * at), 0, 1.5 * std::sin(0.1 * at)) *
         rot(2.8 * at, 0.8, 0.3, 0.1);
}

void checkCentrePieceAt(float at) {
  CentrePiece meshes;
  t = at;
  displayClear();
  displaySetCamera();
  displaySetLight();
  glDisable(GL_CULL_FACE);  // both cube triangles in both passes, whatever the rocking angle
  auto project3 = [](const M4 &m, float x, float y, float z) {
    auto q = apply(m, x, y, z);
    auto p = project(q[0], q[1], q[2]);
    return std::array<float, 2>{static_cast<float>(p[0]), static_cast<float>(p[1])};
  };
  std::vector<Expect> front, thing;
  const M4 cube = group(at) * scale(1.5);
  for (auto [x, y, z] : {std::array<float, 3>{-0.3f, -0.3f, 0.5f}, {0.3f, -0.3f, 0.5f}, {0, 0.3f, 0.5f}}) {
    auto p = project3(cube, x, y, z);
    front.push_back({p[0], p[1], CentrePiece::kFrontSt[0], CentrePiece::kFrontSt[1]});
  }
  std::vector<std::array<float, 2>> thingWant;
  for (auto [x, y, z] : {std::array<float, 3>{-0.2f, -0.2f, 0}, {0.2f, -0.2f, 0}, {0, 0.2f, 0}}) {
    thingWant.push_back(project3(innerObject(at), x, y, z));
  }
  auto prims = feedback(displayDraw);
  // Sequence: back pass (both cube triangles), the object, front pass (both), text, logo.
  std::vector<FbVertex> frontPasses;
  size_t i = 0;
  int cubeTriangles = 0;
  auto isCube = [&](size_t k) { return hasSt(prims[k], CentrePiece::kFrontSt) || hasSt(prims[k], CentrePiece::kBackSt); };
  while (i < prims.size() && !isCube(i)) ++i;  // the car park, unculled here
  for (; i < prims.size() && isCube(i); ++i) {
    if (hasSt(prims[i], CentrePiece::kFrontSt)) frontPasses.insert(frontPasses.end(), prims[i].v.begin(), prims[i].v.end());
    ++cubeTriangles;
  }
  ASSERT_LT(i, prims.size());
  const FbPrim &object = prims[i];
  ASSERT_EQ(object.v.size(), 3u) << "t = " << at;
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR(object.v[k].x, thingWant[k][0], 0.02f) << "inner object, t = " << at;
    EXPECT_NEAR(object.v[k].y, thingWant[k][1], 0.02f) << "inner object, t = " << at;
  }
  for (++i; i < prims.size() && isCube(i); ++i) {
    if (hasSt(prims[i], CentrePiece::kFrontSt)) frontPasses.insert(frontPasses.end(), prims[i].v.begin(), prims[i].v.end());
    ++cubeTriangles;
  }
  EXPECT_EQ(cubeTriangles, 4) << "t = " << at;
  EXPECT_EQ(matchVertexSet(frontPasses, front, 0.02f), "") << "t = " << at;
}

TEST_F(FrameFeedback, CentrePieceRocksSinksAndTumbles) {
  startDemoState();
  checkCentrePieceAt(0.0f);    // only scaled and tilted; the object at the centre, unturned
  checkCentrePieceAt(10.0f);   // rocked by 86.30 degrees; object turned 8, moved, spun 28
  checkCentrePieceAt(500.0f);  // sin(500/134) < 0: the group sinks by 0.5562 and tips by 22.25
  checkCentrePieceAt(421.5f);  // just past 134 pi: the sinking has begun
}

TEST_F(FrameFeedback, LogoTurnsAtItsPlaceHighToTheRight) {
  CentrePiece meshes;
  startDemoState();
  cam[2] = 10.0f;
  for (float at : {0.0f, 10.0f, 3.3f}) {
    t = at;
    glEnable(GL_CULL_FACE);
    auto prims = feedback(drawLogo);
    // Camera and light again, so the modelview now is the plain camera view to project with.
    const M4 place = trans(5, 8, 0) * rot(static_cast<double>(static_cast<float>(-at * 20.2)), 0, 1, 0);
    std::vector<Expect> want;
    for (auto [x, y] : {std::array<float, 2>{-1, -1}, {1, -1}, {0, 1}}) {
      auto q = apply(place, x, y, 0);
      auto p = project(q[0], q[1], q[2]);
      want.push_back({static_cast<float>(p[0]), static_cast<float>(p[1]), 0, 0});
    }
    // At t = 10 the triangle has turned -202 degrees and shows its back: culling is off for it.
    auto v = polygonVertices(prims);
    ASSERT_EQ(v.size(), 3u) << "t = " << at;
    for (FbVertex &p : v) p.s = p.t = 0;  // sphere-mapped coordinates are not the point here
    EXPECT_EQ(matchVertexSet(v, want, 0.02f, 1.0f), "") << "t = " << at;
  }
  // From the start camera the logo lies above the view and is clipped away entirely.
  cam[2] = 5.0f;
  t = 0.0f;
  EXPECT_TRUE(feedback(drawLogo).empty());
}

TEST_F(FrameFeedback, MissingMeshesDrawNothing) {
  startDemoState();
  TestMesh empty;
  util_oia_t *none = empty.finish();  // a loaded mesh with a count of 0
  EXPECT_TRUE(feedback([] { drawObject(nullptr); }).empty());
  EXPECT_TRUE(feedback([&] { drawObject(none); }).empty());
  EXPECT_TRUE(feedback(drawCube).empty());
  EXPECT_TRUE(feedback(drawThing2).empty());
  EXPECT_TRUE(feedback(drawThing).empty());
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  // With the meshes present each function draws its own.
  CentrePiece meshes;
  glDisable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  EXPECT_EQ(polygonVertices(feedback(drawCube)).size(), 6u);
  EXPECT_EQ(polygonVertices(feedback(drawThing2)).size(), 3u);
  EXPECT_EQ(polygonVertices(feedback(drawThing)).size(), 3u);
}

}  // namespace

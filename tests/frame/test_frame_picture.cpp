// The picture of whole frames drawn in sequence through the demo's display callback, read back
// from the screen: the car park from the second frame on, the text's coming and going, the logo's
// place, and the suck scene's tint.
//
// Tolerances: a flat colour is allowed 2 steps of 255 (8-bit rounding of 0.5 x 255 and the like);
// lit surfaces are tested by bands and by colour signatures (which channel leads), never by exact
// values, since per-vertex lighting and interpolation differ slightly between rasterisers; where
// a thing is found by counting pixels, the counts are far from the threshold either way.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display.h"
#include "framecheck.h"
#include "globals.h"
#include "main.h"
#include "suck.h"

namespace {

using FramePicture = FrameTest;

bool near(const std::array<int, 4> &p, int r, int g, int b, int tol = 2) {
  return std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol;
}

// The clear colour (0, 0, 0.2) in bytes.
bool isClear(const std::array<int, 4> &p) { return near(p, 0, 0, 51); }

// Counts the pixels of a rectangle (window coordinates, y up) that satisfy `pred`.
template <typename Pred>
int count(const std::vector<uint8_t> &pic, int x0, int y0, int x1, int y1, Pred pred) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) n += pred(px(pic, x, y)) ? 1 : 0;
  }
  return n;
}

constexpr int W = kGlTestWidth, H = kGlTestHeight;

TEST_F(FramePicture, CarParkShowsFromTheSecondFrameOn) {
  startDemoState();
  // An orange picture, so the walls read as orange lit at about a quarter: red leads, no blue.
  texParkhaus = makeSolidTexture(255, 128, 0, 255);
  auto wall = [](const std::array<int, 4> &p) { return p[0] >= 40 && p[0] <= 110 && p[1] < p[0] && p[2] <= 5; };
  // The text covers the left part at t = 0 (x below 215 pixels); the right half is the box's alone.
  const int x0 = W / 2;
  auto first = drawFrame(0.0f);
  const int clearFirst = count(first, x0, 0, W, H, isClear);
  EXPECT_EQ(clearFirst, (W - x0) * H) << dumpPicture(first, "carpark-1");
  for (int k = 1; k <= 3; ++k) {
    auto later = drawFrame(k / 60.0f);
    const int walls = count(later, x0, 0, W, H, wall);
    EXPECT_EQ(walls, (W - x0) * H) << "frame " << k + 1 << ": " << dumpPicture(later, "carpark-" + std::to_string(k + 1));
    // No pixel of the clear colour is left anywhere, the text's area included.
    EXPECT_EQ(count(later, 0, 0, W, H, isClear), 0) << "frame " << k + 1;
  }
}

// A glyph of the untextured font over the clear colour or a grey wall: the text colour's violet
// at 40 % leaves red above green and blue well above red.
bool isText(const std::array<int, 4> &p) { return p[0] >= p[1] + 10 && p[2] >= p[0] + 20; }

TEST_F(FramePicture, TextShowsAtTimeZeroAndIsGoneAtEighteen) {
  startDemoState();
  // No font picture: each glyph is a flat quad in the text colour, easy to count.
  auto f1 = drawFrame(0.0f);
  // Nine lines about 25 pixels high and 60 to 210 wide: well over 20000 pixels of text.
  EXPECT_GT(count(f1, 0, 0, W, H, isText), 20000) << dumpPicture(f1, "text-1");
  auto f2 = drawFrame(0.0f);  // the same over the car park's grey walls
  EXPECT_GT(count(f2, 0, 0, W, H, isText), 20000) << dumpPicture(f2, "text-2");
  auto f3 = drawFrame(18.0f);  // width factor 0.3 sin(4.5) + 0.2 < 0: mirrored and culled
  EXPECT_EQ(count(f3, 0, 0, W, H, isText), 0) << dumpPicture(f3, "text-3");
  EXPECT_EQ(count(f3, 0, 0, W, H, isClear), 0);
  auto f4 = drawFrame(43.0f);  // mirrored again, and on the canvas this time: culled
  EXPECT_EQ(count(f4, 0, 0, W, H, isText), 0) << dumpPicture(f4, "text-4");
  auto f5 = drawFrame(50.0f);  // back again
  EXPECT_GT(count(f5, 0, 0, W, H, isText), 5000) << dumpPicture(f5, "text-5");
}

TEST_F(FramePicture, LogoIsAboveTheStartViewAndInViewFromFurtherBack) {
  startDemoState();
  TestMesh logo;
  logo.triangle({-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0.5f, 0.5f, 0}, {0, 0, 1}, {0, 0});
  logo.triangle({-0.5f, -0.5f, 0, 0.5f, 0.5f, 0, -0.5f, 0.5f, 0}, {0, 0, 1}, {0, 0});
  object = logo.finish();
  texLogo = makeSolidTexture(0, 255, 0, 255);
  auto green = [](const std::array<int, 4> &p) { return p[1] >= p[0] + 40 && p[1] >= p[2] + 40; };

  auto f1 = drawFrame(0.0f);  // from (0, 0, 5): the centre at height / depth 1.6, above the view
  EXPECT_EQ(count(f1, 0, 0, W, H, green), 0) << dumpPicture(f1, "logo-1");

  cam[2] = 10.0f;  // as after ten presses of 'i'
  auto f2 = drawFrame(0.0f);
  displaySetCamera();
  const auto centre = project(5, 8, 0);
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      if (green(px(f2, x, y))) sx += x + 0.5, sy += y + 0.5, ++n;
    }
  }
  // The unit square at depth 10 is about 20 pixels across: some 400 pixels, centred on the
  // projection of (5, 8, 0) to within a pixel or two.
  ASSERT_GT(n, 250) << dumpPicture(f2, "logo-2");
  EXPECT_LT(n, 600);
  EXPECT_NEAR(sx / n, centre[0], 2.0);
  EXPECT_NEAR(sy / n, centre[1], 2.0);
  EXPECT_GT(centre[1], H * 0.75) << "high up";
  EXPECT_GT(centre[0], W * 0.6) << "to the right";

  cam[2] = 5.0f;
  auto f3 = drawFrame(10.0f);
  EXPECT_EQ(count(f3, 0, 0, W, H, green), 0) << dumpPicture(f3, "logo-3");
}

TEST_F(FramePicture, SuckSceneFillsTheScreenWithItsTint) {
  startDemoState();
  displayClear();
  t = 3.0f;
  suckDraw();
  auto a = gltestReadPixels(GL_BACK, 0, 0, W, H);
  // Both textures 0: the whole screen is the flat tint (0.5, 0.2, 0.9), the corner included.
  EXPECT_EQ(count(a, 0, 0, W, H, [](const std::array<int, 4> &p) { return near(p, 128, 51, 230); }), W * H)
      << dumpPicture(a, "suck-1");
  // It does not depend on the time.
  displayClear();
  t = 77.0f;
  suckDraw();
  auto b = gltestReadPixels(GL_BACK, 0, 0, W, H);
  EXPECT_TRUE(a == b);
}

TEST_F(FramePicture, SuckCornerPictureLetsTheBackgroundThroughWhereItsAlphaIsZero) {
  startDemoState();
  texSuckBack = makeSolidTexture(255, 255, 255, 255);
  // Left texel transparent, right texel opaque red.
  texSuck = makeTexture(2, 1, {255, 0, 0, 0, 255, 0, 0, 255});
  displayClear();
  suckDraw();
  auto pic = gltestReadPixels(GL_BACK, 0, 0, W, H);
  auto tint = [](const std::array<int, 4> &p) { return near(p, 128, 51, 230); };
  auto red = [](const std::array<int, 4> &p) { return near(p, 128, 0, 0); };
  // The corner square covers x 0..100 and window y 380..480; keep a pixel away from its edges.
  EXPECT_EQ(count(pic, 1, 381, 49, 479, tint), 48 * 98) << dumpPicture(pic, "suck-corner");
  EXPECT_EQ(count(pic, 51, 381, 99, 479, red), 48 * 98);
  EXPECT_EQ(count(pic, 101, 0, W, H, tint), (W - 101) * H);
  EXPECT_EQ(count(pic, 0, 0, 101, 379, tint), 101 * 379);
}

// A 4 x 4 picture, green but for its texel at (s, t) = (0.9, 0.1), which is red: a mesh drawn
// with its own coordinates (0.9, 0.1) shows red, a sphere-mapped one facing the viewer samples
// near the middle and shows green.
GLuint redCornerTexture() {
  std::vector<uint8_t> rgba;
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) {
      const bool corner = row == 0 && col == 3;
      rgba.insert(rgba.end(), {static_cast<uint8_t>(corner ? 255 : 0), static_cast<uint8_t>(corner ? 0 : 255), 0, 255});
    }
  }
  return makeTexture(4, 4, rgba);
}

TEST_F(FramePicture, CubeUsesItsOwnCoordinatesObjectAndLogoAreSphereMapped) {
  startDemoState();
  cam[2] = 10.0f;  // the logo in view
  const std::array<float, 2> st{0.9f, 0.1f};
  TestMesh cube, thing, logo;
  cube.triangle({-1.0f, 0.6f, 0.5f, -0.6f, 0.6f, 0.5f, -0.8f, 1.0f, 0.5f}, {0, 0, 1}, st);
  thing.triangle({-0.2f, -0.2f, 0, 0.2f, -0.2f, 0, 0, 0.2f, 0}, {0, 0, 1}, st);
  logo.triangle({-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0}, {0, 0, 1}, st);
  object2 = cube.finish();
  object3 = thing.finish();
  object = logo.finish();
  texture[0] = texture[3] = texLogo = redCornerTexture();
  auto pic = drawFrame(0.0f);
  // Where the three triangles' centres land at t = 0 (the group only scaled by 0.7 and tilted).
  displaySetCamera();
  auto at = [&](double sc, double x, double y, double z) {
    glPushMatrix();
    glScaled(0.7, 0.7, 0.7);
    glRotated(-15, 1, 0, 0);
    glScaled(sc, sc, sc);
    auto w = project(x, y, z);
    glPopMatrix();
    return px(pic, static_cast<int>(w[0]), static_cast<int>(w[1]));
  };
  const auto cubePx = at(1.5, -0.8, 0.733, 0.5);
  const auto thingPx = at(1.0, 0, -0.067, 0);
  const auto logoW = project(5, 8 - 0.167, 0);
  const auto logoPx = px(pic, static_cast<int>(logoW[0]), static_cast<int>(logoW[1]));
  auto red = [](const std::array<int, 4> &p) { return p[0] > p[1] + 50; };
  auto green = [](const std::array<int, 4> &p) { return p[1] > p[0] + 50; };
  EXPECT_TRUE(red(cubePx)) << cubePx[0] << " " << cubePx[1] << " " << cubePx[2] << " " << dumpPicture(pic, "spheremap");
  EXPECT_TRUE(green(thingPx)) << thingPx[0] << " " << thingPx[1] << " " << thingPx[2];
  EXPECT_TRUE(green(logoPx)) << logoPx[0] << " " << logoPx[1] << " " << logoPx[2];
}

bool haveFile(const char *path) {
  FILE *f = fopen(path, "rb");
  if (f) fclose(f);
  return f != nullptr;
}

TEST_F(FramePicture, RealDataFramesInSequence) {
  for (const char *f : {"data/vosquel.tga", "data/lightmap-red.tga", "data/SouthPark.tga", "data/vosqu-el.oia",
                        "data/thing.oia", "data/quad-mapped.oia"}) {
    if (!haveFile(f)) GTEST_SKIP() << f << " is not there yet";
  }
  startDemoState();
  myInit();
  ASSERT_NE(texParkhaus, 0u);
  ASSERT_NE(object, nullptr);
  ASSERT_NE(object2, nullptr);
  ASSERT_NE(object3, nullptr);
  // The top right corner holds neither the centre-piece, the text nor the logo at t = 0:
  // the clear colour on the first frame, the car park's picture from the second on.
  const int x0 = W - 80, y0 = H - 60;
  auto f1 = drawFrame(0.0f);
  EXPECT_EQ(count(f1, x0, y0, W, H, isClear), 80 * 60) << dumpPicture(f1, "real-1");
  auto f2 = drawFrame(1 / 60.0f);
  EXPECT_EQ(count(f2, x0, y0, W, H, isClear), 0) << dumpPicture(f2, "real-2");
  // The centre-piece sits at the centre of the picture: it is not the car park's picture alone,
  // so the centre differs from the same frame without meshes.
  auto centre = [](const std::vector<uint8_t> &p) {
    std::vector<uint8_t> c;
    for (int y = H / 2 - 20; y < H / 2 + 20; ++y) {
      for (int x = W / 2 - 20; x < W / 2 + 20; ++x) {
        auto q = px(p, x, y);
        c.insert(c.end(), q.begin(), q.begin() + 3);
      }
    }
    return c;
  };
  const auto withMeshes = centre(f2);
  object = object2 = object3 = nullptr;
  auto f3 = drawFrame(1 / 60.0f);
  EXPECT_FALSE(centre(f3) == withMeshes);
}

}  // namespace

// The GL state each drawing function of the frame restores and leaves behind, as GL reports it.
// Matrices that are pushed and popped must come back bit for bit, so they are compared exactly.
#include <cmath>

#include "display.h"
#include "framecheck.h"
#include "globals.h"
#include "main.h"
#include "parkhaus.h"
#include "suck.h"

namespace {

using FrameState = FrameTest;

GLint getInt(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

std::array<float, 4> getColour() {
  std::array<float, 4> c{};
  glGetFloatv(GL_CURRENT_COLOR, c.data());
  return c;
}

void expectColour(const std::array<float, 4> &got, float r, float g, float b, float a) {
  EXPECT_NEAR(got[0], r, 1e-6f);
  EXPECT_NEAR(got[1], g, 1e-6f);
  EXPECT_NEAR(got[2], b, 1e-6f);
  EXPECT_NEAR(got[3], a, 1e-6f);
}

// Both matrices and both stack depths, to compare before and after a call.
struct Matrices {
  std::array<float, 16> modelview, projection;
  GLint mvDepth, prDepth;
  bool operator==(const Matrices &) const = default;
};

Matrices matrices() {
  return {gltestMatrix(GL_MODELVIEW_MATRIX), gltestMatrix(GL_PROJECTION_MATRIX), getInt(GL_MODELVIEW_STACK_DEPTH),
          getInt(GL_PROJECTION_STACK_DEPTH)};
}

// The camera view with a few transforms on top, as the frame has it when the text is drawn.
void sceneMatrices() {
  displaySetCamera();
  glScalef(0.7f, 0.7f, 0.7f);
  glRotatef(-15, 1, 0, 0);
  glRotatef(33, 0, 1, 0);
}

TEST_F(FrameState, DrawTextRestoresMatricesAndLeavesCullingFront) {
  startDemoState();
  texture[2] = makeSolidTexture(255, 255, 255, 255);
  for (float at : {0.0f, 7.3f, 18.0f}) {
    t = at;
    sceneMatrices();
    displaySetLight();
    glCullFace(GL_BACK);
    const Matrices before = matrices();
    drawText();
    EXPECT_EQ(matrices(), before) << "t = " << at;
    EXPECT_EQ(getInt(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_EQ(getInt(GL_CULL_FACE_MODE), GL_FRONT);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(getInt(GL_TEXTURE_BINDING_2D)), texture[2]);
    expectColour(getColour(), 0.4f, 0.2f, 0.8f, 0.4f);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameState, ParkhausDrawRestoresTheModelviewAndBindsItsPicture) {
  startDemoState();
  texParkhaus = makeSolidTexture(200, 100, 50, 255);
  for (GLenum mode : {GL_BACK, GL_FRONT}) {
    t = 3.0f;
    sceneMatrices();
    glCullFace(mode);
    glDisable(GL_TEXTURE_2D);
    const Matrices before = matrices();
    parkhausDraw();
    EXPECT_EQ(matrices(), before);
    EXPECT_EQ(getInt(GL_CULL_FACE_MODE), static_cast<GLint>(mode)) << "the cull mode is the frame's";
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(getInt(GL_TEXTURE_BINDING_2D)), texParkhaus);
  }
  // With the picture missing, texture name 0 is bound all the same.
  texParkhaus = 0;
  parkhausDraw();
  EXPECT_EQ(getInt(GL_TEXTURE_BINDING_2D), 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameState, SuckDrawRestoresMatricesAndLeavesItsState) {
  startDemoState();
  texSuck = makeSolidTexture(1, 2, 3, 4);
  sceneMatrices();
  displaySetLight();
  glCullFace(GL_FRONT);
  glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  const Matrices before = matrices();
  suckDraw();
  EXPECT_EQ(matrices(), before);
  EXPECT_EQ(getInt(GL_MATRIX_MODE), GL_MODELVIEW);
  EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(getInt(GL_CULL_FACE_MODE), GL_BACK);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(getInt(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(getInt(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(static_cast<GLuint>(getInt(GL_TEXTURE_BINDING_2D)), texSuck);
  expectColour(getColour(), 0.5f, 0.2f, 0.9f, 1.0f);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameState, DrawLogoLeavesTheCameraDepthOffCullingOnTexgenOff) {
  startDemoState();
  TestMesh mesh;
  mesh.triangle({-1, -1, 0, 1, -1, 0, 0, 1, 0}, {0, 0, 1}, {0, 0});
  texLogo = makeSolidTexture(10, 20, 30, 255);
  cam[0] = -2.5f;
  cam[2] = 7.5f;
  displaySetCamera();
  const Matrices camera = matrices();
  for (util_oia_t *logo : {mesh.finish(), static_cast<util_oia_t *>(nullptr)}) {
    object = logo;
    t = 10.0f;
    sceneMatrices();
    glTranslatef(1, 2, 3);
    glDisable(GL_LIGHTING);
    glCullFace(GL_FRONT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_GEN_S);
    drawLogo();
    EXPECT_EQ(matrices(), camera) << (logo ? "with" : "without") << " a mesh";
    EXPECT_EQ(getInt(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(getInt(GL_CULL_FACE_MODE), GL_FRONT);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_T));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(getInt(GL_TEXTURE_BINDING_2D)), texLogo);
    GLint mode[1] = {0};
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, mode);
    EXPECT_EQ(mode[0], GL_SPHERE_MAP);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameState, DisplayDrawLeavesBlendingTexgenEmissionAndTheCamera) {
  startDemoState();
  TestMesh cube, thing, logo;
  cube.triangle({-0.3f, -0.3f, 0.5f, 0.3f, -0.3f, 0.5f, 0, 0.3f, 0.5f}, {0, 0, 1}, {0.5f, 0.5f});
  thing.triangle({-0.2f, -0.2f, 0, 0.2f, -0.2f, 0, 0, 0.2f, 0}, {0, 0, 1}, {0.5f, 0.5f});
  logo.triangle({-1, -1, 0, 1, -1, 0, 0, 1, 0}, {0, 0, 1}, {0.5f, 0.5f});
  object2 = cube.finish();
  object3 = thing.finish();
  object = logo.finish();
  texture[0] = makeSolidTexture(255, 255, 255, 128);
  texture[2] = makeSolidTexture(255, 255, 255, 255);
  texture[3] = makeSolidTexture(255, 0, 0, 255);
  texLogo = makeSolidTexture(0, 255, 0, 255);
  for (float at : {0.0f, 10.0f, 500.0f}) {
    t = at;
    displayClear();
    displaySetCamera();
    const Matrices camera = matrices();
    displaySetLight();
    displayDraw();
    EXPECT_EQ(matrices(), camera) << "t = " << at;
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(getInt(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(getInt(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_T));
    for (GLenum face : {GL_FRONT, GL_BACK}) {
      std::array<float, 4> e{};
      glGetMaterialfv(face, GL_EMISSION, e.data());
      expectColour(e, 0.1f, 0.1f, 0.1f, 1.0f);
    }
    // The carry-overs: depth testing off for good, culling on in the text's GL_FRONT mode, lit.
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(getInt(GL_CULL_FACE_MODE), GL_FRONT);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(static_cast<GLuint>(getInt(GL_TEXTURE_BINDING_2D)), texLogo);
    // The text's colour stays current until the next frame sets another.
    expectColour(getColour(), 0.4f, 0.2f, 0.8f, 0.4f);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameState, DrawCubeSetsItsColourOnlyWhenTheMeshIsThere) {
  startDemoState();
  glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
  drawCube();  // no mesh: skipped, the colour untouched
  expectColour(getColour(), 0.25f, 0.5f, 0.75f, 1.0f);
  TestMesh cube;
  cube.triangle({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1}, {0, 0});
  object2 = cube.finish();
  drawCube();
  expectColour(getColour(), 1.0f, 1.0f, 1.0f, 0.7f);
  // glInterleavedArrays leaves the arrays of its format enabled.
  EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
}

}  // namespace

// The car park: a large box, textured on the inside, turning slowly around the camera.
#include "parkhaus.h"

#include <GL/gl.h>

#include <array>

#include "globals.h"

// One corner of a box face: texture coordinates, then position.
struct ParkhausCorner {
  float s, tc;
  float x, y, z;
};

// One face of the box: its normal and its four corners, counter-clockwise seen from outside.
struct ParkhausFace {
  float nx, ny, nz;
  std::array<ParkhausCorner, 4> corners;
};

// The six faces in drawing order. The z = -1 face carries the normal (0, 0, 1) like the z = +1 face.
static constexpr std::array<ParkhausFace, 6> kFaces = {{
    {0, 0, 1, {{{0, 1, -1, -1, 1}, {1, 1, 1, -1, 1}, {1, 0, 1, 1, 1}, {0, 0, -1, 1, 1}}}},
    {0, 0, 1, {{{1, 0, -1, -1, -1}, {1, 1, -1, 1, -1}, {0, 1, 1, 1, -1}, {0, 0, 1, -1, -1}}}},
    {0, 1, 0, {{{0, 1, -1, 1, -1}, {0, 0, -1, 1, 1}, {1, 0, 1, 1, 1}, {1, 1, 1, 1, -1}}}},
    {0, -1, 0, {{{1, 1, -1, -1, -1}, {0, 1, 1, -1, -1}, {0, 0, 1, -1, 1}, {1, 0, -1, -1, 1}}}},
    {1, 0, 0, {{{1, 0, 1, -1, -1}, {1, 1, 1, 1, -1}, {0, 1, 1, 1, 1}, {0, 0, 1, -1, 1}}}},
    {-1, 0, 0, {{{0, 0, -1, -1, -1}, {1, 0, -1, -1, 1}, {1, 1, -1, 1, 1}, {0, 1, -1, 1, -1}}}},
}};

// The wall quads' corners: 0..3 the far wall (z = -1), 4..7 the near wall (z = +1).
float parkhausWallVertices[24] = {
    -1, -1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1,
    -1, -1, 1,  -1, 1, 1,  1, 1, 1,  1, -1, 1,
};

// Does nothing; part of the scene module's interface.
void parkhausInit(void) {}

// Draws the box, 20 units from the centre to each face, turning at 30 degrees a second.
// Its mode of culling is the frame's: with GL_FRONT (left by the text) its inside shows.
void parkhausDraw(void) {
  glPushMatrix();
  glBindTexture(GL_TEXTURE_2D, texParkhaus);
  glEnable(GL_TEXTURE_2D);
  glScalef(20.0f, 20.0f, 20.0f);
  glRotatef(t * 30.0f, 0.1f, 1.0f, 0.2f);
  glBegin(GL_QUADS);
  for (const ParkhausFace &face : kFaces) {
    glNormal3f(face.nx, face.ny, face.nz);
    for (const ParkhausCorner &c : face.corners) {
      glTexCoord2f(c.s, c.tc);
      glVertex3f(c.x, c.y, c.z);
    }
  }
  glEnd();
  glPopMatrix();
}

// Emits vertex v of the wall table with the given texture coordinates.
static void wallVertex(float s, float tc, int v) {
  glTexCoord2f(s, tc);
  glVertex3fv(&parkhausWallVertices[v * 3]);
}

// Emits one wall quad into an open GL_QUADS primitive: side 0 is the far wall showing atlas
// tile `tile` of a 4 x 4 grid, side 2 the near wall with the whole texture; other sides emit nothing.
void parkhausDrawWall(int side, int tile) {
  const int column = tile % 4;
  const int row = tile / 4;
  const float s0 = 0.25f * static_cast<float>(column);
  const float s1 = s0 + 0.25f;
  const float t0 = 0.25f * static_cast<float>(row);
  const float t1 = t0 + 0.25f;
  if (side == 0) {
    glNormal3f(0.0f, 0.0f, 1.0f);
    wallVertex(s0, t1, 0);
    wallVertex(s1, t1, 1);
    wallVertex(s1, t0, 2);
    wallVertex(s0, t0, 3);
  } else if (side == 2) {
    glNormal3f(0.0f, 0.0f, -1.0f);
    wallVertex(1.0f, 0.0f, 4);
    wallVertex(1.0f, 1.0f, 5);
    wallVertex(0.0f, 1.0f, 6);
    wallVertex(0.0f, 0.0f, 7);
  }
}

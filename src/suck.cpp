// The suck scene: a tinted full-screen picture with a small blended picture in the top left corner.
#include "suck.h"

#include <GL/gl.h>

#include "globals.h"

// Does nothing; part of the scene module's interface.
void suckInit(void) {}

// Emits one textured quad on the 640 x 480 canvas from its (s, t, x, y) corners.
static void suckQuad(const float (&corners)[4][4]) {
  glBegin(GL_QUADS);
  glNormal3f(0.0f, 0.0f, 1.0f);
  for (const auto &c : corners) {
    glTexCoord2f(c[0], c[1]);
    glVertex2f(c[2], c[3]);
  }
  glEnd();
}

// Draws the background over the whole screen and the corner picture over it, both tinted;
// leaves both matrices as they were, lighting and depth testing off, blending on.
void suckDraw(void) {
  static const float kBack[4][4] = {{0, 1, 0, 480}, {1, 1, 640, 480}, {1, 0, 640, 0}, {0, 0, 0, 0}};
  static const float kCorner[4][4] = {{0, 1, 0, 100}, {1, 1, 100, 100}, {1, 0, 100, 0}, {0, 0, 0, 0}};

  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, 640.0, 480.0, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();

  glDisable(GL_LIGHTING);
  glCullFace(GL_BACK);
  glEnable(GL_TEXTURE_2D);
  glDisable(GL_DEPTH_TEST);
  glColor4f(0.5f, 0.2f, 0.9f, 1.0f);

  glBindTexture(GL_TEXTURE_2D, texSuckBack);
  suckQuad(kBack);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBindTexture(GL_TEXTURE_2D, texSuck);
  suckQuad(kCorner);

  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

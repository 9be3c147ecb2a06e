// Frame set-up (clear, camera, light) and the frame's drawing: centre-piece, credits text, logo.
#include "display.h"

#include <GL/glu.h>

#include <cmath>

#include "globals.h"
#include "parkhaus.h"
#include "timeline.h"

// Does nothing; part of the module's interface.
void displayInit(void) {}

// Clears colour and depth to the night-blue background.
void displayClear(void) {
  glClearColor(0.0f, 0.0f, 0.2f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Loads the perspective projection and the camera looking at the origin; leaves GL_MODELVIEW current.
void displaySetCamera(void) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(fovy, aspect, zNear, zFar);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(cam[0], cam[1], cam[2], 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
}

// Places light 1 in the camera's frame, so it stays fixed in the world, and enables lighting.
void displaySetLight(void) {
  glLightfv(GL_LIGHT1, GL_AMBIENT, lightAmbient);
  glLightfv(GL_LIGHT1, GL_DIFFUSE, lightDiffuse);
  glLightfv(GL_LIGHT1, GL_POSITION, lightPosition);
  glEnable(GL_LIGHT1);
  glEnable(GL_LIGHTING);
}

// Draws one frame's content in its fixed order: car park, cube back faces, inner object,
// cube front faces, credits, logo. GL state carries over from each step to the next.
void displayDraw(void) {
  const double td = static_cast<double>(t);

  parkhausDraw();

  // The group rocks about its tilted y axis and, while sin(t/134) < 0, sinks and tips.
  glScalef(0.7f, 0.7f, 0.7f);
  glRotatef(-15.0f, 1.0f, 0.0f, 0.0f);
  const float s = static_cast<float>(std::sin(td / 134.0));
  if (s < 0.0f) {
    glTranslatef(0.0f, s, 0.0f);
    glRotatef(-40.0f * s, 1.0f, 0.0f, 0.0f);
  }
  glRotatef(static_cast<float>(180.0 * std::sin(td / kRockScale)), 0.0f, 1.0f, 0.0f);

  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, matEmission);
  glBindTexture(GL_TEXTURE_2D, texture[0]);
  glEnable(GL_TEXTURE_2D);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glDisable(GL_TEXTURE_GEN_S);
  glDisable(GL_TEXTURE_GEN_T);

  // Cube, back faces only.
  glPushMatrix();
  glScalef(1.5f, 1.5f, 1.5f);
  glCullFace(GL_FRONT);
  drawCube();
  glCullFace(GL_BACK);
  glDisable(GL_BLEND);
  glPopMatrix();

  // Inner object: opaque, sphere-mapped, tumbling.
  glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
  glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
  glEnable(GL_TEXTURE_GEN_S);
  glEnable(GL_TEXTURE_GEN_T);
  glEnable(GL_TEXTURE_2D);
  glPushMatrix();
  glRotatef(static_cast<float>(0.8 * td), 0.8f, 0.3f, 0.1f);
  glTranslatef(static_cast<float>(1.5 * std::sin(0.23 * td)), 0.0f,
               static_cast<float>(1.5 * std::sin(0.1 * td)));
  glRotatef(static_cast<float>(2.8 * td), 0.8f, 0.3f, 0.1f);
  glBindTexture(GL_TEXTURE_2D, texture[3]);
  drawThing2();
  glPopMatrix();
  glDisable(GL_TEXTURE_GEN_S);
  glDisable(GL_TEXTURE_GEN_T);

  // Cube, front faces, blended over the object; blending stays on for the text and the logo.
  glPushMatrix();
  glScalef(1.5f, 1.5f, 1.5f);
  glBindTexture(GL_TEXTURE_2D, texture[0]);
  glEnable(GL_BLEND);
  drawCube();
  glPopMatrix();

  drawText();
  drawLogo();
}

// Draws the translucent cube mesh in white at 70 % alpha; a mesh that failed to load is skipped.
void drawCube(void) {
  if (!object2) return;
  glColor4f(1.0f, 1.0f, 1.0f, 0.7f);
  drawObject(object2);
}

// Draws the inner object's mesh; skipped when it failed to load.
void drawThing2(void) { drawObject(object3); }

// Draws the logo mesh plainly; nothing in the frame calls it. Skipped when the mesh is missing.
void drawThing(void) { drawObject(object); }

// Glyph order of the font picture: ASCII 0x20..0x7E with the two letter cases swapped, then the terminator.
const char fontOrder[96] =
    " !\"#$%&'()*+,-./0123456789:;<=>?"
    "@abcdefghijklmnopqrstuvwxyz[\\]^_"
    "`ABCDEFGHIJKLMNOPQRSTUVWXYZ{|}~";
static_assert(sizeof(fontOrder) == 96, "95 glyphs and the terminator");

// Draws one character cell of 100 x 40 canvas units with its top left corner at (x, y);
// characters not in the font take the terminator's cell.
void textDrawChar(float x, float y, char character) {
  int i = 0;
  while (fontOrder[i] != '\0' && fontOrder[i] != character) ++i;
  const int column = i % 16;
  const int row = i / 16;
  const float s0 = static_cast<float>(column) / 16.0f;
  const float s1 = s0 + 1.0f / 16.0f;
  const float tTop = 1.0f - static_cast<float>(row) / 16.0f;
  const float tBottom = tTop - 1.0f / 16.0f;
  glBegin(GL_QUADS);
  glTexCoord2f(s0, tBottom);
  glVertex3f(x, y + 40.0f, 0.0f);
  glTexCoord2f(s0, tTop);
  glVertex3f(x, y, 0.0f);
  glTexCoord2f(s1, tTop);
  glVertex3f(x + 100.0f, y, 0.0f);
  glTexCoord2f(s1, tBottom);
  glVertex3f(x + 100.0f, y + 40.0f, 0.0f);
  glEnd();
}

// Draws a zero-terminated string from (x, y) rightwards, 60 canvas units per character.
void textDrawString(float x, float y, const char *text) {
  for (const char *p = text; *p != '\0'; ++p) {
    textDrawChar(x, y, *p);
    x += 60.0f;
  }
}

// The credits block, one line per entry, drawn from x = 100 at 50-unit line steps.
const char *const kCreditLines[9] = {
    "Zared Parkhaus ...",
    "Zared organs...",
    "Zared cows ...",
    "totally fu'bared this...",
    "Just close your eyes and ",
    "enjoy Tarvonells great tune.",
    "(Code: nomi - Tune: Tarvonell",
    "(Gfx: Velmor)",
    "...everything coded live...",
};

// Draws the nine credit lines on a 1200 x 900 canvas that sways, slides and stretches with t.
// Leaves lighting off and the cull mode GL_FRONT (the next frame's car park needs it);
// while the width factor is negative the glyphs are mirrored into front faces and culled.
void drawText(void) {
  const double td = static_cast<double>(t);
  glPushMatrix();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, 1200.0, 900.0, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  glDisable(GL_LIGHTING);
  glCullFace(GL_FRONT);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture[2]);

  glRotatef(static_cast<float>(5.0 * std::sin(td / kTiltScale)), 0.0f, 0.0f, 1.0f);
  glTranslatef(static_cast<float>(20.0 * std::sin(td / kSwayScale) + 20.0),
               static_cast<float>(100.0 * std::sin(td / kBounceScale) + 100.0), 0.0f);
  glColor4f(0.4f, 0.2f, 0.8f, 0.4f);
  glScalef(static_cast<float>(0.3 * std::sin(td / kSwayScale) + 0.2),
           static_cast<float>(0.2 * std::sin(td / 4.1) + 1.2), 1.0f);

  float y = 100.0f;
  for (const char *line : kCreditLines) {
    textDrawString(100.0f, y, line);
    y += 50.0f;
  }

  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

// Draws a mesh with the current GL state: one glInterleavedArrays, one glDrawArrays.
// A null mesh (it failed to load) draws nothing.
void drawObject(util_oia_t *mesh) {
  if (!mesh) return;
  glInterleavedArrays(mesh->format, mesh->stride, mesh->data);
  glDrawArrays(mesh->primitive, 0, mesh->count);
}

// Draws the sphere-mapped logo turning high to the right, from a fresh camera and light.
// Switches depth testing off for good, so every later frame is painted in call order.
void drawLogo(void) {
  displaySetCamera();
  displaySetLight();
  glDisable(GL_DEPTH_TEST);
  glBindTexture(GL_TEXTURE_2D, texLogo);
  glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
  glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
  glEnable(GL_TEXTURE_GEN_S);
  glEnable(GL_TEXTURE_GEN_T);
  glEnable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  glPushMatrix();
  glTranslatef(5.0f, 8.0f, 0.0f);
  glRotatef(static_cast<float>(-t * 20.2), 0.0f, 1.0f, 0.0f);
  drawObject(object);
  glPopMatrix();
  glEnable(GL_CULL_FACE);
  glDisable(GL_TEXTURE_GEN_S);
  glDisable(GL_TEXTURE_GEN_T);
}

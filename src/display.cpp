// Frame set-up (clear, camera, light) and the frame's drawing.
#include "display.h"

#include <GL/glu.h>

#include "globals.h"

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

// Draws the content of one frame (filled in by the frame work).
void displayDraw(void) {}

// Frame drawing: clear, camera and light, the frame's composition, credits text and logo.
#ifndef PARKHAUS_DISPLAY_H
#define PARKHAUS_DISPLAY_H

#include "util.h"

void displayInit(void);
void displayClear(void);
void displaySetCamera(void);
void displaySetLight(void);
void displayDraw(void);

void drawCube(void);
void drawThing2(void);
void drawThing(void);

extern const char fontOrder[96];
extern const char *const kCreditLines[9];
void textDrawChar(float x, float y, char character);
void textDrawString(float x, float y, const char *text);
void drawText(void);

void drawObject(util_oia_t *mesh);
void drawLogo(void);

#endif

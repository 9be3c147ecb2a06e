// The demo host: start-up, the GLUT callbacks, the clock, asset loading and the music start.
#ifndef PARKHAUS_MAIN_H
#define PARKHAUS_MAIN_H

#include <cstdint>

// A wall-clock reading: whole seconds since 1970-01-01 UTC and the microseconds within that second.
struct win_timeval {
  int32_t tv_sec;
  int32_t tv_usec;
};

void win_gettimeofday(win_timeval *tv, void *ignored);
void glInit(void);
void myInit(void);
void initSound(void);
void idleCallBack(void);
void displayCallBack(void);
void reshapeCallBack(int width, int height);
void keyboardCallBack(unsigned char key, int x, int y);

// Opens the game-mode screen, or a full-screen window where game mode cannot be had or the
// server is Xwayland.
void openScreen(bool xwayland);

// Registers the display, reshape, keyboard and idle callbacks.
void registerCallBacks(void);

// The start-up sequence and the GLUT main loop, for the entry point.
int demoMain(int argc, char **argv);

#endif

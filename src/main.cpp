// The demo host: start-up sequence, the GLUT callbacks, the wall clock and the keys.
#include "main.h"

#include <GL/freeglut.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "datadata.h"
#include "desktop.h"
#include "display.h"
#include "fsound.h"
#include "globals.h"
#include "loosefiles.h"
#include "timeline.h"

// Reads the UTC wall clock as seconds since 1970 and microseconds within the second.
void win_gettimeofday(win_timeval *tv, void *) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tv->tv_sec = static_cast<int32_t>(now.tv_sec);
  tv->tv_usec = static_cast<int32_t>(now.tv_nsec / 1000);
}

// The reading as one 64-bit microsecond count, so differences are exact.
static int64_t clockMicroseconds(void) {
  win_timeval tv;
  win_gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// Sets the fixed GL state once, after the screen exists.
void glInit(void) {
  glShadeModel(shadeModel);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_TEXTURE_2D);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glCullFace(GL_BACK);
  glEnable(GL_CULL_FACE);
}

// Creates the library context, registers the linked-in pack, loads textures and meshes,
// and takes the start reading of the clock.
void myInit(void) {
  pzl = zare_new();
  zare_dar_add(pzl, (zare_data_t *)dataData);
  util_textureFromTGA(&texture[0], kCubeTga);
  util_textureFromTGA(&texture[3], kRedMapTga);
  util_textureFromTGA(&texture[2], kFontTga);
  texLogo = util_textureFromPNG(pzl, "data/tex-cow-env.png");
  texParkhaus = util_textureFromPNG(pzl, "data/organ.png");
  object = util_oiaLoad(kLogoOia);
  object3 = util_oiaLoad(kThingOia);
  object2 = util_oiaLoad(kCubeOia);
  startTime = clockMicroseconds();
}

// Opens the music from the pack and starts it; sound problems never stop the demo.
void initSound(void) {
  zare_memfile_t *memfile = zare_memfile_new(pzl);
  zare_memfile_load(pzl, memfile, "data/tune.mp3");
  if (!FSOUND_Init(kMusicRate, 1, 0)) {
    printf("Sound: Init\n");
  }
  mus = FSOUND_Stream_OpenFile(memfile ? (const char *)memfile->pData : nullptr,
                               FSOUND_NORMAL | FSOUND_LOADMEMORY, memfile ? memfile->iSize : 0);
  if (!mus) {
    printf("Sound: LoadSong\n");
  } else {
    FSOUND_Stream_Play(0, mus);
  }
}

// Advances the shared time to the seconds since the start reading and asks for a frame.
void idleCallBack(void) {
  int64_t now = clockMicroseconds();
  t = static_cast<float>(static_cast<double>(now - startTime) * 0.000001);
  glutPostRedisplay();
  glFinish();
}

// Draws one frame and shows it.
void displayCallBack(void) {
  displayClear();
  displaySetCamera();
  displaySetLight();
  displayDraw();
  glFlush();
  glutSwapBuffers();
}

// Keeps the viewport and the aspect ratio in step with the screen; a window collapsed to height 0
// is taken as one pixel high, so that the projection stays finite.
void reshapeCallBack(int width, int height) {
  glViewport(0, 0, width, height);
  aspect = static_cast<double>(width) / static_cast<double>(height > 0 ? height : 1);
}

// Quits on Escape or q, toggles the shading on s, moves the camera on i, k, j, l.
void keyboardCallBack(unsigned char key, int, int) {
  switch (key) {
  case 27:
  case 'q':
    exit(0);
  case 's':
    shadeModel = (shadeModel == GL_FLAT) ? GL_SMOOTH : GL_FLAT;
    glShadeModel(shadeModel);
    break;
  case 'i':
    cam[2] += 0.5f;
    if (cam[2] > 10.0f) cam[2] = 10.0f;
    break;
  case 'k':
    cam[2] -= 0.5f;
    if (cam[2] < 0.0f) cam[2] = 0.0f;
    break;
  case 'l':
    cam[0] += 0.5f;
    if (cam[0] > 10.0f) cam[0] = 10.0f;
    break;
  case 'j':
    cam[0] -= 0.5f;
    if (cam[0] < -10.0f) cam[0] = -10.0f;
    break;
  default:
    break;
  }
}

// Gives the desktop its own screen mode back when the process ends from game mode.
static void leaveGameModeAtExit(void) {
  if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE)) {
    glutLeaveGameMode();
  }
}

// Enters the game-mode screen; where it cannot be had, or on Xwayland, where a mode switch is at best
// emulated, opens a window that covers the whole screen from its top-left corner, without a pointer.
void openScreen(bool xwayland) {
  glutGameModeString("640x480:32@60");
  if (!xwayland) {
    if (glutGameModeGet(GLUT_GAME_MODE_POSSIBLE)) {
      glutEnterGameMode();
    }
    if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE) && glutGetWindow() != 0) {
      atexit(leaveGameModeAtExit);
      return;
    }
  }
  printf(xwayland ? "Parkhaus: game mode not available under Xwayland, opening a full-screen window\n"
                  : "Parkhaus: game mode not available, opening a full-screen window\n");
  glutInitWindowPosition(0, 0);
  glutInitWindowSize(glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT));
  glutCreateWindow("Parkhaus");
  glutFullScreen();
  glutSetCursor(GLUT_CURSOR_NONE);
}

// Registers the display, reshape, keyboard and idle callbacks, and no others.
void registerCallBacks(void) {
  glutDisplayFunc(displayCallBack);
  glutReshapeFunc(reshapeCallBack);
  glutKeyboardFunc(keyboardCallBack);
  glutIdleFunc(idleCallBack);
}

// The program's start-up: screen, fixed GL state, assets, callbacks and music, then the GLUT loop
// for good; returns 0 should the loop ever return.
int demoMain(int argc, char **argv) {
  // GLUT takes its -display argument out of argv; the same server is asked what it is.
  const char *displayName = desktopDisplayArgument(argc, argv);
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  openScreen(desktopIsXwayland(displayName));
  glInit();
  myInit();
  registerCallBacks();
  initSound();
  glutMainLoop();
  return 0;
}

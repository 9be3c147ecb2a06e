// What kind of X server the demo runs on, asked before it chooses between the game-mode screen and
// a full-screen window.
#ifndef PARKHAUS_DESKTOP_H
#define PARKHAUS_DESKTOP_H

// True when the named X display (null: $DISPLAY) is Xwayland, a Wayland compositor's X server:
// its RandR outputs are named XWAYLAND0, XWAYLAND1, ... There a mode switch is at best emulated,
// and on some compositors asking for one crashes the compositor or Xwayland.
bool desktopIsXwayland(const char *displayName);

// The display named by a "-display NAME" among the program's arguments, as GLUT reads them;
// null when there is none, so that $DISPLAY applies.
const char *desktopDisplayArgument(int argc, char **argv);

#endif

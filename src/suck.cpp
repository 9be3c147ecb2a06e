// The suck scene (filled in by the frame work).
#include "suck.h"

void suckInit(void) {}
void suckDraw(void) {}

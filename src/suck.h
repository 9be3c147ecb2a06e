// The suck scene: a tinted full-screen picture with a blended corner picture; the frame does not call it.
#ifndef PARKHAUS_SUCK_H
#define PARKHAUS_SUCK_H

void suckInit(void);
void suckDraw(void);

#endif

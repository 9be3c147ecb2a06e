// The car park: the turning textured box that is the backdrop of every frame.
#ifndef PARKHAUS_PARKHAUS_H
#define PARKHAUS_PARKHAUS_H

extern float parkhausWallVertices[24];

void parkhausInit(void);
void parkhausDraw(void);
void parkhausDrawWall(int side, int tile);

#endif

// The demo's shared state: time, camera, render settings, textures, meshes, library context, music.
#ifndef PARKHAUS_GLOBALS_H
#define PARKHAUS_GLOBALS_H

#include <GL/gl.h>
#include <cstdint>

#include "util.h"
#include "zarelib.h"

struct FSOUND_STREAM;

// Host and clock.
extern float t;
extern int64_t startTime;
extern float cam[3];
extern GLenum shadeModel;
extern double aspect;

// Projection and the one light.
extern double fovy;
extern double zNear;
extern double zFar;
extern float lightAmbient[4];
extern float lightDiffuse[4];
extern float lightPosition[4];
extern float matEmission[4];

// Textures made at start-up; the suck scene's names are never filled.
extern GLuint texture[4];
extern GLuint texLogo;
extern GLuint texParkhaus;
extern GLuint texSuckBack;
extern GLuint texSuck;
extern GLuint texSuckFront;

// Meshes: the logo, the cube, the inner object.
extern util_oia_t *object;
extern util_oia_t *object2;
extern util_oia_t *object3;

// The library context and the music stream.
extern zare_lib_t *pzl;
extern FSOUND_STREAM *mus;

#endif

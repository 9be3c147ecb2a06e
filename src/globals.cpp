// Every shared global of the demo with its initial value.
#include "globals.h"

float t = 0.0f;
int64_t startTime = 0;
float cam[3] = {0.0f, 0.0f, 5.0f};
GLenum shadeModel = GL_SMOOTH;
double aspect = 1.0;

double fovy = 100.0;
double zNear = 1.0;
double zFar = 100.0;
float lightAmbient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
float lightDiffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
float lightPosition[4] = {2.0f, 0.5f, 6.0f, 1.0f};
float matEmission[4] = {0.1f, 0.1f, 0.1f, 1.0f};

GLuint texture[4] = {0, 0, 0, 0};
GLuint texLogo = 0;
GLuint texParkhaus = 0;
GLuint texSuckBack = 0;
GLuint texSuck = 0;
GLuint texSuckFront = 0;

util_oia_t *object = nullptr;
util_oia_t *object2 = nullptr;
util_oia_t *object3 = nullptr;

zare_lib_t *pzl = nullptr;
FSOUND_STREAM *mus = nullptr;

// Mesh and texture loaders (interim: load nothing until the loaders land).
#include "util.h"

util_oia_t *util_oiaLoad(const char *) { return nullptr; }
void util_oiaDrawNormals(util_oia_t *) {}
util_image_t *util_imageFromTGA(const char *) { return nullptr; }
void util_textureFromTGA(GLuint *, const char *) {}
GLuint util_textureFromPNG(zare_lib_t *, const char *) { return 0; }
GLuint util_textureFromPNGWithMask(zare_lib_t *, const char *, const char *) { return 0; }

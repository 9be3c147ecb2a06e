// Mesh (OIA) and image (TGA, PNG from the pack) loading, and the textures made from them.
#ifndef PARKHAUS_UTIL_H
#define PARKHAUS_UTIL_H

#include <GL/gl.h>

#include "zarelib.h"

// A loaded mesh, ready for one glInterleavedArrays and one glDrawArrays.
struct util_oia_t {
  GLenum format;
  GLint stride;
  GLenum primitive;
  GLint count;
  void *data;
};

// A decoded TGA image: width x height pixels of red, green, blue, alpha.
struct util_image_t {
  int width;
  int height;
  unsigned char *data;
};

util_oia_t *util_oiaLoad(const char *path);
void util_oiaDrawNormals(util_oia_t *mesh);

util_image_t *util_imageFromTGA(const char *path);
void util_textureFromTGA(GLuint *texName, const char *path);
GLuint util_textureFromPNG(zare_lib_t *lib, const char *name);
GLuint util_textureFromPNGWithMask(zare_lib_t *lib, const char *name, const char *maskName);

#endif

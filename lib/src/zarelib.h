// zare: the public interface of the resource library (context, packs, memory files, images).
#ifndef ZARE_ZARELIB_H
#define ZARE_ZARELIB_H

#include <cstdint>

// The context handle; inside the library it is the address of a zl_t.
typedef void *zare_lib_t;

// A pack as the registry slots declare it; the library reads the registered address as a raw pack image.
struct zare_data_t {
  void *data;
  int32_t size;
};

// A read cursor over a file's bytes inside a pack; the bytes are not owned.
struct zare_memfile_t {
  unsigned char *pData;
  int32_t iSize;
  int32_t iPos;
};

// 256 entries of red, green, blue, each holding the PNG's byte value 0..255.
struct zare_image_pal_t {
  uint16_t data[768];
  uint16_t num;
};

// An indexed image: one palette index per pixel, rows from the top.
struct zare_image_t {
  uint16_t width;
  uint16_t height;
  unsigned char *data;
  uint8_t mode;
  zare_image_pal_t *palette;
};

// Result code of a load whose data lacks the PNG signature.
constexpr int32_t ZARE_ERR_NOT_PNG = 4097;

zare_lib_t *zare_new(void);
int zare_delete(zare_lib_t *lib);
int32_t zare_lastError(zare_lib_t *lib);
char *zare_getTrace(zare_lib_t *lib);

int zare_dar_add(zare_lib_t *lib, zare_data_t *pack);

zare_memfile_t *zare_memfile_new(zare_lib_t *lib);
int32_t zare_memfile_load(zare_lib_t *lib, zare_memfile_t *mf, const char *name);

zare_image_t *zare_imageFromPNG(zare_lib_t *lib, const char *name);
int zare_image_delete(zare_lib_t *lib, zare_image_t **image);

#endif

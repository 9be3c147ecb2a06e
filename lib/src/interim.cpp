// Interim entry points so the demo links before the library lands; replaced by the real modules.
#include "zarelib.h"

zare_lib_t *zare_new(void) { static zare_lib_t dummy; return &dummy; }
int zare_delete(zare_lib_t *) { return 0; }
int32_t zare_lastError(zare_lib_t *) { return 0; }
char *zare_getTrace(zare_lib_t *) { static char empty[1]; return empty; }
int zare_dar_add(zare_lib_t *, zare_data_t *) { return 0; }
zare_memfile_t *zare_memfile_new(zare_lib_t *) { static zare_memfile_t mf; return &mf; }
int32_t zare_memfile_load(zare_lib_t *, zare_memfile_t *, const char *) { return -1; }
zare_image_t *zare_imageFromPNG(zare_lib_t *, const char *) { return nullptr; }
int zare_image_delete(zare_lib_t *, zare_image_t **) { return 0; }

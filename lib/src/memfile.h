// zare: memory files, read cursors over a file's bytes inside a registered pack.
#ifndef ZARE_MEMFILE_H
#define ZARE_MEMFILE_H

#include <cstdint>

#include "zarelib.h"

zare_memfile_t *zare_memfile_new(zare_lib_t *lib);
int32_t zare_memfile_load(zare_lib_t *lib, zare_memfile_t *mf, const char *name);

// Bytes left to read from the read position on; 0 for a record that holds no valid data.
int64_t zare_memfile_left(const zare_memfile_t *mf);

#endif

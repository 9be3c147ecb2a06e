// zare: the pack registry and the name lookup in a pack image.
#ifndef ZARE_DATA_H
#define ZARE_DATA_H

#include <cstdint>

#include "zarelib.h"

int zare_dar_add(zare_lib_t *lib, zare_data_t *pack);
int32_t zare_dar_getPos(zare_lib_t *lib, const unsigned char *pDAR, const char *pszName);
int32_t zare_dar_getSize(const unsigned char *pDAR, int32_t iOffset);
unsigned char *zare_dar_getData(const unsigned char *pDAR, int32_t iOffset);

// The pack's total length as its header gives it (signed 32-bit value at offset 4).
int32_t zare_dar_totalLength(const unsigned char *pDAR);

#endif

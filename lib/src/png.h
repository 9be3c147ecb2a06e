// zare: the PNG decoder (8-bit indexed, non-interlaced, filter type 0) built on zlib's uncompress.
#ifndef ZARE_PNG_H
#define ZARE_PNG_H

#include <cstdint>

#include "zarelib.h"
#include "zarelib_internal.h"

// Chunk kinds in zare_png_chunk_t::bType.
constexpr uint8_t ZARE_PNG_OTHER = 0;
constexpr uint8_t ZARE_PNG_IHDR = 1;
constexpr uint8_t ZARE_PNG_IDAT = 2;
constexpr uint8_t ZARE_PNG_PLTE = 3;
constexpr uint8_t ZARE_PNG_IEND = 255;

// Largest width and height accepted; the image record holds 16 bits and no texture is larger.
constexpr uint32_t ZARE_PNG_MAX_SIDE = 16384;

// One chunk as read from the stream; pData points at the chunk's bytes inside the memory file.
struct zare_png_chunk_t {
  uint32_t length;
  char type[5];
  uint8_t bType;
  uint16_t pos;
  unsigned char *pData;
  uint32_t crc;
};

struct zare_png_IHDR_t {
  uint32_t width;
  uint32_t height;
  uint8_t bitDepth;
  uint8_t colorType;
  uint8_t compressionMethod;
  uint8_t filterMethod;
  uint8_t interlaceMethod;
};

// The compressed data of all IDAT chunks joined; iCapacity is the buffer's size, which grows.
struct zare_png_IDAT_t {
  unsigned char *pData;
  int32_t size;
  int32_t iCapacity;
};

struct zare_png_PLTE_t {
  uint8_t data[768];
  uint8_t num;
};

// The decoder of one PNG load.
struct zare_png_t {
  zl_t *pzl;
  zare_png_chunk_t *pcIHDR;
  zare_png_chunk_t **ppcIDAT;
  uint16_t iNumIDAT;
  zare_png_IHDR_t *pIHDR;
  zare_png_IDAT_t *pIDAT;
  zare_png_PLTE_t *pPLTE;
  unsigned char *pScanlines;
  unsigned char *pData;
  uint32_t iSize;
};

zare_png_t *zare_png_new(zare_lib_t *lib);
int zare_png_delete(zare_png_t **ppPng);
int zare_png_loadFromMem(zare_png_t *pp, zare_memfile_t *pmf);
int zare_png_loadFromFile(zare_png_t *pPng, const char *pszFilename);
zare_png_chunk_t *zare_png_chunkNext(zare_memfile_t *pmf);
int zare_png_chunkDelete(zare_png_chunk_t **ppc);
int zare_png_addIHDRFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc);
int zare_png_addPLTEFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc);
int zare_png_addIDATFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc);
int zare_png_decompress(zare_png_t *pPng);
int zare_png_saveRAW(zare_png_t *pPng, const char *pszFilename);
void zare_png_printInfo(zare_png_t *pp);
uint32_t zare_png_ntohl(uint32_t in);

#endif

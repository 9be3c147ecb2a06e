// zare: the PNG decoder. Chunks are read in place from the memory file, the IDAT data is joined
// into one growing buffer, inflated in one call straight into the row buffer, and the filter
// bytes are stripped in place, so a decode touches two large buffers.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "memfile.h"
#include "png.h"

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
// Bytes of a chunk besides its data: length, type, CRC.
constexpr int64_t kChunkFrame = 12;
// First capacity of the IDAT buffer at most; it grows by doubling when the data needs more.
constexpr int64_t kIdatFirstCapacity = 4 << 20;
// Deflate produces at most 1032 bytes per input byte; more rows than that cannot come out.
constexpr uint64_t kMaxInflateRatio = 1032;

// Reads an unaligned u32 as stored in the file.
static uint32_t zare_png_raw32(const unsigned char *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Converts a big-endian u32 to host order.
uint32_t zare_png_ntohl(uint32_t in) {
  if constexpr (std::endian::native == std::endian::little) {
    return __builtin_bswap32(in);
  } else {
    return in;
  }
}

// Releases whatever a decoder holds, then the decoder itself.
static void zare_png_release(zare_png_t *png) {
  if (png->pIDAT != nullptr) {
    free(png->pIDAT->pData);
    free(png->pIDAT);
  }
  free(png->pScanlines);
  free(png->pData);
  free(png->ppcIDAT);
  free(png->pIHDR);
  free(png->pPLTE);
  free(png);
}

// Creates an empty decoder that traces into the given context; null when out of memory.
zare_png_t *zare_png_new(zare_lib_t *lib) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  zl_trace(pzl, ZL_MSG_ZARE_PNG_NEW, 0);
  zare_png_t *png = static_cast<zare_png_t *>(calloc(1, sizeof(zare_png_t)));
  if (png == nullptr) {
    zl_trace(pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    return nullptr;
  }
  // calloc leaves the header chunk, the IDAT record, the rows and the pixel data null, the counts 0.
  png->pzl = pzl;
  png->ppcIDAT = static_cast<zare_png_chunk_t **>(calloc(1024, sizeof(zare_png_chunk_t *)));
  png->pIHDR = static_cast<zare_png_IHDR_t *>(calloc(1, sizeof(zare_png_IHDR_t)));
  png->pPLTE = static_cast<zare_png_PLTE_t *>(calloc(1, sizeof(zare_png_PLTE_t)));
  if (png->ppcIDAT == nullptr || png->pIHDR == nullptr || png->pPLTE == nullptr) {
    zl_trace(pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    zare_png_release(png);
    return nullptr;
  }
  return png;
}

// Releases a decoder with all it owns and clears the caller's pointer.
int zare_png_delete(zare_png_t **ppPng) {
  if (ppPng == nullptr || *ppPng == nullptr) {
    return ZARE_OK;
  }
  zare_png_release(*ppPng);
  *ppPng = nullptr;
  return ZARE_OK;
}

// Reads the next chunk at the read position; null at the end of the data, or when the
// chunk's type, data or CRC would run past the end, or when out of memory.
zare_png_chunk_t *zare_png_chunkNext(zare_memfile_t *pmf) {
  const int64_t left = zare_memfile_left(pmf);
  if (left < 4) {
    return nullptr;
  }
  const unsigned char *p = pmf->pData + pmf->iPos;
  const uint32_t length = zare_png_ntohl(zare_png_raw32(p));
  if (kChunkFrame + length > left) {
    return nullptr;
  }
  zare_png_chunk_t *pc = static_cast<zare_png_chunk_t *>(calloc(1, sizeof(zare_png_chunk_t)));
  if (pc == nullptr) {
    return nullptr;
  }
  pc->length = length;
  memcpy(pc->type, p + 4, 4);
  pc->type[4] = '\0';
  pc->pData = length > 0 ? pmf->pData + pmf->iPos + 8 : nullptr;
  pc->crc = zare_png_raw32(p + 8 + length);
  pmf->iPos += static_cast<int32_t>(kChunkFrame + length);
  if (memcmp(pc->type, "IDAT", 4) == 0) {
    pc->bType = ZARE_PNG_IDAT;
  } else if (memcmp(pc->type, "IHDR", 4) == 0) {
    pc->bType = ZARE_PNG_IHDR;
  } else if (memcmp(pc->type, "IEND", 4) == 0) {
    pc->bType = ZARE_PNG_IEND;
  } else if (memcmp(pc->type, "PLTE", 4) == 0) {
    pc->bType = ZARE_PNG_PLTE;
  } else {
    pc->bType = ZARE_PNG_OTHER;
  }
  return pc;
}

// Releases a chunk record (its data belongs to the memory file) and clears the caller's pointer.
int zare_png_chunkDelete(zare_png_chunk_t **ppc) {
  if (ppc != nullptr) {
    free(*ppc);
    *ppc = nullptr;
  }
  return ZARE_OK;
}

// Takes width, height and the five format bytes from an IHDR chunk; ZARE_FAILED for one shorter
// than 13 bytes.
int zare_png_addIHDRFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc) {
  if (pPng == nullptr || pc == nullptr || pc->pData == nullptr || pc->length < 13) {
    return ZARE_FAILED;
  }
  const unsigned char *d = pc->pData;
  zare_png_IHDR_t *h = pPng->pIHDR;
  h->width = zare_png_ntohl(zare_png_raw32(d));
  h->height = zare_png_ntohl(zare_png_raw32(d + 4));
  h->bitDepth = d[8];
  h->colorType = d[9];
  h->compressionMethod = d[10];
  h->filterMethod = d[11];
  h->interlaceMethod = d[12];
  return ZARE_OK;
}

// Takes the palette from a PLTE chunk; ZARE_FAILED for one shorter than 3 or longer than 768 bytes.
int zare_png_addPLTEFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc) {
  if (pPng == nullptr || pc == nullptr || pc->pData == nullptr || pc->length < 3 || pc->length > 768) {
    return ZARE_FAILED;
  }
  const double entries = static_cast<double>(pc->length) / 3.0 - 1.0;
  pPng->pPLTE->num = static_cast<uint8_t>(entries);
  memcpy(pPng->pPLTE->data, pc->pData, (pPng->pPLTE->num + 1u) * 3u);
  return ZARE_OK;
}

// Appends an IDAT chunk's data to the joined stream, creating or growing the buffer as needed.
// ZARE_FAILED when there is no IHDR yet or the record cannot be made, ZARE_ERR_IDAT_BUFFER when the
// buffer cannot hold the data.
int zare_png_addIDATFromChunk(zare_png_t *pPng, zare_png_chunk_t *pc) {
  if (pPng == nullptr || pc == nullptr) {
    return ZARE_FAILED;
  }
  const zare_png_IHDR_t *h = pPng->pIHDR;
  if (pPng->pIDAT == nullptr) {
    if (h->width == 0 || h->height == 0) {
      return ZARE_FAILED;
    }
    pPng->pIDAT = static_cast<zare_png_IDAT_t *>(calloc(1, sizeof(zare_png_IDAT_t)));
    if (pPng->pIDAT == nullptr) {
      zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
      return ZARE_FAILED;
    }
    // The raw image at one sample per pixel, which the compressed data normally stays below.
    int64_t capacity = static_cast<int64_t>(static_cast<uint64_t>(h->width) * h->height * h->bitDepth / 8);
    capacity = std::min(std::max<int64_t>({capacity, static_cast<int64_t>(pc->length), 1}), kIdatFirstCapacity);
    pPng->pIDAT->pData = static_cast<unsigned char *>(malloc(static_cast<size_t>(capacity)));
    if (pPng->pIDAT->pData == nullptr) {
      zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
      return ZARE_ERR_IDAT_BUFFER;
    }
    pPng->pIDAT->iCapacity = static_cast<int32_t>(capacity);
    pPng->pIDAT->size = 0;
  }
  zare_png_IDAT_t *idat = pPng->pIDAT;
  if (idat->pData == nullptr) {
    return ZARE_ERR_IDAT_BUFFER;
  }
  const int64_t needed = static_cast<int64_t>(idat->size) + pc->length;
  if (needed > INT32_MAX) {
    return ZARE_ERR_IDAT_BUFFER;
  }
  if (needed > idat->iCapacity) {
    const int64_t doubled = 2 * static_cast<int64_t>(idat->iCapacity);
    const int64_t capacity = std::min<int64_t>(std::max(doubled, needed), INT32_MAX);
    unsigned char *grown = static_cast<unsigned char *>(realloc(idat->pData, static_cast<size_t>(capacity)));
    if (grown == nullptr) {
      zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
      return ZARE_ERR_IDAT_BUFFER;
    }
    idat->pData = grown;
    idat->iCapacity = static_cast<int32_t>(capacity);
  }
  if (pc->length > 0) {
    memcpy(idat->pData + idat->size, pc->pData, pc->length);
  }
  idat->size = static_cast<int32_t>(needed);
  return ZARE_OK;
}

// Bytes per row without the filter byte for the formats the decoder reads; 0 for any other format.
static uint64_t zare_png_rowSize(const zare_png_IHDR_t *h) {
  if (h->width == 0 || h->width > ZARE_PNG_MAX_SIDE || h->height == 0 || h->height > ZARE_PNG_MAX_SIDE) {
    return 0;
  }
  if (h->compressionMethod != 0 || h->filterMethod != 0 || h->interlaceMethod != 0) {
    return 0;
  }
  if (h->bitDepth != 8 && h->bitDepth != 16) {
    return 0;
  }
  uint64_t samples;
  switch (h->colorType) {
    case 0: samples = 1; break;
    case 2: samples = 3; break;
    case 3: samples = h->bitDepth == 8 ? 1 : 0; break;
    case 4: samples = 2; break;
    case 6: samples = 4; break;
    default: samples = 0; break;
  }
  return h->width * samples * (h->bitDepth == 16 ? 2 : 1);
}

// Inflates the joined IDAT data into the row buffer and strips the filter bytes in place;
// ZARE_FAILED for an unsupported format, damaged or short data, a row filter other than 0, or no
// memory.
int zare_png_decompress(zare_png_t *pPng) {
  if (pPng == nullptr || pPng->pIDAT == nullptr || pPng->pIDAT->pData == nullptr) {
    return ZARE_FAILED;
  }
  const zare_png_IHDR_t *h = pPng->pIHDR;
  const uint64_t rowSize = zare_png_rowSize(h);
  if (rowSize == 0) {
    return ZARE_FAILED;
  }
  const uint64_t inflated = h->height * (rowSize + 1);
  if (inflated > kMaxInflateRatio * static_cast<uint64_t>(pPng->pIDAT->size) + 1024) {
    return ZARE_FAILED;
  }
  free(pPng->pScanlines);
  pPng->pScanlines = static_cast<unsigned char *>(malloc(inflated));
  if (pPng->pScanlines == nullptr) {
    zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    return ZARE_FAILED;
  }
  uLongf outLen = inflated;
  const int rc = uncompress(pPng->pScanlines, &outLen, pPng->pIDAT->pData, static_cast<uLong>(pPng->pIDAT->size));
  if (rc == Z_MEM_ERROR) {
    zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
  }
  // Every row must have come out of the stream; data past the last row is ignored.
  if (rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || outLen != inflated) {
    free(pPng->pScanlines);
    pPng->pScanlines = nullptr;
    return ZARE_FAILED;
  }
  unsigned char *rows = pPng->pScanlines;
  for (uint64_t y = 0; y < h->height; ++y) {
    const unsigned char *line = rows + y * (rowSize + 1);
    if (line[0] != 0) {
      printf("Filter %d for line %d not supported ... yet.\n", line[0], static_cast<int>(y));
      free(pPng->pScanlines);
      pPng->pScanlines = nullptr;
      return ZARE_FAILED;
    }
    memmove(rows + y * rowSize, line + 1, rowSize);
  }
  free(pPng->pData);
  pPng->pData = rows;
  pPng->iSize = static_cast<uint32_t>(rowSize * h->height);
  pPng->pScanlines = nullptr;
  return ZARE_OK;
}

// Decodes a PNG from the memory file's read position on: ZARE_OK, ZARE_ERR_NOT_PNG without the
// signature, ZARE_FAILED on failure.
int zare_png_loadFromMem(zare_png_t *pp, zare_memfile_t *pmf) {
  if (pp == nullptr) {
    return ZARE_FAILED;
  }
  if (zare_memfile_left(pmf) < 8 || memcmp(pmf->pData + pmf->iPos, kSignature, 8) != 0) {
    zl_trace(pp->pzl, ZL_MSG_INVALID_SIGNATURE, 0);
    return ZARE_ERR_NOT_PNG;
  }
  pmf->iPos += 8;
  bool haveIHDR = false;
  bool havePLTE = false;
  bool broken = false;
  zare_png_chunk_t *pc;
  while ((pc = zare_png_chunkNext(pmf)) != nullptr) {
    switch (pc->bType) {
      case ZARE_PNG_IHDR:
        zl_trace(pp->pzl, ZL_MSG_IHDR, 0);
        if (zare_png_addIHDRFromChunk(pp, pc) == 0) {
          haveIHDR = true;
        }
        break;
      case ZARE_PNG_IDAT:
        zl_trace(pp->pzl, ZL_MSG_IDAT, 0);
        // Data that arrives before the header, or that could not be kept, spoils the stream.
        if (!haveIHDR || zare_png_addIDATFromChunk(pp, pc) != 0) {
          broken = true;
        }
        break;
      case ZARE_PNG_PLTE:
        zl_trace(pp->pzl, ZL_MSG_PLTE, 0);
        if (zare_png_addPLTEFromChunk(pp, pc) == 0) {
          havePLTE = true;
        }
        break;
      case ZARE_PNG_IEND:
        zl_trace(pp->pzl, ZL_MSG_IEND, 0);
        break;
      default:
        break;
    }
    zare_png_chunkDelete(&pc);
  }
  // An indexed image needs its palette.
  if (broken || pp->pIDAT == nullptr || (pp->pIHDR->colorType == 3 && !havePLTE)) {
    return ZARE_FAILED;
  }
  return zare_png_decompress(pp) == ZARE_OK ? ZARE_OK : ZARE_FAILED;
}

// Decodes a PNG file from disk; ZARE_FAILED when it cannot be opened or read, or when out of
// memory.
int zare_png_loadFromFile(zare_png_t *pPng, const char *pszFilename) {
  if (pPng == nullptr || pszFilename == nullptr) {
    return ZARE_FAILED;
  }
  FILE *f = fopen(pszFilename, "rb");
  if (f == nullptr) {
    return ZARE_FAILED;
  }
  long length = -1;
  if (fseek(f, 0, SEEK_END) == 0) {
    length = ftell(f);
  }
  if (length < 0 || length > INT32_MAX || fseek(f, 0, SEEK_SET) != 0) {
    fclose(f);
    return ZARE_FAILED;
  }
  zare_memfile_t *mf = static_cast<zare_memfile_t *>(calloc(1, sizeof(zare_memfile_t)));
  if (mf == nullptr) {
    zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    fclose(f);
    return ZARE_FAILED;
  }
  mf->pData = static_cast<unsigned char *>(malloc(length > 0 ? static_cast<size_t>(length) : 1));
  if (mf->pData == nullptr) {
    zl_trace(pPng->pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    free(mf);
    fclose(f);
    return ZARE_FAILED;
  }
  const size_t got = fread(mf->pData, 1, static_cast<size_t>(length), f);
  fclose(f);
  int result = -1;
  if (got == static_cast<size_t>(length)) {
    mf->iSize = static_cast<int32_t>(length);
    mf->iPos = 0;
    result = zare_png_loadFromMem(pPng, mf);
  }
  // The decoder keeps copies of all it needs, so the file's bytes go now.
  free(mf->pData);
  free(mf);
  return result;
}

// Writes the unfiltered pixel rows without a header; ZARE_FAILED when there are none or the file
// cannot be written.
int zare_png_saveRAW(zare_png_t *pPng, const char *pszFilename) {
  if (pPng == nullptr || pPng->pData == nullptr || pszFilename == nullptr) {
    return ZARE_FAILED;
  }
  FILE *f = fopen(pszFilename, "wb");
  if (f == nullptr) {
    return ZARE_FAILED;
  }
  const size_t written = fwrite(pPng->pData, 1, pPng->iSize, f);
  const int closed = fclose(f);
  return written == pPng->iSize && closed == 0 ? ZARE_OK : ZARE_FAILED;
}

// Prints the IHDR fields on standard output, one line each; nothing without a decoder or header.
void zare_png_printInfo(zare_png_t *pp) {
  if (pp == nullptr || pp->pIHDR == nullptr) {
    return;
  }
  const zare_png_IHDR_t *h = pp->pIHDR;
  printf("\tWidth: %ld\n", static_cast<long>(h->width));
  printf("\tHeight: %ld\n", static_cast<long>(h->height));
  printf("\tBit depth: %d\n", h->bitDepth);
  printf("\tColor type: %d\n", h->colorType);
  printf("\tCompression method: %d\n", h->compressionMethod);
  printf("\tFilter method: %d\n", h->filterMethod);
  printf("\tInterlace method: %d\n", h->interlaceMethod);
}

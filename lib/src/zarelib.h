// zare: the public interface of the resource library (context, packs, memory files, images).
//
// Every call goes through a context made by zare_new. The library prints nothing of its own
// (but for the PNG decoder's message about an unsupported row filter): what went wrong is written
// into the context's trace window, which zare_getTrace hands out as one string, and an image
// load's result code is kept for zare_lastError.
#ifndef ZARE_ZARELIB_H
#define ZARE_ZARELIB_H

#include <cstdint>

// The context handle. Callers never see its fields: inside the library it is the address of a
// zl_t (zarelib_internal.h).
typedef void *zare_lib_t;

// A pack as the registry slots declare it. The library reads the registered address as a raw
// pack image and never looks at these two fields; the demo registers the image's own address.
struct zare_data_t {
  void *data;
  int32_t size;
};

// A read cursor over a file's bytes inside a registered pack: pData and iSize point into the pack
// (not owned, valid while the pack is), iPos is the read position.
struct zare_memfile_t {
  unsigned char *pData;
  int32_t iSize;
  int32_t iPos;
};

// 256 entries of red, green, blue, each holding the PNG's byte value 0..255; num entries are in use.
struct zare_image_pal_t {
  uint16_t data[768];
  uint16_t num;
};

// An indexed image: width x height palette indices, rows from the top.
struct zare_image_t {
  uint16_t width;
  uint16_t height;
  unsigned char *data;
  uint8_t mode;
  zare_image_pal_t *palette;
};

// Result codes. Functions that return a record give null instead of a failure code.
constexpr int32_t ZARE_OK = 0;
// A step failed: no such name in the pack, damaged data, or memory ran out.
constexpr int32_t ZARE_FAILED = -1;
// The PNG decoder's IDAT buffer could not be allocated or grown (zare_png_addIDATFromChunk only;
// the load that meets it reports ZARE_FAILED).
constexpr int32_t ZARE_ERR_IDAT_BUFFER = -2;
// The data does not begin with the 8-byte PNG signature, or is shorter than 8 bytes.
constexpr int32_t ZARE_ERR_NOT_PNG = 4097;

// A new context with an empty registry, last error ZARE_OK and "Started" in its trace; null when
// memory runs out. The caller owns it and releases it with zare_delete.
zare_lib_t *zare_new(void);

// Releases the context and its trace texts; the packs registered with it stay the caller's.
// Always ZARE_OK; a null handle is ignored.
int zare_delete(zare_lib_t *lib);

// The result code of the context's last zare_imageFromPNG: ZARE_OK, ZARE_FAILED or
// ZARE_ERR_NOT_PNG; ZARE_FAILED for a null handle.
int32_t zare_lastError(zare_lib_t *lib);

// The trace window of the context as one string, its texts oldest first with no separator.
// The buffer is one for the whole process, shared by every context: it is overwritten by the next
// call for any context, stays valid until the process ends, and is never the caller's to free.
char *zare_getTrace(zare_lib_t *lib);

// Registers a pack image in the context's next free slot; the pack stays the caller's and must
// outlive every memory file taken from it. ZARE_OK, or ZARE_FAILED when all 16 slots are taken
// or the handle is null.
int zare_dar_add(zare_lib_t *lib, zare_data_t *pack);

// A new, empty memory file (pData null, iSize and iPos 0), owned by the caller and released
// with free(); null when memory runs out.
zare_memfile_t *zare_memfile_new(zare_lib_t *lib);

// Points the memory file at the named entry of the first registered pack, read position 0:
// ZARE_OK. ZARE_FAILED when the name is not there or the pack is damaged; the memory file then
// keeps what it held.
int32_t zare_memfile_load(zare_lib_t *lib, zare_memfile_t *mf, const char *name);

// Decodes the named 8-bit indexed PNG of the first registered pack into a new image record with
// its palette, owned by the caller and released with zare_image_delete; null on failure, with the
// result code kept for zare_lastError.
zare_image_t *zare_imageFromPNG(zare_lib_t *lib, const char *name);

// Releases an image record with its pixels and palette and sets the caller's pointer to null.
// Always ZARE_OK; a null pointer, or a pointer to null, is ignored.
int zare_image_delete(zare_lib_t *lib, zare_image_t **image);

#endif

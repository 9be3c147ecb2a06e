// zare: the library context, its trace output, and the image entry points.
#include <cstdlib>
#include <cstring>

#include "memfile.h"
#include "png.h"
#include "zarelib.h"
#include "zarelib_internal.h"

// The static first text of every context.
char *zl_startedText(void) {
  static char info[8] = "Started";
  return info;
}

// Creates a zeroed context (empty registry, last error 0) with "Started" as its only trace text;
// null when out of memory.
zare_lib_t *zare_new(void) {
  zl_t *pzl = static_cast<zl_t *>(calloc(1, sizeof(zl_t)));
  if (pzl == nullptr) {
    return nullptr;
  }
  pzl->traceFmt[ZL_NUM_TRACE - 1] = zl_startedText();
  return reinterpret_cast<zare_lib_t *>(pzl);
}

// Releases the context and its trace texts; registered packs belong to the caller.
int zare_delete(zare_lib_t *lib) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pzl == nullptr) {
    return ZARE_OK;
  }
  for (char *text : pzl->traceFmt) {
    if (text != zl_startedText()) {
      free(text);
    }
  }
  free(pzl);
  return ZARE_OK;
}

// The result code of the context's last image load.
int32_t zare_lastError(zare_lib_t *lib) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  return pzl ? pzl->lastError : ZARE_FAILED;
}

// The trace window as one string, oldest text first, in one buffer shared by all contexts.
char *zare_getTrace(zare_lib_t *lib) {
  constexpr size_t kBufferSize = 1000;
  static char *buffer = nullptr;
  static char none[1];
  if (buffer == nullptr) {
    buffer = static_cast<char *>(malloc(kBufferSize));
    if (buffer == nullptr) {
      none[0] = '\0';
      return none;
    }
  }
  buffer[0] = '\0';
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pzl == nullptr) {
    return buffer;
  }
  size_t used = 0;
  for (const char *text : pzl->traceFmt) {
    if (text == nullptr) {
      continue;
    }
    size_t len = strnlen(text, ZL_TRACE_TEXT - 1);
    if (len > kBufferSize - 1 - used) {
      len = kBufferSize - 1 - used;
    }
    memcpy(buffer + used, text, len);
    used += len;
  }
  buffer[used] = '\0';
  return buffer;
}

// Releases a failed image load's decoder, notes the failure and yields no image.
static zare_image_t *zare_imageFail(zl_t *pzl, zare_png_t **ppPng, int32_t code) {
  zare_png_delete(ppPng);
  pzl->lastError = code;
  return nullptr;
}

// Decodes the named PNG of the registered pack into an indexed image record with its palette.
zare_image_t *zare_imageFromPNG(zare_lib_t *lib, const char *name) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pzl == nullptr) {
    return nullptr;
  }
  zare_memfile_t mf = {nullptr, 0, 0};
  pzl->lastError = zare_memfile_load(lib, &mf, name);

  zare_png_t *png = zare_png_new(lib);
  zl_trace(pzl, ZL_MSG_PNG_NEW, reinterpret_cast<intptr_t>(png));
  if (png == nullptr) {
    return zare_imageFail(pzl, &png, ZARE_FAILED);
  }

  int32_t result = zare_png_loadFromMem(png, &mf);
  // The image record is indexed only: anything but 8-bit palette images is refused.
  if (result == ZARE_OK && (png->pIHDR->colorType != 3 || png->pIHDR->bitDepth != 8)) {
    result = ZARE_FAILED;
  }
  pzl->lastError = result;
  zl_trace(pzl, ZL_MSG_PNG_LOADFROMMEM, result);
  if (result != ZARE_OK) {
    return zare_imageFail(pzl, &png, result);
  }

  zare_image_t *image = static_cast<zare_image_t *>(calloc(1, sizeof(zare_image_t)));
  if (image == nullptr) {
    zl_trace(pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    return zare_imageFail(pzl, &png, ZARE_FAILED);
  }
  image->width = static_cast<uint16_t>(png->pIHDR->width);
  image->height = static_cast<uint16_t>(png->pIHDR->height);
  image->mode = 1;
  // The decoder's unfiltered rows are exactly width x height indices; the image takes them over.
  image->data = png->pData;
  png->pData = nullptr;
  png->iSize = 0;

  image->palette = static_cast<zare_image_pal_t *>(calloc(1, sizeof(zare_image_pal_t)));
  if (image->palette == nullptr) {
    zl_trace(pzl, ZL_MSG_OUT_OF_MEMORY, 0);
    zare_image_delete(lib, &image);
    return zare_imageFail(pzl, &png, ZARE_FAILED);
  }
  const zare_png_PLTE_t *plte = png->pPLTE;
  for (int i = 0; i <= plte->num; ++i) {
    image->palette->data[3 * i] = plte->data[3 * i];
    image->palette->data[3 * i + 1] = plte->data[3 * i + 1];
    image->palette->data[3 * i + 2] = plte->data[3 * i + 2];
  }
  image->palette->num = static_cast<uint16_t>(plte->num + 1);
  zl_trace(pzl, ZL_MSG_PALETTE_ENTRIES, image->palette->num);

  zare_png_delete(&png);
  zl_trace(pzl, ZL_MSG_IMAGE, reinterpret_cast<intptr_t>(image));
  return image;
}

// Releases an image record with its palette and pixels and clears the caller's pointer.
int zare_image_delete(zare_lib_t *, zare_image_t **image) {
  if (image == nullptr || *image == nullptr) {
    return ZARE_OK;
  }
  free((*image)->palette);
  free((*image)->data);
  free(*image);
  *image = nullptr;
  return ZARE_OK;
}

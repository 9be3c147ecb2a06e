// zare: memory files, handed out from the first registered pack without copying.
#include <cstdlib>

#include "data.h"
#include "memfile.h"
#include "zarelib_internal.h"

// A new, empty memory file; null when out of memory.
zare_memfile_t *zare_memfile_new(zare_lib_t *) {
  return static_cast<zare_memfile_t *>(calloc(1, sizeof(zare_memfile_t)));
}

// Points the memory file at the named entry of the first registered pack; ZARE_FAILED if it is not
// there.
int32_t zare_memfile_load(zare_lib_t *lib, zare_memfile_t *mf, const char *name) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pzl == nullptr) {
    return ZARE_FAILED;
  }
  zl_trace(pzl, ZL_MSG_SEARCHING, reinterpret_cast<intptr_t>(name));
  const unsigned char *pack = nullptr;
  if (pzl->iNumZdar > 0) {
    pack = reinterpret_cast<const unsigned char *>(pzl->zdar[0]);
  }
  int32_t pos = -1;
  if (pack != nullptr && mf != nullptr) {
    pos = zare_dar_getPos(lib, pack, name);
  }
  if (pos < 0) {
    zl_trace(pzl, ZL_MSG_COULDNT_FIND, reinterpret_cast<intptr_t>(name));
    return ZARE_FAILED;
  }
  zl_trace(pzl, ZL_MSG_FOUND, pos);
  if (pos > zare_dar_totalLength(pack)) {
    zl_trace(pzl, ZL_MSG_SOMETHING_WRONG, pos);
    return ZARE_FAILED;
  }
  const int32_t size = zare_dar_getSize(pack, pos);
  if (size < 0) {
    zl_trace(pzl, ZL_MSG_COULDNT_FIND, reinterpret_cast<intptr_t>(name));
    return ZARE_FAILED;
  }
  mf->pData = zare_dar_getData(pack, pos);
  mf->iSize = size;
  mf->iPos = 0;
  return ZARE_OK;
}

// Bytes left to read from the read position on.
int64_t zare_memfile_left(const zare_memfile_t *mf) {
  if (mf == nullptr || mf->pData == nullptr || mf->iSize < 0 || mf->iPos < 0 || mf->iPos > mf->iSize) {
    return 0;
  }
  return static_cast<int64_t>(mf->iSize) - mf->iPos;
}

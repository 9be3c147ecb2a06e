// zare: the pack registry and the name lookup; every field read is checked against the pack's length.
#include <cstdint>
#include <cstring>

#include "data.h"
#include "packlayout.h"
#include "zarelib_internal.h"

// Reads an unaligned little-endian u32.
static uint32_t zare_dar_u32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Reads an unaligned little-endian u16.
static uint16_t zare_dar_u16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Registers a pack image in the next free slot; ZARE_FAILED when all 16 slots are taken.
int zare_dar_add(zare_lib_t *lib, zare_data_t *pack) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pzl == nullptr || pzl->iNumZdar < 0 || pzl->iNumZdar >= ZL_NUM_DAR) {
    return ZARE_FAILED;
  }
  pzl->zdar[pzl->iNumZdar] = pack;
  pzl->iNumZdar++;
  return ZARE_OK;
}

// The pack's total length, the one field of a registered pack that has to be trusted.
int32_t zare_dar_totalLength(const unsigned char *pDAR) {
  return static_cast<int32_t>(zare_dar_u32(pDAR + ZARE_DAR_TOTAL_AT));
}

// Finds the entry offset of the first directory record named pszName; ZARE_FAILED if none or the
// pack is damaged.
int32_t zare_dar_getPos(zare_lib_t *lib, const unsigned char *pDAR, const char *pszName) {
  zl_t *pzl = reinterpret_cast<zl_t *>(lib);
  if (pDAR == nullptr || pszName == nullptr || memcmp(pDAR, ZARE_DAR_MAGIC, sizeof ZARE_DAR_MAGIC) != 0) {
    return ZARE_FAILED;
  }
  const int64_t iSize = zare_dar_totalLength(pDAR);
  zl_trace(pzl, ZL_MSG_SIZE, static_cast<intptr_t>(iSize));
  if (iSize < ZARE_DAR_HEADER) {
    return ZARE_FAILED;
  }
  const int64_t iDirOffset = zare_dar_u32(pDAR + iSize - ZARE_DAR_TRAILER + ZARE_DAR_TRAILER_DIR_AT);
  zl_trace(pzl, ZL_MSG_DIR_OFFSET, static_cast<intptr_t>(iDirOffset));
  if (iDirOffset + ZARE_DAR_DIR_HEADER > iSize ||
      memcmp(pDAR + iDirOffset, ZARE_DAR_TAG_DIR, sizeof ZARE_DAR_TAG_DIR) != 0) {
    return ZARE_FAILED;
  }
  const int64_t iNum = zare_dar_u16(pDAR + iDirOffset + ZARE_DAR_DIR_COUNT_AT);
  zl_trace(pzl, ZL_MSG_DIR_ENTRIES, static_cast<intptr_t>(iNum));
  const int64_t iNameTable = iDirOffset + ZARE_DAR_DIR_HEADER + ZARE_DAR_DIR_RECORD * iNum;
  if (iNameTable > iSize) {
    return ZARE_FAILED;
  }
  for (int64_t iCnt = 0; iCnt < iNum; ++iCnt) {
    const unsigned char *record = pDAR + iDirOffset + ZARE_DAR_DIR_HEADER + ZARE_DAR_DIR_RECORD * iCnt;
    const int64_t dataOffset = zare_dar_u32(record);
    zl_trace(pzl, ZL_MSG_DATA_OFFSET, static_cast<intptr_t>(dataOffset));
    const int64_t nameOffset = zare_dar_u16(record + ZARE_DAR_RECORD_NAME_AT);
    zl_trace(pzl, ZL_MSG_NAME_OFFSET, static_cast<intptr_t>(nameOffset));
    const int64_t namePos = iNameTable + nameOffset;
    if (namePos >= iSize) {
      continue;
    }
    // A name that is not terminated inside the pack matches nothing.
    const char *name = reinterpret_cast<const char *>(pDAR + namePos);
    if (memchr(name, '\0', static_cast<size_t>(iSize - namePos)) == nullptr || strcmp(name, pszName) != 0) {
      continue;
    }
    zl_trace(pzl, ZL_MSG_DATA_OFFSET_FOUND, static_cast<intptr_t>(dataOffset));
    return dataOffset <= INT32_MAX ? static_cast<int32_t>(dataOffset) : ZARE_FAILED;
  }
  return ZARE_FAILED;
}

// The data length of the entry at iOffset; ZARE_FAILED when its header or its data reach past the
// pack's end.
int32_t zare_dar_getSize(const unsigned char *pDAR, int32_t iOffset) {
  if (pDAR == nullptr || iOffset < 0) {
    return ZARE_FAILED;
  }
  const int64_t iSize = zare_dar_totalLength(pDAR);
  if (static_cast<int64_t>(iOffset) + ZARE_DAR_ENTRY_HEADER > iSize) {
    return ZARE_FAILED;
  }
  const int64_t n = zare_dar_u32(pDAR + iOffset + ZARE_DAR_ENTRY_LENGTH_AT);
  if (iOffset + ZARE_DAR_ENTRY_HEADER + n > iSize) {
    return ZARE_FAILED;
  }
  return static_cast<int32_t>(n);
}

// The first data byte of the entry at iOffset; null when the entry does not fit in the pack.
unsigned char *zare_dar_getData(const unsigned char *pDAR, int32_t iOffset) {
  if (zare_dar_getSize(pDAR, iOffset) < 0) {
    return nullptr;
  }
  return const_cast<unsigned char *>(pDAR) + iOffset + ZARE_DAR_ENTRY_HEADER;
}

// zare: the library context record and the trace function, shared by the library's modules.
#ifndef ZARE_ZARELIB_INTERNAL_H
#define ZARE_ZARELIB_INTERNAL_H

#include <cstdint>

#include "zarelib.h"

// Registry slots, trace window slots, bytes per trace text.
constexpr int ZL_NUM_DAR = 16;
constexpr int ZL_NUM_TRACE = 10;
constexpr int ZL_TRACE_TEXT = 100;

// The library context behind a zare_lib_t handle.
struct zl_t {
  zare_data_t *zdar[ZL_NUM_DAR];
  int32_t iNumZdar;
  int32_t lastError;
  char *traceFmt[ZL_NUM_TRACE];
  int32_t traceValue[ZL_NUM_TRACE];
};

// Message numbers of zl_trace_msgs; callers pass these, never the texts. The table's first and
// last entries (0 and ZL_MSG_NONE_LAST) are empty texts that nobody writes.
enum : int {
  ZL_MSG_PNG_NEW = 1,
  ZL_MSG_PNG_LOADFROMMEM = 2,
  ZL_MSG_OUT_OF_MEMORY = 3,
  ZL_MSG_PALETTE_ENTRIES = 4,
  ZL_MSG_IMAGE = 5,
  ZL_MSG_SIZE = 6,
  ZL_MSG_DIR_OFFSET = 7,
  ZL_MSG_DIR_ENTRIES = 8,
  ZL_MSG_DATA_OFFSET = 9,
  ZL_MSG_NAME_OFFSET = 10,
  ZL_MSG_DATA_OFFSET_FOUND = 11,
  ZL_MSG_SEARCHING = 12,
  ZL_MSG_COULDNT_FIND = 13,
  ZL_MSG_FOUND = 14,
  ZL_MSG_SOMETHING_WRONG = 15,
  ZL_MSG_ZARE_PNG_NEW = 16,
  ZL_MSG_INVALID_SIGNATURE = 17,
  ZL_MSG_IDAT = 18,
  ZL_MSG_IHDR = 19,
  ZL_MSG_IEND = 20,
  ZL_MSG_PLTE = 21,
  ZL_MSG_NONE_LAST = 22,
};

// Entries of the message table; zl.cpp checks that its table has exactly these.
constexpr int ZL_NUM_MSGS = ZL_MSG_NONE_LAST + 1;
extern const char *const zl_trace_msgs[];

// Formats message msg with its value into a new text at the newest end of the trace window.
// The value is pointer-wide: a number, or the address of a text for the "%s" messages.
int32_t zl_trace(zl_t *pzl, int msg, intptr_t value);

// The static text "Started" that every new context holds first; it is never released.
char *zl_startedText(void);

#endif

// zare: the trace window, the library's diagnostic channel.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "zarelib_internal.h"

const char *const zl_trace_msgs[] = {
    "",
    "png new: %08x",
    "png loadFromMem %d",
    "OUT OF MEMORY",
    "palette entries: %ld",
    "image %08x",
    "Size: %ld",
    "Dir offset: %ld",
    "Dir entries: %ld",
    "data offset: %ld",
    "name offset: %ld",
    "data offset: %ld",
    "searching %s",
    "couldn't find %s",
    "found @ %d",
    "somthing is wrong pos was %ld",
    "zare_png_new",
    "invalid png signature",
    "IDAT",
    "IHDR",
    "IEND",
    "PLTE",
    "",
};
static_assert(std::size(zl_trace_msgs) == ZL_NUM_MSGS, "the message table and its message numbers disagree");

// Formats one message into buf: the text before and after its one conversion is copied, and the
// value is converted to the type that conversion expects (int, long, text, or a full address).
static int zl_format(char *buf, size_t cap, const char *fmt, intptr_t value) {
  std::string_view f(fmt);
  size_t pct = f.find('%');
  if (pct == std::string_view::npos) {
    return snprintf(buf, cap, "%s", fmt);
  }
  int headLen = static_cast<int>(pct);
  size_t i = pct + 1;
  bool zeroPad8 = false;
  if (f.substr(i, 2) == "08") {
    zeroPad8 = true;
    i += 2;
  }
  bool isLong = false;
  if (i < f.size() && f[i] == 'l') {
    isLong = true;
    ++i;
  }
  char conv = i < f.size() ? f[i] : '\0';
  const char *tail = conv ? fmt + i + 1 : "";
  switch (conv) {
    case 'd':
      if (isLong) {
        return snprintf(buf, cap, "%.*s%ld%s", headLen, fmt, static_cast<long>(value), tail);
      }
      return snprintf(buf, cap, "%.*s%d%s", headLen, fmt, static_cast<int>(value), tail);
    case 'x':
      if (zeroPad8) {
        return snprintf(buf, cap, "%.*s%08" PRIxPTR "%s", headLen, fmt, static_cast<uintptr_t>(value), tail);
      }
      return snprintf(buf, cap, "%.*s%" PRIxPTR "%s", headLen, fmt, static_cast<uintptr_t>(value), tail);
    case 's': {
      const char *text = value ? reinterpret_cast<const char *>(value) : "";
      return snprintf(buf, cap, "%.*s%s%s", headLen, fmt, text, tail);
    }
    default:
      return snprintf(buf, cap, "%s", fmt);
  }
}

// Releases a trace text unless it is the static "Started".
static void zl_releaseText(char *text) {
  if (text != zl_startedText()) {
    free(text);
  }
}

// Writes one trace entry: the window slides one slot, the oldest text is released, and the
// new text (cut at 99 characters) goes into slot 9. A failed allocation skips the entry.
int32_t zl_trace(zl_t *pzl, int msg, intptr_t value) {
  if (pzl == nullptr || msg < 0 || msg >= ZL_NUM_MSGS) {
    return -1;
  }
  char *text = static_cast<char *>(malloc(ZL_TRACE_TEXT));
  if (text == nullptr) {
    return 0;
  }
  zl_releaseText(pzl->traceFmt[0]);
  for (int i = 0; i < ZL_NUM_TRACE - 1; ++i) {
    pzl->traceFmt[i] = pzl->traceFmt[i + 1];
    pzl->traceValue[i] = pzl->traceValue[i + 1];
  }
  int n = zl_format(text, ZL_TRACE_TEXT, zl_trace_msgs[msg], value);
  if (n < 0) {
    text[0] = '\0';
    n = 0;
  } else if (n >= ZL_TRACE_TEXT) {
    n = ZL_TRACE_TEXT - 1;
  }
  pzl->traceFmt[ZL_NUM_TRACE - 1] = text;
  pzl->traceValue[ZL_NUM_TRACE - 1] = 0;
  return n;
}

// The wrapped allocators: each counts its blocks, or fails when failIn says so.
#include "failalloc.h"

long failIn = -1;
size_t failedSize = 0;
size_t largestAsked = 0;
long liveBlocks = 0;

// Notes the size asked for; true for the allocation that is to fail.
static bool failNow(size_t n) {
  largestAsked = n > largestAsked ? n : largestAsked;
  if (failIn < 0 || failIn-- != 0) return false;
  failedSize = n;
  return true;
}

extern "C" {
void *__real_malloc(size_t n);
void *__real_calloc(size_t n, size_t size);
void *__real_realloc(void *p, size_t n);
void __real_free(void *p);
void *__wrap_malloc(size_t n) { return failNow(n) ? nullptr : (++liveBlocks, __real_malloc(n)); }
void *__wrap_calloc(size_t n, size_t s) { return failNow(n * s) ? nullptr : (++liveBlocks, __real_calloc(n, s)); }
void *__wrap_realloc(void *p, size_t n) { return failNow(n) ? nullptr : (liveBlocks += !p, __real_realloc(p, n)); }
void __wrap_free(void *p) { liveBlocks -= p != nullptr, __real_free(p); }
}

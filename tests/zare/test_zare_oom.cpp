// Allocation failures inside the library: each one is reported by a result, never dereferenced,
// and leaks nothing. The library's malloc, calloc and realloc are wrapped at link time so the
// n-th allocation of a call can be made to fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "png.h"
#include "zare_test_util.h"
#include "zarelib.h"
#include "zarelib_internal.h"

extern "C" {
void *__real_malloc(size_t n);
void *__real_calloc(size_t n, size_t size);
void *__real_realloc(void *p, size_t n);
}

namespace {
// Allocations left before the failing one; negative means none fails.
long failIn = -1;
long failures = 0;

bool failNow() {
  if (failIn < 0) return false;
  if (failIn-- == 0) {
    ++failures;
    return true;
  }
  return false;
}
}  // namespace

extern "C" {
void *__wrap_malloc(size_t n) { return failNow() ? nullptr : __real_malloc(n); }
void *__wrap_calloc(size_t n, size_t size) { return failNow() ? nullptr : __real_calloc(n, size); }
void *__wrap_realloc(void *p, size_t n) { return failNow() ? nullptr : __real_realloc(p, n); }
}

namespace {

TEST(ZareOutOfMemory, EveryAllocationOfAnImageLoadMayFail) {
  IndexedImage img = makeImage(64, 48, 30, true, 5);
  // Stored blocks make the IDAT buffer grow, so its realloc is among the allocations.
  Bytes png = writeIndexedPng(img, 500, 0);
  Bytes pack = buildPack({{"data/a.png", png}});
  bool succeeded = false;
  int outOfMemoryTraces = 0;
  for (long n = 0; n < 400 && !succeeded; ++n) {
    zare_lib_t *lib = zare_new();
    ASSERT_NE(lib, nullptr);
    zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
    failures = 0;
    failIn = n;
    zare_image_t *out = zare_imageFromPNG(lib, "data/a.png");
    failIn = -1;
    const std::string trace = zare_getTrace(lib);
    if (out != nullptr) {
      // Only a trace text can have been lost; the image itself is whole.
      EXPECT_EQ(0, memcmp(out->data, img.indices.data(), img.indices.size())) << n;
      EXPECT_EQ(out->palette->num, 30);
      EXPECT_EQ(zare_lastError(lib), 0);
      succeeded = failures == 0;
      zare_image_delete(lib, &out);
    } else {
      EXPECT_EQ(failures, 1) << n;
      EXPECT_EQ(zare_lastError(lib), -1) << n << ": " << trace;
      outOfMemoryTraces += trace.find("OUT OF MEMORY") != std::string::npos;
    }
    zare_delete(lib);
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GE(outOfMemoryTraces, 5);
}

TEST(ZareOutOfMemory, ContextAndTraceAndMemoryFile) {
  failIn = 0;
  EXPECT_EQ(zare_new(), nullptr);
  zare_lib_t *lib = zare_new();
  ASSERT_NE(lib, nullptr);
  failIn = 0;
  EXPECT_EQ(zare_memfile_new(lib), nullptr);
  // A trace entry that cannot be allocated is skipped.
  failIn = 0;
  EXPECT_EQ(zl_trace(reinterpret_cast<zl_t *>(lib), ZL_MSG_IDAT, 0), 0);
  failIn = -1;
  EXPECT_STREQ(zare_getTrace(lib), "Started");
  failIn = 1;
  EXPECT_EQ(zare_png_new(lib), nullptr);
  failIn = -1;
  EXPECT_STREQ(zare_getTrace(lib), "Startedzare_png_newOUT OF MEMORY");
  zare_delete(lib);
}

}  // namespace

// Allocation failures inside the library, the n-th allocation of a load failing through the wrapped
// allocators: a result each time, never a crash; a lost trace text costs nothing else; "OUT OF
// MEMORY" for every other failure but the chunk reader's; nothing leaked (LeakSanitizer).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "failalloc.h"
#include "files.h"
#include "png.h"
#include "tempfolder.h"
#include "zaretest.h"

namespace {

TEST(ZareOutOfMemory, EveryAllocationOfAnImageLoadMayFail) {
  const Indexed img = makeImage(64, 48, 30, true, 5);
  // Stored blocks in small chunks make the IDAT buffer grow, so its realloc is among the allocations.
  const Bytes pack = makePack({{"data/a.png", writePng(img, 500, 0)}});
  bool whole = false;
  zare_getTrace(nullptr);  // the trace's one buffer, made once and kept
  for (long n = 0; n < 500 && !whole; ++n) {
    const long before = liveBlocks;
    zare_lib_t *lib = zare_new();
    zare_dar_add(lib, reinterpret_cast<zare_data_t *>(const_cast<uint8_t *>(pack.data())));
    failedSize = 0;
    failIn = n;
    zare_image_t *out = zare_imageFromPNG(lib, "data/a.png");
    failIn = -1;
    const std::string trace = zare_getTrace(lib);
    const std::string what = "allocation " + std::to_string(n) + " of " + std::to_string(failedSize) + " bytes";
    // A chunk record that cannot be made ends the chunk walk; the image record is made after the decode.
    const bool chunkRecord =
        failedSize == sizeof(zare_png_chunk_t) && (out || trace.find("loadFromMem 0") == std::string::npos);
    if (failedSize == 0 || failedSize == ZL_TRACE_TEXT || (chunkRecord && out)) {
      // Nothing failed, only a trace text was lost, or the walk ended after the last image data.
      ASSERT_NE(out, nullptr) << what;
      EXPECT_EQ(Bytes(out->data, out->data + img.indices.size()), img.indices) << what;
      EXPECT_EQ(out->palette->num, 30);
      EXPECT_EQ(zare_lastError(lib), 0) << what;
      whole = failedSize == 0;
    } else {
      EXPECT_EQ(out, nullptr) << what;
      EXPECT_EQ(zare_lastError(lib), -1) << what << ": " << trace;
      EXPECT_EQ(trace.find("OUT OF MEMORY") != std::string::npos, !chunkRecord) << what << ": " << trace;
    }
    zare_image_delete(lib, &out);
    zare_delete(lib);
    EXPECT_EQ(liveBlocks, before) << what;
  }
  EXPECT_TRUE(whole);
}

TEST(ZareOutOfMemory, ContextTraceAndMemoryFile) {
  failIn = 0;
  EXPECT_EQ(zare_new(), nullptr);
  zare_lib_t *lib = zare_new();
  failIn = 0;
  EXPECT_EQ(zare_memfile_new(lib), nullptr);
  failIn = 0;
  EXPECT_EQ(zl_trace(reinterpret_cast<zl_t *>(lib), ZL_MSG_IDAT, 0), 0);
  EXPECT_STREQ(zare_getTrace(lib), "Started");
  for (long n : {1, 2, 3, 4}) {
    failIn = n;
    EXPECT_EQ(zare_png_new(lib), nullptr) << n;
    failIn = -1;
    EXPECT_TRUE(std::string(zare_getTrace(lib)).ends_with("zare_png_newOUT OF MEMORY")) << n;
  }
  // Decompressing again replaces the rows, and the old ones are freed. With the trace window
  // full, each new text frees the oldest.
  const Bytes bytes = writePng(makeImage(8, 4, 3, true, 1));
  zare_memfile_t mf = {const_cast<uint8_t *>(bytes.data()), int32_t(bytes.size()), 0};
  for (int i = 0; i < 10; ++i) zl_trace(reinterpret_cast<zl_t *>(lib), ZL_MSG_IDAT, 0);
  const long before = liveBlocks;
  zare_png_t *png = zare_png_new(lib);
  ASSERT_EQ(zare_png_loadFromMem(png, &mf), 0);
  EXPECT_EQ(zare_png_decompress(png), 0);
  zare_png_delete(&png);
  EXPECT_EQ(liveBlocks, before);
  // No memory for a file's bytes, or for their record: the load fails and keeps neither, nor the file open.
  const long filesBefore = openFileCount();
  const TempFolder tmp;
  std::string error;
  ASSERT_TRUE(fileWrite((tmp / "a.png").string(), bytes, error)) << error;
  for (long n : {0, 1}) {
    png = zare_png_new(lib);
    failIn = n;
    EXPECT_EQ(zare_png_loadFromFile(png, (tmp / "a.png").c_str()), ZARE_FAILED) << n;
    failIn = -1;
    zare_png_delete(&png);
    EXPECT_EQ(liveBlocks, before) << n;
    EXPECT_EQ(openFileCount(), filesBefore) << n;
  }
  // No memory for the image data's record gives -1, none for its buffer -2.
  png = zare_png_new(lib);
  Bytes ihdr = {0, 0, 0, 4, 0, 0, 0, 3, 8, 3, 0, 0, 0}, part(5, 1);
  zare_png_chunk_t header = {13, "IHDR", ZARE_PNG_IHDR, 0, ihdr.data(), 0};
  zare_png_chunk_t idat = {5, "IDAT", ZARE_PNG_IDAT, 0, part.data(), 0};
  ASSERT_EQ(zare_png_addIHDRFromChunk(png, &header), 0);
  EXPECT_EQ(zare_png_addIDATFromChunk(nullptr, &idat), -1);
  for (long n : {0, 1}) {
    failIn = n;
    EXPECT_EQ(zare_png_addIDATFromChunk(png, &idat), -1 - n);
    failIn = -1;
  }
  zare_png_delete(&png);
  zare_delete(lib);
}

}  // namespace

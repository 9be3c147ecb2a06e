// The library context: result code, trace window, trace formatting and the shared trace text.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "zarelib.h"
#include "zarelib_internal.h"

namespace {

struct Context {
  zare_lib_t *lib = zare_new();
  zl_t *zl() const { return reinterpret_cast<zl_t *>(lib); }
  ~Context() { zare_delete(lib); }
};

std::string trace(const Context &c) { return zare_getTrace(c.lib); }

TEST(ZareContext, NewContextHasNoErrorAndStarted) {
  Context c;
  ASSERT_NE(c.lib, nullptr);
  EXPECT_EQ(zare_lastError(c.lib), 0);
  EXPECT_EQ(trace(c), "Started");
  EXPECT_EQ(c.zl()->iNumZdar, 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(c.zl()->traceFmt[i], nullptr) << i;
  EXPECT_STREQ(c.zl()->traceFmt[9], "Started");
}

TEST(ZareContext, WindowKeepsTheLastTenOldestFirst) {
  Context c;
  std::string expected = "Started";
  for (int i = 0; i < 9; ++i) {
    zl_trace(c.zl(), ZL_MSG_FOUND, i);
    expected += "found @ " + std::to_string(i);
    EXPECT_EQ(trace(c), expected) << "after " << i + 1 << " entries";
    // The empty slots stay below "Started" until it reaches slot 0.
    EXPECT_STREQ(c.zl()->traceFmt[8 - i], "Started");
  }
  EXPECT_STREQ(c.zl()->traceFmt[0], "Started");
  zl_trace(c.zl(), ZL_MSG_FOUND, 9);
  EXPECT_EQ(trace(c), "found @ 0found @ 1found @ 2found @ 3found @ 4found @ 5found @ 6found @ 7found @ 8found @ 9");
  for (int i = 10; i < 500; ++i) zl_trace(c.zl(), ZL_MSG_FOUND, i);
  EXPECT_EQ(trace(c).substr(0, 11), "found @ 490");
  EXPECT_STREQ(c.zl()->traceFmt[9], "found @ 499");
  for (int32_t v : c.zl()->traceValue) EXPECT_EQ(v, 0);
}

TEST(ZareContext, NoSeparatorBetweenTexts) {
  Context c;
  zl_trace(c.zl(), ZL_MSG_IHDR, 0);
  zl_trace(c.zl(), ZL_MSG_PLTE, 0);
  EXPECT_EQ(trace(c), "StartedIHDRPLTE");
}

TEST(ZareContext, ValuesAreConvertedForTheirConversion) {
  Context c;
  const char *name = "data/organ.png";
  EXPECT_EQ(zl_trace(c.zl(), ZL_MSG_SEARCHING, reinterpret_cast<intptr_t>(name)), 24);
  EXPECT_STREQ(c.zl()->traceFmt[9], "searching data/organ.png");
  zl_trace(c.zl(), ZL_MSG_COULDNT_FIND, reinterpret_cast<intptr_t>(name));
  EXPECT_STREQ(c.zl()->traceFmt[9], "couldn't find data/organ.png");

  // An address keeps all its digits, and at least eight of them.
  int local = 0;
  char want[64];
  snprintf(want, sizeof want, "png new: %08" PRIxPTR, reinterpret_cast<uintptr_t>(&local));
  zl_trace(c.zl(), ZL_MSG_PNG_NEW, reinterpret_cast<intptr_t>(&local));
  EXPECT_STREQ(c.zl()->traceFmt[9], want);
  zl_trace(c.zl(), ZL_MSG_IMAGE, static_cast<intptr_t>(0x7f12345678abLL));
  EXPECT_STREQ(c.zl()->traceFmt[9], "image 7f12345678ab");
  zl_trace(c.zl(), ZL_MSG_PNG_NEW, 0x1f);
  EXPECT_STREQ(c.zl()->traceFmt[9], "png new: 0000001f");
  zl_trace(c.zl(), ZL_MSG_PNG_NEW, 0);
  EXPECT_STREQ(c.zl()->traceFmt[9], "png new: 00000000");

  zl_trace(c.zl(), ZL_MSG_PNG_LOADFROMMEM, -1);
  EXPECT_STREQ(c.zl()->traceFmt[9], "png loadFromMem -1");
  zl_trace(c.zl(), ZL_MSG_PNG_LOADFROMMEM, 4097);
  EXPECT_STREQ(c.zl()->traceFmt[9], "png loadFromMem 4097");
  zl_trace(c.zl(), ZL_MSG_SIZE, static_cast<intptr_t>(3000000000LL));
  EXPECT_STREQ(c.zl()->traceFmt[9], "Size: 3000000000");
  zl_trace(c.zl(), ZL_MSG_SOMETHING_WRONG, 2771670);
  EXPECT_STREQ(c.zl()->traceFmt[9], "somthing is wrong pos was 2771670");
  // A text without a conversion ignores the value.
  EXPECT_EQ(zl_trace(c.zl(), ZL_MSG_IDAT, 12345), 4);
  EXPECT_STREQ(c.zl()->traceFmt[9], "IDAT");
}

TEST(ZareContext, LongTextsAreCutAt99Characters) {
  Context c;
  const std::string name(300, 'n');
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(zl_trace(c.zl(), ZL_MSG_SEARCHING, reinterpret_cast<intptr_t>(name.c_str())), 99);
  }
  EXPECT_EQ(std::string(c.zl()->traceFmt[9]), "searching " + name.substr(0, 89));
  const std::string all = trace(c);
  EXPECT_EQ(all.size(), 990u);
  EXPECT_EQ(all.substr(99, 10), "searching ");
}

TEST(ZareContext, TraceTextIsSharedAndOverwritten) {
  Context a, b;
  zl_trace(b.zl(), ZL_MSG_IEND, 0);
  char *first = zare_getTrace(a.lib);
  EXPECT_STREQ(first, "Started");
  char *second = zare_getTrace(b.lib);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "StartedIEND");
}

TEST(ZareContext, MessageNumbersOutsideTheTableAreIgnored) {
  Context c;
  EXPECT_EQ(zl_trace(c.zl(), ZL_NUM_MSGS, 0), -1);
  EXPECT_EQ(zl_trace(c.zl(), -1, 0), -1);
  EXPECT_EQ(trace(c), "Started");
  EXPECT_STREQ(zl_trace_msgs[ZL_MSG_DATA_OFFSET], zl_trace_msgs[ZL_MSG_DATA_OFFSET_FOUND]);
}

TEST(ZareContext, DeleteReleasesAFullWindow) {
  // Run under LeakSanitizer: every text that left the window and every text left in it is released.
  for (int round = 0; round < 3; ++round) {
    zare_lib_t *lib = zare_new();
    for (int i = 0; i < 5 + 7 * round; ++i) zl_trace(reinterpret_cast<zl_t *>(lib), ZL_MSG_IDAT, 0);
    EXPECT_EQ(zare_delete(lib), 0);
  }
  EXPECT_EQ(zare_delete(nullptr), 0);
}

}  // namespace

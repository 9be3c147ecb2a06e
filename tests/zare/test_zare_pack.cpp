// The pack registry, the name lookup and memory files, on packs built in memory.
#include <gtest/gtest.h>

#include <string>

#include "data.h"
#include "memfile.h"
#include "zare_test_util.h"
#include "zarelib.h"
#include "zarelib_internal.h"

namespace {

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::vector<PackFile> threeFiles() {
  return {{"data/organ.png", text("\x89PNG organ data")},
          {"data/tune.mp3", text("ID3 tune data, a little longer")},
          {"data/tex-cow-env.png", text("cow")}};
}

struct Fixture : ::testing::Test {
  zare_lib_t *lib = zare_new();
  Bytes pack = buildPack(threeFiles());
  ~Fixture() override { zare_delete(lib); }

  void add(Bytes &p) { ASSERT_EQ(zare_dar_add(lib, reinterpret_cast<zare_data_t *>(p.data())), 0); }
  std::string trace() { return zare_getTrace(lib); }
  // Loads name from the registered pack; the memory file starts with a marker that a failure keeps.
  int32_t load(const char *name, zare_memfile_t &mf) {
    mf = {reinterpret_cast<unsigned char *>(&marker), 7, 3};
    return zare_memfile_load(lib, &mf, name);
  }
  bool untouched(const zare_memfile_t &mf) const {
    return mf.pData == reinterpret_cast<const unsigned char *>(&marker) && mf.iSize == 7 && mf.iPos == 3;
  }
  int marker = 0;
};

using ZarePack = Fixture;

TEST_F(ZarePack, FindsEveryFileWithoutCopying) {
  add(pack);
  const auto files = threeFiles();
  for (int k = 0; k < 3; ++k) {
    zare_memfile_t mf;
    ASSERT_EQ(load(files[k].name.c_str(), mf), 0) << files[k].name;
    EXPECT_EQ(mf.pData, pack.data() + packEntryOffset(pack, k) + 7);
    EXPECT_EQ(mf.iSize, static_cast<int32_t>(files[k].data.size()));
    EXPECT_EQ(mf.iPos, 0);
    EXPECT_EQ(Bytes(mf.pData, mf.pData + mf.iSize), files[k].data);
  }
  EXPECT_EQ(packEntryOffset(pack, 0), 8u);
}

TEST_F(ZarePack, LookupTraceOfRecordK) {
  add(pack);
  for (int k = 0; k < 3; ++k) {
    zare_lib_t *fresh = zare_new();
    const int32_t pos = zare_dar_getPos(fresh, pack.data(), threeFiles()[k].name.c_str());
    EXPECT_EQ(pos, static_cast<int32_t>(packEntryOffset(pack, k)));
    // Size, dir offset, count, two per record examined, the match: 3 + 2 (k + 1) + 1 entries.
    const zl_t *z = reinterpret_cast<zl_t *>(fresh);
    const int entries = 3 + 2 * (k + 1) + 1;
    if (entries < 10) {
      EXPECT_STREQ(z->traceFmt[9 - entries], "Started");
    }
    EXPECT_EQ(std::string(z->traceFmt[10 - entries]), "Size: " + std::to_string(pack.size()));
    EXPECT_EQ(std::string(z->traceFmt[11 - entries]), "Dir offset: " + std::to_string(packDirOffset(pack)));
    EXPECT_STREQ(z->traceFmt[12 - entries], "Dir entries: 3");
    zare_delete(fresh);
  }
  zare_memfile_t mf;
  ASSERT_EQ(load("data/tune.mp3", mf), 0);
  const std::string off = std::to_string(packEntryOffset(pack, 1));
  const std::string t = trace();
  EXPECT_NE(t.find("searching data/tune.mp3"), std::string::npos);
  const std::string tail = "data offset: " + off + "name offset: 15data offset: " + off + "found @ " + off;
  ASSERT_GE(t.size(), tail.size());
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

TEST_F(ZarePack, NamesAreExact) {
  add(pack);
  for (const char *name : {"Data/organ.png", "organ.png", "data/organ.png ", "data/organ.pn", "", "data/organ.png/"}) {
    zare_memfile_t mf;
    EXPECT_EQ(load(name, mf), -1) << '"' << name << '"';
    EXPECT_TRUE(untouched(mf));
    const std::string t = trace();
    EXPECT_EQ(t.substr(t.size() - 14 - strlen(name)), std::string("couldn't find ") + name);
  }
}

TEST_F(ZarePack, FirstOfTwoEqualNamesWins) {
  Bytes dup = buildPack({{"a", text("first")}, {"b", text("bee")}, {"a", text("second")}});
  add(dup);
  zare_memfile_t mf;
  ASSERT_EQ(load("a", mf), 0);
  EXPECT_EQ(std::string(mf.pData, mf.pData + mf.iSize), "first");
}

TEST_F(ZarePack, EmptyDirectoryFindsNothing) {
  Bytes empty = buildPack({});
  add(empty);
  zare_memfile_t mf;
  EXPECT_EQ(load("data/organ.png", mf), -1);
  EXPECT_TRUE(untouched(mf));
  EXPECT_EQ(trace(), "Startedsearching data/organ.pngSize: 20Dir offset: 8Dir entries: 0couldn't find data/organ.png");
}

TEST_F(ZarePack, WrongMagicTracesOnlyTheSearch) {
  pack[0] = 'z';
  add(pack);
  zare_memfile_t mf;
  EXPECT_EQ(load("data/organ.png", mf), -1);
  EXPECT_EQ(trace(), "Startedsearching data/organ.pngcouldn't find data/organ.png");
}

TEST_F(ZarePack, DirectoryOffsetMustLeadToDir) {
  putLE32(pack, pack.size() - 4, packDirOffset(pack) + 1);
  add(pack);
  zare_memfile_t mf;
  EXPECT_EQ(load("data/organ.png", mf), -1);
  EXPECT_TRUE(untouched(mf));
}

TEST_F(ZarePack, DamagedEndTagIsStillRead) {
  pack[pack.size() - 7] = 'X';
  pack[pack.size() - 5] = 0;
  add(pack);
  zare_memfile_t mf;
  EXPECT_EQ(load("data/tex-cow-env.png", mf), 0);
  EXPECT_EQ(std::string(mf.pData, mf.pData + mf.iSize), "cow");
}

TEST_F(ZarePack, OnlyTheFirstPackIsSearched) {
  Bytes other = buildPack({{"data/other.bin", text("other")}});
  add(pack);
  add(other);
  zare_memfile_t mf;
  EXPECT_EQ(load("data/other.bin", mf), -1);
  EXPECT_EQ(load("data/organ.png", mf), 0);
}

TEST_F(ZarePack, SeventeenthPackIsRefused) {
  for (int i = 0; i < 16; ++i) EXPECT_EQ(zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data())), 0);
  Bytes other = buildPack({});
  EXPECT_EQ(zare_dar_add(lib, reinterpret_cast<zare_data_t *>(other.data())), -1);
  EXPECT_EQ(reinterpret_cast<zl_t *>(lib)->iNumZdar, 16);
}

TEST_F(ZarePack, LoadWithoutAPackIsNotFound) {
  zare_memfile_t mf;
  EXPECT_EQ(load("data/organ.png", mf), -1);
  EXPECT_TRUE(untouched(mf));
  EXPECT_EQ(trace(), "Startedsearching data/organ.pngcouldn't find data/organ.png");
  EXPECT_EQ(zare_memfile_load(lib, nullptr, "x"), -1);
  EXPECT_EQ(zare_memfile_load(nullptr, &mf, "x"), -1);
}

TEST_F(ZarePack, NewMemoryFileIsEmptyAndReloadReplacesIt) {
  zare_memfile_t *mf = zare_memfile_new(lib);
  ASSERT_NE(mf, nullptr);
  EXPECT_EQ(mf->pData, nullptr);
  EXPECT_EQ(mf->iSize, 0);
  EXPECT_EQ(mf->iPos, 0);
  add(pack);
  ASSERT_EQ(zare_memfile_load(lib, mf, "data/organ.png"), 0);
  unsigned char *organ = mf->pData;
  mf->iPos = 5;
  EXPECT_EQ(zare_memfile_load(lib, mf, "nothing"), -1);
  EXPECT_EQ(mf->pData, organ);
  EXPECT_EQ(mf->iPos, 5);
  ASSERT_EQ(zare_memfile_load(lib, mf, "data/tex-cow-env.png"), 0);
  EXPECT_EQ(mf->iSize, 3);
  EXPECT_EQ(mf->iPos, 0);
  EXPECT_EQ(zare_lastError(lib), 0);
  free(mf);
}

// Damaged packs: the buffer is exactly the pack's length, so AddressSanitizer sees any read past it.
struct ZareDamagedPack : Fixture {
  // Loads name; expects failure with the given last trace text and an untouched memory file.
  void expectRefused(const char *name, const std::string &lastText) {
    zare_memfile_t mf;
    EXPECT_EQ(load(name, mf), -1);
    EXPECT_TRUE(untouched(mf));
    const std::string t = trace();
    ASSERT_GE(t.size(), lastText.size());
    EXPECT_EQ(t.substr(t.size() - lastText.size()), lastText);
  }
};

TEST_F(ZareDamagedPack, DirectoryOffsetPastTheEnd) {
  for (uint32_t dir : {static_cast<uint32_t>(pack.size()), static_cast<uint32_t>(pack.size() - 4), 0xFFFFFFF0u}) {
    Bytes p = pack;
    putLE32(p, p.size() - 4, dir);
    lib = (zare_delete(lib), zare_new());
    add(p);
    expectRefused("data/organ.png", "couldn't find data/organ.png");
  }
}

TEST_F(ZareDamagedPack, RecordCountPastTheEnd) {
  putLE16(pack, packDirOffset(pack) + 3, 0xFFFF);
  add(pack);
  expectRefused("data/organ.png", "Dir entries: 65535couldn't find data/organ.png");
}

TEST_F(ZareDamagedPack, NameOffsetPastTheEndSkipsTheRecord) {
  const uint32_t dir = packDirOffset(pack);
  putLE16(pack, dir + 5 + 4, 0xFFFF);
  add(pack);
  expectRefused("data/organ.png", "couldn't find data/organ.png");
  zare_memfile_t mf;
  EXPECT_EQ(load("data/tune.mp3", mf), 0);
}

TEST_F(ZareDamagedPack, EntryOffsetBeyondTotalLengthIsSomethingWrong) {
  const uint32_t bad = static_cast<uint32_t>(pack.size() + 1);
  putLE32(pack, packDirOffset(pack) + 5, bad);
  add(pack);
  const std::string n = std::to_string(bad);
  expectRefused("data/organ.png", "found @ " + n + "somthing is wrong pos was " + n);
}

TEST_F(ZareDamagedPack, EntryHeaderOrDataPastTheEndIsNotFound) {
  const uint32_t dir = packDirOffset(pack);
  for (uint32_t entry : {static_cast<uint32_t>(pack.size()), static_cast<uint32_t>(pack.size() - 3), 0x80000000u}) {
    Bytes p = pack;
    putLE32(p, dir + 5, entry);
    lib = (zare_delete(lib), zare_new());
    add(p);
    expectRefused("data/organ.png", "couldn't find data/organ.png");
  }
  Bytes p = pack;
  putLE32(p, packEntryOffset(p, 2) + 3, static_cast<uint32_t>(p.size()));
  lib = (zare_delete(lib), zare_new());
  add(p);
  expectRefused("data/tex-cow-env.png", "couldn't find data/tex-cow-env.png");
}

TEST_F(ZareDamagedPack, TotalLengthTooShort) {
  Bytes tiny = {'Z', 'D', 'A', 'R', 5, 0, 0, 0};
  add(tiny);
  expectRefused("a", "Size: 5couldn't find a");
}

TEST(ZareEntryFields, SizeAndDataAreBoundsChecked) {
  Bytes pack = buildPack({{"a", text("hello")}, {"b", text("")}});
  EXPECT_EQ(zare_dar_getSize(pack.data(), 8), 5);
  EXPECT_EQ(zare_dar_getData(pack.data(), 8), pack.data() + 15);
  const int32_t b = static_cast<int32_t>(packEntryOffset(pack, 1));
  EXPECT_EQ(zare_dar_getSize(pack.data(), b), 0);
  EXPECT_EQ(zare_dar_getSize(pack.data(), static_cast<int32_t>(pack.size()) - 6), -1);
  EXPECT_EQ(zare_dar_getSize(pack.data(), -1), -1);
  EXPECT_EQ(zare_dar_getData(pack.data(), static_cast<int32_t>(pack.size())), nullptr);
}

}  // namespace

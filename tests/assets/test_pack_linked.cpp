// The pack linked into the demo is the one built from data/, and the demo's lookup finds its files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "asset_readers.h"
#include "datadata.h"
#include "zarelib.h"

TEST(LinkedPack, IsThePackBuiltFromData) {
  EXPECT_EQ(dataData, dataData_data);
  EXPECT_EQ(dataData_size, 2771669u);
  const std::vector<uint8_t> file = readAll(PACK_FILE);
  ASSERT_EQ(file.size(), dataData_size);
  EXPECT_EQ(std::memcmp(file.data(), dataData, file.size()), 0);
}

TEST(LinkedPack, TheDemosLookupFindsOrganAndTune) {
  zare_lib_t *pzl = zare_new();
  ASSERT_NE(pzl, nullptr);
  zare_dar_add(pzl, reinterpret_cast<zare_data_t *>(const_cast<unsigned char *>(dataData)));
  zare_memfile_t *mf = zare_memfile_new(pzl);
  ASSERT_EQ(zare_memfile_load(pzl, mf, "data/organ.png"), 0);
  EXPECT_EQ(mf->pData, dataData + 8 + 7);
  EXPECT_EQ(mf->iSize, 186435);
  EXPECT_EQ(std::memcmp(mf->pData, "\x89PNG\r\n\x1a\n", 8), 0);
  ASSERT_EQ(zare_memfile_load(pzl, mf, "data/tune.mp3"), 0);
  EXPECT_EQ(mf->iSize, 2340864);
  EXPECT_EQ(std::memcmp(mf->pData, "ID3", 3), 0);
  EXPECT_NE(zare_memfile_load(pzl, mf, "data/Organ.png"), 0);
  std::free(mf);
  zare_delete(pzl);
}

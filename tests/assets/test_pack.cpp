// The pack built from data/ against the shipped table, and the pack tool on good and damaged packs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "asset_readers.h"
#include "packfmt.h"

namespace fs = std::filesystem;

namespace {

struct Row {
  const char *name;
  uint32_t entry, nameOffset, length;
};
const Row kTable[] = {
    {"data/organ.png", 8, 0, 186435},           {"data/suck_thing_mask.png", 186451, 15, 1932},
    {"data/suck_thing.png", 188391, 40, 1446},  {"data/suck_front.png", 189845, 60, 42810},
    {"data/suck_mask.png", 232663, 80, 4770},   {"data/suck_back.png", 237441, 99, 128643},
    {"data/tex-park.png", 366092, 118, 30739},  {"data/tex-cow-env.png", 396839, 136, 16032},
    {"data/vosquel.oia", 412879, 157, 17650},   {"data/tune.mp3", 430537, 174, 2340864},
};

// A fresh temporary folder per test.
fs::path tempDir(const char *tag) {
  fs::path d = fs::temp_directory_path() / (std::string("assets-") + tag + "-" + std::to_string(getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

void writeBytes(const fs::path &p, const std::vector<uint8_t> &b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

}  // namespace

// The tool's listing of the built pack is the shipped table, line for line.
TEST(Pack, ListingMatchesTheShippedTable) {
  std::string out;
  ASSERT_EQ(runCommand(std::string(ZPACK_EXE) + " list " + PACK_FILE, out), 0) << out;
  std::istringstream in(out);
  std::string word;
  unsigned total, dir, records, names;
  in >> word >> total >> word >> dir >> word >> records >> word >> names;
  EXPECT_EQ(total, 2771669u);
  EXPECT_EQ(dir, 2771409u);
  EXPECT_EQ(records, 10u);
  EXPECT_EQ(names, 188u);
  for (size_t i = 0; i < std::size(kTable); i++) {
    size_t index;
    uint32_t entry, nameOffset, length;
    std::string name;
    in >> index >> entry >> nameOffset >> length >> name;
    EXPECT_EQ(index, i);
    EXPECT_EQ(name, kTable[i].name);
    EXPECT_EQ(entry, kTable[i].entry) << name;
    EXPECT_EQ(nameOffset, kTable[i].nameOffset) << name;
    EXPECT_EQ(length, kTable[i].length) << name;
  }
}

// Every entry holds its file unchanged, followed by one byte repeating the file's last byte,
// and the manifest lists the ten names in directory order.
TEST(Pack, EntriesHoldTheFilesOfDataAndTheLayoutBytes) {
  const std::vector<uint8_t> pack = readAll(PACK_FILE);
  PackDirectory dir;
  std::string err;
  ASSERT_TRUE(packRead(pack, dir, err)) << err;
  ASSERT_EQ(dir.records.size(), std::size(kTable));
  uint32_t expectNext = 8;
  for (const PackRecord &r : dir.records) {
    const std::vector<uint8_t> file = readAll(r.name);
    ASSERT_EQ(file.size(), r.dataLength) << r.name;
    EXPECT_TRUE(std::equal(file.begin(), file.end(), pack.begin() + r.dataOffset)) << r.name;
    EXPECT_EQ(pack[r.dataOffset + r.dataLength], file.back()) << r.name;
    EXPECT_EQ(r.entryOffset, expectNext);
    expectNext = r.dataOffset + r.dataLength + 1;
  }
  EXPECT_EQ(expectNext, dir.dirOffset);
  std::vector<std::string> names;
  const std::vector<uint8_t> manifest = readAll("data/manifest.txt");
  ASSERT_TRUE(manifestParse(std::string_view(reinterpret_cast<const char *>(manifest.data()), manifest.size()), names, err));
  ASSERT_EQ(names.size(), std::size(kTable));
  for (size_t i = 0; i < names.size(); i++) EXPECT_EQ(names[i], kTable[i].name);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&pack[pack.size() - 7]), 3), "END");
}

// Build, list, extract and verify on a small pack of our own, including an empty file and a name
// listed twice (the first record wins on extract).
TEST(PackTool, BuildsExtractsAndVerifiesASmallPack) {
  const fs::path d = tempDir("small");
  fs::create_directories(d / "data");
  writeBytes(d / "data/a.bin", {1, 2, 3});
  writeBytes(d / "data/empty", {});
  std::ofstream(d / "manifest.txt") << "# test pack\r\ndata/a.bin\n\ndata/empty  \ndata/a.bin\n";
  std::string out;
  const std::string z = ZPACK_EXE;
  ASSERT_EQ(runCommand(z + " build " + (d / "manifest.txt").string() + " " + d.string() + " " + (d / "p.pack").string() +
                           " " + (d / "mod").string() + " 2>&1",
                       out),
            0)
      << out;
  const std::vector<uint8_t> pack = readAll((d / "p.pack").string());
  // 8 + (7+3+1) + (7+0+1) + (7+3+1) + 5 + 18 + names (11+11+11) + 7
  EXPECT_EQ(pack.size(), 8u + 11 + 8 + 11 + 5 + 18 + 33 + 7);
  const std::vector<uint8_t> head(pack.begin(), pack.begin() + 18);
  EXPECT_EQ(head, (std::vector<uint8_t>{'Z', 'D', 'A', 'R', uint8_t(pack.size()), 0, 0, 0, 'D', 'A', 'T', 3, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(pack[18], 3) << "the spare byte repeats the last data byte";
  EXPECT_EQ(pack[19 + 7], 0) << "an empty file's spare byte is 0";
  ASSERT_EQ(runCommand(z + " extract " + (d / "p.pack").string() + " data/a.bin " + (d / "x").string(), out), 0);
  EXPECT_EQ(readAll((d / "x").string()), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_NE(runCommand(z + " extract " + (d / "p.pack").string() + " data/A.bin " + (d / "y").string() + " 2>&1", out), 0);
  EXPECT_NE(out.find("no entry named"), std::string::npos) << out;
  EXPECT_EQ(runCommand(z + " verify " + (d / "p.pack").string(), out), 0) << out;
  EXPECT_NE(out.find("pack OK, 3 entries"), std::string::npos) << out;
  // The module points at the pack and carries its length.
  const std::vector<uint8_t> S = readAll((d / "mod/datadata_pack.S").string()), C = readAll((d / "mod/datadata_pack.cpp").string());
  EXPECT_NE(std::string(S.begin(), S.end()).find(".incbin \"" + fs::absolute(d / "p.pack").string() + "\""), std::string::npos);
  EXPECT_NE(std::string(C.begin(), C.end()).find("dataData_size = " + std::to_string(pack.size()) + "u;"), std::string::npos);
  // A missing listed file is refused and names the file.
  std::ofstream(d / "bad.txt") << "data/missing\n";
  EXPECT_NE(runCommand(z + " build " + (d / "bad.txt").string() + " " + d.string() + " " + (d / "q.pack").string() + " " +
                           (d / "mod2").string() + " 2>&1",
                       out),
            0);
  EXPECT_NE(out.find("data/missing"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(d / "q.pack"));
  fs::remove_all(d);
}

// Damaged copies of the real pack are refused with the reason, by the reader and by the tool.
TEST(PackTool, RefusesDamagedPacksWithAReason) {
  const std::vector<uint8_t> good = readAll(PACK_FILE);
  ASSERT_EQ(good.size(), 2771669u);
  PackDirectory dir;
  std::string err;
  struct Damage {
    const char *what;
    size_t at;
    uint8_t value;
    const char *reason;
  };
  const Damage damages[] = {
      {"magic", 0, 'z', "ZDAR"},
      {"total length", 4, 0x00, "header says"},
      {"trailer tag", good.size() - 7, 'X', "END"},
      {"directory offset", good.size() - 4, 0x00, "directory offset"},
      {"directory offset past the end", good.size() - 1, 0x7f, "directory offset"},
      {"DIR tag", 2771409, 'd', "DIR"},
      {"record count", 2771409 + 4, 0x40, "runs past the trailer"},
      {"entry offset of record 0", 2771409 + 5 + 3, 0x70, "entry offset"},
      {"name offset of record 9", 2771409 + 5 + 54 + 5, 0x10, "name offset"},
      {"DAT tag of organ.png", 8, 'd', "DAT"},
      {"data length of tune.mp3", 430537 + 6, 0x40, "runs into the directory"},
      {"last name's terminator", good.size() - 8, 'x', "not terminated"},
  };
  const fs::path d = tempDir("damaged");
  for (const Damage &dm : damages) {
    std::vector<uint8_t> bad = good;
    bad[dm.at] = dm.value;
    EXPECT_FALSE(packRead(bad, dir, err)) << dm.what;
    EXPECT_NE(err.find(dm.reason), std::string::npos) << dm.what << ": " << err;
    writeBytes(d / "bad.pack", bad);
    std::string out;
    EXPECT_EQ(runCommand(std::string(ZPACK_EXE) + " verify " + (d / "bad.pack").string() + " 2>&1", out), 1) << dm.what;
    EXPECT_NE(out.find("damaged pack"), std::string::npos) << out;
  }
  // Every truncation of the directory end is refused without reading past the buffer (the
  // sanitizer build catches a stray read); so are the tiny ones.
  for (size_t n = 0; n < 64; n++) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
    EXPECT_FALSE(packRead(cut, dir, err)) << n;
  }
  for (size_t n = good.size() - 300; n < good.size(); n++) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
    EXPECT_FALSE(packRead(cut, dir, err)) << n;
  }
  std::string out;
  EXPECT_NE(runCommand(std::string(ZPACK_EXE) + " verify " + (d / "nonexistent").string() + " 2>&1", out), 0);
  EXPECT_NE(out.find("cannot read"), std::string::npos) << out;
  fs::remove_all(d);
}

// Random damage anywhere in the directory and trailer never crashes the reader; whatever it
// accepts still lies inside the pack.
TEST(PackTool, SurvivesRandomDamageToTheDirectory) {
  const std::vector<uint8_t> good = readAll(PACK_FILE);
  ASSERT_FALSE(good.empty());
  uint64_t s = 12345;
  PackDirectory dir;
  std::string err;
  for (int round = 0; round < 400; round++) {
    std::vector<uint8_t> bad = good;
    for (int k = 0; k < 3; k++) {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      const size_t at = 2771409 + size_t(s >> 33) % (good.size() - 2771409);
      bad[at] = uint8_t(s >> 20);
    }
    if (packRead(bad, dir, err)) {
      for (const PackRecord &r : dir.records) {
        EXPECT_LE(uint64_t(r.dataOffset) + r.dataLength, bad.size());
      }
    }
  }
}

// data/tune.mp3 as a player and the pack rely on it: exact size, the ID3v2.3 tag, nothing but
// 128 kbps 44.1 kHz CBR frames after it; the picture's clock kept, as an onset analysis of the
// decoded music hears it; and that the tool remakes it byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "analysis.h"
#include "bytes.h"
#include "files.h"
#include "mp3decode.h"
#include "packlengths.h"
#include "runin.h"
#include "song.h"
#include "tempfolder.h"

namespace {

constexpr size_t kFileSize = packFixedLength("data/tune.mp3");
const char *const kTune = "data/tune.mp3";

// Walks MPEG frames from start; the offset of the first header that is not MPEG-1 layer III at
// 128 kbps and 44.1 kHz, or where the walk ran off the end (the file's size when all is well).
size_t walkCbrFrames(const Bytes &d, size_t start) {
  size_t p = start;
  while (p + 4 <= d.size()) {
    const uint32_t h = getBe32(&d[p]);
    if ((h & 0xFFFEFC00u) != 0xFFFA9000u) return p;  // sync, MPEG-1, layer III, 128 kbps, 44.1 kHz
    p += 417 + (h >> 9 & 1);
  }
  return p;
}

}  // namespace

// The exact size; an ID3v2.3 tag whose title and artist libmpg123 reads; after it nothing but
// 128 kbps CBR frames.
TEST(TuneFile, TagAndNothingButCbrFramesFillTheExactSize) {
  const Bytes d = fileRead(kTune);
  ASSERT_EQ(d.size(), kFileSize);
  ASSERT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{'I', 'D', '3', 3}));
  mpg123_handle *mh = mpg123_new(nullptr, nullptr);
  Mp3Memory source{d.data(), d.size(), 0};
  mpg123_id3v2 *tag = nullptr;
  ASSERT_TRUE(mp3memOpen(mh, &source, kMusicRate) && mpg123_scan(mh) == MPG123_OK &&
              mpg123_id3(mh, nullptr, &tag) == MPG123_OK && tag && tag->title && tag->artist);
  EXPECT_STREQ(tag->title->p, "Parkhaus");
  EXPECT_STREQ(tag->artist->p, "Tarvonell");
  mpg123_delete(mh);
  const size_t length = 10 + (size_t(d[6]) << 21 | size_t(d[7]) << 14 | size_t(d[8]) << 7 | d[9]);
  EXPECT_EQ(walkCbrFrames(d, length), d.size()) << "not a 128 kbps 44.1 kHz frame there";
  EXPECT_NE(walkCbrFrames(d, length + 1), d.size()) << "the walk must notice a frame out of step";
}

// The frame's landmarks, from its own motion: the credits vanish around 6 pi s and every 8 pi s
// after; the centre-piece turns at 10 pi s and every 20 pi s after.
constexpr double kThirdGap = 6 * M_PI + 2 * 8 * M_PI, kFourthGapAndTurn = 6 * M_PI + 3 * 8 * M_PI;

// The music keeps the picture's clock: the beat that the onsets of the decoded file fall on is
// pi/6 s long with a grid line within 15 ms of t = 0, and the break and the return of the full
// groove begin, in the arrangement and as heard in the lowest octaves, within 20 ms of a gap's
// middle in the credits (the return's also a turn of the centre-piece).
TEST(TuneFile, KeepsThePicturesClock) {
  const Bytes mp3 = fileRead(kTune);
  std::vector<float> pcm;
  std::string error;
  ASSERT_TRUE(mp3DecodeFloat(mp3.data(), mp3.size(), pcm, error)) << error;
  const Beat beat = beatOf(onsetsOf(pcm, 44100.0), 0.4, 0.7);
  EXPECT_NEAR(beat.period, M_PI / 6, 0.005 * M_PI / 6);
  EXPECT_NEAR(beat.phase, 0.0, 0.015);
  EXPECT_NEAR(barSeconds(kSections.brk), kThirdGap, 0.02);
  EXPECT_NEAR(barSeconds(kSections.ret), kFourthGapAndTurn, 0.02);
  const Onsets low = lowOnsetsOf(pcm, 44100.0);
  EXPECT_NEAR(strongestOnset(low, kThirdGap, 0.1), kThirdGap, 0.02);
  EXPECT_NEAR(strongestOnset(low, kFourthGapAndTurn, 0.1), kFourthGapAndTurn, 0.02);
}

TEST(TuneRegenerate, ToolRemakesTheCommittedFileByteForByte) {
  const TempFolder tmp;
  const std::string out = (tmp / "tune.mp3").string();
  const ProcResult r = runIn({}, {TUNE_TOOL, out});
  ASSERT_EQ(r.status, 0) << r.output;
  const Bytes made = fileRead(out), committed = fileRead(kTune);
  ASSERT_EQ(made.size(), committed.size());
  const auto diff = std::mismatch(made.begin(), made.end(), committed.begin());
  EXPECT_TRUE(diff.first == made.end()) << "first differing byte at " << diff.first - made.begin();
}

// data/tune.mp3 as a player and the pack rely on it: exact size, the ID3v2.3 tag, nothing but
// 128 kbps 44.1 kHz CBR frames after it; the picture's clock kept, as an onset analysis of the
// decoded music hears it; and that the tool remakes it byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "analysis.h"
#include "bytes.h"
#include "files.h"
#include "mp3decode.h"
#include "packlengths.h"
#include "process.h"
#include "song.h"
#include "tempfolder.h"

namespace {

constexpr size_t kFileSize = packFixedLength("data/tune.mp3");
const char *const kTune = "data/tune.mp3";

// The ID3v2.3 tag at the start: its length, its text frames by id, and whether the padding after
// them is all zero. Length 0 when the header or a frame is malformed.
struct Id3Tag {
  size_t length = 0;
  std::map<std::string, std::string> text;
  bool zeroPadding = false;
};

// Reads the tag: a 10-byte header with a syncsafe size, frames with 32-bit sizes, then padding.
Id3Tag readId3(const Bytes &d) {
  Id3Tag tag;
  if (d.size() < 10 || memcmp(d.data(), "ID3\3\0\0", 6) != 0 || (getBe32(&d[6]) & 0x80808080u) != 0) return tag;
  const size_t end = 10 + (size_t(d[6]) << 21 | size_t(d[7]) << 14 | size_t(d[8]) << 7 | d[9]);
  size_t p = 10;
  for (; end <= d.size() && p + 10 <= end && d[p] != 0; p += 10 + getBe32(&d[p + 4])) {
    const size_t size = getBe32(&d[p + 4]);
    if (size < 1 || p + 10 + size > end || d[p + 10] != 0) return tag;  // ISO-8859-1 text only
    const char *frame = reinterpret_cast<const char *>(d.data() + p);
    tag.text[std::string(frame, 4)] = std::string(frame + 11, size - 1);
  }
  if (end > d.size()) return tag;
  tag.zeroPadding = std::all_of(d.begin() + p, d.begin() + end, [](uint8_t b) { return b == 0; });
  tag.length = end;
  return tag;
}

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

// Runs a program to its end: its status and all it printed.
ProcResult run(std::vector<std::string> argv, double seconds) {
  ProcSpec child;
  child.argv = std::move(argv);
  return procRun(child, seconds);
}

}  // namespace

TEST(TuneFile, TagAndNothingButCbrFramesFillTheExactSize) {
  const Bytes d = fileRead(kTune);
  ASSERT_EQ(d.size(), kFileSize);
  Id3Tag tag = readId3(d);
  ASSERT_GT(tag.length, 0u) << "no well-formed ID3v2.3 tag";
  EXPECT_EQ(tag.text["TIT2"], "Parkhaus");
  EXPECT_EQ(tag.text["TPE1"], "Tarvonell");
  EXPECT_TRUE(tag.zeroPadding);
  EXPECT_EQ(walkCbrFrames(d, tag.length), d.size()) << "not a 128 kbps 44.1 kHz frame there";
  EXPECT_NE(walkCbrFrames(d, tag.length + 1), d.size()) << "the walk must notice a frame out of step";
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
  const ProcResult r = run({TUNE_TOOL, out}, 600);
  ASSERT_EQ(r.status, 0) << r.output;
  const Bytes made = fileRead(out), committed = fileRead(kTune);
  ASSERT_EQ(made.size(), committed.size());
  const auto diff = std::mismatch(made.begin(), made.end(), committed.begin());
  EXPECT_TRUE(diff.first == made.end()) << "first differing byte at " << diff.first - made.begin();
}

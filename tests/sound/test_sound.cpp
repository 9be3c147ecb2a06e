// The sound stand-in and initSound, through SDL's disk driver; each suite in a process and driver of its own.
#include <gtest/gtest.h>

#include <malloc.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "files.h"
#include "fsound.h"
#include "globals.h"
#include "master.h"
#include "main.h"
#include "mp3mem.h"
#include "packfmt.h"
#include "soundcheck.h"
#include "timeline.h"

namespace {

FSOUND_STREAM *openBytes(const Bytes &bytes, unsigned mode = FSOUND_NORMAL | FSOUND_LOADMEMORY) {
  return FSOUND_Stream_OpenFile(reinterpret_cast<const char *>(bytes.data()), mode, int(bytes.size()));
}

const std::string kDisk = getenv("SDL_DISKAUDIOFILE") ? getenv("SDL_DISKAUDIOFILE") : "";

// Runs initSound on a fresh context holding a pack of the given files (kept to the end, since the
// music may go on playing from it); returns what it printed.
std::string runInitSound(const std::vector<PackInput> &files) {
  static std::vector<Bytes> packs;
  std::string error;
  packWrite(files, packs.emplace_back(), error);
  zare_delete(pzl);
  pzl = zare_new();
  zare_dar_add(pzl, reinterpret_cast<zare_data_t *>(packs.back().data()));
  mus = nullptr;
  testing::internal::CaptureStdout();
  initSound();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// The start of a PNG: data that is certainly no MP3.
const Bytes kPng = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 8, 0, 0, 0, 8, 8, 2};

TEST(FsoundOpen, OpensMp3sFromMemoryAndRefusesEverythingElse) {
  const Bytes mp3 = mp3NoiseTrack(0.5);
  ASSERT_GE(decodeAt(mp3, kMusicRate).size(), kPcmBytesPerSecond / 2);
  // The memory reader seeks like a file, so libmpg123 can tell the stream's length from its size.
  mpg123_handle *mh = mpg123_new(nullptr, nullptr);
  Mp3Memory source{mp3.data(), mp3.size(), 0};
  ASSERT_TRUE(mp3memOpen(mh, &source, kMusicRate));
  EXPECT_NEAR(double(mpg123_length(mh)), kMusicRate / 2.0, 2304.0);
  mpg123_delete(mh);
  Bytes tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 0};  // 256 bytes of tag body (syncsafe size)
  tagOnly.resize(10 + 256, 0);
  Bytes junk(4000);
  std::mt19937 rng(7);
  for (uint8_t &b : junk) b = uint8_t(rng());
  Bytes tagged = tagOnly, junkFirst = junk;
  tagged.insert(tagged.end(), mp3.begin(), mp3.end());
  junkFirst.insert(junkFirst.end(), mp3.begin(), mp3.end());
  const std::pair<const char *, Bytes> good[] = {
      {"plain", mp3}, {"behind a tag", tagged}, {"behind junk", junkFirst},
      {"cut mid-frame", Bytes(mp3.begin(), mp3.begin() + long(mp3.size() / 2) + 37)}};
  for (const auto &[what, bytes] : good) EXPECT_NE(openBytes(bytes), nullptr) << what;
  const std::pair<const char *, Bytes> bad[] = {{"zeros", Bytes(65536, 0)}, {"a PNG", kPng},
                                                {"random bytes", junk}, {"a tag without frames", tagOnly},
                                                {"four header bytes", Bytes(mp3.begin(), mp3.begin() + 4)}};
  // A refused stream leaves nothing allocated: fifty refusals, not fifty decoders, of heap.
  const size_t heap = mallinfo2().uordblks;
  for (int i = 0; i < 10; ++i) {
    for (const auto &[what, bytes] : bad) EXPECT_EQ(openBytes(bytes), nullptr) << what;
  }
  EXPECT_LT(mallinfo2().uordblks, heap + 65536);
  const char *data = reinterpret_cast<const char *>(mp3.data());
  EXPECT_EQ(FSOUND_Stream_OpenFile(nullptr, FSOUND_NORMAL | FSOUND_LOADMEMORY, 4096), nullptr);
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, FSOUND_NORMAL | FSOUND_LOADMEMORY, 0), nullptr);
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, FSOUND_NORMAL | FSOUND_LOADMEMORY, -1), nullptr);
  // Only streams held in memory: without the flag the data would be a file name.
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, FSOUND_NORMAL, int(mp3.size())), nullptr);
}

// Run with no usable driver, and with the disk driver whose file cannot be written.
TEST(FsoundNoDevice, InitFailsStreamsStillOpenAndInitSoundSaysSo) {
  EXPECT_EQ(FSOUND_Init(kMusicRate, 1, 0), 0);
  EXPECT_EQ(FSOUND_Init(kMusicRate, 1, 0), 0);
  const Bytes mp3 = mp3NoiseTrack(0.5);
  FSOUND_STREAM *stream = openBytes(mp3);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(0, stream), -1);
  EXPECT_EQ(runInitSound({{"data/tune.mp3", mp3}}), "Sound: Init\n");
  EXPECT_NE(mus, nullptr);
  EXPECT_EQ(runInitSound({{"data/organ.png", kPng}}), "Sound: Init\nSound: LoadSong\n");
  EXPECT_EQ(mus, nullptr);
}

TEST(FsoundDisk, PausedUntilPlayedThenThePacksTuneOnceSampleForSampleThenSilence) {
  EXPECT_EQ(FSOUND_Init(kMusicRate, 0, 0), 0) << "no channel is refused";
  ASSERT_EQ(FSOUND_Init(kMusicRate, 1, 0), 1);
  EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);
  // The open device writes silence until a stream is played; initSound's failures play nothing.
  const Bytes mp3 = mp3NoiseTrack(1.5), reference = decodeAt(mp3, kMusicRate);
  Bytes tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0};
  tagOnly.resize(10 + 128, 0);
  const std::vector<std::vector<PackInput>> failing = {
      {{"data/organ.png", kPng}}, {{"data/Tune.mp3", mp3}}, {{"data/tune.mp3", Bytes(32768, 0)}},
      {{"data/tune.mp3", kPng}},  {{"data/tune.mp3", {}}},  {{"data/tune.mp3", tagOnly}},
      {{"data/tune.mp3", Bytes(mp3.begin(), mp3.begin() + 3)}}};
  for (const auto &files : failing) {
    EXPECT_EQ(runInitSound(files), "Sound: LoadSong\n") << files[0].name << " of " << files[0].data.size() << " bytes";
    EXPECT_EQ(mus, nullptr);
  }
  ASSERT_TRUE(waitForFileSize(kDisk, 64 * 1024, 10.0));
  const Bytes before = fileRead(kDisk);
  EXPECT_EQ(before, Bytes(before.size(), 0)) << "sound before the stream was played";
  EXPECT_EQ(runInitSound({{"data/organ.png", kPng}, {"data/tune.mp3", mp3}}), "");
  EXPECT_NE(mus, nullptr);
  const Played p = awaitPlayed(kDisk, reference, kPcmBytesPerSecond, 20.0);
  ASSERT_TRUE(p.found) << p.why;
  EXPECT_GE(p.start + 65536, before.size()) << "played before FSOUND_Stream_Play";
  EXPECT_EQ(p.matched, reference.size()) << p.why;
  EXPECT_TRUE(p.silentAfter) << "no silence after the end (looping?): " << p.why;
}

// The mix rate: refused outside 8 to 192 kHz, kept by a second start, and a stream decoded for
// another rate is not played.
TEST(FsoundDiskRate, PlaysAtTheMixRateItWasGivenWithinItsBounds) {
  for (int rate : {0, 7999, 192001, -int(kMusicRate)}) EXPECT_EQ(FSOUND_Init(rate, 1, 0), 0) << rate;
  const Bytes mp3 = mp3NoiseTrack(1.0), reference = decodeAt(mp3, 22050);
  FSOUND_STREAM *early = openBytes(mp3);  // opened before the device, for the music's rate
  ASSERT_EQ(FSOUND_Init(22050, 1, 0), 1);
  EXPECT_EQ(FSOUND_Init(kMusicRate, 1, 0), 1) << "a second start keeps the device it has";
  EXPECT_EQ(FSOUND_Stream_Play(0, early), -1);
  ASSERT_EQ(FSOUND_Stream_Play(0, openBytes(mp3)), 0);
  const Played p = awaitPlayed(kDisk, reference, 65536, 20.0);
  EXPECT_EQ(p.matched, reference.size()) << p.why;
}

TEST(FsoundDiskDamaged, PlaysWhatItCanAroundADamagedStretch) {
  Bytes mp3 = mp3NoiseTrack(2.0);
  const Bytes reference = decodeAt(mp3, kMusicRate);
  // Four kilobytes of zeros a third of the way in: a gap libmpg123 must resync across.
  std::fill(mp3.begin() + long(mp3.size() / 3), mp3.begin() + long(mp3.size() / 3 + 4096), 0);
  ASSERT_EQ(FSOUND_Init(kMusicRate, 1, 0), 1);
  ASSERT_EQ(FSOUND_Stream_Play(0, openBytes(mp3)), 0);
  const Played p = awaitPlayed(kDisk, reference, kPcmBytesPerSecond, 20.0);
  const Bytes output = fileRead(kDisk);
  ASSERT_TRUE(p.found) << p.why;
  EXPECT_GT(p.matched, reference.size() / 4);
  size_t lastAudio = output.size();
  while (lastAudio > 0 && output[lastAudio - 1] == 0) --lastAudio;
  EXPECT_GT(lastAudio, p.start + reference.size() * 3 / 4) << "stopped at the damage";
  EXPECT_LE(lastAudio, p.start + reference.size()) << "played more than the stream holds";
  // The decoder resyncs within a device buffer of meeting the damage: the silence it costs is
  // shorter than one buffer (4096 sample frames).
  size_t gap = 0, longest = 0;
  for (size_t i = p.start; i + 4 <= lastAudio; i += 4) {
    gap = (output[i] | output[i + 1] | output[i + 2] | output[i + 3]) ? 0 : gap + 1;
    longest = std::max(longest, gap);
  }
  EXPECT_LT(longest, 4096u) << "sample frames of silence inside the played stream";
}

// libmpg123 hands out less than asked for whenever the caller's buffer ends before its decoded
// frame does: a cap on every read, which a test sets once its reference is decoded.
size_t gReadCap = 0;
extern "C" int __real_mpg123_read(mpg123_handle *, void *, size_t, size_t *);
extern "C" int __wrap_mpg123_read(mpg123_handle *mh, void *out, size_t size, size_t *done) {
  return __real_mpg123_read(mh, out, gReadCap ? std::min(size, gReadCap) : size, done);
}

TEST(FsoundDiskShortReads, ReadsThatReturnLessThanAskedStillPlayTheWholeTuneUnbroken) {
  const Bytes mp3 = mp3NoiseTrack(1.0), reference = decodeAt(mp3, kMusicRate);
  gReadCap = 1000;  // a quarter of a frame, so each device buffer takes many reads
  ASSERT_EQ(FSOUND_Init(kMusicRate, 1, 0), 1);
  ASSERT_EQ(FSOUND_Stream_Play(0, openBytes(mp3)), 0);
  const Played p = awaitPlayed(kDisk, reference, 65536, 20.0);
  EXPECT_EQ(p.matched, reference.size()) << p.why;
  EXPECT_TRUE(p.silentAfter) << p.why;
}

// Registered before the sound starts, so it runs after the sound's own exit work: by then the
// device must be closed and silent.
void checkAudioStoppedAtExit() {
  // SDL's audio thread has been joined, so nothing can be written any more: only this thread is left.
  if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1) _exit(7);
}

TEST(FsoundDiskExit, ExitWhilePlayingStopsTheSoundCleanly) {
  const Bytes mp3 = mp3NoiseTrack(20.0);
  for (int delayMs : {0, 3, 15, -1}) {
    EXPECT_EXIT(
        {
          atexit(checkAudioStoppedAtExit);
          if (FSOUND_Init(kMusicRate, 1, 0) != 1 || FSOUND_Stream_Play(0, openBytes(mp3)) != 0) _exit(3);
          if (delayMs < 0) waitForFileSize(kDisk, kPcmBytesPerSecond, 10.0);
          std::this_thread::sleep_for(std::chrono::milliseconds(std::max(delayMs, 0)));
          exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << "after " << delayMs << " ms";
  }
  const Played p = comparePlayed(fileRead(kDisk), decodeAt(mp3, kMusicRate));
  ASSERT_TRUE(p.found) << p.why;
  EXPECT_GT(p.matched, kPcmBytesPerSecond / 2);
  // No noise at exit: the file ends with the stream's own samples or with silence.
  EXPECT_TRUE(p.silentAfter) << p.why;
}

TEST(FsoundDiskExit, TerminationSignalsStillEndTheProcess) {
  // SDL must not take SIGINT or SIGTERM: nothing in the demo would ever read its quit event.
  for (int sig : {SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          if (FSOUND_Init(kMusicRate, 1, 0) != 1) _exit(3);
          raise(sig);  // delivered before it returns, unless SDL has taken the signal
          _exit(5);
        },
        ::testing::KilledBySignal(sig), "");
  }
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Children of the exit tests start afresh from main, without the parent's threads or device.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}

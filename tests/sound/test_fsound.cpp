// The sound stand-in on its own: opening streams from memory, and what SDL's disk driver receives.
// Each suite runs in its own process (see CMakeLists.txt), with its own SDL_AUDIODRIVER.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "fsound.h"
#include "soundcheck.h"

constexpr unsigned int kMemoryMode = FSOUND_NORMAL | FSOUND_LOADMEMORY;

static FSOUND_STREAM *openBytes(const Bytes &bytes) {
  return FSOUND_Stream_OpenFile(reinterpret_cast<const char *>(bytes.data()), kMemoryMode,
                                static_cast<int>(bytes.size()));
}

static std::string diskFile() {
  const char *path = getenv("SDL_DISKAUDIOFILE");
  return path ? path : "";
}

// Bytes of one random stream, the same for every run.
static Bytes randomBytes(unsigned seed, size_t size) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto &b : bytes) b = static_cast<unsigned char>(generator());
  return bytes;
}

// ---- Opening (no device needed) ----

TEST(FsoundOpen, RefusesEmptyAndMissingData) {
  Bytes mp3 = makeTestMp3(0.5);
  ASSERT_GT(mp3.size(), 1000u);
  const char *data = reinterpret_cast<const char *>(mp3.data());
  EXPECT_EQ(FSOUND_Stream_OpenFile(nullptr, kMemoryMode, 0), nullptr);
  EXPECT_EQ(FSOUND_Stream_OpenFile(nullptr, kMemoryMode, 4096), nullptr);
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, kMemoryMode, 0), nullptr);
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, kMemoryMode, -1), nullptr);
  // Only streams held in memory are supported; without the flag data would be a file name.
  EXPECT_EQ(FSOUND_Stream_OpenFile(data, FSOUND_NORMAL, static_cast<int>(mp3.size())), nullptr);
}

TEST(FsoundOpen, RefusesDataWithoutAnyFrame) {
  EXPECT_EQ(openBytes(Bytes(65536, 0)), nullptr) << "zeros";
  Bytes png = makeTestPng();
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(openBytes(png), nullptr) << "a PNG file";
  for (unsigned seed = 1; seed <= 8; ++seed) {
    EXPECT_EQ(openBytes(randomBytes(seed, 16384)), nullptr) << "random bytes, seed " << seed;
  }
  // An ID3v2 tag alone: the tag is well-formed, but no frame follows it.
  Bytes tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
  tagOnly.resize(10 + 100, 0);
  EXPECT_EQ(openBytes(tagOnly), nullptr) << "ID3 tag without frames";
  // A lone frame header with nothing behind it is not a frame either.
  Bytes mp3 = makeTestMp3(0.5);
  EXPECT_EQ(openBytes(Bytes(mp3.begin(), mp3.begin() + 4)), nullptr) << "four header bytes";
}

TEST(FsoundOpen, OpensMp3sFromMemory) {
  Bytes mp3 = makeTestMp3(0.5);
  EXPECT_NE(openBytes(mp3), nullptr);
  // Behind an ID3v2 tag, as the demo's tune is.
  Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 0};  // 256 bytes of tag body (syncsafe size)
  tagged.resize(10 + 256, 0);
  tagged.insert(tagged.end(), mp3.begin(), mp3.end());
  EXPECT_NE(openBytes(tagged), nullptr);
  // Junk in front: libmpg123 resyncs on the first frame.
  Bytes junk = randomBytes(7, 4000);
  junk.insert(junk.end(), mp3.begin(), mp3.end());
  EXPECT_NE(openBytes(junk), nullptr);
  // Cut in the middle of a frame: what is there can still be played.
  EXPECT_NE(openBytes(Bytes(mp3.begin(), mp3.begin() + static_cast<long>(mp3.size() / 2) + 37)), nullptr);
}

// ---- Without a usable device (SDL_AUDIODRIVER names no driver) ----

TEST(FsoundNoDevice, InitFailsButStreamsStillOpenAndPlayIsHarmless) {
  EXPECT_EQ(FSOUND_Init(44100, 1, 0), 0);
  Bytes mp3 = makeTestMp3(0.5);
  FSOUND_STREAM *stream = openBytes(mp3);
  EXPECT_NE(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(0, stream), -1);
  EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);
  EXPECT_EQ(openBytes(Bytes(4096, 0)), nullptr);
  // Asking again does not change the answer.
  EXPECT_EQ(FSOUND_Init(44100, 1, 0), 0);
}

// ---- Playing through SDL's disk driver (SDL_DISKAUDIOFILE set by CTest) ----

TEST(FsoundDisk, PausedUntilPlayThenPlaysOnceSampleForSampleThenSilence) {
  std::string file = diskFile();
  ASSERT_FALSE(file.empty());
  Bytes mp3 = makeTestMp3(1.5);
  Bytes reference = decodeMp3Bytes(mp3);
  ASSERT_GT(reference.size(), kPcmBytesPerSecond);

  EXPECT_EQ(FSOUND_Init(0, 1, 0), 0) << "a mix rate of 0 is refused";
  ASSERT_EQ(FSOUND_Init(44100, 1, 0), 1);
  EXPECT_EQ(FSOUND_Init(44100, 1, 0), 1) << "a second call keeps the open device";
  FSOUND_STREAM *stream = openBytes(mp3);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);

  // The device runs but stays paused: it writes nothing but silence until the stream is played.
  ASSERT_TRUE(waitForFileSize(file, 64 * 1024, 10.0));
  Bytes before = readFile(file);
  EXPECT_TRUE(allZero(before, 0, before.size())) << "sound before FSOUND_Stream_Play";

  EXPECT_EQ(FSOUND_Stream_Play(0, stream), 0);
  // Wait for the whole stream plus a second of what follows it.
  ASSERT_TRUE(waitForFileSize(file, before.size() + reference.size() + kPcmBytesPerSecond + 65536, 20.0));
  Bytes output = readFile(file);
  PlayedCheck check = comparePlayed(output, reference);
  ASSERT_TRUE(check.foundStart) << check.why;
  EXPECT_GE(check.start + 65536, before.size()) << "played before FSOUND_Stream_Play";
  EXPECT_EQ(check.matched, reference.size()) << check.why;
  EXPECT_TRUE(check.silentAfter) << "no silence after the end (looping?): " << check.why;
  EXPECT_GE(output.size(), check.start + reference.size() + kPcmBytesPerSecond);
}

TEST(FsoundDiskDamaged, PlaysWhatItCanAroundADamagedStretch) {
  std::string file = diskFile();
  Bytes mp3 = makeTestMp3(2.0);
  Bytes reference = decodeMp3Bytes(mp3);
  // Four kilobytes of zeros a third of the way in: a gap libmpg123 must resync across.
  size_t damageAt = mp3.size() / 3;
  std::fill(mp3.begin() + static_cast<long>(damageAt), mp3.begin() + static_cast<long>(damageAt + 4096), 0);
  ASSERT_EQ(FSOUND_Init(44100, 1, 0), 1);
  FSOUND_STREAM *stream = openBytes(mp3);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
  ASSERT_TRUE(waitForFileSize(file, reference.size() + 2 * kPcmBytesPerSecond, 20.0));
  Bytes output = readFile(file);
  PlayedCheck check = comparePlayed(output, reference);
  ASSERT_TRUE(check.foundStart) << check.why;
  // The undamaged first part plays exactly (less the frames that shared the damaged bytes).
  EXPECT_GT(check.matched, reference.size() / 4);
  // After the gap it picks up again: audio lies well beyond the damaged stretch.
  size_t lastAudio = output.size();
  while (lastAudio > 0 && output[lastAudio - 1] == 0) --lastAudio;
  EXPECT_GT(lastAudio, check.start + reference.size() * 3 / 4) << "stopped at the damage";
  EXPECT_LE(lastAudio, check.start + reference.size()) << "played more than the stream holds";
}

TEST(FsoundDiskExit, ExitWhilePlayingEndsCleanly) {
  std::string file = diskFile();
  Bytes mp3 = makeTestMp3(20.0);
  Bytes reference = decodeMp3Bytes(mp3);
  // In a child: start playing, let the callback run, then end the process as the keyboard does.
  EXPECT_EXIT(
      {
        if (FSOUND_Init(44100, 1, 0) != 1) _exit(3);
        FSOUND_STREAM *stream = openBytes(mp3);
        if (stream == nullptr || FSOUND_Stream_Play(0, stream) != 0) _exit(4);
        waitForFileSize(file, kPcmBytesPerSecond, 10.0);
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  Bytes output = readFile(file);
  PlayedCheck check = comparePlayed(output, reference);
  ASSERT_TRUE(check.foundStart) << check.why;
  EXPECT_GT(check.matched, kPcmBytesPerSecond / 2);
  EXPECT_LT(check.matched, reference.size()) << "the child should have ended mid-stream";
  // No noise at exit: the file ends with the stream's own samples or with silence.
  EXPECT_TRUE(check.silentAfter) << check.why;
  EXPECT_EQ(output.size() % 4, 0u) << "a torn sample frame at the end";
}

TEST(FsoundDiskExit, ExitRightAfterPlayRepeatedly) {
  Bytes mp3 = makeTestMp3(5.0);
  for (int delayMs : {0, 1, 3, 7, 15}) {
    EXPECT_EXIT(
        {
          if (FSOUND_Init(44100, 1, 0) != 1) _exit(3);
          FSOUND_STREAM *stream = openBytes(mp3);
          if (stream == nullptr || FSOUND_Stream_Play(0, stream) != 0) _exit(4);
          std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
          exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << "after " << delayMs << " ms";
  }
}

// Size of the disk driver's output file now.
static long fileSize(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Registered before the sound starts, so it runs after the sound's own exit work: by then the
// device must be closed and silent, whatever the remaining exit handlers and destructors do.
static void checkAudioStoppedAtExit() {
  std::string file = diskFile();
  long before = fileSize(file);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  if (fileSize(file) != before) _exit(7);
}

TEST(FsoundDiskExit, AudioIsStoppedBeforeLaterExitWorkRuns) {
  Bytes mp3 = makeTestMp3(20.0);
  EXPECT_EXIT(
      {
        atexit(checkAudioStoppedAtExit);
        if (FSOUND_Init(44100, 1, 0) != 1) _exit(3);
        FSOUND_STREAM *stream = openBytes(mp3);
        if (stream == nullptr || FSOUND_Stream_Play(0, stream) != 0) _exit(4);
        waitForFileSize(diskFile(), kPcmBytesPerSecond, 10.0);
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FsoundDiskExit, TerminationSignalsStillEndTheProcess) {
  // SDL must not swallow SIGINT or SIGTERM: nothing in the demo would ever read its quit event.
  EXPECT_EXIT(
      {
        if (FSOUND_Init(44100, 1, 0) != 1) _exit(3);
        raise(SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        _exit(5);
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EXIT(
      {
        if (FSOUND_Init(44100, 1, 0) != 1) _exit(3);
        raise(SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        _exit(5);
      },
      ::testing::KilledBySignal(SIGTERM), "");
}

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Children of the exit tests start afresh from main, without the parent's threads or device.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}

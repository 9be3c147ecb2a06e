// initSound with test packs in the library context: its messages, the stream it leaves in mus,
// what it plays, and that the demo's frame loop runs on afterwards.
#include <cstdio>
#include <cstdlib>

#include "globals.h"
#include "gltest.h"
#include "main.h"
#include "soundcheck.h"

// Packs and contexts are kept to the end: the music may go on playing from a pack after its test.
static auto *gPacks = new std::vector<Bytes>;
static auto *gContexts = new std::vector<zare_lib_t *>;

// Registers a pack made from files in a fresh context, runs initSound and returns what it printed.
static std::string runInitSound(const std::vector<PackFile> &files) {
  Bytes *pack = &gPacks->emplace_back(makeTestPack(files));
  zare_lib_t *context = zare_new();
  gContexts->push_back(context);
  zare_dar_add(context, reinterpret_cast<zare_data_t *>(pack->data()));
  pzl = context;
  mus = nullptr;
  testing::internal::CaptureStdout();
  initSound();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// A few turns of the main loop's work: the clock, then a frame drawn and shown.
static void runFrames() {
  for (int i = 0; i < 3; ++i) {
    idleCallBack();
    displayCallBack();
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

static const PackFile kOtherEntry{"data/organ.png", makeTestPng()};

class InitSoundDisk : public GlTest {};
class InitSoundNoDevice : public GlTest {};

TEST_F(InitSoundDisk, PlaysTheTuneEntry) {
  Bytes mp3 = makeTestMp3(1.0);
  Bytes reference = decodeMp3Bytes(mp3);
  std::string printed = runInitSound({kOtherEntry, {"data/tune.mp3", mp3}});
  EXPECT_EQ(printed, "");
  ASSERT_NE(mus, nullptr);
  runFrames();
  const char *file = getenv("SDL_DISKAUDIOFILE");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(waitForFileSize(file, reference.size() + kPcmBytesPerSecond, 20.0));
  PlayedCheck check = comparePlayed(readFile(file), reference);
  ASSERT_TRUE(check.foundStart) << check.why;
  EXPECT_EQ(check.matched, reference.size()) << check.why;
  EXPECT_TRUE(check.silentAfter) << check.why;
}

TEST_F(InitSoundDisk, EntryMissingPrintsLoadSongAndRunsOn) {
  EXPECT_EQ(runInitSound({kOtherEntry}), "Sound: LoadSong\n");
  EXPECT_EQ(mus, nullptr);
  // A name that differs only in case is a different name.
  EXPECT_EQ(runInitSound({{"data/Tune.mp3", makeTestMp3(0.5)}}), "Sound: LoadSong\n");
  EXPECT_EQ(mus, nullptr);
  runFrames();
}

TEST_F(InitSoundDisk, DamagedEntryPrintsLoadSongAndRunsOn) {
  Bytes mp3 = makeTestMp3(0.5);
  // An ID3v2 tag whose frames were cut off: a tag and nothing behind it.
  Bytes tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0};
  tagOnly.resize(10 + 128, 0);
  const std::vector<std::pair<const char *, Bytes>> damaged = {
      {"zeros", Bytes(32768, 0)},
      {"a PNG under the tune's name", makeTestPng()},
      {"an empty entry", Bytes()},
      {"a tag without frames", tagOnly},
      {"the first three bytes of an MP3", Bytes(mp3.begin(), mp3.begin() + 3)},
  };
  for (const auto &[what, data] : damaged) {
    EXPECT_EQ(runInitSound({kOtherEntry, {"data/tune.mp3", data}}), "Sound: LoadSong\n") << what;
    EXPECT_EQ(mus, nullptr) << what;
  }
  runFrames();
}

TEST_F(InitSoundNoDevice, InitFailsAndTheStreamIsStillOpened) {
  EXPECT_EQ(runInitSound({kOtherEntry, {"data/tune.mp3", makeTestMp3(0.5)}}), "Sound: Init\n");
  EXPECT_NE(mus, nullptr);
  runFrames();
}

TEST_F(InitSoundNoDevice, InitAndLoadSongBothFail) {
  EXPECT_EQ(runInitSound({kOtherEntry}), "Sound: Init\nSound: LoadSong\n");
  EXPECT_EQ(mus, nullptr);
  EXPECT_EQ(runInitSound({{"data/tune.mp3", Bytes(4096, 0)}}), "Sound: Init\nSound: LoadSong\n");
  EXPECT_EQ(mus, nullptr);
  runFrames();
}

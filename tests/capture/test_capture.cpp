// The capture tool run as a user runs it, on the harness's X display: its frames against the
// frames the harness draws with the demo's own callbacks, its music against the decoded track,
// its MP4 as ffprobe sees it, sameness of two runs, and every way it can fail.
#include <png.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "files.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"
#include "mp3decode.h"
#include "process.h"
#include "wav.h"

namespace fs = std::filesystem;

namespace {
// The back buffer of the frame being drawn, read in the demo's own swap while a test keeps it.
bool gKeep = false;
std::vector<uint8_t> gFrame;
}  // namespace

extern "C" void __real_glutSwapBuffers(void);
extern "C" void __wrap_glutSwapBuffers(void) {
  if (gKeep) gFrame = gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight);
  __real_glutSwapBuffers();
}

namespace {

// Runs the tool from the repository root; settings are NAME=value, "-NAME" removes a name.
ProcResult capture(std::vector<std::string> args, const std::vector<std::string> &env = {}, rlim_t fileLimit = RLIM_INFINITY,
                   int signal = 0) {
  ProcSpec spec;
  spec.argv = {CAPTURE_EXE};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.workdir = PARKHAUS_SOURCE_DIR;
  for (const std::string &e : env) (e[0] == '-' ? spec.unsetEnv : spec.setEnv).push_back(e[0] == '-' ? e.substr(1) : e);
  spec.fileSizeLimit = fileLimit;
  return procRun(spec, 300.0, signal, 3.0);
}

// The names in a folder, sorted; empty when there is none.
std::vector<std::string> names(const fs::path &dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A PNG decoded by libpng to RGBA, bottom row first like GL's pixels; empty when it does not decode.
std::vector<uint8_t> readFrame(const fs::path &path, int &w, int &h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgba;
  if (png_image_begin_read_from_file(&image, path.c_str())) {
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    w = int(image.width), h = int(image.height);
    if (!png_image_finish_read(&image, nullptr, rgba.data(), -w * 4, nullptr)) rgba.clear();
  }
  return rgba;
}

// A WAV file of the given samples, as the tools write them.
Bytes wavOf(const std::vector<int16_t> &samples) {
  Bytes wav;
  wavEncode(samples, wav);
  return wav;
}

// ffprobe's answer for the entries asked, one value a line.
std::string probe(const fs::path &file, std::vector<std::string> what) {
  ProcSpec spec;
  spec.argv = {"ffprobe", "-v", "error"};
  spec.argv.insert(spec.argv.end(), what.begin(), what.end());
  spec.argv.insert(spec.argv.end(), {"-of", "default=noprint_wrappers=1:nokey=1", file.string()});
  std::string out = procRun(spec, 60.0).output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class Capture : public GlTest {
protected:
  void SetUp() override {
    GlTest::SetUp();
    fs::create_directories(dir);
  }
  void TearDown() override {
    fs::remove_all(dir);
    GlTest::TearDown();
  }
  const fs::path dir = fs::temp_directory_path() / ("parkhaus-capture-test-" + std::to_string(getpid()));
};

// Frames written after frames drawn but not written (--start), and frames chosen with --frames,
// are the pixels of the demo's own display callback drawn frame for frame from the first.
TEST_F(Capture, FramesAreTheDemosFramesDrawnInSequence) {
  ProcResult r = capture({"--png", "--fps", "30", "--start", "0.4", "--duration", "0.2", "--out", (dir / "span").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  r = capture({"--frames", "3,0.5s,2", "--fps", "30", "--out", (dir / "picks").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(names(dir / "span").front(), "frame-000012.png");
  EXPECT_EQ(names(dir / "span").size(), 6u);
  EXPECT_EQ(names(dir / "picks"), (std::vector<std::string>{"frame-000002.png", "frame-000003.png", "frame-000015.png"}));
  glInit();
  myInit();
  reshapeCallBack(kGlTestWidth, kGlTestHeight);
  int compared = 0;
  for (int k = 0; k <= 17; k++) {
    t = float(k / 30.0);
    gKeep = true;
    displayCallBack();
    gKeep = false;
    char name[32];
    snprintf(name, sizeof name, "frame-%06d.png", k);
    for (const char *folder : {"span", "picks"}) {
      int w = 0, h = 0;
      if (!fs::exists(dir / folder / name)) continue;
      const std::vector<uint8_t> got = readFrame(dir / folder / name, w, h);
      ASSERT_EQ(w * h, kGlTestWidth * kGlTestHeight) << name;
      EXPECT_TRUE(got == gFrame) << folder << "/" << name << " differs; the harness drew " << gltestDump(gFrame, name);
      compared++;
    }
  }
  EXPECT_EQ(compared, 9);
}

TEST_F(Capture, TwoRunsGiveTheSameBytesAndTheWavIsTheDecodedTrack) {
  for (const std::string name : {"a", "b"}) {
    for (const std::string &out : {name, name + ".wav", name + ".mp4"}) {
      ProcResult r = capture({"--start", "1", "--duration", "0.25", "--out", (dir / out).string()});
      ASSERT_EQ(r.status, 0) << r.output;
    }
  }
  EXPECT_EQ(names(dir / "a").size(), 15u);
  EXPECT_EQ(names(dir / "a").front(), "frame-000060.png");
  for (const std::string &f : names(dir / "a")) EXPECT_EQ(fileRead((dir / "a" / f).string()), fileRead((dir / "b" / f).string())) << f;
  for (const char *f : {".wav", ".mp4"}) {
    EXPECT_GT(fileRead((dir / ("a" + std::string(f))).string()).size(), 1000u);
    EXPECT_EQ(fileRead((dir / ("a" + std::string(f))).string()), fileRead((dir / ("b" + std::string(f))).string())) << f;
  }
  std::vector<int16_t> tune;
  std::string error;
  const Bytes mp3 = fileRead(std::string(PARKHAUS_SOURCE_DIR) + "/data/tune.mp3");
  ASSERT_TRUE(mp3Decode(mp3.data(), mp3.size(), tune, error)) << error;
  // At 24 frames per second, frame 12 starts at sample 22050 and 24 frames hold 44100 samples.
  ASSERT_EQ(capture({"--wav", "--fps", "24", "--start", "0.5", "--duration", "1", "--out", (dir / "c.wav").string()}).status, 0);
  EXPECT_TRUE(fileRead((dir / "c.wav").string()) == wavOf({tune.begin() + 44100, tune.begin() + 3 * 44100}));
  // Past the end of the music: the music, then silence, at the full length.
  const int64_t last = int64_t(tune.size() / 2 / 735) - 30;  // 30 frames before the end at 60 per second
  ASSERT_EQ(capture({"--wav", "--start", std::to_string(last / 60.0), "--duration", "1", "--out", (dir / "d.wav").string()}).status, 0);
  std::vector<int16_t> want(tune.begin() + last * 735 * 2, tune.end());
  want.resize(44100 * 2, 0);
  EXPECT_TRUE(fileRead((dir / "d.wav").string()) == wavOf(want));
  // The whole tune, up to the end of the frame that holds its last sample.
  ASSERT_EQ(capture({"--wav", "--out", (dir / "e.wav").string()}).status, 0);
  want = tune;
  want.resize((tune.size() / 1470 + (tune.size() % 1470 != 0)) * 1470, 0);
  EXPECT_TRUE(fileRead((dir / "e.wav").string()) == wavOf(want));
}

TEST_F(Capture, Mp4HasItsFramesDurationAndMusic) {
  ASSERT_EQ(capture({"--mp4", "--start", "2", "--duration", "1.5", "--out", (dir / "a.mp4").string()}).status, 0);
  EXPECT_EQ(probe(dir / "a.mp4", {"-select_streams", "v", "-count_frames", "-show_entries",
                                  "stream=codec_name,width,height,pix_fmt,nb_read_frames"}),
            "h264\n640\n480\nyuv420p\n90");
  EXPECT_NEAR(std::stod(probe(dir / "a.mp4", {"-select_streams", "v", "-show_entries", "stream=duration"})), 1.5, 1e-3);
  EXPECT_EQ(probe(dir / "a.mp4", {"-select_streams", "a", "-show_entries", "stream=codec_name,sample_rate,channels"}),
            "aac\n44100\n2");
  EXPECT_NEAR(std::stod(probe(dir / "a.mp4", {"-select_streams", "a", "-show_entries", "stream=duration"})), 1.5, 0.03);
  ASSERT_EQ(capture({"--fps", "25", "--size", "320x240", "--duration", "2", "--out", (dir / "b.mp4").string()}).status, 0);
  EXPECT_EQ(probe(dir / "b.mp4", {"-select_streams", "v", "-count_frames", "-show_entries",
                                  "stream=nb_read_frames,width,height,r_frame_rate"}),
            "320\n240\n25/1\n50");
  EXPECT_EQ(names(dir), (std::vector<std::string>{"a.mp4", "b.mp4"}));
}

TEST_F(Capture, EveryFailureIsReportedWithItsStatusAndLeavesNothing) {
  std::ofstream((dir / "file").string()) << "x";
  fs::create_directories(dir / "bin");
  std::ofstream((dir / "bin/ffmpeg").string()) << "#!/bin/sh\nhead -c 100000 >/dev/null\necho 'fake ffmpeg: giving up' >&2\nexit 3\n";
  fs::permissions(dir / "bin/ffmpeg", fs::perms::owner_all);
  const std::string d = dir.string();
  const struct {
    std::vector<std::string> args, env;
    rlim_t limit;
    int status;
    std::string message;
  } cases[] = {
      {{"--bogus"}, {}, RLIM_INFINITY, 2, "unknown option '--bogus'"},
      {{"--fps"}, {}, RLIM_INFINITY, 2, "--fps needs a value"},
      {{"--size", "0x480"}, {}, RLIM_INFINITY, 2, "--size must be"},
      {{"--duration", "0.001"}, {}, RLIM_INFINITY, 2, "shorter than one frame"},
      {{"--png", "--wav"}, {}, RLIM_INFINITY, 2, "choose one of"},
      {{"--mp4", "--size", "641x480", "--out", "x.mp4"}, {}, RLIM_INFINITY, 2, "even width and height"},
      {{"--start", "100000", "--wav"}, {}, RLIM_INFINITY, 2, "past the end of the music"},
      {{"--png", "--duration", "0.1", "--out", d + "/file/frames"}, {}, RLIM_INFINITY, 1, "'" + d + "/file' exists and is not a folder"},
      {{"--wav", "--duration", "0.1", "--out", "/proc/a.wav"}, {}, RLIM_INFINITY, 1, "cannot write '/proc/a.wav.part'"},
      {{"--png", "--duration", "0.1", "--out", "/proc/frames"}, {}, RLIM_INFINITY, 1, "cannot make the folder '/proc/frames'"},
      {{"--png", "--duration", "0.2", "--out", d + "/frames"}, {}, 4000, 1, "cannot write '" + d + "/frames/frame-000000.png.part'"},
      {{"--png", "--duration", "0.2", "--out", d + "/frames"}, {}, 4000, 1, "no frames were written"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {}, 4000, 1, "cannot write"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin"}, RLIM_INFINITY, 1, "fake ffmpeg: giving up"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin"}, RLIM_INFINITY, 1,
       "ffmpeg failed with exit status 3; no MP4 was written"},
      {{"--png", "--duration", "0.1", "--out", d + "/frames"}, {"PATH=" + d + "/file", "-DISPLAY"}, RLIM_INFINITY, 1,
       "no GL context could be had: Xvfb is not on the PATH"},
  };
  for (const auto &k : cases) {
    const ProcResult r = capture(k.args, k.env, k.limit);
    EXPECT_EQ(r.status, k.status) << testing::PrintToString(k.args) << "\n" << r.output;
    EXPECT_NE(r.output.find(k.message), std::string::npos) << testing::PrintToString(k.args) << "\n" << r.output;
    // A mistake or an unwritable output is found before anything is drawn.
    const bool early = k.limit == RLIM_INFINITY && k.env.empty();
    EXPECT_TRUE(!early || r.output.find("drawing with") == std::string::npos) << r.output;
    std::error_code ec;
    fs::remove(dir / "frames", ec);  // an empty folder may stay; a frame or a part file may not
    EXPECT_EQ(names(dir), (std::vector<std::string>{"bin", "file"})) << testing::PrintToString(k.args);
  }
  EXPECT_FALSE(fs::exists(std::string(PARKHAUS_SOURCE_DIR) + "/x.mp4"));
}

// The display number the tool reports for an Xvfb of its own, or -1.
int ownDisplay(const std::string &output) {
  const size_t at = output.find(" (an Xvfb of its own)");
  return at == std::string::npos ? -1 : atoi(output.c_str() + output.rfind(':', at) + 1);
}

TEST_F(Capture, WithoutADisplayItUsesAnXvfbOfItsOwnAndAStopLeavesOnlyWholeFrames) {
  for (const auto &[env, forced] : {std::pair<std::vector<std::string>, bool>{{"-DISPLAY"}, false}, {{"DISPLAY=:4711"}, false}, {{}, true}}) {
    std::vector<std::string> args = {"--png", "--size", "320x200", "--duration", "0.1", "--out", (dir / "f").string()};
    if (forced) args.push_back("--xvfb");
    const ProcResult r = capture(args, env);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("starting an Xvfb of its own") != std::string::npos, !forced) << r.output;
    ASSERT_GE(ownDisplay(r.output), 0) << r.output;
    EXPECT_FALSE(fs::exists("/tmp/.X11-unix/X" + std::to_string(ownDisplay(r.output)))) << "the Xvfb is still there";
    int w = 0, h = 0;
    EXPECT_FALSE(readFrame(dir / "f/frame-000005.png", w, h).empty());
    EXPECT_EQ(w * 1000 + h, 320200);
    fs::remove_all(dir / "f");
  }
  ProcResult r = capture({"--out", (dir / "a.mp4").string()}, {"-DISPLAY"}, RLIM_INFINITY, SIGINT);
  EXPECT_EQ(r.status, 128 + SIGINT) << r.output;
  EXPECT_NE(r.output.find("stopped by Interrupt; no MP4 was written"), std::string::npos) << r.output;
  EXPECT_TRUE(names(dir).empty());
  EXPECT_FALSE(fs::exists("/tmp/.X11-unix/X" + std::to_string(ownDisplay(r.output))));
  r = capture({"--png", "--out", (dir / "f").string()}, {}, RLIM_INFINITY, SIGTERM);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.output;
  EXPECT_NE(r.output.find("complete frames (frame-000000.png to"), std::string::npos) << r.output;
  const std::vector<std::string> frames = names(dir / "f");
  ASSERT_FALSE(frames.empty());
  int w = 0, h = 0;
  char last[32];
  snprintf(last, sizeof last, "frame-%06zu.png", frames.size() - 1);
  EXPECT_EQ(frames.back(), last) << "a gap or a part file";
  EXPECT_FALSE(readFrame(dir / "f" / frames.back(), w, h).empty());
}

}  // namespace

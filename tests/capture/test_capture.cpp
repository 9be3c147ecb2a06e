// The capture tool run as a user runs it: sameness of two runs, the music, the MP4, the failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "capture_util.h"

namespace {

// Each test gets a folder of its own, removed afterwards.
class CaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = makeTempDir("run");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { removeTree(dir); }
  std::string dir;
};

// The music as libmpg123 decodes the loose track the pack is made from.
const std::vector<int16_t> &tuneSamples() {
  static std::vector<int16_t> pcm;
  static bool done = false;
  if (!done) {
    done = true;
    decodeMp3File(std::string(PROJECT_ROOT) + "/data/tune.mp3", pcm);
  }
  return pcm;
}

// ffprobe's answer for one entry, such as "stream=nb_read_frames" of the video stream.
std::string probe(const std::string &file, const std::vector<std::string> &what) {
  std::vector<std::string> args = {"-v", "error"};
  args.insert(args.end(), what.begin(), what.end());
  args.insert(args.end(), {"-of", "default=noprint_wrappers=1:nokey=1", file});
  RunResult r = runProgram("/usr/bin/ffprobe", args);
  std::string out = r.output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Whether ffmpeg and ffprobe are installed, for the MP4 checks.
bool haveFfmpeg() { return fileExists("/usr/bin/ffmpeg") && fileExists("/usr/bin/ffprobe"); }

TEST_F(CaptureTest, TwoCapturesOfTheSameSpanAreByteForByteTheSame) {
  for (const char *name : {"a", "b"}) {
    RunResult r = runCapture({"--png", "--start", "1", "--duration", "0.25", "--out", dir + "/" + name});
    ASSERT_EQ(r.status, 0) << r.output;
    r = runCapture({"--wav", "--start", "1", "--duration", "0.25", "--out", dir + "/" + name + ".wav"});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::vector<std::string> frames = listDir(dir + "/a");
  ASSERT_EQ(frames.size(), 15u);
  EXPECT_EQ(frames.front(), "frame-000060.png");
  EXPECT_EQ(frames, listDir(dir + "/b"));
  for (const std::string &f : frames) {
    std::string a = readFile(dir + "/a/" + f);
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == readFile(dir + "/b/" + f)) << f << " differs between the two runs";
  }
  EXPECT_EQ(readFile(dir + "/a.wav"), readFile(dir + "/b.wav"));
  if (haveFfmpeg()) {
    for (const char *name : {"a.mp4", "b.mp4"}) {
      RunResult r = runCapture({"--start", "1", "--duration", "0.5", "--out", dir + "/" + name});
      ASSERT_EQ(r.status, 0) << r.output;
    }
    std::string a = readFile(dir + "/a.mp4");
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == readFile(dir + "/b.mp4")) << "the two MP4s differ";
  }
}

TEST_F(CaptureTest, WavIsTheDecodedTrackOverTheSpan) {
  const std::vector<int16_t> &tune = tuneSamples();
  ASSERT_GT(tune.size(), 44100u * 2 * 4);
  const int64_t tuneFrames = static_cast<int64_t>(tune.size() / 2);

  // 24 frames per second: frame 12 starts at sample 22050, and 24 frames hold 44100 samples.
  RunResult r = runCapture({"--wav", "--fps", "24", "--start", "0.5", "--duration", "1", "--out", dir + "/a.wav"});
  ASSERT_EQ(r.status, 0) << r.output;
  WavData wav;
  std::string error;
  ASSERT_TRUE(readWav(dir + "/a.wav", wav, error)) << error;
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.bits, 16);
  ASSERT_EQ(wav.samples.size(), 44100u * 2);
  EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.end(), tune.begin() + 22050 * 2));

  // A span that runs past the end of the music: the music, then silence, at the full length.
  const double tuneSeconds = static_cast<double>(tuneFrames) / 44100.0;
  const int64_t startFrame = static_cast<int64_t>(std::floor(tuneSeconds * 60.0)) - 30;
  char start[32];
  snprintf(start, sizeof start, "%.6f", static_cast<double>(startFrame) / 60.0);
  r = runCapture({"--wav", "--start", start, "--duration", "1", "--out", dir + "/end.wav"});
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(readWav(dir + "/end.wav", wav, error)) << error;
  ASSERT_EQ(wav.samples.size(), 44100u * 2);
  const int64_t from = startFrame * 735;
  const size_t inTune = static_cast<size_t>(tuneFrames - from) * 2;
  ASSERT_LT(inTune, wav.samples.size());
  EXPECT_TRUE(std::equal(wav.samples.begin(), wav.samples.begin() + static_cast<std::ptrdiff_t>(inTune),
                         tune.begin() + from * 2));
  EXPECT_TRUE(std::all_of(wav.samples.begin() + static_cast<std::ptrdiff_t>(inTune), wav.samples.end(),
                          [](int16_t s) { return s == 0; }));

  // Without --duration: the whole tune, up to the end of the frame that holds its last sample.
  r = runCapture({"--wav", "--out", dir + "/all.wav"});
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(readWav(dir + "/all.wav", wav, error)) << error;
  EXPECT_GE(wav.samples.size(), tune.size());
  EXPECT_LT(wav.samples.size(), tune.size() + 735 * 2);
  EXPECT_EQ(wav.samples.size() % (735 * 2), 0u);
  EXPECT_TRUE(std::equal(tune.begin(), tune.end(), wav.samples.begin()));
}

TEST_F(CaptureTest, Mp4HasTheFramesTheDurationAndTheMusic) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  RunResult r = runCapture({"--mp4", "--start", "2", "--duration", "1.5", "--out", dir + "/a.mp4"});
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string mp4 = dir + "/a.mp4";
  EXPECT_FALSE(fileExists(mp4 + ".part"));
  EXPECT_EQ(probe(mp4, {"-select_streams", "v", "-count_frames", "-show_entries", "stream=nb_read_frames"}), "90");
  EXPECT_EQ(probe(mp4, {"-select_streams", "v", "-show_entries", "stream=codec_name,width,height,pix_fmt"}),
            "h264\n640\n480\nyuv420p");
  EXPECT_NEAR(std::stod(probe(mp4, {"-select_streams", "v", "-show_entries", "stream=duration"})), 1.5, 1e-3);
  EXPECT_NEAR(std::stod(probe(mp4, {"-show_entries", "format=duration"})), 1.5, 0.03);
  EXPECT_EQ(probe(mp4, {"-select_streams", "a", "-show_entries", "stream=codec_name,sample_rate,channels"}),
            "aac\n44100\n2");
  EXPECT_NEAR(std::stod(probe(mp4, {"-select_streams", "a", "-show_entries", "stream=duration"})), 1.5, 0.03);

  // Another rate and size.
  r = runCapture({"--fps", "25", "--size", "320x240", "--duration", "2", "--out", dir + "/b.mp4"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(probe(dir + "/b.mp4", {"-select_streams", "v", "-count_frames", "-show_entries",
                                   "stream=nb_read_frames,width,height,r_frame_rate"}),
            "320\n240\n25/1\n50");
}

TEST_F(CaptureTest, BadOptionsAreRefusedWithAMessage) {
  // One of each kind; the parsing itself is tested case by case in test_capture_options.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--fps"}, "--fps needs a value"},
      {{"--fps=nan"}, "--fps must be"},
      {{"--size", "0x480"}, "--size must be"},
      {{"--duration", "0.001"}, "shorter than one frame"},
      {{"--png", "--wav"}, "choose one of"},
      {{"--png", "--out", "x.mp4"}, "looks like a file name"},
      {{"--mp4", "--size", "641x480", "--out", "x.mp4"}, "even width and height"},
      {{"--frames", "1", "--start", "2"}, "cannot be combined"},
      {{"--start", "100000", "--wav"}, "past the end of the music"},
  };

  for (const auto &[args, message] : cases) {
    RunResult r = runCapture(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << "\n" << r.output;
    EXPECT_NE(r.output.find(message), std::string::npos) << testing::PrintToString(args) << "\n" << r.output;
  }
  // Nothing was made by any of them in the working folder.
  EXPECT_FALSE(fileExists(std::string(PROJECT_ROOT) + "/x.mp4"));
  EXPECT_FALSE(fileExists(std::string(PROJECT_ROOT) + "/frames"));
  RunResult help = runCapture({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--duration"), std::string::npos);
}

TEST_F(CaptureTest, UnwritableOutputsFailBeforeDrawingAndLeaveNothing) {
  std::ofstream(dir + "/file") << "x";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--png", "--duration", "0.1", "--out", dir + "/file"}, "exists and is not a folder"},
      {{"--png", "--duration", "0.1", "--out", dir + "/file/frames"}, "is not a folder"},
      {{"--wav", "--duration", "0.1", "--out", dir + "/file/a.wav"}, "is not a folder"},
      {{"--wav", "--duration", "0.1", "--out", "/proc/a.wav"}, "cannot write '/proc/a.wav.part'"},
      {{"--png", "--duration", "0.1", "--out", "/proc/frames"}, "cannot make the folder '/proc/frames'"},
  };
  for (const auto &[args, message] : cases) {
    RunResult r = runCapture(args);
    EXPECT_EQ(r.status, 1) << testing::PrintToString(args) << "\n" << r.output;
    EXPECT_NE(r.output.find(message), std::string::npos) << testing::PrintToString(args) << "\n" << r.output;
    EXPECT_EQ(r.output.find("drawing with"), std::string::npos) << "drew before finding the output unwritable";
  }
  if (haveFfmpeg()) {
    RunResult r = runCapture({"--duration", "0.1", "--out", dir + "/file/a.mp4"});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("is not a folder"), std::string::npos) << r.output;
  }
  EXPECT_EQ(listDir(dir), std::vector<std::string>{"file"});
}

TEST_F(CaptureTest, AFailedWriteIsReportedAndLeavesNoPartFile) {
  // A file-size limit far below one frame: every write fails as a full disk would.
  RunSettings small;
  small.fileSizeLimit = 4000;
  RunResult r = runCapture({"--png", "--duration", "0.2", "--out", dir + "/frames"}, small);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot write '" + dir + "/frames/frame-000000.png.part'"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no frames were written"), std::string::npos) << r.output;
  EXPECT_TRUE(listDir(dir + "/frames").empty());

  r = runCapture({"--wav", "--duration", "1", "--out", dir + "/a.wav"}, small);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("a.wav.part"), std::string::npos) << r.output;
  if (haveFfmpeg()) {
    r = runCapture({"--duration", "1", "--out", dir + "/a.mp4"}, small);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("cannot write"), std::string::npos) << r.output;
  }
  EXPECT_EQ(listDir(dir), std::vector<std::string>{"frames"});
}

TEST_F(CaptureTest, AnFfmpegThatFailsIsReportedAndLeavesNoPartFile) {
  // An ffmpeg that reads a little and gives up, found first on the PATH.
  const std::string bin = dir + "/bin";
  mkdir(bin.c_str(), 0755);
  std::ofstream(bin + "/ffmpeg") << "#!/bin/sh\nhead -c 100000 >/dev/null\necho 'fake ffmpeg: giving up' >&2\nexit 3\n";
  chmod((bin + "/ffmpeg").c_str(), 0755);
  RunSettings path;
  path.setEnv = {"PATH=" + bin + ":/usr/bin:/bin"};
  RunResult r = runCapture({"--duration", "1", "--out", dir + "/a.mp4"}, path);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("fake ffmpeg: giving up"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ffmpeg failed with exit status 3"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no MP4 was written"), std::string::npos) << r.output;
  EXPECT_FALSE(fileExists(dir + "/a.mp4"));
  EXPECT_FALSE(fileExists(dir + "/a.mp4.part"));
}

// The display number the tool reports for an Xvfb of its own, or -1.
int ownDisplay(const std::string &output) {
  size_t at = output.find(" (an Xvfb of its own)");
  if (at == std::string::npos) return -1;
  size_t colon = output.rfind(':', at);
  return colon == std::string::npos ? -1 : std::atoi(output.c_str() + colon + 1);
}

TEST_F(CaptureTest, WithoutADisplayItStartsAndEndsAnXvfbOfItsOwn) {
  // No DISPLAY, a DISPLAY that does not answer, and --xvfb with whatever display the test has.
  const std::vector<std::pair<RunSettings, bool>> cases = {
      {RunSettings{{}, {"DISPLAY"}}, false}, {RunSettings{{"DISPLAY=:4711"}, {}}, false}, {RunSettings{}, true}};
  for (const auto &[settings, forced] : cases) {
    std::vector<std::string> args = {"--png", "--size", "320x200", "--duration", "0.1", "--out", dir + "/frames"};
    if (forced) args.push_back("--xvfb");
    RunResult r = runCapture(args, settings);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("starting an Xvfb of its own") != std::string::npos, !forced) << r.output;
    int display = ownDisplay(r.output);
    ASSERT_GE(display, 0) << r.output;
    EXPECT_FALSE(fileExists("/tmp/.X11-unix/X" + std::to_string(display))) << "the Xvfb is still there";
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    ASSERT_TRUE(readPngRgb(dir + "/frames/frame-000005.png", rgb, w, h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    removeTree(dir + "/frames");
  }
  // No display and no Xvfb to start one: a clear message.
  const std::string empty = dir + "/nothing";
  mkdir(empty.c_str(), 0755);
  RunSettings none{{"PATH=" + empty}, {"DISPLAY"}};
  RunResult r = runCapture({"--png", "--duration", "0.1", "--out", dir + "/frames"}, none);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("no GL context could be had: Xvfb is not on the PATH"), std::string::npos) << r.output;
}

TEST_F(CaptureTest, AnInterruptedCaptureLeavesNoPartFileNoHalfFrameAndNoXvfb) {
  if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  RunSettings interrupt{{}, {"DISPLAY"}};
  interrupt.signalAfter = SIGINT;
  interrupt.signalSeconds = 3.0;
  RunResult r = runCapture({"--out", dir + "/a.mp4"}, interrupt);
  EXPECT_EQ(r.status, 128 + SIGINT) << r.output;
  EXPECT_NE(r.output.find("stopped by"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no MP4 was written"), std::string::npos) << r.output;
  EXPECT_TRUE(listDir(dir).empty()) << testing::PrintToString(listDir(dir));
  int display = ownDisplay(r.output);
  ASSERT_GE(display, 0) << r.output;
  EXPECT_FALSE(fileExists("/tmp/.X11-unix/X" + std::to_string(display)));

  // PNG frames: those written are complete, none is left half-written, and the message says so.
  interrupt.signalAfter = SIGTERM;
  r = runCapture({"--png", "--out", dir + "/frames"}, interrupt);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.output;
  EXPECT_NE(r.output.find("complete frames (frame-000000.png to"), std::string::npos) << r.output;
  std::vector<std::string> frames = listDir(dir + "/frames");
  ASSERT_FALSE(frames.empty());
  for (size_t i = 0; i < frames.size(); i++) {
    char want[32];
    snprintf(want, sizeof want, "frame-%06zu.png", i);
    ASSERT_EQ(frames[i], want);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    EXPECT_TRUE(readPngRgb(dir + "/frames/" + frames[i], rgb, w, h)) << frames[i];
  }
}

}  // namespace

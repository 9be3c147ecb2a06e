// The capture tool's command line, the frame and sample spans it works out, and its progress report.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "options.h"
#include "progress.h"
#include "sink.h"
#include "timeline.h"
#include "track.h"

namespace {

// Parses the arguments as the tool would, with or without ffmpeg on the PATH.
bool parse(std::vector<std::string> args, CaptureOptions &o, std::string &error, bool ffmpeg = true) {
  args.insert(args.begin(), "parkhaus-capture");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return captureParseOptions(static_cast<int>(args.size()), argv.data(), ffmpeg, o, error);
}

TEST(CaptureOptions, DefaultsAndTheFormatFollowTheOutputAndFfmpeg) {
  CaptureOptions o;
  std::string error;
  ASSERT_TRUE(parse({}, o, error)) << error;
  EXPECT_EQ((std::vector<double>{o.fps, o.start, double(o.width), double(o.height)}), (std::vector<double>{60, 0, 640, 480}));
  EXPECT_TRUE(o.duration < 0.0 && o.format == CaptureFormat::Mp4 && o.out == "capture/parkhaus.mp4");
  EXPECT_FALSE(o.help || o.version || o.quiet || o.ownXServer);
  ASSERT_TRUE(parse({}, o, error, false)) << error;
  EXPECT_TRUE(o.format == CaptureFormat::Png && o.out == "capture/frames");

  for (const auto &[args, format] : {std::pair<std::vector<std::string>, CaptureFormat>{{"--out=clip.MP4"}, CaptureFormat::Mp4},
                                     {{"-o", "x/tune.wav"}, CaptureFormat::Wav}, {{"--out", "shots"}, CaptureFormat::Png}}) {
    ASSERT_TRUE(parse(args, o, error)) << error;
    EXPECT_EQ(o.format, format) << args[0];
  }
  ASSERT_TRUE(parse({"--wav"}, o, error) && o.out == "capture/parkhaus.wav") << error;
  ASSERT_TRUE(parse({"-q", "--xvfb", "--png"}, o, error) && o.quiet && o.ownXServer && !o.help) << error;
  // --help and --version leave the format and the output unsettled.
  ASSERT_TRUE(parse({"--fps", "30", "--help"}, o, error) && o.help && !o.version && o.out.empty()) << error;
  ASSERT_TRUE(parse({"--version"}, o, error) && o.version && !o.help && o.out.empty()) << error;
}

TEST(CaptureOptions, NumbersSizesAndSecondsAreReadWholeUpToTheirBounds) {
  CaptureOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--fps=29.97", "--start", "1.5s", "--duration", "2", "--size", "320X200", "--png"}, o, error))
      << error;
  EXPECT_EQ(o.fpsText, "29.97");
  EXPECT_EQ((std::vector<double>{o.fps, o.start, o.duration, double(o.width), double(o.height)}),
            (std::vector<double>{29.97, 1.5, 2.0, 320, 200}));
  ASSERT_TRUE(parse({"--fps", "1.2e2", "--png"}, o, error)) << error;
  EXPECT_EQ(o.fpsText, "120");
  for (const std::vector<std::string> &good : {std::vector<std::string>{"--fps", "1000"}, {"--fps", "0.001"},
                                               {"--start", "0"}, {"--duration", "0.001"}, {"--size", "8192x1"},
                                               {"--size", "641x481"}}) {
    std::vector<std::string> args = good;
    args.push_back("--png");  // odd sides are fine for PNG frames
    EXPECT_TRUE(parse(args, o, error)) << testing::PrintToString(good) << ": " << error;
  }
}

// Each mistake on the command line, refused with the reason the user reads.
TEST(CaptureOptions, RefusesEachMistakeWithItsReason) {
  const std::string fps = "--fps must be a number above 0 and at most 1000, not '";
  const std::string start = "--start must be a time in seconds, 0 or more, not '";
  const std::string duration = "--duration must be a time in seconds above 0, not '";
  const std::string size = "--size must be WIDTHxHEIGHT with sides from 1 to 8192, not '";
  const struct {
    std::vector<std::string> args;
    std::string reason;
    bool ffmpeg = true;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"}, {{"-x"}, "unknown option '-x'"},
      {{"--fps"}, "--fps needs a value"}, {{"--fps", "0"}, fps + "0'"},
      {{"--fps", "-5"}, fps + "-5'"}, {{"--fps", "1000.5"}, fps + "1000.5'"},
      {{"--fps", "60fps"}, fps + "60fps'"}, {{"--fps", "1e400"}, fps + "1e400'"},
      {{"--fps", "inf"}, fps + "inf'"}, {{"--fps", " 60"}, fps + " 60'"},
      {{"--fps", "+60"}, fps + "+60'"}, {{"--fps="}, fps + "'"},
      {{"--start", "-1"}, start + "-1'"}, {{"--start", "-0.5s"}, start + "-0.5s'"},
      {{"--start", "1m"}, start + "1m'"}, {{"--duration", "-5"}, duration + "-5'"},
      {{"--duration", "0"}, duration + "0'"}, {{"--duration", "0s"}, duration + "0s'"},
      {{"--duration", "s"}, duration + "s'"}, {{"--size", "1x"}, size + "1x'"},
      {{"--size", "x1"}, size + "x1'"}, {{"--size", "-1x5"}, size + "-1x5'"},
      {{"--size", "0x480"}, size + "0x480'"}, {{"--size", "8193x2"}, size + "8193x2'"},
      {{"--size", "2x8193"}, size + "2x8193'"}, {{"--size", "1.5x2"}, size + "1.5x2'"},
      {{"--size", "640*480"}, size + "640*480'"}, {{"--out="}, "--out needs a file or folder name"},
      {{"--png=yes"}, "--png takes no value"},
      {{"--png", "--wav"}, "choose one of --png, --wav and --mp4, not both --png and --wav"},
      {{"--frames", "1", "--duration", "2"}, "--frames names the frames itself"},
      {{"--frames", "1", "--start", "0"}, "--frames names the frames itself"},
      {{"--frames", "1", "--wav"}, "--frames writes PNG frames; it cannot be combined with --wav"},
      {{"--frames", "1", "--out", "a.wav"}, "PNG frames go into a folder; --out 'a.wav' looks like a file name"},
      {{"--png", "--out", "a.png"}, "PNG frames go into a folder"},
      {{"--mp4", "--out", "a.wav"}, "--mp4 writes a file whose name ends in .mp4, not 'a.wav'"},
      {{"--wav", "--out", "a.mp4"}, "--wav writes a file whose name ends in .wav, not 'a.mp4'"},
      {{"--out", "clip.mp4"}, "--mp4 needs ffmpeg", false},
      {{"--mp4", "--size", "641x480"}, "an MP4 needs an even width and height, not 641x480"},
  };
  for (const auto &k : cases) {
    CaptureOptions o;
    std::string error;
    EXPECT_FALSE(parse(k.args, o, error, k.ffmpeg)) << testing::PrintToString(k.args);
    EXPECT_EQ(error.substr(0, k.reason.size()), k.reason) << testing::PrintToString(k.args);
  }
  for (const char *bad : {"", "1,", ",1", "1.5", "-1", "s", "-2s", "1,,2", "abc"}) {
    CaptureOptions o;
    std::string error;
    EXPECT_FALSE(parse({"--frames", bad}, o, error)) << bad;
    EXPECT_EQ(error.substr(0, 8), "--frames") << bad;
  }
}

TEST(CaptureSpan, FramesFromStartAndDurationAndFromTheTuneLength) {
  CaptureOptions o;
  CaptureSpan span;
  std::string error;
  ASSERT_TRUE(parse({"--start", "0.4", "--duration", "0.2", "--fps", "30", "--png"}, o, error));
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  EXPECT_EQ(std::tuple(span.first, span.count, captureLastFrame(span)), std::tuple(12, 6, 17));

  // The whole tune: up to the frame that shows its last sample, also when that frame is partial.
  ASSERT_TRUE(parse({"--png"}, o, error));
  ASSERT_TRUE(captureMakeSpan(o, kMusicRate, span, error)) << error;
  EXPECT_EQ(std::tuple(span.first, span.count), std::tuple(0, 60));
  ASSERT_TRUE(captureMakeSpan(o, 44101, span, error)) << error;
  EXPECT_EQ(span.count, 61);
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
  EXPECT_NE(error.find("give --duration"), std::string::npos);

  ASSERT_TRUE(parse({"--png", "--start", "1"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, kMusicRate, span, error));
  EXPECT_NE(error.find("past the end"), std::string::npos);
  ASSERT_TRUE(captureMakeSpan(o, kMusicRate + 1, span, error)) << error;
  EXPECT_EQ(std::tuple(span.first, span.count), std::tuple(60, 1));

  ASSERT_TRUE(parse({"--png", "--duration", "0.001"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
  EXPECT_NE(error.find("shorter than one frame at 60 frames per second"), std::string::npos) << error;
  ASSERT_TRUE(parse({"--png", "--duration", "100000000"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
  EXPECT_NE(error.find("more than 10000000 frames"), std::string::npos) << error;
  std::vector<int16_t> cut;  // cut past the end of a track whose memory ends there: the tail, then silence
  captureCutSpan({1, 2, 3, 4}, 1, 3, cut);
  EXPECT_EQ(cut, (std::vector<int16_t>{3, 4, 0, 0, 0, 0}));
}

TEST(CaptureSpan, ChosenFramesAreSortedWithoutRepeatsAndSecondsRound) {
  CaptureOptions o;
  CaptureSpan span;
  std::string error;
  ASSERT_TRUE(parse({"--frames", "90,0.5s,3,90,1s", "--fps", "30"}, o, error)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Png);
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  EXPECT_EQ(span.picked, (std::vector<int64_t>{3, 15, 30, 90}));
  EXPECT_EQ(std::tuple(span.first, span.count, captureLastFrame(span)), std::tuple(3, 88, 90));
  ASSERT_TRUE(parse({"--frames", "99999999"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
  EXPECT_NE(error.find("beyond the last frame the tool draws (9999999)"), std::string::npos) << error;
}

// The report: frames, rate and time left; on a terminal a bar, drawn at once when the capture
// ends; otherwise a line once five seconds have passed; and nothing at all when quiet.
TEST(CaptureProgress, ReportsFramesRateAndTimeLeft) {
  EXPECT_EQ(captureProgressText(0, 600, 0.0), "0/600 frames");
  EXPECT_EQ(captureProgressText(5, 600, 0.0), "5/600 frames");  // no rate yet
  EXPECT_EQ(captureProgressText(120, 600, 2.0), "120/600 frames  60.0 fps  0:08 left");
  EXPECT_EQ(captureProgressText(120, 7320, 2.0), "120/7320 frames  60.0 fps  2:00 left");
  // The time is given, not read: ten seconds after each record's start.
  const double now = 1000.0;
  CaptureProgress bar{1, true, false, false, now - 10.0};
  CaptureProgress lines{600, false, false, false, now - 10.0, now - 6.0};
  CaptureProgress fresh{600, false, false, false, now};
  CaptureProgress quiet{600, true, true, false, now - 10.0};
  testing::internal::CaptureStderr();
  captureProgressUpdate(bar, 1, now);
  captureProgressEnd(bar);
  captureProgressUpdate(lines, 300, now);
  captureProgressUpdate(fresh, 300, now);
  captureProgressUpdate(quiet, 600, now);
  captureProgressEnd(quiet);
  const std::string printed = testing::internal::GetCapturedStderr();
  const std::string full = "\r[" + std::string(30, '#') + "] 1/1 frames  0.1 fps  0:00 left\033[K\n";
  EXPECT_EQ(printed.substr(0, full.size()), full);
  EXPECT_EQ(printed.substr(full.size()), "parkhaus-capture: 300/600 frames  30.0 fps  0:10 left\n");
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;
}

// The closing line counts every frame drawn, those before the span included, over the time given.
TEST(CaptureProgress, TheClosingLineGivesWhatWasWrittenAndTheRateOfAllFramesDrawn) {
  CaptureOptions o;
  CaptureSpan span;
  CaptureSink sink;
  std::string error;
  ASSERT_TRUE(parse({"--start", "0.5", "--duration", "1", "--fps", "24", "--out", "/v/a.mp4"}, o, error)) << error;
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  EXPECT_EQ(captureDoneText(o, span, sink, 4.0), "wrote /v/a.mp4 (24 frames, 1.000 s, with the music) in 4.0 s, 9.0 frames/s");
  ASSERT_TRUE(parse({"--frames", "7,2", "--out", "/v/f"}, o, error)) << error;
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  sink.written = 2, sink.firstWritten = 2, sink.lastWritten = 7;
  EXPECT_EQ(captureDoneText(o, span, sink, 0.5),
            "wrote 2 frames (frame-000002.png to frame-000007.png) to /v/f in 0.5 s, 16.0 frames/s");
  EXPECT_EQ(captureDoneText(o, span, sink, 0.0).substr(61), " in 0.0 s, 0.0 frames/s");
}

}  // namespace

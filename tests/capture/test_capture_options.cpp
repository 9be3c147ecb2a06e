// The capture tool's command line and the frame and sample spans it works out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

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
  EXPECT_LT(o.duration, 0.0);
  EXPECT_EQ(o.format, CaptureFormat::Mp4);
  EXPECT_EQ(o.out, "capture/parkhaus.mp4");

  ASSERT_TRUE(parse({}, o, error, false)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Png);
  EXPECT_EQ(o.out, "capture/frames");

  ASSERT_TRUE(parse({"--out=clip.MP4"}, o, error)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Mp4);
  ASSERT_TRUE(parse({"-o", "x/tune.wav"}, o, error, false)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Wav);
  ASSERT_TRUE(parse({"--out", "shots"}, o, error)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Png);
  ASSERT_TRUE(parse({"--wav"}, o, error)) << error;
  EXPECT_EQ(o.out, "capture/parkhaus.wav");

  EXPECT_FALSE(parse({"--out", "clip.mp4"}, o, error, false));
  EXPECT_NE(error.find("needs ffmpeg"), std::string::npos);
  EXPECT_FALSE(parse({"--png=yes"}, o, error));
  EXPECT_FALSE(parse({"--out="}, o, error));
}

TEST(CaptureOptions, NumbersSizesAndSecondsAreReadWhole) {
  CaptureOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--fps=29.97", "--start", "1.5s", "--duration", "2", "--size", "320X200", "--png"}, o, error))
      << error;
  EXPECT_EQ(o.fpsText, "29.97");
  EXPECT_EQ((std::vector<double>{o.fps, o.start, o.duration, double(o.width), double(o.height)}),
            (std::vector<double>{29.97, 1.5, 2.0, 320, 200}));
  ASSERT_TRUE(parse({"--fps", "1.2e2", "--png"}, o, error)) << error;
  EXPECT_EQ(o.fpsText, "120");
  for (const char *bad : {"60fps", "1e400", "inf", " 60", "+60", "", "0x10"}) {
    EXPECT_FALSE(parse({"--fps", bad}, o, error)) << bad;
  }
  for (const char *bad : {"1x", "x1", "-1x5", "8193x2", "2x8193", "1.5x2", "640*480"}) {
    EXPECT_FALSE(parse({"--size", bad, "--png"}, o, error)) << bad;
  }
  EXPECT_TRUE(parse({"--size", "8192x1", "--png"}, o, error)) << error;
  EXPECT_TRUE(parse({"--size", "641x481", "--png"}, o, error)) << error;  // odd sides are fine for PNG
}

TEST(CaptureSpan, FramesFromStartAndDurationAndFromTheTuneLength) {
  CaptureOptions o;
  CaptureSpan span;
  std::string error;
  ASSERT_TRUE(parse({"--start", "0.4", "--duration", "0.2", "--fps", "30", "--png"}, o, error));
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  EXPECT_EQ(span.first, 12);
  EXPECT_EQ(span.count, 6);
  EXPECT_EQ(captureLastFrame(span), 17);

  // The whole tune: up to the frame that shows its last sample, also when that frame is partial.
  ASSERT_TRUE(parse({"--png"}, o, error));
  ASSERT_TRUE(captureMakeSpan(o, 44100, span, error)) << error;
  EXPECT_EQ(span.first, 0);
  EXPECT_EQ(span.count, 60);
  ASSERT_TRUE(captureMakeSpan(o, 44101, span, error)) << error;
  EXPECT_EQ(span.count, 61);
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
  EXPECT_NE(error.find("give --duration"), std::string::npos);

  ASSERT_TRUE(parse({"--png", "--start", "1"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, 44100, span, error));
  EXPECT_NE(error.find("past the end"), std::string::npos);
  ASSERT_TRUE(captureMakeSpan(o, 44100 + 1, span, error)) << error;
  EXPECT_EQ(span.first, 60);
  EXPECT_EQ(span.count, 1);

  ASSERT_TRUE(parse({"--png", "--duration", "100000000"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
}

TEST(CaptureSpan, ChosenFramesAreSortedWithoutRepeatsAndSecondsRound) {
  CaptureOptions o;
  CaptureSpan span;
  std::string error;
  ASSERT_TRUE(parse({"--frames", "90,0.5s,3,90,1s", "--fps", "30"}, o, error)) << error;
  EXPECT_EQ(o.format, CaptureFormat::Png);
  ASSERT_TRUE(captureMakeSpan(o, -1, span, error)) << error;
  EXPECT_EQ(span.picked, (std::vector<int64_t>{3, 15, 30, 90}));
  EXPECT_EQ(captureLastFrame(span), 90);
  for (const char *bad : {"", "1,", ",1", "1.5", "-1", "s", "-2s", "1,,2", "abc"}) {
    EXPECT_FALSE(parse({"--frames", bad}, o, error)) << bad;
  }
  EXPECT_FALSE(parse({"--frames", "1", "--duration", "2"}, o, error));
  EXPECT_FALSE(parse({"--frames", "1", "--out", "a.wav"}, o, error));
  ASSERT_TRUE(parse({"--frames", "99999999"}, o, error));
  EXPECT_FALSE(captureMakeSpan(o, -1, span, error));
}

TEST(CaptureSpan, TimeAndSamplePositionsOfAFrame) {
  EXPECT_EQ(captureFrameTime(0, 60.0), 0.0f);
  EXPECT_EQ(captureFrameTime(90, 60.0), 1.5f);
  EXPECT_EQ(captureFrameTime(1, 3.0), static_cast<float>(1.0 / 3.0));
  EXPECT_EQ(captureSampleAt(1, 60.0), 735);
  EXPECT_EQ(captureSampleAt(12, 24.0), 22050);
  EXPECT_EQ(captureSampleAt(1, 24.0), 1838);  // 1837.5 rounds up
}

}  // namespace

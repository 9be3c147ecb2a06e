// The MP4 sink against stand-ins for ffmpeg: every frame byte goes down the pipe in order however
// short the writes, and each way the pipe and ffmpeg can end is reported in its own words.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "files.h"
#include "sink.h"
#include "tempfolder.h"

namespace {
// While set, each writev of the sink's takes only the next of a few small sizes, cut across rows.
bool gShort = false;
size_t gNext = 0;
constexpr size_t kSizes[] = {1, 5, 2, 13, 3, 64, 7, 19};
}  // namespace

// The test's writev: the real one, over a prefix of the rows at most the next size long.
extern "C" ssize_t writev(int fd, const struct iovec *iov, int count) {
  if (!gShort) return syscall(SYS_writev, fd, iov, count);
  size_t room = kSizes[gNext++ % std::size(kSizes)];
  std::vector<iovec> part;
  for (int i = 0; i < count && room > 0; i++) {
    part.push_back({iov[i].iov_base, std::min(room, iov[i].iov_len)});
    room -= part.back().iov_len;
  }
  return syscall(SYS_writev, fd, part.data(), static_cast<int>(part.size()));
}

namespace {

constexpr int kWidth = 5, kHeight = 3;

// A stand-in ffmpeg: the shell text runs with $last set to the output file.
std::string fakeFfmpeg(const TempFolder &dir, const std::string &body) {
  const std::string path = (dir / "ffmpeg").string();
  std::ofstream(path) << "#!/bin/sh\nfor a; do last=$a; done\n" << body << "\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

// Fills the sink's next buffer with frame k's own bytes and hands it over; those bytes, top row first.
Bytes submitFrame(CaptureSink &sink, int k) {
  uint8_t *buffer = captureSinkBuffer(sink);
  EXPECT_NE(buffer, nullptr);
  if (!buffer) return {};
  const size_t stride = kWidth * 4;
  for (size_t i = 0; i < stride * kHeight; i++) buffer[i] = static_cast<uint8_t>(k * 97 + i);
  Bytes topDown;
  for (int y = kHeight - 1; y >= 0; y--) topDown.insert(topDown.end(), buffer + y * stride, buffer + (y + 1) * stride);
  captureSinkSubmit(sink, buffer, k);
  return topDown;
}

TEST(CaptureSink, ShortWritesStillDeliverEveryByteInOrder) {
  signal(SIGPIPE, SIG_IGN);
  TempFolder dir;
  const std::string out = (dir / "a.mp4").string();
  CaptureSink sink;
  std::string error;
  ASSERT_TRUE(captureSinkOpen(sink, CaptureFormat::Mp4, kWidth, kHeight, out, "30",
                              fakeFfmpeg(dir, "exec cat >\"$last\""), {1, -1, 2, -2}, error)) << error;
  gShort = true;
  Bytes want;
  for (int k = 0; k < 4; k++) {
    const Bytes frame = submitFrame(sink, k);
    want.insert(want.end(), frame.begin(), frame.end());
  }
  const bool finished = captureSinkFinish(sink, error);
  gShort = false;
  ASSERT_TRUE(finished) << error;
  EXPECT_GT(gNext, want.size() / 64);  // the writes were cut short many times
  EXPECT_TRUE(fileRead(out) == want);
  EXPECT_EQ(sink.written, 4);
  EXPECT_FALSE(std::filesystem::exists(out + ".part"));
}

// Each end of ffmpeg, after it read every frame or after it stopped reading at once.
TEST(CaptureSink, FailuresNameTheBrokenPipeAndFfmpegsStatusOnlyWhenThereIsOne) {
  signal(SIGPIPE, SIG_IGN);
  const std::string broken = "ffmpeg stopped reading frames";
  const struct { const char *end; std::string status; } ends[] = {{"exit 0", ""},
              {"exit 3", "ffmpeg failed with exit status 3"},
              {"exit 127", "ffmpeg could not be run"},
              {"kill -9 $$", "ffmpeg was killed"}};
  for (const auto &e : ends) {
    for (const bool reads : {true, false}) {
      const std::string what = std::string(e.end) + (reads ? " after reading" : " without reading");
      TempFolder dir;
      const std::string out = (dir / "a.mp4").string();
      CaptureSink sink;
      std::string error;
      const std::string body = std::string(reads ? "cat >/dev/null; " : "") + e.end;
      ASSERT_TRUE(captureSinkOpen(sink, CaptureFormat::Mp4, kWidth, kHeight, out, "30", fakeFfmpeg(dir, body), {}, error));
      if (!reads) {
        siginfo_t info;  // the frame goes to a pipe nobody reads any more
        ASSERT_EQ(waitid(P_PID, static_cast<id_t>(sink.ffmpeg), &info, WEXITED | WNOWAIT), 0);
      }
      submitFrame(sink, 0);
      const bool finished = captureSinkFinish(sink, error);
      const std::string want = reads ? e.status : broken + (e.status.empty() ? "" : "; " + e.status);
      EXPECT_EQ(finished, want.empty()) << what;
      EXPECT_EQ(error, want) << what;
      EXPECT_EQ(std::filesystem::exists(out), want.empty()) << what;
      EXPECT_FALSE(std::filesystem::exists(out + ".part")) << what;
    }
  }
}

}  // namespace

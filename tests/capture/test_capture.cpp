// The capture tool as a user runs it: frames, music, MP4, repeatability, failures and stops.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "files.h"
#include "globals.h"
#include "gltest.h"
#include "main.h"
#include "mp3decode.h"
#include "options.h"
#include "pngwrite.h"
#include "process.h"
#include "sink.h"
#include "tempfolder.h"
#include "timeline.h"
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

// The tool started from the repository root, with settings as procSpecEnvironment takes them.
ProcSpec tool(const std::vector<std::string> &args, const std::vector<std::string> &env) {
  ProcSpec spec;
  spec.argv = {CAPTURE_EXE};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.workdir = PARKHAUS_SOURCE_DIR;
  procSpecEnvironment(spec, env);
  return spec;
}

// Runs the tool to its end, its files no larger than the limit.
ProcResult capture(std::vector<std::string> args, const std::vector<std::string> &env = {}, rlim_t fileLimit = RLIM_INFINITY) {
  ProcSpec spec = tool(args, env);
  spec.fileSizeLimit = fileLimit;
  return procRun(spec, 300.0);
}

// The names in a folder, sorted; empty when there is none.
std::vector<std::string> names(const fs::path &dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A WAV file of the given samples, as the tools write them.
Bytes wavOf(const std::vector<int16_t> &samples) {
  Bytes wav;
  wavEncode(samples, wav);
  return wav;
}

// ffprobe's answer for the entries asked, one value a line.
std::string probe(const fs::path &file, std::vector<std::string> what) {
  what.insert(what.begin(), {"ffprobe", "-v", "error"});
  what.insert(what.end(), {"-of", "default=noprint_wrappers=1:nokey=1", file.string()});
  std::string out = procRunIn({}, what).output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class Capture : public GlTest {
protected:
  const TempFolder tmp;
  const fs::path dir = tmp.path;
};

// Frames after a --start and frames picked by --frames are the demo's own frames drawn in sequence.
TEST_F(Capture, FramesAreTheDemosFramesDrawnInSequence) {
  ProcResult r = capture({"--png", "--fps", "30", "--start", "0.4", "--duration", "0.2", "--out", (dir / "span").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  r = capture({"--frames", "3,0.5s,2,0", "--fps", "30", "--out", (dir / "picks").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(names(dir / "span").size(), 6u);
  EXPECT_EQ(names(dir / "picks"), (std::vector<std::string>{"frame-000000.png", "frame-000002.png", "frame-000003.png", "frame-000015.png"}));
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
      Bytes got;  // RGBA, bottom row first like GL's pixels
      if (!fs::exists(dir / folder / name)) continue;
      ASSERT_TRUE(pngReadFile((dir / folder / name).string(), true, true, got, w, h)) << name;
      EXPECT_TRUE(got == gFrame) << folder << "/" << name << " differs; the harness drew " << gltestDump(gFrame, name);
      compared++;
    }
  }
  EXPECT_EQ(compared, 10);
  for (util_oia_t *mesh : {object, object2, object3}) {
    if (mesh) free(mesh->data);
    free(mesh);
  }
  zare_delete(pzl);
}

TEST_F(Capture, TwoRunsGiveTheSameBytesAndTheWavIsTheDecodedTrack) {
  for (const std::string name : {"a", "b"}) {
    for (const std::string &out : {name + ".wav", name + ".mp4"}) {
      ProcResult r = capture({"--start", "1", "--duration", "0.25", "--out", (dir / out).string()});
      ASSERT_EQ(r.status, 0) << r.output;
    }
  }
  for (const std::string f : {".wav", ".mp4"}) {
    EXPECT_GT(fileRead((dir / ("a" + f)).string()).size(), 1000u);
    EXPECT_EQ(fileRead((dir / ("a" + f)).string()), fileRead((dir / ("b" + f)).string())) << f;
  }
  std::vector<int16_t> tune;
  std::string error;
  const Bytes mp3 = fileRead(std::string(PARKHAUS_SOURCE_DIR) + "/data/tune.mp3");
  ASSERT_TRUE(mp3Decode(mp3.data(), mp3.size(), tune, error)) << error;
  // At 24 frames per second, frame 12 starts half a second in and 24 frames hold a second.
  ASSERT_EQ(capture({"--wav", "--fps", "24", "--start", "0.5", "--duration", "1", "--out", (dir / "c.wav").string()}).status, 0);
  EXPECT_TRUE(fileRead((dir / "c.wav").string()) == wavOf({tune.begin() + kMusicRate, tune.begin() + 3 * kMusicRate}));
  // Past the end of the music, in a WAV and in the music an MP4 is made with: the tune's tail, then
  // silence, at the full length. At 2 frames per second, the tune ends in the span's second frame.
  const int64_t perFrame = kMusicRate / 2, last = int64_t(tune.size() / 2) / perFrame - 1;
  std::vector<int16_t> want(tune.begin() + last * perFrame * 2, tune.end());
  want.resize(size_t(perFrame) * 4 * 2, 0);
  const std::vector<std::string> tail = {"--fps", "2", "--start", std::to_string(last / 2.0), "--duration", "2"};
  std::vector<std::string> args = tail;
  args.insert(args.end(), {"--out", (dir / "d.wav").string()});
  ASSERT_EQ(capture(args).status, 0);
  EXPECT_TRUE(fileRead((dir / "d.wav").string()) == wavOf(want));
  fs::create_directories(dir / "bin");  // an ffmpeg that keeps the music it is given
  std::ofstream((dir / "bin/ffmpeg").string()) << "#!/bin/sh\ncat <&3 >\"$MUSIC\"\ncat >/dev/null\nfor a; do out=$a; done\n: >\"$out\"\n";
  fs::permissions(dir / "bin/ffmpeg", fs::perms::owner_all);
  args = tail;
  args.insert(args.end(), {"--size", "64x48", "--out", (dir / "d.mp4").string()});
  const ProcResult r = capture(args, {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin", "MUSIC=" + (dir / "music.wav").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fileRead((dir / "music.wav").string()) == wavOf(want));
  // The whole tune, up to the end of the frame that holds its last sample.
  ASSERT_EQ(capture({"--wav", "--out", (dir / "e.wav").string()}).status, 0);
  want = tune;
  const size_t frame = size_t(kMusicRate / 60) * 2;  // the samples of one frame at 60 per second
  want.resize((tune.size() / frame + (tune.size() % frame != 0)) * frame, 0);
  EXPECT_TRUE(fileRead((dir / "e.wav").string()) == wavOf(want));
}

TEST_F(Capture, Mp4HasItsFramesDurationAndMusic) {
  ASSERT_EQ(capture({"--mp4", "--start", "2", "--duration", "1.5", "--out", (dir / "a.mp4").string()}).status, 0);
  EXPECT_EQ(probe(dir / "a.mp4", {"-select_streams", "v", "-count_frames", "-show_entries",
                                  "stream=codec_name,width,height,pix_fmt,nb_read_frames"}),
            "h264\n640\n480\nyuv420p\n90");
  EXPECT_NEAR(std::stod(probe(dir / "a.mp4", {"-select_streams", "v", "-show_entries", "stream=duration"})), 1.5, 1e-3);
  EXPECT_EQ(fs::status(dir / "a.mp4").permissions() & (fs::perms::owner_exec | fs::perms::others_exec), fs::perms::none);
  EXPECT_EQ(probe(dir / "a.mp4", {"-select_streams", "a", "-show_entries", "stream=codec_name,sample_rate,channels"}),
            "aac\n" + std::to_string(kMusicRate) + "\n2");
  EXPECT_NEAR(std::stod(probe(dir / "a.mp4", {"-select_streams", "a", "-show_entries", "stream=duration"})), 1.5, 0.03);
  // Started with its standard descriptors closed: the pipe and music file it opens must not take their place.
  ProcSpec closed = tool({"--fps", "25", "--size", "320x240", "--duration", "2", "--out", (dir / "b.mp4").string()}, {});
  closed.argv.insert(closed.argv.begin(), {"sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"});
  ASSERT_EQ(procRun(closed, 300.0).status, 0);
  EXPECT_EQ(probe(dir / "b.mp4", {"-select_streams", "v", "-count_frames", "-show_entries",
                                  "stream=nb_read_frames,width,height,r_frame_rate"}),
            "320\n240\n25/1\n50");
  EXPECT_EQ(names(dir), (std::vector<std::string>{"a.mp4", "b.mp4"}));
}

TEST_F(Capture, EveryFailureIsReportedWithItsStatusAndLeavesNothing) {
  std::ofstream((dir / "file").string()) << "x";
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "v.mp4");  // a folder where the MP4 would go
  std::ofstream((dir / "bin/ffmpeg").string()) << "#!/bin/sh\n[ \"$FAKE\" = hup ] && kill -HUP $$\nhead -c 100000 >/dev/null\necho 'fake ffmpeg: giving up' >&2\nexit ${FAKE:-1}\n";
  fs::permissions(dir / "bin/ffmpeg", fs::perms::owner_all);
  const std::string d = dir.string();
  const struct {
    std::vector<std::string> args, env;
    rlim_t limit;
    int status;
    std::string message;
  } cases[] = {
      {{"--bogus"}, {}, RLIM_INFINITY, 2, "unknown option '--bogus'\nTry 'parkhaus-capture --help' for the options.\n"},
      {{"--start", "100000", "--wav"}, {}, RLIM_INFINITY, 2, "past the end of the music"},
      {{"--png", "--duration", "0.1", "--out", d + "/file/frames"}, {}, RLIM_INFINITY, 1, "'" + d + "/file' exists and is not a folder"},
      {{"--wav", "--duration", "0.1", "--out", "/proc/a.wav"}, {}, RLIM_INFINITY, 1, "cannot write '/proc/a.wav.part'"},
      {{"--png", "--duration", "0.1", "--out", "/proc/frames"}, {}, RLIM_INFINITY, 1, "cannot make the folder '/proc/frames'"},
      {{"--png", "--duration", "0.1", "--out", "/proc"}, {}, RLIM_INFINITY, 1, "cannot write into the folder '/proc'"},
      {{"--png", "--duration", "0.2", "--out", d + "/frames"}, {}, 4000, 1, "cannot write '" + d + "/frames/frame-00000"},  // whichever writer fails first
      {{"--png", "--duration", "0.2", "--out", d + "/frames"}, {}, 4000, 1, "no frames were written"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {}, 4000, 1, "cannot write"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin"}, RLIM_INFINITY, 1, "fake ffmpeg: giving up"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin"}, RLIM_INFINITY, 1, "ffmpeg failed with exit status 1; no MP4 was written"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin", "FAKE=hup"}, RLIM_INFINITY, 1, "ffmpeg was killed;"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"PATH=" + d + "/bin:/usr/bin:/bin", "FAKE=127"}, RLIM_INFINITY, 1, "ffmpeg could not be run;"},
      {{"--png", "--duration", "0.1", "--out", d + "/frames"}, {"PATH=" + d + "/file", "DISPLAY"}, RLIM_INFINITY, 1,
       "no GL context could be had: Xvfb is not on the PATH"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"LIBGL_DRIVERS_PATH=" + d}, RLIM_INFINITY, 1,
       "no GL context could be had: Unable to create"},
      {{"--duration", "0.1", "--out", d + "/v.mp4"}, {"PATH=/usr/bin:/bin"}, RLIM_INFINITY, 1,
       "cannot rename '" + d + "/v.mp4.part' to '" + d + "/v.mp4': Is a directory; no MP4 was written"},
      {{"--duration", "1", "--out", d + "/a.mp4"}, {"TMPDIR=" + d + "/file"}, RLIM_INFINITY, 1,
       "cannot write the music for ffmpeg to a temporary file: Not a directory"},
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
    EXPECT_EQ(names(dir), (std::vector<std::string>{"bin", "file", "v.mp4"})) << testing::PrintToString(k.args);
  }
  // A frame the encoder refuses is reported with the file it was writing.
  std::string error;
  EXPECT_FALSE(captureWritePng(d + "/x.png", nullptr, 0, 1, error));
  EXPECT_EQ(error, "cannot write '" + d + "/x.png.part': PNG encoder failed");
}

// The tool says what it does unless quiet; with no usable display, or when told, it draws on an
// Xvfb of its own; a copy of it alone in a folder says that it lacks its loose files.
TEST_F(Capture, SaysWhatItDoesUnlessQuietWhereItDrawsAndWhereItsFilesAreMissing) {
  ProcResult r = capture({"--png", "--duration", "0.05", "--out", (dir / "a").string()}, {"DISPLAY=no-such-display"});
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char *line : {"; starting an Xvfb of its own\nparkhaus-capture: drawing with ", " (an Xvfb of its own)\n",
                           "parkhaus-capture: frames 0 to 2 (0.050 s from 0.000 s at 60 fps, 640x480) to ",
                           "parkhaus-capture: wrote 3 frames (frame-000000.png to frame-000002.png) to "}) {
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
  }
  // A relative output is named from the folder the tool starts in, although it then moves to its loose files.
  r = procRunIn(dir.string(), {CAPTURE_EXE, "--quiet", "--png", "--duration", "0.05", "--out", "b"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(names(dir / "b").size(), 3u);
  fs::copy_file(CAPTURE_EXE, dir / "tool");
  r = procRunIn(dir.string(), {(dir / "tool").string(), "--xvfb", "--frames", "0", "--out", "c"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("parkhaus-capture: no data/ folder with the loose textures and meshes was found here, beside "
                          "the tool or where it is installed, so the frames lack them\n"), std::string::npos) << r.output;
  EXPECT_TRUE(r.output.find(" (an Xvfb of its own)") != std::string::npos && r.output.find("starting an Xvfb") == std::string::npos) << r.output;
  EXPECT_GT(std::stod(r.output.substr(r.output.rfind(" s, ") + 4)), 0.0) << "the rate of one frame: " << r.output;
  EXPECT_EQ(r.output.find('\r'), std::string::npos) << "a progress bar where there is no terminal";
  EXPECT_EQ(names(dir / "c"), std::vector<std::string>{"frame-000000.png"});
}

// A capture started from the repository root, its output on a temporary file; KILLed should the test end first.
struct Running {
  pid_t pid = -1;
  int log = fileTemp();
  Running(const std::vector<std::string> &args, const std::vector<std::string> &env) {
    ProcSpec spec = tool(args, env);
    spec.stdoutFd = spec.stderrFd = log;
    std::string error;
    pid = procStart(spec, error);
  }
  ~Running() {
    if (pid > 0) procStop(pid, SIGKILL, 0.0);
    close(log);
  }
  // Waits until the output holds the text, or the file exists; false after a generous deadline.
  bool waitFor(const std::function<bool()> &ready) const { return procWaitUntil(120.0, ready); }
  // Where the tool's descriptors past its standard three lead.
  std::vector<std::string> openFiles() const {
    std::vector<std::string> to;
    std::error_code ec;
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
      if (std::stoi(fd.path().filename().string()) > 2) to.push_back(fs::read_symlink(fd.path(), ec).string());
    return to;
  }
  // The part files and removed files the tool holds open: a leaked probe, part or temporary file.
  std::vector<std::string> filesHeld() const {
    std::vector<std::string> held = openFiles();
    std::erase_if(held, [](const std::string &to) { return !(to.ends_with(".part") || to.ends_with(" (deleted)")) || to.starts_with("/memfd:"); });
    return held;
  }
  // The sockets the tool holds: its one connection to the display.
  size_t sockets() const {
    return size_t(std::ranges::count_if(openFiles(), [](const std::string &to) { return to.starts_with("socket:"); }));
  }
  // Sends the signals in turn and waits for the end; the exit status and all the output.
  int stop(const std::vector<int> &signals, std::string &output) {
    for (int sig : signals) kill(pid, sig);
    const int status = procWait(pid, 120.0);
    pid = status < 0 ? pid : -1;
    output = fileReadFd(log);
    return status;
  }
};

// A first stop ends after the frame in hand, with a report; a second at once; neither leaves half a file.
TEST_F(Capture, AStopLeavesOnlyWholeFramesAndASecondStopEndsAtOnce) {
  // A Ctrl-C; the tool's own Xvfb ending, after which Xlib calls exit(); a Ctrl-C and a TERM, which ffmpeg must not outlive.
  for (const std::vector<int> &signals : {std::vector<int>{SIGINT}, {}, {SIGINT, SIGTERM}}) {
    const bool displayGone = signals.empty();
    Running mp4({"--out", (dir / "a.mp4").string()}, {"DISPLAY"});
    ASSERT_TRUE(mp4.waitFor([&] { return fileReadFd(mp4.log).find("drawing with") != std::string::npos; }));
    EXPECT_EQ(mp4.filesHeld(), std::vector<std::string>{});
    EXPECT_EQ(mp4.sockets(), 1u);
    // ffmpeg writes nothing of ours and has a process group of its own, which a Ctrl-C meant for the tool misses.
    const auto child = [&](const char *name) { return atoi(procRunIn({}, {"pgrep", "-P", std::to_string(mp4.pid), name}).output.c_str()); };
    pid_t ff = 0;
    ASSERT_TRUE(mp4.waitFor([&] { return (ff = child("ffmpeg")) > 0; }));
    EXPECT_TRUE(getpgid(ff) != getpgid(mp4.pid) && fs::read_symlink("/proc/" + std::to_string(ff) + "/fd/1") == "/dev/null");
    if (displayGone) kill(child("Xvfb"), SIGTERM);
    std::string output;
    EXPECT_EQ(mp4.stop(signals, output), displayGone ? 1 : 128 + signals.back()) << output;
    // Xlib words a lost display as a broken connection or an I/O error, as the last errno has it.
    EXPECT_TRUE(displayGone ? output.find("X connection") != std::string::npos || output.find("XIO:") != std::string::npos
                            : (output.find("stopped by Interrupt; no MP4 was written") != std::string::npos) == (signals.size() == 1)) << output;
    EXPECT_EQ(names(dir), std::vector<std::string>{});
  }
  for (bool twice : {false, true}) {
    const fs::path frames = dir / (twice ? "twice" : "once");
    Running png({"--png", "--out", frames.string()}, {});
    ASSERT_TRUE(png.waitFor([&] { return fs::exists(frames / "frame-000000.png"); }));
    EXPECT_EQ(png.filesHeld(), std::vector<std::string>{});
    std::string output;
    const int status = twice ? png.stop({SIGINT, SIGTERM}, output) : png.stop({SIGTERM}, output);
    EXPECT_EQ(status, 128 + SIGTERM) << output;
    const std::vector<std::string> written = names(frames);
    ASSERT_FALSE(written.empty());
    const std::string report = std::to_string(written.size()) + " complete frames (frame-000000.png to " + written.back() + ") were written";
    EXPECT_EQ(output.find(report) != std::string::npos, !twice) << output;
    // Once, frames 0 to N; twice, perhaps a gap where a writer had a frame in hand, but no part file.
    char last[32];
    snprintf(last, sizeof last, "frame-%06zu.png", written.size() - 1);
    EXPECT_TRUE(twice || written.back() == last) << "a gap";
    for (const std::string &name : written) {
      int w = 0, h = 0;
      Bytes frame;
      EXPECT_TRUE(name.ends_with(".png") && pngReadFile((frames / name).string(), true, true, frame, w, h)) << name;
    }
  }
}

}  // namespace

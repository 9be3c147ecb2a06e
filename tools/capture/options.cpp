// Command line of the capture tool: parsing, checking, and the frame span it asks for.
#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "refuse.h"
#include "timeline.h"

// Reads a whole string as a finite decimal number; an optional trailing 's' is allowed when
// allowSuffix is set (so "2.5s" and "2.5" both mean seconds).
static bool parseNumber(std::string_view text, double &value, bool allowSuffix) {
  if (allowSuffix && !text.empty() && text.back() == 's') text.remove_suffix(1);
  if (text.empty() || text.front() == '+') return false;
  const char *end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && std::isfinite(value);
}

// Reads a whole string as a non-negative decimal integer that fits 64 bits.
static bool parseCount(std::string_view text, int64_t &value) {
  if (text.empty()) return false;
  const char *end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0;
}

// Reads "WxH" (or "WXH") with both sides within 1..kCaptureMaxSide.
static bool parseSize(std::string_view text, int &width, int &height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return false;
  int64_t w = 0, h = 0;
  if (!parseCount(text.substr(0, x), w) || !parseCount(text.substr(x + 1), h)) return false;
  if (w < 1 || h < 1 || w > kCaptureMaxSide || h > kCaptureMaxSide) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

// Reads the --frames list: comma-separated frame numbers and times with an s suffix.
static bool parsePicks(std::string_view text, std::vector<CapturePick> &picks, std::string &error) {
  if (text.empty()) return refuse(error, "--frames needs a list such as 0,60,2.5s");
  while (true) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    CapturePick pick{};
    int64_t frame = 0;
    if (!item.empty() && item.back() == 's') {
      pick.seconds = true;
      if (!parseNumber(item, pick.value, true) || pick.value < 0.0) {
        return refuse(error, "--frames: '" + std::string(item) + "' is not a time in seconds");
      }
    } else if (parseCount(item, frame)) {
      pick.seconds = false;
      pick.value = static_cast<double>(frame);
    } else {
      error = "--frames: '" + std::string(item) +
              "' is neither a frame number nor a time with an s suffix (such as 2.5s)";
      return false;
    }
    picks.push_back(pick);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return true;
}

// True when path ends with the extension, ignoring case.
static bool endsWith(const std::string &path, const char *ext) {
  size_t n = strlen(ext);
  if (path.size() <= n) return false;
  return std::equal(path.end() - static_cast<std::ptrdiff_t>(n), path.end(), ext,
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// The name of a format as its option spells it.
static const char *formatOption(CaptureFormat format) {
  switch (format) {
  case CaptureFormat::Png: return "--png";
  case CaptureFormat::Wav: return "--wav";
  case CaptureFormat::Mp4: return "--mp4";
  }
  return "?";
}

// Settles the format and the output path from --out and the format options.
static bool settleOutput(CaptureOptions &o, bool hasFfmpeg, std::string &error) {
  bool outMp4 = endsWith(o.out, ".mp4");
  bool outWav = endsWith(o.out, ".wav");
  if (o.framesGiven) {
    if (o.formatGiven && o.format != CaptureFormat::Png) {
      return refuse(error, std::string("--frames writes PNG frames; it cannot be combined with ") +
          formatOption(o.format));
    }
    o.format = CaptureFormat::Png;
    o.formatGiven = true;
  }
  if (!o.formatGiven) {
    if (outMp4) o.format = CaptureFormat::Mp4;
    else if (outWav) o.format = CaptureFormat::Wav;
    else if (!o.out.empty()) o.format = CaptureFormat::Png;
    else o.format = hasFfmpeg ? CaptureFormat::Mp4 : CaptureFormat::Png;
  }
  if (o.out.empty()) {
    o.out = o.format == CaptureFormat::Mp4   ? "capture/parkhaus.mp4"
            : o.format == CaptureFormat::Wav ? "capture/parkhaus.wav"
                                             : "capture/frames";
  }
  if (o.format == CaptureFormat::Mp4 && !endsWith(o.out, ".mp4")) {
    return refuse(error, "--mp4 writes a file whose name ends in .mp4, not '" + o.out + "'");
  }
  if (o.format == CaptureFormat::Wav && !endsWith(o.out, ".wav")) {
    return refuse(error, "--wav writes a file whose name ends in .wav, not '" + o.out + "'");
  }
  if (o.format == CaptureFormat::Png && (outMp4 || outWav || endsWith(o.out, ".png"))) {
    return refuse(error, "PNG frames go into a folder; --out '" + o.out + "' looks like a file name");
  }
  if (o.format == CaptureFormat::Mp4 && !hasFfmpeg) {
    return refuse(error, "--mp4 needs ffmpeg, which is not on the PATH; use --png for frames or --wav for the music");
  }
  if (o.format == CaptureFormat::Mp4 && (o.width % 2 != 0 || o.height % 2 != 0)) {
    return refuse(error, "an MP4 needs an even width and height, not " + std::to_string(o.width) + "x" +
        std::to_string(o.height));
  }
  return true;
}

// Takes one of --png, --wav and --mp4; false when it clashes with another or carries a value.
static bool applyFormat(CaptureOptions &o, std::string_view name, bool hasValue, std::string &error) {
  if (hasValue) return refuse(error, std::string(name) + " takes no value (the file or folder goes to --out)");
  const CaptureFormat f = name == "--png" ? CaptureFormat::Png : name == "--wav" ? CaptureFormat::Wav : CaptureFormat::Mp4;
  if (o.formatGiven && o.format != f) {
    return refuse(error, std::string("choose one of --png, --wav and --mp4, not both ") + formatOption(o.format) +
        " and " + std::string(name));
  }
  o.format = f;
  o.formatGiven = true;
  return true;
}

// Takes the value of --fps, --start, --duration, --size, --out or --frames; false with a reason
// when it is not one the option accepts.
static bool applyValue(CaptureOptions &o, std::string_view name, std::string_view value, std::string &error) {
  const std::string shown(value);
  if (name == "--fps") {
    if (!parseNumber(value, o.fps, false) || o.fps <= 0.0 || o.fps > kCaptureMaxFps) {
      return refuse(error, "--fps must be a number above 0 and at most 1000, not '" + shown + "'");
    }
    // The rate as ffmpeg and the messages see it: plain decimal, whatever way it was written.
    char text[32];
    snprintf(text, sizeof text, "%.10g", o.fps);
    o.fpsText = text;
  } else if (name == "--start") {
    if (!parseNumber(value, o.start, true) || o.start < 0.0) {
      return refuse(error, "--start must be a time in seconds, 0 or more, not '" + shown + "'");
    }
  } else if (name == "--duration") {
    if (!parseNumber(value, o.duration, true) || o.duration <= 0.0) {
      return refuse(error, "--duration must be a time in seconds above 0, not '" + shown + "'");
    }
  } else if (name == "--size") {
    if (!parseSize(value, o.width, o.height)) {
      return refuse(error, "--size must be WIDTHxHEIGHT with sides from 1 to 8192, not '" + shown + "'");
    }
  } else if (name == "--out" || name == "-o") {
    if (value.empty()) return refuse(error, "--out needs a file or folder name");
    o.out = shown;
  } else if (name == "--frames") {
    if (!parsePicks(value, o.picks, error)) return false;
    o.framesGiven = true;
  }
  return true;
}

// Reads the command line into options, then settles the format and output path.
bool captureParseOptions(int argc, char **argv, bool hasFfmpeg, CaptureOptions &o, std::string &error) {
  o = CaptureOptions{};
  bool startGiven = false;
  for (int i = 1; i < argc; i++) {
    const std::string_view arg = argv[i];
    // "--name=value" or "--name value".
    const size_t eq = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const bool hasValue = eq != std::string_view::npos;
    const std::string_view name = arg.substr(0, eq);
    std::string_view value = hasValue ? arg.substr(eq + 1) : std::string_view{};
    if (name == "--help" || name == "-h" || name == "--version" || name == "--quiet" || name == "-q" ||
        name == "--xvfb") {
      o.help = o.help || name == "--help" || name == "-h";
      o.version = o.version || name == "--version";
      o.quiet = o.quiet || name == "--quiet" || name == "-q";
      o.ownXServer = o.ownXServer || name == "--xvfb";
      continue;
    }
    if (name == "--png" || name == "--wav" || name == "--mp4") {
      if (!applyFormat(o, name, hasValue, error)) return false;
      continue;
    }
    const bool known = name == "--fps" || name == "--start" || name == "--duration" || name == "--size" ||
                       name == "--out" || name == "--frames" || name == "-o";
    if (!known) return refuse(error, "unknown option '" + std::string(arg) + "'");
    if (!hasValue && i + 1 >= argc) return refuse(error, std::string(name) + " needs a value");
    if (!hasValue) value = argv[++i];
    if (!applyValue(o, name, value, error)) return false;
    startGiven = startGiven || name == "--start";
  }
  if (o.help || o.version) return true;
  if (o.framesGiven && (startGiven || o.duration >= 0.0)) {
    return refuse(error, "--frames names the frames itself; it cannot be combined with --start or --duration");
  }
  return settleOutput(o, hasFfmpeg, error);
}

// Frame k is drawn at t = k / rate, narrowed to the float the frame reads.
float captureFrameTime(int64_t frame, double fps) {
  return static_cast<float>(static_cast<double>(frame) / fps);
}

// The music sample frame at the start of frame k, rounded to the nearest.
int64_t captureSampleAt(int64_t frame, double fps) {
  return std::llround(static_cast<double>(frame) * kMusicRate / fps);
}

// The last frame to draw: the last chosen one, or the end of the span.
int64_t captureLastFrame(const CaptureSpan &span) {
  if (!span.picked.empty()) return span.picked.back();
  return span.first + span.count - 1;
}

// Turns start, duration (or the tune length) and --frames into frame numbers.
bool captureMakeSpan(const CaptureOptions &o, int64_t tuneSamples, CaptureSpan &span, std::string &error) {
  span = CaptureSpan{};
  if (o.framesGiven) {
    for (const CapturePick &p : o.picks) {
      double frame = p.seconds ? std::round(p.value * o.fps) : p.value;
      if (frame >= static_cast<double>(kCaptureMaxFrames)) {
        return refuse(error, "--frames: frame " + std::to_string(static_cast<long long>(frame)) +
            " is beyond the last frame the tool draws (" + std::to_string(kCaptureMaxFrames - 1) + ")");
      }
      span.picked.push_back(static_cast<int64_t>(frame));
    }
    std::sort(span.picked.begin(), span.picked.end());
    span.picked.erase(std::unique(span.picked.begin(), span.picked.end()), span.picked.end());
    span.first = span.picked.front();
    span.count = span.picked.back() - span.first + 1;
    return true;
  }
  double firstFrame = std::round(o.start * o.fps);
  double count = 0.0;
  if (o.duration >= 0.0) {
    count = std::round(o.duration * o.fps);
    if (count < 1.0) {
      return refuse(error, "--duration is shorter than one frame at " + o.fpsText + " frames per second");
    }
  } else {
    if (tuneSamples < 0) return refuse(error, "there is no music to take the length from; give --duration");
    // The whole tune from the start: up to the frame that shows its last sample.
    double endFrame = std::ceil(static_cast<double>(tuneSamples) * o.fps / kMusicRate - 1e-9);
    count = endFrame - firstFrame;
    if (count < 1.0) {
      return refuse(error, "--start is at or past the end of the music (" +
          std::to_string(static_cast<double>(tuneSamples) / kMusicRate) + " s)");
    }
  }
  if (firstFrame + count > static_cast<double>(kCaptureMaxFrames)) {
    return refuse(error, "the span asks for more than " + std::to_string(kCaptureMaxFrames) + " frames");
  }
  span.first = static_cast<int64_t>(firstFrame);
  span.count = static_cast<int64_t>(count);
  return true;
}

// The --help text.
const char *captureUsage(void) {
  return "Usage: parkhaus-capture [options]\n"
         "Renders the demo with its own clock (time = frame / rate), drawing every frame from the\n"
         "first, and writes PNG frames, a WAV of the music, or an MP4 with the music.\n"
         "It reads the demo's loose files from data/ in the working folder, beside itself, or\n"
         "where they are installed, in that order.\n"
         "\n"
         "  --fps N          frames per second (default 60)\n"
         "  --start S        first second written (default 0; earlier frames are drawn, not written)\n"
         "  --duration S     seconds written (default: to the end of the music)\n"
         "  --size WxH       picture size (default 640x480)\n"
         "  --out PATH       a folder for PNG frames, or a file ending in .mp4 or .wav\n"
         "                   (default capture/parkhaus.mp4, capture/parkhaus.wav or capture/frames)\n"
         "  --png            PNG frames, named frame-NNNNNN.png after their frame number\n"
         "  --wav            the music of the span, 44.1 kHz 16-bit stereo\n"
         "  --mp4            H.264 video with AAC music, made by ffmpeg (the default when ffmpeg is there)\n"
         "  --frames LIST    only these frames as PNG: frame numbers and times in seconds with an s\n"
         "                   suffix, such as 0,90,2.5s; all frames before them are drawn first\n"
         "  --xvfb           always draw on an X server of its own, even when DISPLAY answers\n"
         "  --quiet          no progress bar\n"
         "  --help           this text\n"
         "  --version        the version number\n"
         "\n"
         "Without a usable DISPLAY, the tool starts an Xvfb of its own and stops it when done.\n";
}

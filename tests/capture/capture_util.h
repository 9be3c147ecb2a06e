// Helpers for the capture tests: running the tool, reading its PNG, WAV and MP4 outputs.
#ifndef PARKHAUS_CAPTURE_UTIL_H
#define PARKHAUS_CAPTURE_UTIL_H

#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

// What a finished run of a program left: its exit status (128 + signal when killed) and its output.
struct RunResult {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Settings for a run: NAME=value entries to set, names to remove, an optional file-size limit,
// and a signal to send after the given number of seconds (0: none).
struct RunSettings {
  std::vector<std::string> setEnv;
  std::vector<std::string> unsetEnv;
  rlim_t fileSizeLimit = RLIM_INFINITY;
  int signalAfter = 0;
  double signalSeconds = 0.0;
  double timeoutSeconds = 300.0;
};

// Runs the program with the arguments from the repository root and waits for it.
RunResult runProgram(const std::string &program, const std::vector<std::string> &args, const RunSettings &settings = {});

// Runs the capture tool.
RunResult runCapture(const std::vector<std::string> &args, const RunSettings &settings = {});

// A fresh empty folder under the system's temporary folder; removed by removeTree.
std::string makeTempDir(const std::string &tag);
void removeTree(const std::string &path);

// The whole content of a file; empty when it cannot be read (exists tells which).
std::string readFile(const std::string &path);
bool fileExists(const std::string &path);

// The names in a folder, sorted.
std::vector<std::string> listDir(const std::string &path);

// Decodes a PNG to RGB bytes, top row first; false when it does not decode.
bool readPngRgb(const std::string &path, std::vector<uint8_t> &rgb, int &width, int &height);

// A 16-bit PCM WAV: its format fields and samples.
struct WavData {
  int channels = 0;
  int rate = 0;
  int bits = 0;
  std::vector<int16_t> samples;
};
bool readWav(const std::string &path, WavData &wav, std::string &error);

// Decodes an MP3 file with libmpg123 to 44.1 kHz 16-bit stereo.
bool decodeMp3File(const std::string &path, std::vector<int16_t> &pcm);

#endif

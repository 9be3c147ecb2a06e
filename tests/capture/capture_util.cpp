// Helpers for the capture tests.
#include "capture_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <mpg123.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

// Forks and runs the program from the repository root with the settings; output goes to an unlinked file.
RunResult runProgram(const std::string &program, const std::vector<std::string> &args, const RunSettings &settings) {
  RunResult result;
  char logName[] = "/tmp/capture-test-log-XXXXXX";
  int log = mkstemp(logName);
  if (log < 0) return result;
  unlink(logName);
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The child's environment is made here: after fork only async-signal-safe calls are made.
  std::vector<std::string> env;
  for (char **e = environ; *e; e++) {
    std::string kv = *e;
    std::string name = kv.substr(0, kv.find('='));
    bool drop = std::find(settings.unsetEnv.begin(), settings.unsetEnv.end(), name) != settings.unsetEnv.end();
    for (const std::string &set : settings.setEnv) drop = drop || set.substr(0, set.find('=')) == name;
    if (!drop) env.push_back(kv);
  }
  env.insert(env.end(), settings.setEnv.begin(), settings.setEnv.end());
  std::vector<char *> envp;
  for (std::string &kv : env) envp.push_back(kv.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(PROJECT_ROOT) != 0) _exit(126);
    if (settings.fileSizeLimit != RLIM_INFINITY) {
      rlimit lim{settings.fileSizeLimit, settings.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    dup2(log, 1);
    dup2(log, 2);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  auto begin = std::chrono::steady_clock::now();
  bool signalled = false;
  int status = 0;
  while (true) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (settings.signalAfter && !signalled && elapsed >= settings.signalSeconds) {
      kill(pid, settings.signalAfter);
      signalled = true;
    }
    if (elapsed > settings.timeoutSeconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  lseek(log, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(log, buf, sizeof buf)) > 0) result.output.append(buf, static_cast<size_t>(n));
  close(log);
  return result;
}

// Runs the built capture tool.
RunResult runCapture(const std::vector<std::string> &args, const RunSettings &settings) {
  return runProgram(CAPTURE_EXE, args, settings);
}

// A new folder under /tmp named after the test.
std::string makeTempDir(const std::string &tag) {
  std::string pattern = "/tmp/capture-test-" + tag + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const char *made = mkdtemp(name.data());
  return made ? made : "";
}

// Removes a folder made by makeTempDir, and nothing outside /tmp/capture-test-*.
void removeTree(const std::string &path) {
  if (path.empty() || path.rfind("/tmp/capture-test-", 0) != 0) return;
  std::string cmd = "rm -rf '" + path + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

// The bytes of a file as a string.
std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Whether anything exists at the path.
bool fileExists(const std::string &path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

// The sorted names in a folder.
std::vector<std::string> listDir(const std::string &path) {
  std::vector<std::string> names;
  DIR *d = opendir(path.c_str());
  if (!d) return names;
  while (dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Decodes with libpng's simplified API to RGB.
bool readPngRgb(const std::string &path, std::vector<uint8_t> &rgb, int &width, int &height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb.assign(PNG_IMAGE_SIZE(image), 0);
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  bool ok = png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

// A 32-bit little-endian field of a WAV header.
static uint32_t le32(const std::string &s, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

// A 16-bit little-endian field of a WAV header.
static uint16_t le16(const std::string &s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

// Walks the RIFF chunks: fmt for the format, data for the samples.
bool readWav(const std::string &path, WavData &wav, std::string &error) {
  std::string s = readFile(path);
  if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0) {
    error = "not a RIFF WAVE file";
    return false;
  }
  if (le32(s, 4) != s.size() - 8) {
    error = "RIFF size does not match the file";
    return false;
  }
  // Walk the chunks: fmt first, then data.
  size_t at = 12;
  bool haveFmt = false;
  while (at + 8 <= s.size()) {
    std::string id = s.substr(at, 4);
    uint32_t size = le32(s, at + 4);
    if (at + 8 + size > s.size()) {
      error = "chunk " + id + " runs past the end";
      return false;
    }
    if (id == "fmt ") {
      if (size < 16 || le16(s, at + 8) != 1) {
        error = "not PCM";
        return false;
      }
      wav.channels = le16(s, at + 10);
      wav.rate = static_cast<int>(le32(s, at + 12));
      wav.bits = le16(s, at + 22);
      haveFmt = true;
    } else if (id == "data") {
      if (!haveFmt) {
        error = "data before fmt";
        return false;
      }
      wav.samples.resize(size / 2);
      memcpy(wav.samples.data(), s.data() + at + 8, wav.samples.size() * 2);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  error = "no data chunk";
  return false;
}

// Decodes the file with libmpg123's own file reader, forced to 44.1 kHz stereo 16-bit.
bool decodeMp3File(const std::string &path, std::vector<int16_t> &pcm) {
  int err = 0;
  mpg123_handle *mh = mpg123_new(nullptr, &err);
  if (!mh) return false;
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
    mpg123_delete(mh);
    return false;
  }
  std::vector<unsigned char> buf(1 << 15);
  pcm.clear();
  bool ok = false;
  while (true) {
    size_t done = 0;
    err = mpg123_read(mh, buf.data(), buf.size(), &done);
    const int16_t *s = reinterpret_cast<const int16_t *>(buf.data());
    pcm.insert(pcm.end(), s, s + done / 2);
    if (err == MPG123_DONE) {
      ok = true;
      break;
    }
    if (err != MPG123_OK && err != MPG123_NEW_FORMAT) break;
  }
  mpg123_close(mh);
  mpg123_delete(mh);
  return ok && !pcm.empty();
}

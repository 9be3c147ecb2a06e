// Whole files in and out, and folders with their parents.
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "refuse.h"

namespace fs = std::filesystem;

// Reads through a descriptor until the end of the file.
bool fileRead(const std::string &path, Bytes &out) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // One allocation of the right size, so a large file is not copied as the buffer grows.
  struct stat st{};
  if (fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  uint8_t chunk[1 << 16];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  close(fd);
  return n == 0;
}

// The convenient form for callers that treat an unreadable file as an empty one.
Bytes fileRead(const std::string &path) {
  Bytes out;
  fileRead(path, out);
  return out;
}

bool fileWriteFd(int fd, const void *data, size_t n) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Part file first, renamed into place only once every byte is written and closed.
bool fileWrite(const std::string &path, const void *data, size_t size, std::string &error) {
  const std::string part = path + ".part";
  int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return refuse(error, "cannot write '" + part + "': " + strerror(errno));
  bool ok = fileWriteFd(fd, data, size);
  int savedErrno = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    unlink(part.c_str());
    error = "cannot write '" + part + "': " + strerror(savedErrno);
    return false;
  }
  if (rename(part.c_str(), path.c_str()) != 0) {
    error = "cannot rename '" + part + "' to '" + path + "': " + strerror(errno);
    unlink(part.c_str());
    return false;
  }
  return true;
}

bool fileWrite(const std::string &path, const Bytes &bytes, std::string &error) {
  return fileWrite(path, bytes.data(), bytes.size(), error);
}

std::string fileReadFd(int fd) {
  std::string out;
  char buf[4096];
  off_t at = 0;
  ssize_t n;
  while ((n = pread(fd, buf, sizeof buf, at)) > 0) {
    out.append(buf, static_cast<size_t>(n));
    at += n;
  }
  return out;
}

int fileTemp(void) {
  const char *dir = getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/parkhaus-XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

// Walks the path from its first part, making each missing folder in turn.
bool fileMakeDirs(const std::string &path, std::string &error) {
  fs::path at;
  for (const fs::path &part : fs::path(path)) {
    at /= part;
    std::error_code ec;
    if (fs::is_directory(at, ec)) continue;
    if (fs::exists(at, ec)) return refuse(error, "'" + at.string() + "' exists and is not a folder");
    if (!fs::create_directory(at, ec) && !fs::is_directory(at)) {
      return refuse(error, "cannot make the folder '" + at.string() + "': " + ec.message());
    }
  }
  return true;
}

bool fileMakeParentDirs(const std::string &path, std::string &error) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() || fileMakeDirs(parent.string(), error);
}

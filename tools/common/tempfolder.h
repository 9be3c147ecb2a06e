// A folder of a test's or a benchmark's own under $TMPDIR (or /tmp), with a name no other process
// has, removed with all it holds when it goes out of scope, whether the work passed or not.
#ifndef PARKHAUS_TOOLS_TEMPFOLDER_H
#define PARKHAUS_TOOLS_TEMPFOLDER_H

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

struct TempFolder {
  std::filesystem::path path;

  // Makes the folder, its name starting with the prefix; the path stays empty when it cannot be made.
  explicit TempFolder(const char *prefix = "parkhaus-test") {
    const char *dir = getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(name.data())) path = name;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  // A path inside the folder.
  std::filesystem::path operator/(const std::string &name) const { return path / name; }
  std::string str() const { return path.string(); }
};

#endif

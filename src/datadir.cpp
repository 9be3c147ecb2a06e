// Where the loose files are found: the working folder, the executable's folder, or the installed
// data folder found from the executable's own location, so a relocated install works too.
#include "datadir.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "loosefiles.h"

namespace fs = std::filesystem;

// Whether the folder's data/ holds one of the loose files: then it is the demo's.
static bool holdsLooseFiles(const fs::path &folder) {
  std::error_code ec;
  for (const char *name : kLooseFiles) {
    if (fs::is_regular_file(folder / name, ec)) return true;
  }
  return false;
}

// The folder of the running executable; empty when the system does not say.
static fs::path executableFolder(void) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

std::string datadirFind(const char *installedFromExe) {
  if (holdsLooseFiles(".")) return ".";
  const fs::path here = executableFolder();
  if (here.empty()) return {};
  for (const fs::path &folder : {here, (here / installedFromExe).lexically_normal()}) {
    if (holdsLooseFiles(folder)) return folder.string();
  }
  return {};
}

bool datadirEnter(const char *installedFromExe) {
  const std::string folder = datadirFind(installedFromExe);
  return !folder.empty() && chdir(folder.c_str()) == 0;
}

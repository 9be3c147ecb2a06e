// Runs a program as a user runs it, for the tests that start the project's programs and tools.
#ifndef PARKHAUS_RUNIN_H
#define PARKHAUS_RUNIN_H

#include <string>
#include <vector>

#include "process.h"

// Runs argv to its end in workdir (empty: ours) with NAME=value settings added to the
// environment, for ten minutes at most: its exit status and all it printed.
inline ProcResult runIn(const std::string &workdir, const std::vector<std::string> &argv,
                        const std::vector<std::string> &env = {}) {
  ProcSpec spec;
  spec.argv = argv;
  spec.workdir = workdir;
  spec.setEnv = env;
  return procRun(spec, 600.0);
}

#endif

// Runs a program as a user runs it, for the tests that start the project's programs and tools.
#ifndef PARKHAUS_RUNIN_H
#define PARKHAUS_RUNIN_H

#include <string>
#include <vector>

#include "process.h"

// Adds NAME=value settings to the child's environment and takes plain NAMEs out of it.
inline void runInEnvironment(ProcSpec &spec, const std::vector<std::string> &env) {
  for (const std::string &e : env) (e.find('=') == std::string::npos ? spec.unsetEnv : spec.setEnv).push_back(e);
}

// Runs argv to its end in workdir (empty: ours) with NAME=value settings added to the
// environment and plain NAMEs taken out of it, for ten minutes at most: its exit status and all
// it printed.
inline ProcResult runIn(const std::string &workdir, const std::vector<std::string> &argv,
                        const std::vector<std::string> &env = {}) {
  ProcSpec spec;
  spec.argv = argv;
  spec.workdir = workdir;
  runInEnvironment(spec, env);
  return procRun(spec, 600.0);
}

#endif

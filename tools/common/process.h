// Child processes: starting a program with its descriptors, folder and environment set up,
// waiting for it with a time limit, stopping it, and running one to the end with its output.
#ifndef PARKHAUS_TOOLS_PROCESS_H
#define PARKHAUS_TOOLS_PROCESS_H

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Values for the standard descriptors of a child besides a descriptor of ours.
constexpr int kProcDevNull = -1;
constexpr int kProcInherit = -2;

// How to start a child.
struct ProcSpec {
  std::vector<std::string> argv;             // argv[0]: a path, or a name looked up on PATH
  std::string workdir;                       // empty: ours
  std::vector<std::string> setEnv;           // NAME=value
  std::vector<std::string> unsetEnv;         // NAME
  int stdinFd = kProcDevNull;
  int stdoutFd = kProcInherit;
  int stderrFd = kProcInherit;
  std::vector<std::pair<int, int>> extraFds;  // {number in the child, our descriptor}
  bool ownGroup = false;                      // a process group of its own: a Ctrl-C reaches only us
  int deathSignal = 0;                        // sent to the child when we end (0: none)
  rlim_t fileSizeLimit = RLIM_INFINITY;
};

// How a run ended: the exit status, 128 + signal when a signal ended it, -1 when it could not
// be started or was still running at the time limit; and what it printed.
struct ProcResult {
  int status = -1;
  std::string output;
};

// Finds an executable on the PATH (or the name itself when it holds a slash); empty when none.
std::string procFind(const std::string &name);

// Opens /dev/null on each of descriptors 0 to 2 that was closed when we started, so that no file
// or pipe we open later takes its place and gets what is printed, or a child's standard input.
void procOpenStandardFds(void);

// Starts the child; its pid, or -1 with the reason.
pid_t procStart(const ProcSpec &spec, std::string &error);

// Waits for the child to end, at most the given seconds (below zero: for ever). Returns its
// status as ProcResult::status does, or -1 with the child still running.
int procWait(pid_t pid, double seconds);

// Asks ready every pollMs milliseconds until it says yes; false when the seconds passed first. For
// waiting on an event that gives no signal of its own: a file, a window, a process's end.
bool procWaitUntil(double seconds, const std::function<bool()> &ready, int pollMs = 20);

// Ends the child: the signal first, then KILL when it has not ended after the grace seconds;
// the whole process group when it has one of its own. Returns how it ended.
int procStop(pid_t pid, int signal, double graceSeconds, bool group = false);

// Adds NAME=value settings to the child's environment and takes plain NAMEs out of it.
void procSpecEnvironment(ProcSpec &spec, const std::vector<std::string> &env);

// Runs argv to its end in workdir (empty: ours) with the settings as procSpecEnvironment takes
// them, for ten minutes at most: its exit status and all it printed.
ProcResult procRunIn(const std::string &workdir, const std::vector<std::string> &argv, const std::vector<std::string> &env = {});

// Runs the child to its end with standard output and error collected together (the ProcSpec's
// stdoutFd and stderrFd are replaced), sending the signal after signalSeconds when one is given,
// and killing it after timeoutSeconds.
ProcResult procRun(ProcSpec spec, double timeoutSeconds, int signal = 0, double signalSeconds = 0.0);

// The path of this program, for running it again as a helper process; empty when it cannot be told.
std::string procSelf(void);

// The command line prefix that runs a program as the user nobody (root only).
std::vector<std::string> procAsNobody(void);

// As root, replaces the process with itself run as the user nobody, when nobody may run it and
// each of the other programs: sound servers and compositors want a user of their own and let in
// only that user's clients. Returns why it did not (empty when not root).
std::string procBecomeNobody(int argc, char **argv, const std::vector<std::string> &others);

#endif

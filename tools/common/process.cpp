// Child processes: start, wait, stop, and run to the end with the output collected.
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "files.h"

extern char **environ;

std::string procFind(const std::string &name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  const char *path = getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  while (true) {
    const size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

// The child's environment: ours without the names to remove or to set, then the settings.
static std::vector<std::string> childEnvironment(const ProcSpec &spec) {
  std::vector<std::string> env;
  for (char **e = environ; *e; e++) {
    const std::string kv = *e;
    const std::string name = kv.substr(0, kv.find('='));
    bool drop = std::find(spec.unsetEnv.begin(), spec.unsetEnv.end(), name) != spec.unsetEnv.end();
    for (const std::string &set : spec.setEnv) drop = drop || set.substr(0, set.find('=')) == name;
    if (!drop) env.push_back(kv);
  }
  env.insert(env.end(), spec.setEnv.begin(), spec.setEnv.end());
  return env;
}

// Pointers to the strings, ended by null, as exec takes them.
static std::vector<char *> cStrings(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (std::string &s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Puts one of ours at a standard descriptor of the child (after fork: only async-signal-safe calls).
static bool placeStd(int target, int from, int devnull) {
  if (from == kProcInherit) return true;
  return dup2(from == kProcDevNull ? devnull : from, target) >= 0;
}

// The child's side of the fork: descriptors, group, limits and folder, then exec.
[[noreturn]] static void becomeChild(const ProcSpec &spec, pid_t parent, const char *program, char **argv,
                                     char **envp) {
  if (spec.ownGroup) setpgid(0, 0);
  if (spec.deathSignal) {
    prctl(PR_SET_PDEATHSIG, spec.deathSignal);
    if (getppid() != parent) _exit(127);
  }
  signal(SIGPIPE, SIG_DFL);
  const int devnull = open("/dev/null", O_RDWR);
  if (!placeStd(0, spec.stdinFd, devnull) || !placeStd(1, spec.stdoutFd, devnull) ||
      !placeStd(2, spec.stderrFd, devnull)) {
    _exit(127);
  }
  for (const auto &[childFd, ourFd] : spec.extraFds) {
    if (childFd == ourFd ? fcntl(ourFd, F_SETFD, 0) < 0 : dup2(ourFd, childFd) < 0) _exit(127);
  }
  if (spec.fileSizeLimit != RLIM_INFINITY) {
    const rlimit limit{spec.fileSizeLimit, spec.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (!spec.workdir.empty() && chdir(spec.workdir.c_str()) != 0) _exit(126);
  execve(program, argv, envp);
  _exit(127);
}

void procOpenStandardFds(void) {
  // open takes the lowest free descriptor, which is the closed one as those below it are open.
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
  }
}

pid_t procStart(const ProcSpec &spec, std::string &error) {
  if (spec.argv.empty()) {
    error = "no program to run";
    return -1;
  }
  const std::string program = procFind(spec.argv[0]);
  if (program.empty()) {
    error = "'" + spec.argv[0] + "' is not on the PATH";
    return -1;
  }
  // Everything the child needs is made before the fork.
  std::vector<std::string> args = spec.argv, env = childEnvironment(spec);
  std::vector<char *> argv = cStrings(args), envp = cStrings(env);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    return -1;
  }
  if (pid == 0) becomeChild(spec, parent, program.c_str(), argv.data(), envp.data());
  if (spec.ownGroup) setpgid(pid, pid);  // also here, so the group exists before we might signal it
  return pid;
}

// The status of a reaped child in one number.
static int statusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int procWait(pid_t pid, double seconds) {
  int status = 0;
  if (seconds < 0) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return statusOf(status);
  }
  pid_t r = 0;
  const auto ended = [&] { return (r = waitpid(pid, &status, WNOHANG)) == pid || (r < 0 && errno != EINTR); };
  return procWaitUntil(seconds, ended, 10) && r == pid ? statusOf(status) : -1;
}

bool procWaitUntil(double seconds, const std::function<bool()> &ready, int pollMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
  return true;
}

int procStop(pid_t pid, int signal, double graceSeconds, bool group) {
  if (pid <= 0) return -1;
  kill(group ? -pid : pid, signal);
  const int status = procWait(pid, graceSeconds);
  if (status >= 0) return status;
  kill(group ? -pid : pid, SIGKILL);
  kill(pid, SIGKILL);
  return procWait(pid, -1);
}

ProcResult procRun(ProcSpec spec, double timeoutSeconds, int signal, double signalSeconds) {
  ProcResult result;
  const int log = fileTemp();
  if (log < 0) return result;
  spec.stdoutFd = spec.stderrFd = log;
  std::string error;
  const pid_t pid = procStart(spec, error);
  if (pid < 0) {
    close(log);
    result.output = error;
    return result;
  }
  if (signal) {
    result.status = procWait(pid, signalSeconds);
    if (result.status < 0) kill(pid, signal);
  }
  if (result.status < 0) result.status = procWait(pid, std::max(0.0, timeoutSeconds - signalSeconds));
  if (result.status < 0) procStop(pid, SIGKILL, 0.0);
  result.output = fileReadFd(log);
  close(log);
  return result;
}

std::string procSelf(void) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  return std::string(self, size_t(std::max<ssize_t>(n, 0)));
}

std::vector<std::string> procAsNobody(void) { return {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"}; }

std::string procBecomeNobody(int argc, char **argv, const std::vector<std::string> &others) {
  if (geteuid() != 0) return "";
  const std::string self = procSelf();
  if (self.empty()) return "cannot tell where this program is";
  const std::vector<std::string> asNobody = procAsNobody();
  ProcSpec check;
  check.argv = asNobody;
  check.argv.insert(check.argv.end(), {"test", "-x", self});
  for (const std::string &o : others) check.argv.insert(check.argv.end(), {"-a", "-x", o});
  if (procRun(check, 60.0).status == 0) {
    std::vector<char *> args;
    for (const std::string &a : asNobody) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(const_cast<char *>(self.c_str()));
    for (int i = 1; i < argc; i++) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("setpriv", args.data());
  }
  std::string why = std::string("the user nobody cannot run ") + self;
  for (const std::string &o : others) why += " and " + o;
  return why;
}

void procSpecEnvironment(ProcSpec &spec, const std::vector<std::string> &env) {
  for (const std::string &e : env) (e.find('=') == std::string::npos ? spec.unsetEnv : spec.setEnv).push_back(e);
}

ProcResult procRunIn(const std::string &workdir, const std::vector<std::string> &argv, const std::vector<std::string> &env) {
  ProcSpec spec;
  spec.argv = argv;
  spec.workdir = workdir;
  procSpecEnvironment(spec, env);
  return procRun(spec, 600.0);
}

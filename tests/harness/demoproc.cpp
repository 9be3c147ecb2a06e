// Process and X helpers for the end-to-end tests.
#include "demoproc.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

bool demoStart(DemoProcess &demo, const std::string &workdir, const std::vector<std::string> &env,
               const std::string &program) {
  char tmpl[] = "/tmp/parkhaus-demo-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return false;
  demo.outputPath = tmpl;
  pid_t pid = fork();
  if (pid < 0) {
    close(fd);
    return false;
  }
  if (pid == 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
    if (chdir(workdir.c_str()) != 0) _exit(126);
    for (const auto &kv : env) putenv(strdup(kv.c_str()));
    // The demo prints through stdio; line buffering keeps its lines even if it is killed.
    execl("/usr/bin/stdbuf", "stdbuf", "-oL", program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fd);
  demo.pid = pid;
  return true;
}

// Runs a shell command and returns its standard output.
static std::string capture(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

std::string demoWaitWindow(double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    std::string id = capture("xdotool search --onlyvisible --name '^Parkhaus$' 2>/dev/null | head -n1");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    if (!id.empty()) return id;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

void demoSendKey(const std::string &window, const std::string &key) {
  // xdotool may complain once the window has gone away; that is the point of the key.
  std::string cmd = "xdotool key --window " + window + " " + key + " >/dev/null 2>&1";
  if (system(cmd.c_str()) < 0) perror("system");
}

// Records how a reaped process ended.
static void reaped(DemoProcess &demo, int status) {
  demo.pid = -1;
  demo.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool demoAlive(DemoProcess &demo) {
  if (demo.pid <= 0) return false;
  int status = 0;
  if (waitpid(demo.pid, &status, WNOHANG) == demo.pid) {
    reaped(demo, status);
    return false;
  }
  return true;
}

int demoWaitExit(DemoProcess &demo, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (demoAlive(demo)) {
    if (std::chrono::steady_clock::now() >= end) {
      int status = 0;
      kill(demo.pid, SIGKILL);
      waitpid(demo.pid, &status, 0);
      demo.pid = -1;
      demo.exitStatus = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return demo.exitStatus;
}

std::string demoOutput(const DemoProcess &demo) {
  std::ifstream in(demo.outputPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<unsigned char> demoScreenshot(int &width, int &height) {
  std::vector<unsigned char> rgb;
  width = height = 0;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return rgb;
  Window root = DefaultRootWindow(dpy);
  XWindowAttributes wa;
  XGetWindowAttributes(dpy, root, &wa);
  XImage *img = XGetImage(dpy, root, 0, 0, wa.width, wa.height, AllPlanes, ZPixmap);
  if (img) {
    width = wa.width;
    height = wa.height;
    rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        unsigned long px = XGetPixel(img, x, y);
        unsigned char *o = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        o[0] = static_cast<unsigned char>((px & img->red_mask) >> 16);
        o[1] = static_cast<unsigned char>((px & img->green_mask) >> 8);
        o[2] = static_cast<unsigned char>(px & img->blue_mask);
      }
    }
    XDestroyImage(img);
  }
  XCloseDisplay(dpy);
  return rgb;
}

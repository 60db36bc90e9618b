#pragma once

// Runs a program with the given standard input and measures it: wall time, peak resident
// memory, and when the first byte of output arrived.
//
// The peak is the kernel's high-water mark of the program's own memory (VmHWM), read while
// it runs. The maximum that wait4 reports cannot serve: the child is started by vfork, and
// the kernel counts the memory of this (large) benchmark process into the child's maximum.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace wren::bench {

// The environment of this process with the given NAME=value entries set (replacing any
// entry of the same name, since getenv reads the first one it finds).
inline std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> entries;
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || nameOf(o) == nameOf(entry);
    if (!replaced) entries.push_back(entry);
  }
  entries.insert(entries.end(), overrides.begin(), overrides.end());
  return entries;
}

// A started child whose standard input and output are pipes held by the caller.
struct Child {
  pid_t pid = 0;
  int in = -1;   // the child's standard input
  int out = -1;  // the child's standard output
};

inline Child spawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe(in) || pipe(out)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> envText = environmentWith(extraEnv);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  Child child;
  int rc = posix_spawnp(&child.pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  child.in = in[1];
  child.out = out[0];
  return child;
}

// The high-water mark of a running process's resident memory in KiB, or 0 once it is gone.
inline long highWaterKiB(pid_t pid) {
  FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!status) return 0;
  long kib = 0;
  char line[256];
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

struct ProcessRun {
  double seconds = 0;
  double firstOutputSeconds = -1;
  long peakRssKiB = 0;
  std::string out;
  int exitStatus = -1;
  double cpuSeconds = 0;  // user and system time of the program
  bool timedOut = false;  // killed when it ran past the time it was given
};

// Runs the program to its end, or kills it once `timeoutSeconds` (when above 0) have passed.
inline ProcessRun runProcess(const std::vector<std::string>& argv, const std::string& input,
                             const std::vector<std::string>& extraEnv = {}, double timeoutSeconds = 0) {
  auto started = std::chrono::steady_clock::now();
  Child child = spawnChild(argv, extraEnv);
  fcntl(child.in, F_SETFL, O_NONBLOCK);

  ProcessRun run;
  size_t written = 0;
  int inFd = input.empty() ? (close(child.in), -1) : child.in;
  int outFd = child.out;
  std::vector<char> buffer(1 << 16);
  // Reading /proc after every poll would slow the reading of a fast writer's output, so
  // memory is sampled at most every few milliseconds, and once more when the output ends.
  constexpr auto kSampleInterval = std::chrono::milliseconds(5);
  auto lastSample = started - kSampleInterval;
  auto sampleMemory = [&] {
    lastSample = std::chrono::steady_clock::now();
    run.peakRssKiB = std::max(run.peakRssKiB, highWaterKiB(child.pid));
  };
  while (outFd >= 0) {
    pollfd fds[2] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}};
    poll(fds, 2, 5);
    if (std::chrono::steady_clock::now() - lastSample >= kSampleInterval) sampleMemory();
    if (timeoutSeconds > 0 && !run.timedOut &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > timeoutSeconds) {
      run.timedOut = true;
      kill(child.pid, SIGKILL);
    }
    if (inFd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) { close(inFd); inFd = -1; }
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(outFd, buffer.data(), buffer.size());
      if (n <= 0) { sampleMemory(); close(outFd); outFd = -1; continue; }
      if (run.firstOutputSeconds < 0)
        run.firstOutputSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      run.out.append(buffer.data(), static_cast<size_t>(n));
    }
  }
  if (inFd >= 0) close(inFd);
  int status = 0;
  rusage usage{};
  wait4(child.pid, &status, 0, &usage);
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

inline size_t lineCount(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += c == '\n';
  return count;
}

}  // namespace wren::bench

namespace wren::bench {

// A helper kept running between requests, for timing one request at a time.
class InteractiveProcess {
 public:
  InteractiveProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv)
      : started_(std::chrono::steady_clock::now()) {
    Child child = spawnChild(argv, extraEnv);
    pid_ = child.pid;
    in_ = child.in;
    out_ = child.out;
  }

  // Sends one line and waits for one reply line; gives the reply.
  std::string request(const std::string& line) {
    std::string text = line + "\n";
    for (size_t written = 0; written < text.size();) {
      ssize_t n = write(in_, text.data() + written, text.size() - written);
      if (n <= 0) throw std::runtime_error("the helper closed its input");
      written += static_cast<size_t>(n);
    }
    for (;;) {
      size_t end = buffered_.find('\n');
      if (end != std::string::npos) {
        std::string reply = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return reply;
      }
      char buffer[65536];
      ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) throw std::runtime_error("the helper ended before replying");
      buffered_.append(buffer, static_cast<size_t>(n));
    }
  }

  // User and system time the process has used so far, in seconds.
  double cpuSeconds() const {
    FILE* stat = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "r");
    if (!stat) return 0;
    char text[1024] = {};
    size_t length = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    // The fields after the command name, which ends with the last ')': utime and stime
    // are the 12th and 13th of them, in clock ticks.
    const char* rest = std::strrchr(text, ')');
    if (!rest || length == 0) return 0;
    unsigned long utime = 0, stime = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  // Seconds since the process was started.
  double secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  }

  // Closes the input, waits for the exit, gives the peak resident memory in KiB (as it
  // stood after the last request).
  long finish() {
    long peak = highWaterKiB(pid_);
    close(in_);
    char buffer[4096];
    while (read(out_, buffer, sizeof buffer) > 0) {}
    close(out_);
    int status = 0;
    waitpid(pid_, &status, 0);
    return peak;
  }

 private:
  pid_t pid_ = 0;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
  std::chrono::steady_clock::time_point started_;
};

// Seconds one call takes.
template <typename F>
double timeIt(F&& f) {
  auto started = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One request to a fresh helper: its first answer (start included) and the median of the
// same request answered again by the warm process.
struct HelperFigures {
  double cold = 0;
  double warm = 0;
  long rssKiB = 0;
  std::string firstReply;
};

inline HelperFigures measureHelper(const std::string& helperPath, const std::vector<std::string>& env,
                                   const std::string& request, int warmRounds) {
  HelperFigures figures;
  InteractiveProcess helper({helperPath}, env);
  figures.firstReply = helper.request(request);
  figures.cold = helper.secondsSinceStart();
  std::vector<double> warm;
  for (int i = 0; i < warmRounds; ++i) warm.push_back(timeIt([&] { helper.request(request); }));
  figures.warm = median(warm);
  figures.rssKiB = helper.finish();
  return figures;
}

}  // namespace wren::bench

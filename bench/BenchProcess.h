#pragma once

// Runs a program with the given standard input and measures it: wall time, peak resident
// memory (from wait4), and when the first byte of output arrived.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace wren::bench {

struct ProcessRun {
  double seconds = 0;
  double firstOutputSeconds = -1;
  long peakRssKiB = 0;
  std::string out;
  int exitStatus = -1;
};

inline ProcessRun runProcess(const std::vector<std::string>& argv, const std::string& input,
                             const std::vector<std::string>& extraEnv = {}) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe(in) || pipe(out)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const std::string& e : extraEnv) envText.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  auto started = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0)
    throw std::runtime_error("cannot start " + argv[0]);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);

  ProcessRun run;
  size_t written = 0;
  int inFd = input.empty() ? (close(in[1]), -1) : in[1];
  int outFd = out[0];
  std::vector<char> buffer(1 << 16);
  while (outFd >= 0) {
    pollfd fds[2] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}};
    poll(fds, 2, -1);
    if (inFd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) { close(inFd); inFd = -1; }
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(outFd, buffer.data(), buffer.size());
      if (n <= 0) { close(outFd); outFd = -1; continue; }
      if (run.firstOutputSeconds < 0)
        run.firstOutputSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      run.out.append(buffer.data(), static_cast<size_t>(n));
    }
  }
  if (inFd >= 0) close(inFd);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  run.peakRssKiB = usage.ru_maxrss;
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
  InteractiveProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe(in) || pipe(out)) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    for (const std::string& e : extraEnv) envText.push_back(e);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    started_ = std::chrono::steady_clock::now();
    if (posix_spawnp(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0)
      throw std::runtime_error("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
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

  // Seconds since the process was started.
  double secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  }

  // Closes the input, waits for the exit, gives the peak resident memory in KiB.
  long finish() {
    close(in_);
    char buffer[4096];
    while (read(out_, buffer, sizeof buffer) > 0) {}
    close(out_);
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    return usage.ru_maxrss;
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

}  // namespace wren::bench

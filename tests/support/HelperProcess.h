#pragma once

// Runs the built helper as the host does: request lines on its standard input, reply lines
// read back from its standard output. Each run gets its own temporary HOME and data root.
//
//   HelperProcess helper;                       // fresh temporary HOME, TZ=UTC
//   helper.writeFile("wren/privacy.json", R"({"calendar":"granted"})");
//   auto run = helper.run({R"({"id":1,"method":"calendar.status"})"});
//   EXPECT_EQ(run.reply(1)["ok"], true);

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Json.h"

namespace wren::testing {

struct HelperRun {
  std::string out;
  std::string err;
  int exitStatus = -1;
  std::vector<Json> replies;  // in the order they were written

  // The only reply with that id; fails the calling test when there is none or several.
  const Json& reply(int64_t id) const {
    const Json* found = nullptr;
    for (const Json& r : replies) {
      if (r.contains("id") && r["id"] == id) {
        if (found) throw std::runtime_error("several replies with id " + std::to_string(id));
        found = &r;
      }
    }
    if (!found) throw std::runtime_error("no reply with id " + std::to_string(id) + "; out: " + out + " err: " + err);
    return *found;
  }
  const Json& result(int64_t id) const { return reply(id).at("result"); }
  const Json& error(int64_t id) const { return reply(id).at("error"); }
};

class HelperProcess {
 public:
  HelperProcess() {
    char pattern[] = "/tmp/wren-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    home_ = pattern;
    env_["HOME"] = home_.string();
    env_["XDG_DATA_HOME"] = (home_ / ".local/share").string();
    env_["TZ"] = "UTC";
    env_["PATH"] = "/usr/bin:/bin";
    env_["LANG"] = "C.UTF-8";
    // The sanitizer builds' settings follow the tests into the helper they start.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
      if (const char* value = std::getenv(name)) env_[name] = value;
    std::filesystem::create_directories(dataRoot());
  }
  ~HelperProcess() {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  const std::filesystem::path& home() const { return home_; }
  // $XDG_DATA_HOME/wren
  std::filesystem::path dataRoot() const { return home_ / ".local/share/wren"; }
  void setEnv(const std::string& name, const std::string& value) { env_[name] = value; }
  // Runs another copy of the helper than the one built beside the tests.
  void setProgram(std::filesystem::path program) { program_ = std::move(program); }
  void unsetEnv(const std::string& name) { env_.erase(name); }

  // Writes a file below HOME's data folder ($XDG_DATA_HOME), making its folders.
  std::filesystem::path writeFile(const std::filesystem::path& relative, const std::string& text) const {
    std::filesystem::path path = home_ / ".local/share" / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Sends the lines (each followed by a line feed), closes standard input, and waits for
  // the helper to exit (at most `timeout`).
  HelperRun run(const std::vector<std::string>& lines,
                std::chrono::milliseconds timeout = std::chrono::seconds(60)) const {
    std::string input;
    for (const std::string& line : lines) input += line + "\n";
    return runRaw(input, timeout);
  }

  // Sends the bytes exactly as given.
  HelperRun runRaw(const std::string& input,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60)) const {
    const Child child = spawn(ErrorOutput::Piped);
    HelperRun result;
    pump(child.in, child.out, child.err, input, result, timeout, child.pid);
    int status = 0;
    waitpid(child.pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    size_t begin = 0;
    while (begin < result.out.size()) {
      size_t end = result.out.find('\n', begin);
      if (end == std::string::npos) end = result.out.size();
      result.replies.push_back(Json::parse(result.out.substr(begin, end - begin)));
      begin = end + 1;
    }
    return result;
  }

 private:
  friend class LiveHelper;

  // The started helper's end of its standard streams, held by the caller.
  struct Child {
    pid_t pid = 0;
    int in = -1;
    int out = -1;
    int err = -1;  // -1 when the helper writes to this process's standard error
  };
  enum class ErrorOutput { Piped, Inherited };

  // Starts the helper with this process's environment settings (env_).
  Child spawn(ErrorOutput errorOutput) const {
    const bool pipeErrors = errorOutput == ErrorOutput::Piped;
    int inPipe[2], outPipe[2], errPipe[2] = {-1, -1};
    if (pipe(inPipe) || pipe(outPipe) || (pipeErrors && pipe(errPipe))) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    if (pipeErrors) posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
      if (fd >= 0) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> envText;
    for (const auto& [name, value] : env_) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = program_.string();
    char* argv[] = {program.data(), nullptr};
    Child child{0, inPipe[1], outPipe[0], errPipe[0]};
    int rc = posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {inPipe[0], outPipe[1], errPipe[1]})
      if (fd >= 0) close(fd);
    if (rc != 0) {
      for (int fd : {child.in, child.out, child.err})
        if (fd >= 0) close(fd);
      throw std::runtime_error("posix_spawn failed");
    }
    return child;
  }

  static void pump(int in, int out, int err, const std::string& input, HelperRun& result,
                   std::chrono::milliseconds timeout, pid_t pid) {
    signal(SIGPIPE, SIG_IGN);
    fcntl(in, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    if (input.empty()) { close(in); in = -1; }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    while (out >= 0 || err >= 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        break;
      }
      pollfd fds[3] = {{in, POLLOUT, 0}, {out, POLLIN, 0}, {err, POLLIN, 0}};
      poll(fds, 3, 100);
      if (in >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t n = write(in, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 || written == input.size()) { close(in); in = -1; }
      }
      for (int i : {1, 2}) {
        int& fd = i == 1 ? out : err;
        if (fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
          ssize_t n = read(fd, buffer, sizeof buffer);
          if (n > 0) (i == 1 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
          else { close(fd); fd = -1; }
        }
      }
    }
    for (int fd : {in, out, err}) if (fd >= 0) close(fd);
  }

  std::filesystem::path home_;
  std::map<std::string, std::string> env_;
  std::filesystem::path program_ = WREN_HELPER_PATH;
};

// The helper as a long-lived child: one request at a time, so that a test can change the
// store between two requests of the same process, as another program would. Its standard
// error goes to the test's own.
class LiveHelper {
 public:
  explicit LiveHelper(const HelperProcess& process) : child_(process.spawn(HelperProcess::ErrorOutput::Inherited)) {}
  ~LiveHelper() {
    close(child_.in);
    close(child_.out);
    int status = 0;
    waitpid(child_.pid, &status, 0);
  }
  LiveHelper(const LiveHelper&) = delete;
  LiveHelper& operator=(const LiveHelper&) = delete;

  // Sends one request and waits (at most ten seconds) for its reply line.
  Json ask(const std::string& line) {
    std::string text = line + "\n";
    if (write(child_.in, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("write to the helper failed");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (buffer_.find('\n') == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no reply in time");
      pollfd fd = {child_.out, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(child_.out, chunk, sizeof chunk);
      if (n <= 0) throw std::runtime_error("the helper closed its output");
      buffer_.append(chunk, static_cast<size_t>(n));
    }
    size_t end = buffer_.find('\n');
    Json reply = Json::parse(buffer_.substr(0, end));
    buffer_.erase(0, end + 1);
    return reply;
  }

 private:
  HelperProcess::Child child_;
  std::string buffer_;
};

// A request line as the host writes it.
inline std::string requestLine(int64_t id, const std::string& method, const Json& params = Json::object()) {
  return Json{{"id", id}, {"method", method}, {"params", params}}.dump();
}

// What a shell command line printed and how it ended.
struct Command {
  int status = -1;
  std::string out;
};

// Runs a shell command line and collects its standard output.
inline Command runCommand(const std::string& line) {
  Command result;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// True when the shell finds a command of that name.
inline bool haveCommand(const std::string& name) {
  Command which = runCommand("command -v " + name + " 2>/dev/null");
  return which.status == 0 && !which.out.empty();
}

}  // namespace wren::testing

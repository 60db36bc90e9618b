#pragma once

// A D-Bus daemon of the test's own, standing in for the system bus, with polkit's daemon on it
// when the test asks for one. Children get its address as DBUS_SYSTEM_BUS_ADDRESS; the real
// system bus is never touched. Both daemons end with the guard.
//
//   PrivateSystemBus bus;
//   if (!bus.started()) GTEST_SKIP() << bus.skipReason();
//   helper.setEnv("DBUS_SYSTEM_BUS_ADDRESS", bus.address());

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/TemporaryFolder.h"

extern char** environ;

namespace wren::testing {

class PrivateSystemBus {
 public:
  static constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
  static constexpr const char* kPolkitDaemon = "/usr/lib/polkit-1/polkitd";

  PrivateSystemBus() {
    // Daemons that drop their privileges (polkitd runs as its own user) must reach the socket.
    chmod(folder_.path().c_str(), 0755);
    socket_ = (folder_.path() / "system_bus_socket").string();
    if (access(kDaemon, X_OK) != 0) {
      reason_ = std::string(kDaemon) + " is not installed (package dbus-daemon)";
      return;
    }
    folder_.write("bus.conf", R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" + socket_ + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)");
    daemon_ = spawn({kDaemon, "--nofork", "--nopidfile", "--config-file=" + (folder_.path() / "bus.conf").string()});
    if (!waitFor([&] { return access(socket_.c_str(), F_OK) == 0; })) reason_ = "dbus-daemon did not start";
  }
  ~PrivateSystemBus() {
    for (pid_t pid : {polkit_, daemon_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  PrivateSystemBus(const PrivateSystemBus&) = delete;
  PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

  bool started() const { return reason_.empty(); }
  const std::string& skipReason() const { return reason_; }
  std::string address() const { return "unix:path=" + socket_; }

  // Starts polkit's daemon on the bus and waits until it owns its name; false (with the
  // reason) when this machine cannot run it: not installed, or not allowed to start.
  bool startPolkit() {
    if (!started()) return false;
    if (access(kPolkitDaemon, X_OK) != 0) {
      reason_ = std::string(kPolkitDaemon) + " is not installed (package polkitd)";
      return false;
    }
    polkit_ = spawn({kPolkitDaemon, "--no-debug"}, {"DBUS_SYSTEM_BUS_ADDRESS=" + address()});
    bool owned = waitFor([&] {
      pid_t query = spawn({"/usr/bin/dbus-send", "--bus=" + address(), "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner",
                           "string:org.freedesktop.PolicyKit1"});
      int status = 0;
      waitpid(query, &status, 0);
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    });
    if (!owned) reason_ = "polkitd did not take its name on a private bus here (it needs root to start)";
    return owned;
  }

 private:
  // Starts the program with this process's environment plus `extra`; its output is dropped.
  static pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra = {}) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText(extra);
    for (char** entry = environ; *entry; ++entry) envText.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  template <typename Condition>
  static bool waitFor(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TemporaryFolder folder_{"wren-bus"};
  std::string socket_;
  std::string reason_;
  pid_t daemon_ = 0;
  pid_t polkit_ = 0;
};

}  // namespace wren::testing

#include "platform/ConsentDialog.h"

#include <glib.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Diagnostic.h"
#include "platform/OneShot.h"
#include "platform/files/Deleters.h"
#include "platform/files/FileDescriptor.h"

namespace wren::platform {

namespace {

// zenity and kdialog both exit with 0 for yes and 1 for no (closing the window, Escape
// included); every other way of ending is no answer.
constexpr int kYesStatus = 0;
constexpr int kNoStatus = 1;

// glibc's header for these declares them without C linkage; the system calls are plain.
int openProcessHandle(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
void killByHandle(int handle) { syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0); }


// The dialog program as it runs: its process, and a descriptor that names that process and no
// later one of the same number, so that killing it at the deadline can never hit another
// program that took its number after it ended.
struct RunningDialog {
  GPid pid = 0;
  FileDescriptor processHandle;  // a pidfd, or none on a kernel without them
  bool exited = false;           // seen by the child watch; main queue only

  void kill() {
    if (exited) return;
    if (processHandle) {
      killByHandle(processHandle.get());
    } else {
      ::kill(pid, SIGKILL);
    }
  }
};

std::vector<std::string> commandFor(const std::filesystem::path& program, bool isZenity,
                                    const ConsentQuestion& question) {
  if (isZenity)
    // Without --no-markup zenity reads the text as Pango markup, and a text holding "<" or
    // "&" would show as an error instead of the question.
    return {program.string(), "--question", "--no-markup", "--title=" + question.title, "--text=" + question.text};
  return {program.string(), "--title", question.title, "--yesno", question.text};
}

ConsentAnswer answerOf(int waitStatus) {
  if (!WIFEXITED(waitStatus)) return ConsentAnswer::NoAnswer;
  if (WEXITSTATUS(waitStatus) == kYesStatus) return ConsentAnswer::Allowed;
  if (WEXITSTATUS(waitStatus) == kNoStatus) return ConsentAnswer::Refused;
  return ConsentAnswer::NoAnswer;
}

struct ExitWatch {
  std::shared_ptr<RunningDialog> dialog;
  std::shared_ptr<OneShot<ConsentAnswer>> slot;
};

void dialogExited(GPid pid, gint waitStatus, gpointer data) {
  auto* watch = static_cast<ExitWatch*>(data);
  watch->dialog->exited = true;
  g_spawn_close_pid(pid);
  // What the answer's work throws must not unwind through GLib's frames.
  runReportingFailure([&] { watch->slot->resolve(answerOf(waitStatus)); }, "consent answer failed");
}

void freeWatch(gpointer data) { delete static_cast<ExitWatch*>(data); }

}  // namespace

DialogEnvironment DialogEnvironment::current() {
  auto isSet = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  const char* path = std::getenv("PATH");
  return {path ? path : "", isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")};
}

std::optional<std::filesystem::path> findProgram(const std::string& name, const std::string& searchPath) {
  std::size_t begin = 0;
  while (begin <= searchPath.size()) {
    std::size_t end = searchPath.find(':', begin);
    if (end == std::string::npos) end = searchPath.size();
    std::filesystem::path folder = searchPath.substr(begin, end - begin);
    begin = end + 1;
    if (!folder.is_absolute()) continue;
    std::filesystem::path candidate = folder / name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::nullopt;
}

ConsentDialogs::ConsentDialogs(Environment environment) : environment_(std::move(environment)) {}

bool ConsentDialogs::ask(const ConsentQuestion& question, std::chrono::milliseconds deadline,
                         std::function<void(ConsentAnswer)> answer) const {
  DialogEnvironment environment = environment_();
  if (!environment.hasDisplay) return false;
  bool isZenity = true;
  std::optional<std::filesystem::path> program = findProgram("zenity", environment.searchPath);
  if (!program) {
    isZenity = false;
    program = findProgram("kdialog", environment.searchPath);
  }
  if (!program) return false;

  std::vector<std::string> command = commandFor(*program, isZenity, question);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  auto dialog = std::make_shared<RunningDialog>();
  GError* rawError = nullptr;
  // Not reaped by GLib on its own: the child watch below reaps it, and until then its number
  // stays its own.
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL |
                                              G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  if (!g_spawn_async(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &dialog->pid, &rawError)) {
    std::unique_ptr<GError, GErrorFree> error(rawError);
    return false;
  }
  // Taken before the watch is added, while the process cannot have been reaped yet.
  dialog->processHandle = FileDescriptor(openProcessHandle(dialog->pid));

  // The deadline's continuation and the exit watch both run on the main queue, so `exited`
  // needs no lock; the slot makes sure the answer is given once, by whichever comes first.
  auto slot = OneShot<ConsentAnswer>::start(
      deadline, [dialog, answer = std::move(answer)](std::optional<ConsentAnswer> outcome) {
        if (!outcome) dialog->kill();
        answer(outcome.value_or(ConsentAnswer::NoAnswer));
      });
  g_child_watch_add_full(G_PRIORITY_DEFAULT, dialog->pid, dialogExited, new ExitWatch{dialog, slot}, freeWatch);
  return true;
}

}  // namespace wren::platform

#pragma once

// Asks the person a yes-or-no question in a desktop dialog, the stand-in for the consent
// prompts of the operating system. The dialog is a separate program (`zenity --question`,
// else `kdialog --yesno`, found on PATH), shown only when a display is there to show it on
// (DISPLAY or WAYLAND_DISPLAY set):
//
//   ConsentDialogs dialogs;
//   bool shown = dialogs.ask({"Wren", text}, std::chrono::seconds(60), [](ConsentAnswer answer) {
//     // on the main queue, exactly once: Allowed, Refused, or NoAnswer at the deadline
//   });
//   if (!shown) ...  // no display or no dialog program: nothing was asked
//
// The wait is a OneShot with a deadline: the dialog's exit is watched on the main queue and
// no thread waits for it. A dialog still open at the deadline is killed; one that crashes or
// fails counts as no answer. The program's standard streams are not the helper's: its input
// and output go to /dev/null, so it can neither read requests nor write into the replies.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace wren::platform {

enum class ConsentAnswer {
  Allowed,   // the person chose yes
  Refused,   // the person chose no, or closed the dialog
  NoAnswer,  // the deadline passed, or the dialog program crashed or failed
};

struct ConsentQuestion {
  std::string title;
  std::string text;  // plain text, shown as it is
};

// What decides whether and how a dialog can be shown.
struct DialogEnvironment {
  std::string searchPath;  // PATH
  bool hasDisplay = false;  // DISPLAY or WAYLAND_DISPLAY is set and not empty

  // The process's own environment, read at the moment of the call.
  static DialogEnvironment current();
};

class ConsentDialogs {
 public:
  using Environment = std::function<DialogEnvironment()>;

  // Tests pass their own environment (a PATH that finds a scripted dialog program, a display
  // that is not there) rather than changing the process's.
  ConsentDialogs() : ConsentDialogs(DialogEnvironment::current) {}
  explicit ConsentDialogs(Environment environment);

  // Starts the dialog and returns at once: true when it was started, and then `answer` runs
  // exactly once on the main queue; false when no dialog can be shown, and then it never
  // runs. Callable from any thread.
  bool ask(const ConsentQuestion& question, std::chrono::milliseconds deadline,
           std::function<void(ConsentAnswer)> answer) const;

 private:
  Environment environment_;
};

// The first executable of that name in the folders of a PATH value; nothing when there is
// none. Only absolute folders are searched: an empty or relative entry would run whatever
// program of that name lies in the folder the host happened to start the helper in.
std::optional<std::filesystem::path> findProgram(const std::string& name, const std::string& searchPath);

}  // namespace wren::platform

#pragma once

// Asks the person for a permission the way the operating system's consent prompt does: a
// dialog with the program's own text for the kind, read from the information property list
// embedded in the executable, whose answer is recorded as the person's decision.
//
//   ConsentRequests consent(platform::ConsentDialogs(), "/proc/self/exe", std::chrono::seconds(60));
//   if (!consent.ask(PrivacyKind::Contacts, [] { /* main queue: the answer is recorded */ }))
//     ...  // no dialog could be shown: nothing was asked, nothing recorded
//
// One dialog per kind at a time: a request for a kind whose dialog is open waits for the
// answer of that dialog rather than opening a second one, and the answer is recorded once.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ConsentDialog.h"
#include "platform/Privacy.h"

namespace wren {

class ConsentRequests {
 public:
  ConsentRequests(platform::ConsentDialogs dialogs, std::filesystem::path executable,
                  std::chrono::milliseconds deadline);
  ConsentRequests(const ConsentRequests&) = delete;
  ConsentRequests& operator=(const ConsentRequests&) = delete;

  // Shows the consent dialog for the kind, or joins the one open for it, and returns at once.
  // When the person answers, "granted" or "denied" is recorded in the privacy decisions;
  // when the dialog ends without an answer (the deadline, a crash), nothing is. Then
  // `answered` runs once, on the main queue. False, and `answered` never runs, when no
  // dialog can be shown (no display, no dialog program, no text for the kind).
  bool ask(platform::PrivacyKind kind, std::function<void()> answered);

 private:
  // The callers waiting for each open dialog; a kind is here exactly while its dialog is
  // open. Shared with the dialogs' answers, which may come after this object is gone.
  struct Waiting {
    std::mutex mutex;
    std::map<platform::PrivacyKind, std::vector<std::function<void()>>> callers;
  };

  static void record(Waiting& waiting, platform::PrivacyKind kind, platform::ConsentAnswer answer);
  std::optional<platform::ConsentQuestion> questionFor(platform::PrivacyKind kind) const;

  const platform::ConsentDialogs dialogs_;
  const std::filesystem::path executable_;
  const std::chrono::milliseconds deadline_;
  const std::shared_ptr<Waiting> waiting_ = std::make_shared<Waiting>();
};

// The information property list embedded in the executable's `.info_plist` section, as its
// string members; nothing when the file has no such section or it is not a dictionary.
std::optional<std::map<std::string, std::string>> embeddedInfo(const std::filesystem::path& executable);

}  // namespace wren

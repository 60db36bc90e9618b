#include "permissions/ConsentRequests.h"

#include <exception>
#include <utility>

#include "base/Diagnostic.h"
#include "platform/ElfSection.h"
#include "platform/PropertyList.h"

namespace wren {

namespace {

using platform::ConsentAnswer;
using platform::PrivacyKind;

// The property-list key of each kind's consent text. Screen recording has none: its prompt
// is the system's own, in the system's words (screenRecordingText below).
const char* textKeyOf(PrivacyKind kind) {
  switch (kind) {
    case PrivacyKind::Calendar: return "NSCalendarsFullAccessUsageDescription";
    case PrivacyKind::Reminders: return "NSRemindersFullAccessUsageDescription";
    case PrivacyKind::Contacts: return "NSContactsUsageDescription";
    case PrivacyKind::Location: return "NSLocationWhenInUseUsageDescription";
    // Accessibility trust is what lets the assistant work other applications, which is
    // what this text asks for.
    case PrivacyKind::Accessibility: return "NSAppleEventsUsageDescription";
    case PrivacyKind::Screen: return nullptr;
  }
  return nullptr;
}

std::string screenRecordingText(const std::string& name) {
  return name + " would like to record this computer's screen.";
}

}  // namespace

std::optional<std::map<std::string, std::string>> embeddedInfo(const std::filesystem::path& executable) {
  std::optional<std::string> section =
      platform::elfSection(executable, ".info_plist", platform::kMaxPropertyListBytes);
  if (!section) return std::nullopt;
  return platform::stringDictionaryFromXmlPropertyList(*section);
}

ConsentRequests::ConsentRequests(platform::ConsentDialogs dialogs, std::filesystem::path executable,
                                 std::chrono::milliseconds deadline)
    : dialogs_(std::move(dialogs)), executable_(std::move(executable)), deadline_(deadline) {}

std::optional<platform::ConsentQuestion> ConsentRequests::questionFor(PrivacyKind kind) const {
  std::optional<std::map<std::string, std::string>> info = embeddedInfo(executable_);
  const char* textKey = textKeyOf(kind);
  if (!info || !info->contains("CFBundleName") || (textKey && !info->contains(textKey))) {
    // The build puts the texts there; a dialog without them would ask the person blindly.
    writeDiagnostic("wren-mac-helper: the consent texts are missing from the property list of " + executable_.string());
    return std::nullopt;
  }
  const std::string& name = info->at("CFBundleName");
  return platform::ConsentQuestion{name, textKey ? info->at(textKey) : screenRecordingText(name)};
}

bool ConsentRequests::ask(PrivacyKind kind, std::function<void()> answered) {
  std::lock_guard lock(waiting_->mutex);
  auto open = waiting_->callers.find(kind);
  if (open != waiting_->callers.end()) {
    open->second.push_back(std::move(answered));
    return true;
  }
  std::optional<platform::ConsentQuestion> question = questionFor(kind);
  if (!question) return false;
  // The answer cannot come before the lock is let go, so the entry is in place before it.
  bool shown = dialogs_.ask(*question, deadline_,
                            [waiting = waiting_, kind](ConsentAnswer answer) { record(*waiting, kind, answer); });
  if (shown) waiting_->callers[kind].push_back(std::move(answered));
  return shown;
}

void ConsentRequests::record(Waiting& waiting, PrivacyKind kind, ConsentAnswer answer) {
  if (answer != ConsentAnswer::NoAnswer) {
    try {
      platform::recordPrivacyDecision(kind, answer == ConsentAnswer::Allowed ? "granted" : "denied");
    } catch (const std::exception& error) {
      // The request still answers, with the status as it stands.
      writeDiagnostic(std::string("wren-mac-helper: cannot record the privacy decision: ") + error.what());
    }
  }
  std::vector<std::function<void()>> callers;
  {
    std::lock_guard lock(waiting.mutex);
    callers = std::move(waiting.callers[kind]);
    waiting.callers.erase(kind);
  }
  for (auto& answeredCall : callers) answeredCall();
}

}  // namespace wren

#include "platform/Privacy.h"

#include <filesystem>
#include <system_error>

#include "app/Json.h"
#include "platform/DataRoot.h"
#include "platform/EventStore.h"
#include "platform/vdir/AtomicFile.h"

namespace wren::platform {

namespace {

const char* keyOf(PrivacyKind kind) {
  switch (kind) {
    case PrivacyKind::Calendar: return "calendar";
    case PrivacyKind::Reminders: return "reminders";
    case PrivacyKind::Contacts: return "contacts";
    case PrivacyKind::Location: return "location";
    case PrivacyKind::Accessibility: return "accessibility";
    case PrivacyKind::Screen: return "screen";
  }
  return "";
}

std::filesystem::path decisionsPath() { return dataRoot() / "privacy.json"; }

// The decisions as an object; a missing, unreadable or malformed file counts as none.
Json readDecisions() {
  std::optional<std::string> text = vdir::readFileIfPresent(decisionsPath());
  if (!text) return Json::object();
  Json decisions = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
  return decisions.is_object() ? decisions : Json::object();
}

}  // namespace

std::optional<std::string> privacyDecision(PrivacyKind kind) {
  Json decisions = readDecisions();
  auto found = decisions.find(keyOf(kind));
  if (found == decisions.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

void recordPrivacyDecision(PrivacyKind kind, const std::string& decision) {
  Json decisions = readDecisions();
  decisions[keyOf(kind)] = decision;
  std::error_code error;
  std::filesystem::create_directories(dataRoot(), error);
  if (error) throw StoreError("mkdir(" + dataRoot().string() + "): " + error.message());
  vdir::writeFileAtomically(decisionsPath(), decisions.dump(2) + "\n", vdir::Existing::Replace);
}

}  // namespace wren::platform

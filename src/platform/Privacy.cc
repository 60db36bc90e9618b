#include "platform/Privacy.h"

#include <filesystem>

#include "base/JsonParse.h"
#include "platform/DataRoot.h"
#include "platform/files/AtomicFile.h"

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

std::filesystem::path decisionsPath(const std::filesystem::path& root) { return root / "privacy.json"; }

// The decisions as an object; a missing, unreadable or malformed file counts as none.
Json readDecisions(const std::filesystem::path& root) {
  std::optional<std::string> text = readFileIfPresent(decisionsPath(root));
  if (!text) return Json::object();
  Json decisions = parseJson(*text);
  return decisions.is_object() ? decisions : Json::object();
}

}  // namespace

std::optional<std::string> privacyDecision(PrivacyKind kind) {
  Json decisions = readDecisions(dataRoot());
  auto found = decisions.find(keyOf(kind));
  if (found == decisions.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

void recordPrivacyDecision(PrivacyKind kind, const std::string& decision) {
  const std::filesystem::path root = dataRoot();
  Json decisions = readDecisions(root);
  decisions[keyOf(kind)] = decision;
  makeFolders(root);
  writeFileAtomically(decisionsPath(root), decisions.dump(2) + "\n", Existing::Replace);
}

}  // namespace wren::platform

#pragma once

#include <optional>
#include <string>

namespace wren::platform {

enum class PrivacyKind { Calendar, Reminders, Contacts, Location, Accessibility, Screen };

// The person's decision for a kind, read afresh from privacy.json in the data root on every
// call: "granted", "denied", "restricted", "write_only", or any other string as written (the
// empty string included); nothing when nothing was decided (missing file or key, a file
// that is not a JSON object, a value that is not a string).
std::optional<std::string> privacyDecision(PrivacyKind kind);

// Records a decision, writing the file atomically and keeping the keys it does not know. A
// file that another program rewrites meanwhile is read again, so that its keys are kept too;
// throws FileError when the file cannot be written (FileChangedError when it keeps changing).
void recordPrivacyDecision(PrivacyKind kind, const std::string& decision);

}  // namespace wren::platform

#pragma once

#include <string>

namespace wren::platform {

enum class PrivacyKind { Calendar, Reminders, Contacts, Location, Accessibility, Screen };

// The person's decision for a kind, read afresh from privacy.json in the data root on every
// call: "granted", "denied", "restricted", "write_only", any other string as written, or
// the empty string when nothing was decided (missing file or key, a file that is not a JSON
// object, a value that is not a string).
std::string privacyDecision(PrivacyKind kind);

// Records a decision, writing the file atomically and keeping the keys it does not know.
void recordPrivacyDecision(PrivacyKind kind, const std::string& decision);

}  // namespace wren::platform

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

// Records a decision, writing the file atomically and keeping the keys it does not know.
// Writers of this process, and of other helper processes, take turns, so that two decisions
// recorded at once both stay; a file that another program rewrites meanwhile is read again,
// so that its keys are kept too. A file that is there but is not a JSON object is not lost:
// it is first kept beside it as privacy.json.broken (privacy.json.broken-2 and so on when
// that name is taken). Throws FileError when the file cannot be written or when the person's
// permissions keep it from being read (it is then left as it is), FileChangedError when it
// keeps changing.
void recordPrivacyDecision(PrivacyKind kind, const std::string& decision);

}  // namespace wren::platform

#include "eventstore/ItemRows.h"

#include <cmath>

#include "platform/Text.h"

namespace wren {

void addNotes(Json& row, const std::optional<std::string>& notes, std::size_t limit) {
  if (!notes || notes->empty()) return;
  platform::Prefix prefix = platform::graphemePrefix(*notes, limit);
  row["notes"] = std::move(prefix.text);
  if (prefix.truncated) row["notes_truncated"] = true;
}

long long alarmMinutesBefore(const platform::Alarm& alarm) {
  // std::llround rounds halves away from zero, which is the rounding the host expects; an
  // offset no calendar could hold (not finite, or beyond a long long) reads as at the start.
  const double minutes = alarm.relativeOffset / -60.0;
  if (!std::isfinite(minutes) || std::fabs(minutes) > 1e18) return 0;
  return std::llround(minutes);
}

}  // namespace wren

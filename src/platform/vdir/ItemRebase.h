#pragma once

#include <vector>

#include "platform/EventStore.h"

namespace wren::platform::vdir {

// Changes that a request makes to an item it read before another request of the helper saved
// the item again, as happens when a host pipelines changes of one item. Such a change is
// applied to the version saved last: the fields the request changed take its values, the
// others keep the newer version's, so that each change sees the result of the one before
// and none undoes another.
//
//   // Requests A and B both read version 1; A saves version 2 with a new title.
//   EventItem mine = rebasedEvent(editedByB, itemInVersion1, itemInVersion2);
//   // mine: A's title, B's new start; saved over version 2.
//
// The result keeps the newer item's identity (ids, occurrence, creation, origin) and takes
// the edited item's calendar; the caller gives it the origin of the newer version.

EventItem rebasedEvent(const EventItem& edited, const EventItem& before, const EventItem& newer);
ReminderItem rebasedReminder(const ReminderItem& edited, const ReminderItem& before, const ReminderItem& newer);

// The alarms an edited item sets, for a newer version whose alarms may stand in other places:
// an alarm read from the stored item (it has an origin) keeps its stored form where the newer
// version holds the same alarm, and is written anew otherwise.
std::vector<Alarm> rebasedAlarms(const std::vector<Alarm>& edited, const std::vector<Alarm>& before,
                                 const std::vector<Alarm>& newer);

}  // namespace wren::platform::vdir

#include "platform/vdir/ItemRebase.h"

#include <algorithm>

namespace wren::platform::vdir {

namespace {

// Copies into `merged` each of the fields in which `edited` differs from `before`.
template <class Item, class... Types>
void takeChanged(Item& merged, const Item& edited, const Item& before, Types Item::*... fields) {
  ((edited.*fields != before.*fields ? void(merged.*fields = edited.*fields) : void()), ...);
}

bool sameValues(const Alarm& a, const Alarm& b) {
  return a.absoluteDate == b.absoluteDate && a.relativeOffset == b.relativeOffset && a.hasLocation == b.hasLocation &&
         a.locationTitle == b.locationTitle;
}

bool sameAlarms(const std::vector<Alarm>& a, const std::vector<Alarm>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Alarm& x, const Alarm& y) { return sameValues(x, y) && x.origin == y.origin; });
}

// The alarms of the merged item: the newer version's unless the request changed them.
template <class Item>
void mergeAlarms(Item& merged, const Item& edited, const Item& before, const Item& newer) {
  if (!sameAlarms(edited.alarms, before.alarms)) merged.alarms = rebasedAlarms(edited.alarms, before.alarms, newer.alarms);
}

}  // namespace

std::vector<Alarm> rebasedAlarms(const std::vector<Alarm>& edited, const std::vector<Alarm>& before,
                                 const std::vector<Alarm>& newer) {
  std::vector<Alarm> result = edited;
  std::vector<bool> taken(newer.size(), false);
  for (Alarm& alarm : result) {
    if (!alarm.origin) continue;
    auto read = std::find_if(before.begin(), before.end(), [&](const Alarm& a) { return a.origin == alarm.origin; });
    alarm.origin.reset();
    if (read == before.end()) continue;
    for (std::size_t i = 0; i < newer.size(); ++i) {
      if (taken[i] || !newer[i].origin || !sameValues(newer[i], *read)) continue;
      taken[i] = true;
      alarm.origin = newer[i].origin;
      break;
    }
  }
  return result;
}

EventItem rebasedEvent(const EventItem& edited, const EventItem& before, const EventItem& newer) {
  EventItem merged = newer;
  takeChanged(merged, edited, before, &EventItem::title, &EventItem::location, &EventItem::notes, &EventItem::url,
              &EventItem::start, &EventItem::end, &EventItem::allDay, &EventItem::timeZone, &EventItem::rules,
              &EventItem::repeats, &EventItem::availability, &EventItem::status);
  mergeAlarms(merged, edited, before, newer);
  merged.calendarId = edited.calendarId;
  merged.calendarTitle = edited.calendarTitle;
  return merged;
}

ReminderItem rebasedReminder(const ReminderItem& edited, const ReminderItem& before, const ReminderItem& newer) {
  ReminderItem merged = newer;
  takeChanged(merged, edited, before, &ReminderItem::title, &ReminderItem::notes, &ReminderItem::url,
              &ReminderItem::priority, &ReminderItem::dueDateComponents, &ReminderItem::startDateComponents,
              &ReminderItem::completed, &ReminderItem::completionDate, &ReminderItem::rules);
  mergeAlarms(merged, edited, before, newer);
  merged.calendarId = edited.calendarId;
  merged.calendarTitle = edited.calendarTitle;
  return merged;
}

}  // namespace wren::platform::vdir

#include "eventstore/Containers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "app/HelperError.h"
#include "eventstore/Recurrence.h"
#include "permissions/Permissions.h"
#include "platform/LocalTime.h"
#include "platform/SystemInfo.h"
#include "platform/Text.h"

namespace wren {

namespace {

using platform::Calendar;
using platform::Rgb;
using platform::Source;

// The name-mismatch message lists at most this many titles, so that a store with many
// calendars does not drown the assistant in text.
constexpr size_t kMaxListedTitles = 30;

// The words and names of one kind of container in rows, params and messages.
struct KindWords {
  const char* noun;        // in rows and messages
  const char* listAction;  // the method text messages point to for ids
  const char* family;      // the method prefix of "{family}.sources.list"
  const char* pane;        // the privacy pane
  const char* listKey;     // the key of the list answer
  const char* idParam;     // the param naming one container
  const char* app;         // the application the person keeps the items in
  const char* shortNoun;   // the container in texts that name the application first
};

constexpr KindWords kCalendarWords = {
    .noun = "calendar",
    .listAction = "calendar.list",
    .family = "calendar",
    .pane = "Calendars",
    .listKey = "calendars",
    .idParam = "calendar_id",
    .app = "Calendar",
    .shortNoun = "calendar",
};

constexpr KindWords kReminderListWords = {
    .noun = "reminder list",
    .listAction = "reminders.lists",
    .family = "reminders",
    .pane = "Reminders",
    .listKey = "lists",
    .idParam = "list_id",
    .app = "Reminders",
    .shortNoun = "list",
};

const KindWords& kindWords(EntityType kind) {
  return kind == EntityType::Event ? kCalendarWords : kReminderListWords;
}

const char* sourceTypeText(platform::SourceType type) {
  switch (type) {
    case platform::SourceType::Local: return "local";
    case platform::SourceType::Exchange: return "exchange";
    case platform::SourceType::CalDav: return "caldav";
    case platform::SourceType::MobileMe: return "mobileme";
    case platform::SourceType::Subscribed: return "subscribed";
    case platform::SourceType::Birthdays: return "birthdays";
    case platform::SourceType::Unknown: break;
  }
  return "unknown";
}

const char* calendarTypeText(platform::CalendarType type) {
  switch (type) {
    case platform::CalendarType::Local: return "local";
    case platform::CalendarType::CalDav: return "caldav";
    case platform::CalendarType::Exchange: return "exchange";
    case platform::CalendarType::Subscription: return "subscription";
    case platform::CalendarType::Birthday: return "birthday";
    case platform::CalendarType::Unknown: break;
  }
  return "unknown";
}

std::optional<std::string> idOf(const std::optional<Calendar>& calendar) {
  if (!calendar) return std::nullopt;
  return calendar->id;
}

std::optional<std::string> defaultCalendarId(platform::EventStore& store, EntityType kind) {
  return idOf(store.defaultCalendar(kind));
}

// The one builder of container rows; callers listing many rows look the default up once.
Json buildContainerRow(const Calendar& calendar, const std::optional<std::string>& defaultId) {
  Json color = nullptr;
  if (auto hex = hexColor(calendar.color)) color = *hex;
  Json row = {{"id", calendar.id},
              {"name", calendar.title},
              {"color", color},
              {"type", calendarTypeText(calendar.type)},
              {"writable", calendar.allowsContentModifications},
              {"is_default", defaultId == calendar.id},
              {"immutable", calendar.immutable},
              {"subscribed", calendar.subscribed}};
  if (calendar.source) row["source"] = sourceRow(*calendar.source);
  return row;
}

std::string sourceTitle(const Calendar& calendar) {
  return calendar.source ? calendar.source->title : std::string();
}

[[noreturn]] void failReadOnly(EntityType kind, const std::string& title) {
  throwInvalidArgs("The " + std::string(kindWords(kind).noun) + " \"" + title +
                   "\" is read-only; pick a writable one.");
}

[[noreturn]] void failNoName(EntityType kind, const std::string& reference,
                             const std::vector<Calendar>& all, Access access) {
  std::vector<std::string> titles;
  for (const Calendar& calendar : all) {
    if (titles.size() == kMaxListedTitles) break;
    if (access == Access::Writable && !calendar.allowsContentModifications) continue;
    titles.push_back(calendar.title);
  }
  throwInvalidArgs("No " + std::string(kindWords(kind).noun) + " named \"" + reference +
                   "\" on this Mac. Available: " + joined(titles, ", "));
}

[[noreturn]] void failSeveralNames(EntityType kind, const std::string& reference,
                                   const std::vector<Calendar>& candidates) {
  std::vector<std::string> choices;
  for (const Calendar& calendar : candidates)
    choices.push_back(calendar.id + " (" + (calendar.source ? calendar.source->title : "?") + ")");
  throwInvalidArgs("Several " + std::string(kindWords(kind).noun) + "s are named \"" + reference +
                   "\": " + joined(choices, ", ") + ". Pass the id instead.");
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Six characters read as an unsigned hexadecimal number the way the standard integer
// parser does: an optional sign first, then digits only; a negative value is refused, so
// a minus sign passes only before zeros.
std::optional<uint32_t> parseSixHexDigits(std::string_view digits) {
  if (digits.size() != 6) return std::nullopt;
  bool negative = digits.front() == '-';
  if (negative || digits.front() == '+') digits.remove_prefix(1);
  uint32_t value = 0;
  for (char c : digits) {
    if (!isHexDigit(c)) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(hexValue(c));
  }
  if (negative && value != 0) return std::nullopt;
  return value;
}

// The account a new container goes to when the request names none: the default
// container's, else the first local one.
std::optional<Source> defaultAccount(const std::optional<Calendar>& fallback, const std::vector<Source>& sources) {
  if (fallback && fallback->source) return fallback->source;
  auto local = std::find_if(sources.begin(), sources.end(), [](const Source& source) {
    return source.type == platform::SourceType::Local;
  });
  if (local == sources.end()) return std::nullopt;
  return *local;
}

Source chooseAccount(platform::EventStore& store, EntityType kind, const Params& params,
                     const std::optional<Calendar>& fallback) {
  const KindWords& words = kindWords(kind);
  std::vector<Source> sources = store.sources(kind);
  if (auto sourceId = params.string("source_id")) {
    auto found = std::find_if(sources.begin(), sources.end(),
                              [&](const Source& source) { return source.id == *sourceId; });
    if (found == sources.end())
      throwInvalidArgs("No account source with id " + *sourceId + ". Get ids from " + words.family +
                       ".sources.list.");
    return *found;
  }
  if (auto account = defaultAccount(fallback, sources)) return *account;
  throwInvalidArgs("No default account to put the new " + std::string(words.noun) +
                   " in; pass source_id from " + words.family + ".sources.list.");
}

// The colour param when one was sent, read like every other string param (trimmed, blank
// as absent); a colour that does not parse is quoted in the error as that text.
std::optional<Rgb> colorParam(const Params& params) {
  std::optional<std::string> text = params.string("color");
  if (!text) return std::nullopt;
  return parseHexColor(*text);
}

Json listContainers(platform::EventStore& store, EntityType kind, const Params& params) {
  std::optional<std::string> defaultId = defaultCalendarId(store, kind);
  Json rows = Json::array();
  for (const Calendar& calendar :
       containers(store, kind, params.boolean("writable_only") == true ? Access::Writable : Access::Any,
                  params.string("source_id")))
    rows.push_back(buildContainerRow(calendar, defaultId));
  return Json{{kindWords(kind).listKey, std::move(rows)}};
}

Json sourcesAnswer(platform::EventStore& store, EntityType kind, const Params&) {
  return Json{{"sources", sourcesList(store, kind)}};
}

Json getContainer(platform::EventStore& store, EntityType kind, const Params& params) {
  Calendar calendar = containerById(store, kind, params.requireString(kindWords(kind).idParam));
  Json row = containerRow(store, calendar, kind);
  if (kind != EntityType::Reminder || !params.boolean("count").value_or(false)) return row;
  std::vector<platform::ReminderItem> items =
      fetchReminders(store, platform::ReminderFilter::All, std::vector<std::string>{calendar.id});
  auto incomplete = std::count_if(items.begin(), items.end(),
                                  [](const platform::ReminderItem& item) { return !item.completed; });
  row["reminder_count"] = items.size();
  row["incomplete_count"] = incomplete;
  return row;
}

}  // namespace

std::optional<std::string> hexColor(const std::optional<Rgb>& color) {
  if (!color) return std::nullopt;
  int channels[3] = {};
  const double components[3] = {color->red, color->green, color->blue};
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(components[i])) return std::nullopt;
    channels[i] = static_cast<int>(std::clamp(std::round(components[i] * 255.0), 0.0, 255.0));
  }
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", channels[0], channels[1], channels[2]);
  return std::string(text);
}

Json sourceRow(const Source& source) {
  return Json{{"id", source.id}, {"name", source.title}, {"type", sourceTypeText(source.type)}};
}

Json containerRow(platform::EventStore& store, const Calendar& calendar, EntityType kind) {
  return buildContainerRow(calendar, defaultCalendarId(store, kind));
}

std::vector<Calendar> containers(platform::EventStore& store, EntityType kind, Access access,
                                 const std::optional<std::string>& sourceId) {
  std::vector<Calendar> kept;
  for (Calendar& calendar : store.calendars(kind)) {
    if (access == Access::Writable && !calendar.allowsContentModifications) continue;
    if (sourceId && (!calendar.source || calendar.source->id != *sourceId)) continue;
    kept.push_back(std::move(calendar));
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Calendar& a, const Calendar& b) {
    return std::pair(sourceTitle(a), a.title) < std::pair(sourceTitle(b), b.title);
  });
  return kept;
}

Calendar containerById(platform::EventStore& store, EntityType kind, const std::string& id) {
  return containerById(kind, store.calendars(kind), id);
}

Calendar containerById(EntityType kind, const std::vector<Calendar>& all, const std::string& id) {
  for (const Calendar& calendar : all)
    if (calendar.id == id) return calendar;
  const KindWords& words = kindWords(kind);
  throwInvalidArgs("No " + std::string(words.noun) + " with id " + id + " on this Mac. Get ids from " +
                   words.listAction + ".");
}

Calendar resolveContainer(platform::EventStore& store, EntityType kind, const std::string& reference,
                          Access access) {
  return resolveContainer(kind, store.calendars(kind), reference, access);
}

Calendar resolveContainer(EntityType kind, const std::vector<Calendar>& all, const std::string& reference,
                          Access access) {
  for (const Calendar& calendar : all) {
    if (calendar.id != reference) continue;
    if (access == Access::Writable && !calendar.allowsContentModifications)
      failReadOnly(kind, calendar.title);
    return calendar;
  }
  bool anyNameMatched = false;
  std::vector<Calendar> candidates;
  for (const Calendar& calendar : all) {
    if (!platform::equalsIgnoringCaseAndDiacritics(calendar.title, reference)) continue;
    anyNameMatched = true;
    if (access == Access::Any || calendar.allowsContentModifications) candidates.push_back(calendar);
  }
  if (candidates.size() == 1) return candidates.front();
  if (candidates.size() > 1) failSeveralNames(kind, reference, candidates);
  if (anyNameMatched) failReadOnly(kind, reference);
  failNoName(kind, reference, all, access);
}

std::vector<Calendar> namedContainers(platform::EventStore& store, EntityType kind,
                                      const std::optional<std::string>& reference,
                                      const std::vector<std::string>& ids) {
  if (!reference && ids.empty()) return {};
  const std::vector<Calendar> all = store.calendars(kind);
  std::vector<Calendar> named;
  if (reference) named.push_back(resolveContainer(kind, all, *reference, Access::Any));
  for (const std::string& id : ids) named.push_back(containerById(kind, all, id));
  return named;
}

Calendar containerForNewItem(platform::EventStore& store, EntityType kind,
                             const std::optional<std::string>& reference) {
  if (reference) return resolveContainer(store, kind, *reference, Access::Writable);
  std::optional<Calendar> preferred = store.defaultCalendar(kind);
  if (preferred && preferred->allowsContentModifications) return *preferred;
  std::vector<Calendar> writable = containers(store, kind, Access::Writable, std::nullopt);
  if (writable.empty()) {
    const KindWords& words = kindWords(kind);
    throwExecutionFailed("This Mac's " + std::string(words.app) + " has no writable " + words.shortNoun + ".");
  }
  return writable.front();
}

bool isWritableContainer(const std::vector<Calendar>& all, const std::string& id) {
  return std::any_of(all.begin(), all.end(), [&](const Calendar& calendar) {
    return calendar.id == id && calendar.allowsContentModifications;
  });
}

Json sourcesList(platform::EventStore& store, EntityType kind) {
  std::map<std::string, std::vector<std::string>> idsBySource;
  for (const Calendar& calendar : store.calendars(kind))
    if (calendar.source) idsBySource[calendar.source->id].push_back(calendar.id);
  std::vector<Source> sources = store.sources(kind);
  std::stable_sort(sources.begin(), sources.end(),
                   [](const Source& a, const Source& b) { return a.title < b.title; });
  Json entries = Json::array();
  for (const Source& source : sources) {
    std::vector<std::string> ids = idsBySource[source.id];
    std::sort(ids.begin(), ids.end());
    Json entry = sourceRow(source);
    entry["container_ids"] = ids;
    entry["is_delegate"] = source.isDelegate;
    entries.push_back(std::move(entry));
  }
  return entries;
}

Json ekStatus(EventStoreBox& eventStore, EntityType kind) {
  std::string authorization = eventStatus(kind);
  bool granted = authorization == "granted";
  Json status = {{"authorization", authorization},
                 {"full_access", granted},
                 {"timezone", platform::currentZoneId()},
                 {"os_version", platform::osVersionText()}};
  if (!granted) {
    status["hint"] = authorization == "not_determined"
                         ? "Not asked yet: the person connects this group in Wren → Settings → Devices "
                           "on this computer (macOS asks once)."
                         : "Turn on Wren in System Settings → Privacy & Security → " +
                               std::string(kindWords(kind).pane) + " (Full Access).";
    return status;
  }
  platform::EventStore& store = eventStore.store();
  status["containers"] = store.calendars(kind).size();
  if (std::optional<Calendar> fallback = store.defaultCalendar(kind))
    status["default"] = {{"id", fallback->id}, {"name", fallback->title}};
  return status;
}

Rgb parseHexColor(const std::string& text) {
  std::string_view digits = text;
  size_t first = digits.find_first_not_of(" \t");
  digits = first == std::string_view::npos ? std::string_view() : digits.substr(first);
  digits = digits.substr(0, digits.find_last_not_of(" \t") + 1);
  if (!digits.empty() && digits.front() == '#') digits.remove_prefix(1);
  std::optional<uint32_t> value = parseSixHexDigits(digits);
  if (!value) throwInvalidArgs("color must be a hex color like #FF9500, got " + text);
  return Rgb{((*value >> 16) & 0xFF) / 255.0, ((*value >> 8) & 0xFF) / 255.0, (*value & 0xFF) / 255.0};
}

Json createContainer(platform::EventStore& store, EntityType kind, const Params& params) {
  std::string name = params.requireString("name");
  std::optional<Rgb> color = colorParam(params);
  // Creating a container leaves the default as it is, so one reading of it serves both the
  // choice of account and the row.
  std::optional<Calendar> fallback = store.defaultCalendar(kind);
  Source account = chooseAccount(store, kind, params, fallback);
  try {
    return buildContainerRow(store.createCalendar(kind, account.id, name, color), idOf(fallback));
  } catch (const platform::StoreError& error) {
    throwExecutionFailed("The account \"" + account.title + "\" did not accept a new " +
                         kindWords(kind).noun + ": " + error.what() + ". Try another source_id.");
  }
}

Json updateContainer(platform::EventStore& store, EntityType kind, const Params& params) {
  Calendar calendar = containerById(store, kind, params.requireString(kindWords(kind).idParam));
  std::optional<std::string> name = params.string("name");
  if (!name && !params.string("color")) throwInvalidArgs("Pass name and/or color to change.");
  if (calendar.immutable || calendar.subscribed)
    throwInvalidArgs("The " + std::string(kindWords(kind).noun) + " \"" + calendar.title +
                     "\" cannot be changed (system or subscribed).");
  std::optional<Rgb> color = colorParam(params);
  try {
    return containerRow(store, store.updateCalendar(kind, calendar.id, name, color), kind);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed("Could not change \"" + calendar.title + "\": " + error.what());
  }
}

Json deleteContainer(platform::EventStore& store, EntityType kind, const Params& params) {
  Calendar calendar = containerById(store, kind, params.requireString(kindWords(kind).idParam));
  Json row = containerRow(store, calendar, kind);
  requireConfirmation(params, "要删除「" + calendar.title + "」及其中的全部内容吗？", Json{{"container", row}});
  if (calendar.immutable)
    throwInvalidArgs("\"" + calendar.title + "\" is a system " + kindWords(kind).noun +
                     " and cannot be deleted.");
  try {
    store.removeCalendar(kind, calendar.id);
  } catch (const platform::StoreError& error) {
    throwExecutionFailed("Could not delete \"" + calendar.title + "\": " + error.what());
  }
  return Json{{"deleted", true}, {"container", std::move(row)}};
}

std::vector<platform::ReminderItem> fetchReminders(platform::EventStore& store, platform::ReminderFilter filter,
                                                   const std::optional<std::vector<std::string>>& calendarIds) {
  return store.reminders(filter, calendarIds);
}

Handler guarded(EntityType kind, EventStoreBox& eventStore, StoreHandler handler) {
  return [kind, &eventStore, handler = std::move(handler)](const Params& params) {
    ensureEvents(kind);
    return handler(eventStore.store(), params);
  };
}

ContainerMethods::ContainerMethods(EntityType kind, EventStoreBox& eventStore)
    : kind_(kind), eventStore_(eventStore) {}

Handler ContainerMethods::status() const {
  return [kind = kind_, &eventStore = eventStore_](const Params&) { return ekStatus(eventStore, kind); };
}

Handler ContainerMethods::sources() const { return guardedCall(sourcesAnswer); }
Handler ContainerMethods::list() const { return guardedCall(listContainers); }
Handler ContainerMethods::get() const { return guardedCall(getContainer); }
Handler ContainerMethods::create() const { return guardedCall(createContainer); }
Handler ContainerMethods::update() const { return guardedCall(updateContainer); }
Handler ContainerMethods::remove() const { return guardedCall(deleteContainer); }

Handler ContainerMethods::guardedCall(KindHandler handler) const {
  return guarded(kind_, eventStore_, [kind = kind_, handler](platform::EventStore& store, const Params& params) {
    return handler(store, kind, params);
  });
}

}  // namespace wren

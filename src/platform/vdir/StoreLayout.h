#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Json.h"
#include "platform/EventStore.h"

namespace wren::platform::vdir {

// The containers of one kind's store (calendars/ or reminders/ under the data root), read
// from the folders as they are at the moment of the call:
//
//   calendars/store.json            {"default": "<calendar id>"}
//   calendars/<source>/source.json  the account's title, type, delegate flag, addresses
//   calendars/<source>/<calendar>/  displayname, color, calendar.json, <name>.ics items
//
// Ids are folder names: a source's id is its folder name, a calendar's is
// "<source folder>/<calendar folder>". Sources are in byte order of their folder names,
// calendars in byte order of (source folder, calendar folder), so the order is the same on
// every call and on every machine. Hidden folders (a leading ".") are not containers.
// Metadata that is missing, unreadable or malformed falls back to defaults per key: a
// broken file never hides a container and never fails the call.

struct SourceFolder {
  Source source;
  std::filesystem::path folder;
};

struct CalendarFolder {
  Calendar calendar;  // with its source
  std::filesystem::path folder;

  // The id the item index files the calendar's items under.
  const std::string& id() const { return calendar.id; }
};

struct StoreLayout {
  std::vector<SourceFolder> sources;
  std::vector<CalendarFolder> calendars;
  // The calendar store.json names as the default, when it names one of `calendars`.
  std::optional<std::string> defaultCalendarId;

  const SourceFolder* findSource(std::string_view id) const;
  const CalendarFolder* findCalendar(std::string_view id) const;
};

// calendars/ for events, reminders/ for reminders.
std::filesystem::path storeFolder(const std::filesystem::path& dataRoot, EntityType kind);

// Reads the store folder; a missing or unreadable folder is an empty store.
StoreLayout readLayout(const std::filesystem::path& store);
// One calendar folder of the account, as readLayout reads it.
CalendarFolder readCalendar(const SourceFolder& source, const std::string& name);
// The calendar store.json names as the default, read on its own: the same answer as
// readLayout's, without reading every other calendar's metadata.
std::optional<CalendarFolder> readDefaultCalendar(const std::filesystem::path& store);

// Colour files hold "#RRGGBB" or "#RRGGBBAA" (alpha ignored); anything else is no colour.
std::optional<Rgb> parseColorText(std::string_view text);
// "#RRGGBB" in upper case, each component rounded and clamped.
std::string colorText(const Rgb& color);

// Names of the visible folders in `folder` (symbolic links to folders included, broken
// links left out), in byte order; none when the folder cannot be read.
std::vector<std::string> subfolders(const std::filesystem::path& folder);
// A metadata file (store.json, source.json...) as a JSON object; a missing, unreadable or
// malformed file, or one that holds something else, reads as an empty object.
Json readObject(const std::filesystem::path& path);

// The title in a displayname file: its first line, ill-formed UTF-8 replaced.
std::string titleFromDisplayName(std::string_view text);

}  // namespace wren::platform::vdir

#include "platform/vdir/StoreLayout.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "base/JsonParse.h"
#include "platform/Text.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Deleters.h"

namespace wren::platform::vdir {

std::vector<std::string> subfolders(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirClose> dir(opendir(folder.c_str()));
  if (!dir) return names;
  while (dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat info;
      isFolder = fstatat(dirfd(dir.get()), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    if (isFolder) names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

Json readObject(const std::filesystem::path& path) {
  std::optional<std::string> text = readFileIfPresent(path);
  if (!text) return Json::object();
  Json value = parseJson(*text);
  return value.is_object() ? value : Json::object();
}

namespace {

std::optional<std::string> stringKey(const Json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool flagKey(const Json& object, const char* key) {
  auto found = object.find(key);
  return found != object.end() && found->is_boolean() && found->get<bool>();
}

SourceType sourceTypeFromText(const std::optional<std::string>& text) {
  if (!text || *text == "local") return SourceType::Local;
  if (*text == "exchange") return SourceType::Exchange;
  if (*text == "caldav") return SourceType::CalDav;
  if (*text == "mobileme") return SourceType::MobileMe;
  if (*text == "subscribed") return SourceType::Subscribed;
  if (*text == "birthdays") return SourceType::Birthdays;
  return SourceType::Unknown;
}

CalendarType defaultCalendarType(SourceType source) {
  switch (source) {
    case SourceType::Subscribed: return CalendarType::Subscription;
    case SourceType::Birthdays: return CalendarType::Birthday;
    // The calendars of a MobileMe account are served over CalDAV.
    case SourceType::CalDav:
    case SourceType::MobileMe: return CalendarType::CalDav;
    case SourceType::Exchange: return CalendarType::Exchange;
    default: return CalendarType::Local;
  }
}

CalendarType calendarTypeFromText(const std::optional<std::string>& text, SourceType source) {
  if (!text) return defaultCalendarType(source);
  if (*text == "local") return CalendarType::Local;
  if (*text == "caldav") return CalendarType::CalDav;
  if (*text == "exchange") return CalendarType::Exchange;
  if (*text == "subscription") return CalendarType::Subscription;
  if (*text == "birthday") return CalendarType::Birthday;
  return CalendarType::Unknown;
}

SourceFolder readSource(const std::filesystem::path& store, const std::string& name) {
  SourceFolder entry{{}, store / name};
  Json meta = readObject(entry.folder / "source.json");
  Source& source = entry.source;
  source.id = name;
  std::optional<std::string> title = stringKey(meta, "title");
  source.title = toValidUtf8(title && !title->empty() ? *title : name);
  source.type = sourceTypeFromText(stringKey(meta, "type"));
  source.isDelegate = flagKey(meta, "delegate");
  auto emails = meta.find("emails");
  if (emails != meta.end() && emails->is_array()) {
    for (const Json& email : *emails)
      if (email.is_string()) source.emails.push_back(email.get<std::string>());
  }
  return entry;
}

}  // namespace

CalendarFolder readCalendar(const SourceFolder& source, const std::string& name) {
  CalendarFolder entry{{}, source.folder / name};
  Calendar& calendar = entry.calendar;
  calendar.id = source.source.id + "/" + name;
  std::optional<std::string> displayName = readFileIfPresent(entry.folder / "displayname");
  calendar.title = displayName ? titleFromDisplayName(*displayName) : "";
  if (calendar.title.empty()) calendar.title = toValidUtf8(name);
  if (std::optional<std::string> color = readFileIfPresent(entry.folder / "color"))
    calendar.color = parseColorText(*color);
  Json meta = readObject(entry.folder / "calendar.json");
  calendar.type = calendarTypeFromText(stringKey(meta, "type"), source.source.type);
  // The flags are what calendar.json records, whatever the type: a store marks a
  // subscription or a system calendar as such explicitly.
  calendar.subscribed = flagKey(meta, "subscribed");
  calendar.immutable = flagKey(meta, "immutable");
  calendar.allowsContentModifications = !flagKey(meta, "read_only") && !calendar.immutable &&
                                        !calendar.subscribed && access(entry.folder.c_str(), W_OK) == 0;
  calendar.source = source.source;
  return entry;
}

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

const SourceFolder* StoreLayout::findSource(std::string_view id) const {
  for (const SourceFolder& entry : sources)
    if (entry.source.id == id) return &entry;
  return nullptr;
}

const CalendarFolder* StoreLayout::findCalendar(std::string_view id) const {
  for (const CalendarFolder& entry : calendars)
    if (entry.calendar.id == id) return &entry;
  return nullptr;
}

std::filesystem::path storeFolder(const std::filesystem::path& dataRoot, EntityType kind) {
  return dataRoot / (kind == EntityType::Event ? "calendars" : "reminders");
}

StoreLayout readLayout(const std::filesystem::path& store) {
  StoreLayout layout;
  for (const std::string& name : subfolders(store)) layout.sources.push_back(readSource(store, name));
  for (const SourceFolder& source : layout.sources)
    for (const std::string& name : subfolders(source.folder))
      layout.calendars.push_back(readCalendar(source, name));
  std::optional<std::string> named = stringKey(readObject(store / "store.json"), "default");
  if (named && layout.findCalendar(*named)) layout.defaultCalendarId = named;
  return layout;
}

namespace {

// True when `name` is one of the visible folders of `parent`, as subfolders() lists them.
bool isVisibleSubfolder(const std::filesystem::path& parent, std::string_view name) {
  if (name.empty() || name.front() == '.' || name.find('/') != std::string_view::npos) return false;
  struct stat info;
  return stat((parent / name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<CalendarFolder> readDefaultCalendar(const std::filesystem::path& store) {
  std::optional<std::string> named = stringKey(readObject(store / "store.json"), "default");
  if (!named) return std::nullopt;
  const std::size_t slash = named->find('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::string sourceName = named->substr(0, slash);
  const std::string calendarName = named->substr(slash + 1);
  if (!isVisibleSubfolder(store, sourceName)) return std::nullopt;
  const SourceFolder source = readSource(store, sourceName);
  if (!isVisibleSubfolder(source.folder, calendarName)) return std::nullopt;
  return readCalendar(source, calendarName);
}

std::optional<Rgb> parseColorText(std::string_view text) {
  text = trimmed(text);
  if ((text.size() != 7 && text.size() != 9) || text[0] != '#') return std::nullopt;
  int components[3];
  for (size_t i = 1; i < text.size(); i += 2) {
    int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    if (i < 7) components[i / 2] = high * 16 + low;
  }
  return Rgb{components[0] / 255.0, components[1] / 255.0, components[2] / 255.0};
}

std::string colorText(const Rgb& color) {
  auto byte = [](double component) {
    return static_cast<int>(std::clamp(std::lround(component * 255.0), 0L, 255L));
  };
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", byte(color.red), byte(color.green), byte(color.blue));
  return text;
}

std::string titleFromDisplayName(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return toValidUtf8(line);
}

}  // namespace wren::platform::vdir

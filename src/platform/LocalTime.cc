#include "platform/LocalTime.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/IcuSupport.h"

namespace wren::platform {
namespace {

using icuSupport::fail;
using icuSupport::fromUtf8;
using icuSupport::toUtf8;

UDate toUDate(Instant instant) { return static_cast<UDate>(instant.time_since_epoch().count()); }

Instant fromUDate(UDate date) {
  return Instant(std::chrono::milliseconds(static_cast<long long>(std::floor(date))));
}

// ICU keeps the host zone's detected name in a process-wide buffer while it works, so
// every detection happens under this lock.
std::mutex& detectionMutex() {
  static std::mutex mutex;
  return mutex;
}

// ICU detects the host zone once by itself, for its default zone, the first time a
// calendar or format is made without a zone (a SimpleDateFormat always is). Doing that
// first, under the lock, keeps it from racing with a detection of ours. The default zone
// is never used for results: every calendar and format here is given its zone explicitly.
void initDefaultZoneLocked() {
  static const bool ready = [] {
    std::unique_ptr<icu::TimeZone> ignored(icu::TimeZone::createDefault());
    return true;
  }();
  static_cast<void>(ready);
}

void ensureDefaultZone() {
  std::lock_guard<std::mutex> lock(detectionMutex());
  initDefaultZoneLocked();
}

void appendNumber(std::string& text, long long number) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, number);
  text.append(digits, result.ptr);
}

// True when TZ alone decides the detected zone. ICU takes TZ for the zone's name when it
// has no digit and no comma (the empty TZ included), and the C library, whose offset ICU
// falls back on for a name it does not know, reads /etc/localtime only when TZ is unset.
// For a rule such as "CET-1CEST" ICU turns to /etc/localtime instead.
bool tzNamesTheZone(const char* tz) {
  if (!tz) return false;
  for (const char* c = tz; *c; ++c) {
    if ((*c >= '0' && *c <= '9') || *c == ',') return false;
  }
  return true;
}

// What the host zone is decided by: TZ, else the /etc/localtime link and the file it
// names. While none of these changed, the zone detected last is still the host's. It is
// read on every call, into a buffer the caller reuses, so reading it allocates nothing;
// the file is looked at only when it matters, as doing so costs more than a conversion.
void readHostZoneSetting(std::string& setting) {
  const char* tz = std::getenv("TZ");
  setting.assign(tz ? "TZ=" : "no TZ");
  if (tz) setting.append(tz);
  if (tzNamesTheZone(tz)) return;
  char target[4096];
  ssize_t length = readlink("/etc/localtime", target, sizeof target);
  if (length > 0) setting.append("|").append(target, static_cast<size_t>(length));
  struct stat info {};
  if (stat("/etc/localtime", &info) == 0) {
    setting.append("|");
    appendNumber(setting, static_cast<long long>(info.st_ino));
    setting.append("|");
    appendNumber(setting, static_cast<long long>(info.st_mtim.tv_sec));
    setting.append(".");
    appendNumber(setting, static_cast<long long>(info.st_mtim.tv_nsec));
  }
}

// ICU answers an id it does not know with its "Etc/Unknown" zone (which computes as UTC).
// That zone is compared by id: asking for "Etc/Unknown" by name gives an equivalent zone
// of another class, which the zones' equality would tell apart.
bool isUnknown(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  return id == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID, -1, US_INV);
}

// ISO 8601 counts years on the proleptic Gregorian calendar, as std::chrono does; ICU
// switches to the Julian calendar before October 1582 unless told otherwise.
void makeProleptic(icu::GregorianCalendar& calendar) {
  UErrorCode status = U_ZERO_ERROR;
  calendar.setGregorianChange(-std::numeric_limits<double>::max(), status);
  if (U_FAILURE(status)) fail("GregorianCalendar::setGregorianChange", status);
}

// How wall-clock times at a change of offset resolve. A repeated time (the hour after
// clocks go back) means its first occurrence, the one people reach first. A skipped time
// (the hour clocks jump over) keeps the offset from before the change, which lands as far
// after the gap as the time was into it: 02:30 on a spring-forward night becomes 03:30.
// That is UCAL_WALLTIME_LAST, ICU's default, chosen over NEXT_VALID (which would give
// 03:00) so that a time keeps its distance from the neighbouring hours.
void setWallTimeOptions(icu::Calendar& calendar) {
  calendar.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
  calendar.setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
}

// Creating a calendar reads the locale's week data, which is far costlier than the
// conversions themselves, so each thread makes one and copies it for every zone it meets.
const icu::GregorianCalendar& prototypeCalendar() {
  thread_local const std::unique_ptr<icu::GregorianCalendar> calendar = [] {
    ensureDefaultZone();
    UErrorCode status = U_ZERO_ERROR;
    auto created = std::make_unique<icu::GregorianCalendar>(icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) fail("GregorianCalendar::GregorianCalendar", status);
    makeProleptic(*created);
    setWallTimeOptions(*created);
    return created;
  }();
  return *calendar;
}

// A zone as one thread uses it. Loading a zone from the database, and setting one on a
// calendar or format, both cost far more than a conversion, so each thread keeps its zones
// with a calendar set to each, and formats remember (by serial) the zone they were given.
// ICU zones never change once made, which makes keeping them safe.
struct ZoneSlot {
  std::unique_ptr<icu::TimeZone> zone;
  std::unique_ptr<icu::GregorianCalendar> calendar;  // made on first use
  std::uint64_t serial = 0;                          // unique within the thread, never 0
};

std::shared_ptr<ZoneSlot> makeSlot(std::unique_ptr<icu::TimeZone> zone) {
  thread_local std::uint64_t lastSerial = 0;
  auto slot = std::make_shared<ZoneSlot>();
  slot->zone = std::move(zone);
  slot->serial = ++lastSerial;
  return slot;
}

// The slot of a named zone, or nothing when the zone database does not know the id (which
// is remembered too, as stale ids tend to come back).
std::shared_ptr<ZoneSlot> namedSlot(std::string_view zoneId) {
  // Events name a handful of zones; the bound only guards against ever-new ids.
  constexpr std::size_t kMaxCached = 128;
  thread_local std::map<std::string, std::shared_ptr<ZoneSlot>, std::less<>> slots;
  if (auto found = slots.find(zoneId); found != slots.end()) return found->second;
  if (slots.size() >= kMaxCached) slots.clear();
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(fromUtf8(zoneId)));
  if (!zone) fail("TimeZone::createTimeZone", U_MEMORY_ALLOCATION_ERROR);
  std::shared_ptr<ZoneSlot> slot = isUnknown(*zone) ? nullptr : makeSlot(std::move(zone));
  slots.emplace(std::string(zoneId), slot);
  return slot;
}

// Detects the host zone again when its setting changed, and returns a copy of it unless
// the caller's copy, taken at `generation`, is still current. tzset() makes the C library
// read TZ again, and ICU reads TZ (else the /etc/localtime link) afresh on each detection.
std::unique_ptr<icu::TimeZone> newerHostZone(const std::string& setting, std::uint64_t& generation) {
  std::lock_guard<std::mutex> lock(detectionMutex());
  initDefaultZoneLocked();
  static std::string detectedSetting;
  static std::unique_ptr<icu::TimeZone> detected;
  static std::uint64_t detectedGeneration = 0;
  if (!detected || setting != detectedSetting) {
    tzset();
    detected.reset(icu::TimeZone::detectHostTimeZone());
    if (!detected) fail("TimeZone::detectHostTimeZone", U_MEMORY_ALLOCATION_ERROR);
    detectedSetting = setting;
    ++detectedGeneration;
  }
  if (generation == detectedGeneration) return nullptr;
  std::unique_ptr<icu::TimeZone> copy(detected->clone());
  if (!copy) fail("TimeZone::clone", U_MEMORY_ALLOCATION_ERROR);
  generation = detectedGeneration;
  return copy;
}

// The zone the host is set to now. Its setting is checked on every call, so a change
// applies at once; the zone itself is detected (the costliest step) only after a change.
// While the setting is the one the thread's slot was made under, that slot is the host's
// zone still, and the process-wide lock is not taken at all.
std::shared_ptr<ZoneSlot> hostSlot() {
  thread_local std::string setting;
  thread_local std::string slotSetting;
  thread_local std::uint64_t generation = 0;
  thread_local std::shared_ptr<ZoneSlot> slot;
  readHostZoneSetting(setting);
  if (slot && setting == slotSetting) return slot;
  if (std::unique_ptr<icu::TimeZone> zone = newerHostZone(setting, generation)) {
    slot = makeSlot(std::move(zone));
  }
  slotSetting = setting;
  return slot;
}

// The zone conversions use: the named one, or the current zone for the empty id and for
// ids the database does not know (a stale id from another system should still give
// sensible local times rather than UTC). Callers hold the slot for as long as they use it.
std::shared_ptr<ZoneSlot> slotFor(std::string_view zoneId) {
  if (!zoneId.empty()) {
    if (auto slot = namedSlot(zoneId)) return slot;
  }
  return hostSlot();
}

// The slot's calendar, cleared of any fields set before.
icu::GregorianCalendar& calendarOf(ZoneSlot& slot) {
  if (!slot.calendar) {
    slot.calendar.reset(prototypeCalendar().clone());
    if (!slot.calendar) fail("Calendar::clone", U_MEMORY_ALLOCATION_ERROR);
    slot.calendar->setTimeZone(*slot.zone);
  }
  slot.calendar->clear();
  return *slot.calendar;
}

int32_t offsetMillis(const icu::TimeZone& zone, Instant instant) {
  int32_t raw = 0;
  int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  zone.getOffset(toUDate(instant), false, raw, dst, status);
  if (U_FAILURE(status)) fail("TimeZone::getOffset", status);
  return raw + dst;
}

// Wall-clock times from 0001-01-01 up to the end of 9999 are worked out here from the
// zone's offset instead of by a calendar, which is many times faster. In that range the
// result is the calendar's: ICU adds the same offset, its calendar is made proleptic
// Gregorian as std::chrono's is, and "yyyy" gives exactly four digits. Outside it (era
// years, years of five digits) the calendar and formats keep the work.
constexpr std::chrono::sys_days kQuickFirstDay{std::chrono::year(1) / 1 / 1};
constexpr std::chrono::sys_days kQuickEndDay{std::chrono::year(10000) / 1 / 1};

struct LocalReading {
  CivilTime civil;
  int32_t offset = 0;  // milliseconds
};

std::optional<LocalReading> quickReading(Instant instant, const icu::TimeZone& zone) {
  using namespace std::chrono;
  // Offsets stay within a day, so a day's margin keeps the addition below from overflowing.
  if (instant < kQuickFirstDay - days(1) || instant >= kQuickEndDay + days(1)) return std::nullopt;
  const int32_t offset = offsetMillis(zone, instant);
  const Instant local = instant + milliseconds(offset);
  if (local < kQuickFirstDay || local >= kQuickEndDay) return std::nullopt;
  const sys_days day = floor<days>(local);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{local - day};
  LocalReading reading;
  reading.civil.year = static_cast<int>(date.year());
  reading.civil.month = static_cast<int>(static_cast<unsigned>(date.month()));
  reading.civil.day = static_cast<int>(static_cast<unsigned>(date.day()));
  reading.civil.hour = static_cast<int>(time.hours().count());
  reading.civil.minute = static_cast<int>(time.minutes().count());
  reading.civil.second = static_cast<int>(time.seconds().count());
  reading.civil.millisecond = static_cast<int>(time.subseconds().count());
  reading.offset = offset;
  return reading;
}

void appendPadded(std::string& text, int value, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  text.append(digits, static_cast<std::size_t>(width));
}

void appendDay(std::string& text, const CivilTime& civil) {
  appendPadded(text, civil.year, 4);
  text += '-';
  appendPadded(text, civil.month, 2);
  text += '-';
  appendPadded(text, civil.day, 2);
}

// ICU's "XXX": "Z" when the offset is under a minute, else the sign and the hours and
// minutes of its size; leftover seconds (of old local mean times) are dropped, not rounded.
void appendOffset(std::string& text, int32_t offset) {
  constexpr int32_t kMinute = 60 * 1000;
  const int32_t size = offset < 0 ? -offset : offset;
  if (size < kMinute) {
    text += 'Z';
    return;
  }
  text += offset < 0 ? '-' : '+';
  appendPadded(text, size / (60 * kMinute), 2);
  text += ':';
  appendPadded(text, size / kMinute % 60, 2);
}

// The two patterns every listed row uses; formatDay and formatDateTime write them without
// ICU inside the quick range.
constexpr std::string_view kDayPattern = "yyyy-MM-dd";
constexpr std::string_view kDateTimePattern = "yyyy-MM-dd'T'HH:mm:ssXXX";

std::string dayText(const CivilTime& civil) {
  std::string text;
  text.reserve(kDayPattern.size());
  appendDay(text, civil);
  return text;
}

std::string dateTimeText(const LocalReading& reading) {
  std::string text;
  text.reserve(kDateTimePattern.size());
  appendDay(text, reading.civil);
  text += 'T';
  appendPadded(text, reading.civil.hour, 2);
  text += ':';
  appendPadded(text, reading.civil.minute, 2);
  text += ':';
  appendPadded(text, reading.civil.second, 2);
  appendOffset(text, reading.offset);
  return text;
}

int field(const icu::Calendar& calendar, UCalendarDateFields which) {
  UErrorCode status = U_ZERO_ERROR;
  const int value = calendar.get(which, status);
  if (U_FAILURE(status)) fail("Calendar::get", status);
  return value;
}

CivilTime civilFromCalendar(const icu::Calendar& calendar) {
  CivilTime civil;
  // The extended year counts 1 BC as 0, matching std::chrono and ISO 8601.
  civil.year = field(calendar, UCAL_EXTENDED_YEAR);
  civil.month = field(calendar, UCAL_MONTH) + 1;
  civil.day = field(calendar, UCAL_DATE);
  civil.hour = field(calendar, UCAL_HOUR_OF_DAY);
  civil.minute = field(calendar, UCAL_MINUTE);
  civil.second = field(calendar, UCAL_SECOND);
  civil.millisecond = field(calendar, UCAL_MILLISECOND);
  return civil;
}

CivilTime civilInSlot(Instant instant, ZoneSlot& slot) {
  if (std::optional<LocalReading> reading = quickReading(instant, *slot.zone)) return reading->civil;
  icu::GregorianCalendar& calendar = calendarOf(slot);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(toUDate(instant), status);
  if (U_FAILURE(status)) fail("Calendar::setTime", status);
  return civilFromCalendar(calendar);
}

// Field validity is checked here rather than by a non-lenient ICU calendar, because such a
// calendar also refuses wall-clock times skipped by a change of offset, which should
// resolve instead.
bool isValidCivil(const CivilTime& civil) {
  using namespace std::chrono;
  if (civil.year < -32767 || civil.year > 32767) return false;
  if (civil.month < 1 || civil.month > 12 || civil.day < 1) return false;
  const year_month_day date{year{civil.year}, month{static_cast<unsigned>(civil.month)},
                            day{static_cast<unsigned>(civil.day)}};
  return date.ok() && civil.hour >= 0 && civil.hour <= 23 && civil.minute >= 0 && civil.minute <= 59 &&
         civil.second >= 0 && civil.second <= 59 && civil.millisecond >= 0 && civil.millisecond <= 999;
}

// The calendar resolves wall-clock times at changes of offset by the rules its options
// set, which is why this direction always goes through it.
std::optional<Instant> instantInSlot(const CivilTime& civil, ZoneSlot& slot) {
  if (!isValidCivil(civil)) return std::nullopt;
  icu::GregorianCalendar& calendar = calendarOf(slot);
  calendar.set(UCAL_EXTENDED_YEAR, civil.year);
  calendar.set(UCAL_MONTH, civil.month - 1);
  calendar.set(UCAL_DATE, civil.day);
  calendar.set(UCAL_HOUR_OF_DAY, civil.hour);
  calendar.set(UCAL_MINUTE, civil.minute);
  calendar.set(UCAL_SECOND, civil.second);
  calendar.set(UCAL_MILLISECOND, civil.millisecond);
  UErrorCode status = U_ZERO_ERROR;
  const UDate date = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return fromUDate(date);
}

std::unique_ptr<icu::SimpleDateFormat> makeFormat(std::string_view pattern) {
  ensureDefaultZone();
  UErrorCode status = U_ZERO_ERROR;
  auto format = std::make_unique<icu::SimpleDateFormat>(fromUtf8(pattern), icu::Locale("en_US_POSIX"), status);
  if (U_FAILURE(status)) fail("SimpleDateFormat::SimpleDateFormat", status);
  // A non-lenient format turns off the parse leniencies (white space, partial matches,
  // numeric months for names) and makes its calendar reject out-of-range fields.
  format->setLenient(false);
  std::unique_ptr<icu::GregorianCalendar> calendar(prototypeCalendar().clone());
  if (!calendar) fail("Calendar::clone", U_MEMORY_ALLOCATION_ERROR);
  calendar->setLenient(false);
  format->adoptCalendar(calendar.release());
  return format;
}

struct CachedFormat {
  std::unique_ptr<icu::SimpleDateFormat> format;
  std::uint64_t zoneSerial = 0;  // the slot whose zone the format has; 0: none yet
};

// Date formats are costly to create (they load the locale's symbols), so each thread keeps
// one per pattern, and gives it a zone only when it differs from the one it has.
icu::SimpleDateFormat& formatIn(std::string_view pattern, const ZoneSlot& slot) {
  // The helper uses a handful of fixed patterns; the bound only guards against a caller
  // passing ever-new ones.
  constexpr std::size_t kMaxCached = 32;
  thread_local std::map<std::string, CachedFormat, std::less<>> formats;
  auto found = formats.find(pattern);
  if (found == formats.end()) {
    if (formats.size() >= kMaxCached) formats.clear();
    found = formats.emplace(std::string(pattern), CachedFormat{makeFormat(pattern), 0}).first;
  }
  CachedFormat& cached = found->second;
  if (cached.zoneSerial != slot.serial) {
    cached.format->setTimeZone(*slot.zone);
    cached.zoneSerial = slot.serial;
  }
  return *cached.format;
}

std::string icuFormat(Instant instant, std::string_view pattern, const ZoneSlot& slot) {
  icu::UnicodeString text;
  formatIn(pattern, slot).format(toUDate(instant), text);
  return toUtf8(text);
}

// Parses the whole text with the format's current zone; nothing when any of it is left over.
std::optional<Instant> parseWhole(const icu::SimpleDateFormat& format, const icu::UnicodeString& text) {
  icu::ParsePosition position(0);
  const UDate date = format.parse(text, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return std::nullopt;
  return fromUDate(date);
}

}  // namespace

std::string currentZoneId() {
  std::shared_ptr<ZoneSlot> slot = hostSlot();
  // Without TZ and without a readable /etc/localtime ICU reports its unknown zone, which
  // computes as UTC; callers expect an IANA id, so it is named as such.
  if (isUnknown(*slot->zone)) return "UTC";
  icu::UnicodeString id;
  slot->zone->getID(id);
  return toUtf8(id);
}

bool isKnownZone(std::string_view zoneId) { return !zoneId.empty() && namedSlot(zoneId) != nullptr; }

CivilTime civilFromInstant(Instant instant, std::string_view zoneId) {
  return civilInSlot(instant, *slotFor(zoneId));
}

std::optional<Instant> instantFromCivil(const CivilTime& civil, std::string_view zoneId) {
  return instantInSlot(civil, *slotFor(zoneId));
}

int utcOffsetSeconds(Instant instant, std::string_view zoneId) {
  return offsetMillis(*slotFor(zoneId)->zone, instant) / 1000;
}

Instant startOfDay(Instant instant, std::string_view zoneId) {
  // The zone is looked up once so that both steps agree even if it changes meanwhile.
  std::shared_ptr<ZoneSlot> slot = slotFor(zoneId);
  CivilTime civil = civilInSlot(instant, *slot);
  civil.hour = 0;
  civil.minute = 0;
  civil.second = 0;
  civil.millisecond = 0;
  // Where midnight itself is skipped, the skipped-time rule yields the first instant of the
  // day. The fields came from the zone, so they are always valid.
  return instantInSlot(civil, *slot).value_or(instant);
}

Instant addDays(Instant instant, int days, std::string_view zoneId) {
  if (days == 0) return instant;
  std::shared_ptr<ZoneSlot> slot = slotFor(zoneId);
  icu::GregorianCalendar& calendar = calendarOf(*slot);
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(toUDate(instant), status);
  if (U_FAILURE(status)) fail("Calendar::setTime", status);
  // Adding to the day of the month keeps the wall-clock time across changes of offset; a
  // result inside a gap follows the calendar's skipped-time rule.
  calendar.add(UCAL_DATE, days, status);
  if (U_FAILURE(status)) fail("Calendar::add", status);
  const UDate date = calendar.getTime(status);
  if (U_FAILURE(status)) fail("Calendar::getTime", status);
  return fromUDate(date);
}

std::string formatDay(Instant instant, std::string_view zoneId) {
  std::shared_ptr<ZoneSlot> slot = slotFor(zoneId);
  if (std::optional<LocalReading> reading = quickReading(instant, *slot->zone)) return dayText(reading->civil);
  return icuFormat(instant, kDayPattern, *slot);
}

std::string formatDateTime(Instant instant, std::string_view zoneId) {
  std::shared_ptr<ZoneSlot> slot = slotFor(zoneId);
  if (std::optional<LocalReading> reading = quickReading(instant, *slot->zone)) return dateTimeText(*reading);
  return icuFormat(instant, kDateTimePattern, *slot);
}

std::string formatPattern(Instant instant, std::string_view pattern, std::string_view zoneId) {
  if (pattern == kDayPattern) return formatDay(instant, zoneId);
  if (pattern == kDateTimePattern) return formatDateTime(instant, zoneId);
  return icuFormat(instant, pattern, *slotFor(zoneId));
}

std::optional<Instant> parsePattern(std::string_view text, std::string_view pattern, std::string_view zoneId) {
  std::shared_ptr<ZoneSlot> slot = slotFor(zoneId);
  const icu::UnicodeString unicodeText = fromUtf8(text);
  if (auto parsed = parseWhole(formatIn(pattern, *slot), unicodeText)) return parsed;

  // The non-lenient calendar also refuses a wall-clock time that a change of offset skips
  // in this zone. UTC skips nothing, so if the text parses there it is valid, and it was
  // refused only for the gap (a text naming its own zone or offset parses alike in both):
  // its fields then resolve in the zone as every other conversion does.
  std::shared_ptr<ZoneSlot> utc = namedSlot("UTC");
  if (!utc) fail("TimeZone::createTimeZone", U_ILLEGAL_ARGUMENT_ERROR);
  // In UTC itself the same format would only refuse the text again.
  if (utc == slot) return std::nullopt;
  const std::optional<Instant> inUtc = parseWhole(formatIn(pattern, *utc), unicodeText);
  if (!inUtc) return std::nullopt;
  // In UTC the instant reads back as exactly the wall-clock fields of the text.
  return instantInSlot(civilInSlot(*inUtc, *utc), *slot);
}

}  // namespace wren::platform

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

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace wren::platform {
namespace {

[[noreturn]] void fail(const char* call, UErrorCode status) {
  throw std::runtime_error(std::string(call) + " failed: " + u_errorName(status));
}

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

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

// What the host zone is decided by: TZ, else the /etc/localtime link and the file it
// names. While none of these changed, the zone detected last is still the host's.
std::string hostZoneSetting() {
  const char* tz = std::getenv("TZ");
  std::string setting = tz ? std::string("TZ=") + tz : std::string("no TZ");
  char target[4096];
  ssize_t length = readlink("/etc/localtime", target, sizeof target);
  if (length > 0) setting.append("|").append(target, static_cast<size_t>(length));
  struct stat info {};
  if (stat("/etc/localtime", &info) == 0) {
    setting += "|" + std::to_string(info.st_ino) + "|" + std::to_string(info.st_mtim.tv_sec) + "." +
               std::to_string(info.st_mtim.tv_nsec);
  }
  return setting;
}

// The zone the host is set to now. tzset() makes the C library read TZ again, and ICU reads
// TZ (else the /etc/localtime link) afresh on each detection; a detection is repeated only
// when the setting it depends on changed, because it is the costliest step of formatting.
std::unique_ptr<icu::TimeZone> hostZone() {
  std::lock_guard<std::mutex> lock(detectionMutex());
  initDefaultZoneLocked();
  static std::string detectedSetting;
  static std::unique_ptr<icu::TimeZone> detected;
  std::string setting = hostZoneSetting();
  if (!detected || setting != detectedSetting) {
    tzset();
    detected.reset(icu::TimeZone::detectHostTimeZone());
    if (!detected) fail("TimeZone::detectHostTimeZone", U_MEMORY_ALLOCATION_ERROR);
    detectedSetting = std::move(setting);
  }
  return std::unique_ptr<icu::TimeZone>(detected->clone());
}

// ICU answers an id it does not know with its "Etc/Unknown" zone (which computes as UTC).
// That zone is compared by id: asking for "Etc/Unknown" by name gives an equivalent zone
// of another class, which the zones' equality would tell apart.
bool isUnknown(const icu::TimeZone& zone) {
  icu::UnicodeString id;
  zone.getID(id);
  return id == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID, -1, US_INV);
}

// A named zone, or nothing when the zone database does not know the id.
std::unique_ptr<icu::TimeZone> namedZone(std::string_view zoneId) {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(fromUtf8(zoneId)));
  if (!zone) fail("TimeZone::createTimeZone", U_MEMORY_ALLOCATION_ERROR);
  if (isUnknown(*zone)) return nullptr;
  return zone;
}

// The zone conversions use: the named one, or the current zone for the empty id and for
// ids the database does not know (a stale id from another system should still give
// sensible local times rather than UTC).
std::unique_ptr<icu::TimeZone> zoneFor(std::string_view zoneId) {
  if (!zoneId.empty()) {
    if (auto zone = namedZone(zoneId)) return zone;
  }
  return hostZone();
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

// Each thread keeps one calendar: creating one reads the locale's week data, which is far
// costlier than the conversions themselves.
icu::GregorianCalendar& calendarIn(std::unique_ptr<icu::TimeZone> zone) {
  thread_local std::unique_ptr<icu::GregorianCalendar> calendar = [] {
    ensureDefaultZone();
    UErrorCode status = U_ZERO_ERROR;
    auto created = std::make_unique<icu::GregorianCalendar>(icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) fail("GregorianCalendar::GregorianCalendar", status);
    makeProleptic(*created);
    setWallTimeOptions(*created);
    return created;
  }();
  calendar->adoptTimeZone(zone.release());
  calendar->clear();
  return *calendar;
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

std::optional<Instant> instantInZone(const CivilTime& civil, std::unique_ptr<icu::TimeZone> zone) {
  if (!isValidCivil(civil)) return std::nullopt;
  icu::GregorianCalendar& calendar = calendarIn(std::move(zone));
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

// Date formats are costly to create (they load the locale's symbols), so each thread keeps
// one per pattern; callers set the zone before every use.
icu::SimpleDateFormat& formatFor(std::string_view pattern) {
  // The helper uses a handful of fixed patterns; the bound only guards against a caller
  // passing ever-new ones.
  constexpr std::size_t kMaxCached = 32;
  thread_local std::map<std::string, std::unique_ptr<icu::SimpleDateFormat>, std::less<>> formats;
  if (auto found = formats.find(pattern); found != formats.end()) return *found->second;
  if (formats.size() >= kMaxCached) formats.clear();

  ensureDefaultZone();
  UErrorCode status = U_ZERO_ERROR;
  auto format = std::make_unique<icu::SimpleDateFormat>(fromUtf8(pattern), icu::Locale("en_US_POSIX"), status);
  if (U_FAILURE(status)) fail("SimpleDateFormat::SimpleDateFormat", status);
  // A non-lenient format turns off the parse leniencies (white space, partial matches,
  // numeric months for names) and makes its calendar reject out-of-range fields.
  format->setLenient(false);
  auto calendar = std::make_unique<icu::GregorianCalendar>(icu::Locale("en_US_POSIX"), status);
  if (U_FAILURE(status)) fail("GregorianCalendar::GregorianCalendar", status);
  makeProleptic(*calendar);
  setWallTimeOptions(*calendar);
  calendar->setLenient(false);
  format->adoptCalendar(calendar.release());
  auto& stored = formats[std::string(pattern)];
  stored = std::move(format);
  return *stored;
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
  std::unique_ptr<icu::TimeZone> zone = hostZone();
  // Without TZ and without a readable /etc/localtime ICU reports its unknown zone, which
  // computes as UTC; callers expect an IANA id, so it is named as such.
  if (isUnknown(*zone)) return "UTC";
  icu::UnicodeString id;
  zone->getID(id);
  return toUtf8(id);
}

bool isKnownZone(std::string_view zoneId) { return !zoneId.empty() && namedZone(zoneId) != nullptr; }

CivilTime civilFromInstant(Instant instant, std::string_view zoneId) {
  icu::GregorianCalendar& calendar = calendarIn(zoneFor(zoneId));
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(toUDate(instant), status);
  if (U_FAILURE(status)) fail("Calendar::setTime", status);
  return civilFromCalendar(calendar);
}

std::optional<Instant> instantFromCivil(const CivilTime& civil, std::string_view zoneId) {
  return instantInZone(civil, zoneFor(zoneId));
}

int utcOffsetSeconds(Instant instant, std::string_view zoneId) {
  std::unique_ptr<icu::TimeZone> zone = zoneFor(zoneId);
  int32_t raw = 0;
  int32_t dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  zone->getOffset(toUDate(instant), false, raw, dst, status);
  if (U_FAILURE(status)) fail("TimeZone::getOffset", status);
  return (raw + dst) / 1000;
}

Instant startOfDay(Instant instant, std::string_view zoneId) {
  // The zone is detected once so that both steps agree even if it changes meanwhile.
  std::unique_ptr<icu::TimeZone> zone = zoneFor(zoneId);
  std::unique_ptr<icu::TimeZone> copy(zone->clone());
  if (!copy) fail("TimeZone::clone", U_MEMORY_ALLOCATION_ERROR);
  icu::GregorianCalendar& calendar = calendarIn(std::move(zone));
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(toUDate(instant), status);
  if (U_FAILURE(status)) fail("Calendar::setTime", status);
  CivilTime civil = civilFromCalendar(calendar);
  civil.hour = 0;
  civil.minute = 0;
  civil.second = 0;
  civil.millisecond = 0;
  // Where midnight itself is skipped, the skipped-time rule yields the first instant of the
  // day. The fields came from a calendar, so they are always valid.
  return instantInZone(civil, std::move(copy)).value_or(instant);
}

Instant addDays(Instant instant, int days, std::string_view zoneId) {
  if (days == 0) return instant;
  icu::GregorianCalendar& calendar = calendarIn(zoneFor(zoneId));
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

std::string formatPattern(Instant instant, std::string_view pattern, std::string_view zoneId) {
  icu::SimpleDateFormat& format = formatFor(pattern);
  format.adoptTimeZone(zoneFor(zoneId).release());
  icu::UnicodeString text;
  format.format(toUDate(instant), text);
  return toUtf8(text);
}

std::optional<Instant> parsePattern(std::string_view text, std::string_view pattern, std::string_view zoneId) {
  icu::SimpleDateFormat& format = formatFor(pattern);
  std::unique_ptr<icu::TimeZone> zone = zoneFor(zoneId);
  std::unique_ptr<icu::TimeZone> zoneCopy(zone->clone());
  if (!zoneCopy) fail("TimeZone::clone", U_MEMORY_ALLOCATION_ERROR);
  format.adoptTimeZone(zone.release());
  const icu::UnicodeString unicodeText = fromUtf8(text);
  if (auto parsed = parseWhole(format, unicodeText)) return parsed;

  // The non-lenient calendar also refuses a wall-clock time that a change of offset skips
  // in this zone. UTC skips nothing, so if the text parses there it is valid, and it was
  // refused only for the gap (a text naming its own zone or offset parses alike in both):
  // its fields then resolve in the zone as every other conversion does.
  std::unique_ptr<icu::TimeZone> utc(icu::TimeZone::getGMT()->clone());
  if (!utc) fail("TimeZone::clone", U_MEMORY_ALLOCATION_ERROR);
  format.adoptTimeZone(utc.release());
  const std::optional<Instant> inUtc = parseWhole(format, unicodeText);
  if (!inUtc) return std::nullopt;
  // In UTC the instant reads back as exactly the wall-clock fields of the text.
  return instantInZone(civilFromInstant(*inUtc, "UTC"), std::move(zoneCopy));
}

}  // namespace wren::platform

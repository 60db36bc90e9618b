#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/formats/ContentLines.h"

namespace wren::platform::vdir {

// What an iCalendar file may hold before libical reads it. libical's costs grow faster than
// the text for some shapes (its line reader with long physical lines, its parameter lists
// with many parameters, its time zones with rules that repeat more than yearly), and it frees
// components recursively. A store file is written by any program, or by none (a fuzzer, a
// broken sync), so every file is checked first, in one pass over its text that costs no more
// than reading it, and a file that cannot be a sane item is refused whole: it is skipped like
// any malformed file, and left untouched. Refusals are for the file's shape only (its size,
// its lines, its zones' rules); the values in it are the codecs' business.
//
//   std::optional<LibicalInput> input = libicalInput(text);   // nothing: refused
//   std::optional<ParseBudget::Share> share = libicalBudget().take(input->footprint);
//   ComponentPtr calendar(icalparser_parse_string(input->text.c_str()));
//   if (std::optional<std::string> why = editRefusal(text)) throw StoreError(*why);
//
// Item files larger than kItemFileBytes (RegularFile.h) are not even read.

// Content lines of one file (unfolded). A meeting with a thousand attendees stays far below,
// and so does a daily series of thirty years with every occurrence changed.
inline constexpr std::size_t kMaxContentLines = 100'000;

// What libical may hold at once while it reads one file. It keeps about 300 bytes for every
// content line and about six times the text; a file that would take more is refused, which
// leaves room for files of a few megabytes of any shape (a daily series with 10,000 changed occurrences among them).
inline constexpr std::size_t kMaxParseFootprint = std::size_t{32} << 20;
std::size_t parseFootprint(std::size_t contentLines, std::size_t octets);

// Octets of one content line, unfolded: room for a description of a book's length or an
// inline attachment of 700 KB. libical holds several copies of a line while it reads it.
inline constexpr std::size_t kMaxLineOctets = std::size_t{1} << 20;

// Parameters of one content line. Real lines carry a handful (an attendee's CN, ROLE,
// PARTSTAT, RSVP...); libical's cost grows with the square of their number.
inline constexpr std::size_t kMaxLineParameters = 100;

// Components nested in one another. Calendar programs nest three or four (VCALENDAR, VEVENT,
// VALARM); libical frees a nested component with one call per level, so the depth it sees
// has to stay far below what any thread's stack holds. Components nested deeper are left out
// of what libical reads: the items above them are listed as usual, and the file is left as
// it is.
inline constexpr std::size_t kMaxNesting = 1'000;
// Files nested deeper than this are listed but not changed: the helper's own reader of raw
// lines, its writer and its copies go through components level by level too
// (kMaxComponentNesting, ContentLines.h).
inline constexpr std::size_t kMaxEditableNesting = kMaxComponentNesting;

// Observances (changes of offset) that libical may compute for the VTIMEZONEs of one file,
// from each observance's first year to the years it serves. A zone changes its offset once
// or twice a year, and even a zone defined from the year 1601, as Outlook writes them, has
// about 900 observances; libical takes tens of microseconds for each. Rules that repeat more
// often than yearly and have no COUNT make no sense for a zone and are refused outright.
inline constexpr std::size_t kMaxZoneObservances = 10'000;

// Octets of a TZID. The longest zone ids, with a vendor prefix before them
// ("/softwarestudio.org/Olson_20011030_5/America/Argentina/ComodRivadavia"), take about 70.
inline constexpr std::size_t kMaxTzidOctets = 256;

// Why libical must not read the text; nothing when it may.
std::optional<std::string> parseRefusal(std::string_view text);

// The text to hand to libical, NUL-terminated: the file's text with physical lines longer
// than a few kilobytes folded, so that libical's line reader, whose cost grows with the
// square of a physical line's length, stays linear. Folding changes nothing a reader sees.
// `footprint` is what libical is estimated to hold for it (parseFootprint). Nothing when
// the text is refused (parseRefusal).
struct LibicalInput {
  std::string text;
  std::size_t footprint = 0;
};
std::optional<LibicalInput> libicalInput(std::string_view text);

// What libical may hold at once for the files that all threads read: the index reads files
// on several threads, and a store with many large files would otherwise hold up to
// kMaxParseFootprint on each. A thread takes a share of the budget for a file's footprint
// before libical reads it and gives it back once the file's components are freed. A share
// that does not fit beside the ones held waits; shares are given in the order they were
// asked for, so a large file waits for the files before it to finish and then goes, and no
// file waits forever. Small files, nearly all of them, take no share and never wait: a
// footprint up to kUnbudgetedFootprint costs no lock, and the threads reading them at once
// hold at most a few such footprints beside the budget.
//
// A thread holds one share at a time: it frees one file's components before it reads the
// next (a second share taken while holding one could wait for itself).
inline constexpr std::size_t kUnbudgetedFootprint = std::size_t{1} << 20;

class ParseBudget {
 public:
  explicit ParseBudget(std::size_t capacity) : capacity_(capacity) {}
  ParseBudget(const ParseBudget&) = delete;
  ParseBudget& operator=(const ParseBudget&) = delete;

  // A share of the budget, given back when it is destroyed; an empty share holds nothing.
  class Share {
   public:
    Share() = default;
    Share(Share&& other) noexcept;
    Share& operator=(Share&& other) noexcept;
    ~Share();
    std::size_t size() const { return size_; }

   private:
    friend class ParseBudget;
    Share(ParseBudget* budget, std::size_t size) : budget_(budget), size_(size) {}
    ParseBudget* budget_ = nullptr;
    std::size_t size_ = 0;
  };

  // A share for `footprint`, once it fits; nothing at once when it never can (over the
  // capacity).
  std::optional<Share> take(std::size_t footprint);

 private:
  void giveBack(std::size_t size);

  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t held_ = 0;
  std::uint64_t nextTicket_ = 0;  // the place in line of the next thread to ask
  std::uint64_t serving_ = 0;     // the place in line whose turn it is
};

// The budget of every libical read of the process: kMaxParseFootprint.
ParseBudget& libicalBudget();

// Why the helper must not change the file; nothing when it may (see kMaxEditableNesting).
std::optional<std::string> editRefusal(std::string_view text);

}  // namespace wren::platform::vdir

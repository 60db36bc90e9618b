#include "platform/vdir/IcalLimits.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace wren::platform::vdir {
namespace {

// Physical lines longer than this are folded before libical reads them.
constexpr std::size_t kParserLineOctets = 4096;

// libical computes a zone's observances up to a few years past the present and no further,
// whatever year a time asks for; the estimate counts them up to this year.
constexpr int kZoneLastYear = 2040;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares with an upper-case word, ignoring the case of `text`.
bool isWord(std::string_view text, std::string_view word) {
  return text.size() == word.size() &&
         std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) { return upper(a) == b; });
}

std::string_view nameOf(std::string_view line) { return line.substr(0, std::min(line.find_first_of(";:"), line.size())); }

// A content line's value (after the first ':' outside quotes) and the number of its
// parameters.
struct LineParts {
  std::string_view value;
  std::size_t parameters = 0;
};

LineParts partsOf(std::string_view line) {
  LineParts parts;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ';') {
      ++parts.parameters;
    } else if (!quoted && c == ':') {
      parts.value = line.substr(i + 1);
      break;
    }
  }
  return parts;
}

std::size_t listLength(std::string_view list) {
  return list.empty() ? 0 : static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1;
}

// Calls visit(part) for each part of a text separated by `separator`.
template <typename Visit>
void forEachPart(std::string_view text, char separator, Visit&& visit) {
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(separator, at), text.size());
    visit(text.substr(at, end - at));
    at = end + 1;
  }
}

// How many observances a rule of a VTIMEZONE observance that starts in `firstYear` can give
// at most; nothing when it is not bounded (it repeats more often than yearly without COUNT).
// The estimate takes every BY part at its most: a real zone's rule ("BYMONTH=3;BYDAY=-1SU")
// counts once a year.
std::optional<double> ruleObservances(std::string_view rule, int firstYear) {
  bool yearly = false;
  std::optional<double> count;
  double months = 0, monthDays = 0, yearDays = 0, weeks = 0, hours = 0, minutes = 0, seconds = 0;
  double ordinalDays = 0, plainDays = 0;
  forEachPart(rule, ';', [&](std::string_view part) {
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view key = part.substr(0, equals);
    const std::string_view value = part.substr(equals + 1);
    const auto length = static_cast<double>(listLength(value));
    if (isWord(key, "FREQ")) yearly = isWord(value, "YEARLY");
    if (isWord(key, "COUNT")) {
      unsigned long long n = 0;
      if (std::from_chars(value.data(), value.data() + value.size(), n).ec == std::errc()) count = static_cast<double>(n);
    }
    if (isWord(key, "BYMONTH")) months = length;
    if (isWord(key, "BYMONTHDAY")) monthDays = length;
    if (isWord(key, "BYYEARDAY")) yearDays = length;
    if (isWord(key, "BYWEEKNO")) weeks = length;
    if (isWord(key, "BYHOUR")) hours = length;
    if (isWord(key, "BYMINUTE")) minutes = length;
    if (isWord(key, "BYSECOND")) seconds = length;
    if (isWord(key, "BYDAY")) {
      forEachPart(value, ',', [&](std::string_view day) {
        (std::any_of(day.begin(), day.end(), [](char c) { return c >= '0' && c <= '9'; }) ? ordinalDays : plainDays) += 1;
      });
    }
  });
  if (!yearly) return count;
  // Days of a year the rule can name: each BY part of days limits them, so the smallest counts.
  const double perMonth = months > 0 ? months : 12;
  std::vector<double> days;
  if (monthDays > 0) days.push_back(monthDays * perMonth);
  if (ordinalDays + plainDays > 0)
    days.push_back(months > 0 ? months * (ordinalDays + 5 * plainDays) : ordinalDays + 53 * plainDays);
  if (yearDays > 0) days.push_back(yearDays);
  if (weeks > 0) days.push_back(weeks * 7);
  const double perYear = (days.empty() ? std::max(months, 1.0) : *std::min_element(days.begin(), days.end())) *
                         std::max(hours, 1.0) * std::max(minutes, 1.0) * std::max(seconds, 1.0);
  const double total = perYear * std::max(1, kZoneLastYear - firstYear + 1);
  return count ? std::min(*count, total) : total;
}

// The year of a DTSTART value ("19701025T030000"); 1970 when it has none.
int yearOf(std::string_view value) {
  int year = 1970;
  if (value.size() >= 4) std::from_chars(value.data(), value.data() + 4, year);
  return year;
}

// A part of the text, from one offset up to another.
struct TextRange {
  std::size_t from;
  std::size_t to;
};

// Reads a file's logical lines one by one and keeps what the limits need.
class Scanner {
 public:
  // A logical line that spans the text from `from` up to `to`; false once the file is refused.
  bool line(std::string_view logical, std::size_t from, std::size_t to) {
    if (++lines_ > kMaxContentLines) return refuse("more than " + std::to_string(kMaxContentLines) + " content lines");
    const LineParts parts = partsOf(logical);
    if (parts.parameters > kMaxLineParameters)
      return refuse("a content line with more than " + std::to_string(kMaxLineParameters) + " parameters");
    const std::string_view name = nameOf(logical);
    // Lines of components past the nesting limit are not for libical.
    if (depth_ > kMaxNesting || (depth_ == kMaxNesting && isWord(name, "BEGIN"))) ++leftLines_;
    if (isWord(name, "BEGIN")) return begin(parts.value, from);
    if (isWord(name, "END")) return end(to);
    if (inObservance()) {
      if (isWord(name, "DTSTART")) observanceYear_ = yearOf(parts.value);
      if (isWord(name, "RRULE")) observanceRules_.emplace_back(parts.value);
      if (isWord(name, "RDATE")) observanceDates_ += listLength(parts.value);
    }
    return true;
  }

  // The text ends at `to`: a component left open below the nesting limit is left out up to there.
  void finish(std::size_t to) {
    if (depth_ > kMaxNesting) left.push_back({leftFrom_, to});
  }

  bool refuse(std::string why) {
    refusal = std::move(why);
    return false;
  }

  std::size_t lines() const { return lines_; }
  // The lines and octets that libical reads.
  std::size_t readLines() const { return lines_ - leftLines_; }
  std::size_t readOctets(std::size_t total) const {
    for (const TextRange& range : left) total -= range.to - range.from;
    return total;
  }

  std::optional<std::string> refusal;
  std::size_t footprint = 0;  // of what libical reads, once the text is scanned
  std::size_t deepest = 0;
  std::vector<TextRange> left;  // components nested past kMaxNesting, in text order

 private:
  bool inObservance() const { return zoneDepth_ > 0 && depth_ == zoneDepth_ + 1; }

  bool begin(std::string_view component, std::size_t from) {
    deepest = std::max(deepest, ++depth_);
    if (depth_ == kMaxNesting + 1) leftFrom_ = from;
    if (zoneDepth_ == 0 && isWord(component, "VTIMEZONE")) {
      zoneDepth_ = depth_;
    } else if (inObservance()) {
      observanceYear_ = 1970;
      observanceRules_.clear();
      observanceDates_ = 0;
    }
    return true;
  }

  bool end(std::size_t to) {
    if (depth_ == 0) return true;
    if (inObservance() && !finishObservance()) return false;
    if (depth_ == zoneDepth_) zoneDepth_ = 0;
    if (depth_ == kMaxNesting + 1) left.push_back({leftFrom_, to});
    --depth_;
    return true;
  }

  // Adds what the observance that ends gives: its DTSTART, its RDATEs and its rules.
  bool finishObservance() {
    observances_ += 1 + static_cast<double>(observanceDates_);
    for (const std::string& rule : observanceRules_) {
      const std::optional<double> count = ruleObservances(rule, observanceYear_);
      if (!count) return refuse("a VTIMEZONE rule that repeats more often than yearly and has no COUNT");
      observances_ += *count;
    }
    if (observances_ > static_cast<double>(kMaxZoneObservances))
      return refuse("VTIMEZONE rules that give more than " + std::to_string(kMaxZoneObservances) + " observances");
    return true;
  }

  std::size_t lines_ = 0;
  std::size_t leftLines_ = 0;
  std::size_t depth_ = 0;
  std::size_t leftFrom_ = 0;   // where the component nested one level past the limit begins
  std::size_t zoneDepth_ = 0;  // the depth of the VTIMEZONE being read; 0 outside one
  int observanceYear_ = 1970;
  std::vector<std::string> observanceRules_;
  std::size_t observanceDates_ = 0;
  double observances_ = 0;
};

// Scans every logical line of the text (folded physical lines joined, line ends of CR LF or
// LF, blank lines skipped, as the content line splitter reads them).
Scanner scan(std::string_view text) {
  Scanner scanner;
  std::string logical;
  bool pending = false;
  std::size_t from = 0, to = 0;  // where the pending logical line stands in the text
  const std::string tooLong = "a content line of more than " + std::to_string(kMaxLineOctets) + " octets";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view physical = text.substr(at, end - at);
    at = std::min(end + 1, text.size());
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    if (physical.empty()) continue;
    if ((physical.front() == ' ' || physical.front() == '\t') && pending) {
      physical.remove_prefix(1);
      if (logical.size() + physical.size() > kMaxLineOctets) {
        scanner.refuse(tooLong);
        return scanner;
      }
      logical.append(physical);
      to = at;
      continue;
    }
    if (pending && !scanner.line(logical, from, to)) return scanner;
    if (physical.size() > kMaxLineOctets) {
      scanner.refuse(tooLong);
      return scanner;
    }
    logical.assign(physical);
    pending = true;
    from = start;
    to = at;
  }
  if (pending && !scanner.line(logical, from, to)) return scanner;
  scanner.finish(text.size());
  scanner.footprint = parseFootprint(scanner.readLines(), scanner.readOctets(text.size()));
  if (scanner.footprint > kMaxParseFootprint)
    scanner.refuse("more than libical should hold for one file (" + std::to_string(kMaxParseFootprint >> 20) + " MiB)");
  return scanner;
}

}  // namespace

std::size_t parseFootprint(std::size_t contentLines, std::size_t octets) { return 300 * contentLines + 6 * octets; }

std::optional<std::string> parseRefusal(std::string_view text) { return scan(text).refusal; }

std::optional<LibicalInput> libicalInput(std::string_view text) {
  const Scanner scanner = scan(text);
  if (scanner.refusal) return std::nullopt;
  LibicalInput result{{}, scanner.footprint};
  std::string& input = result.text;
  input.reserve(text.size() + text.size() / kParserLineOctets * 2 + 1);
  // libical stops at a NUL byte, so they are left out.
  const auto appendReadable = [&input](std::string_view part) {
    for (char c : part) {
      if (c != '\0') input += c;
    }
  };
  auto left = scanner.left.begin();
  for (std::size_t at = 0; at < text.size();) {
    if (left != scanner.left.end() && at >= left->from) {
      at = left->to;
      ++left;
      continue;
    }
    std::size_t end = text.find('\n', at);
    const bool ended = end != std::string_view::npos;
    if (!ended) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const bool carriageReturn = !line.empty() && line.back() == '\r';
    if (carriageReturn) line.remove_suffix(1);
    // A blank line inside a folded property would end the property there for libical; the
    // raw lines skip blank lines, and so does what libical reads.
    if (line.empty()) continue;
    // A fold is a line end and a space, which a reader drops as it joins the line again.
    appendReadable(line.substr(0, kParserLineOctets));
    for (std::size_t chunk = kParserLineOctets; chunk < line.size(); chunk += kParserLineOctets) {
      input.append("\n ");
      appendReadable(line.substr(chunk, kParserLineOctets));
    }
    if (carriageReturn) input += '\r';
    if (ended) input += '\n';
  }
  return result;
}

std::optional<std::string> editRefusal(std::string_view text) {
  const Scanner scanner = scan(text);
  if (scanner.refusal) return scanner.refusal;
  if (scanner.deepest <= kMaxEditableNesting) return std::nullopt;
  return "it nests components " + std::to_string(scanner.deepest) + " levels deep, more than the " +
         std::to_string(kMaxEditableNesting) + " the helper changes; it is left as it is";
}

ParseBudget::Share::Share(Share&& other) noexcept : budget_(other.budget_), size_(other.size_) {
  other.budget_ = nullptr;
  other.size_ = 0;
}

ParseBudget::Share& ParseBudget::Share::operator=(Share&& other) noexcept {
  if (this != &other) {
    if (budget_) budget_->giveBack(size_);
    budget_ = other.budget_;
    size_ = other.size_;
    other.budget_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

ParseBudget::Share::~Share() {
  if (budget_) budget_->giveBack(size_);
}

std::optional<ParseBudget::Share> ParseBudget::take(std::size_t footprint) {
  if (footprint > capacity_) return std::nullopt;
  if (footprint <= kUnbudgetedFootprint) return Share();
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  changed_.wait(lock, [&] { return ticket == serving_ && held_ + footprint <= capacity_; });
  held_ += footprint;
  ++serving_;
  lock.unlock();
  // The next in line may fit beside this share.
  changed_.notify_all();
  return Share(this, footprint);
}

void ParseBudget::giveBack(std::size_t size) {
  {
    std::lock_guard lock(mutex_);
    held_ -= size;
  }
  changed_.notify_all();
}

ParseBudget& libicalBudget() {
  static ParseBudget budget(kMaxParseFootprint);
  return budget;
}

}  // namespace wren::platform::vdir

#include "app/RequestLoop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/HelperError.h"
#include "base/JsonParse.h"
#include "platform/Text.h"

namespace wren {

namespace {

constexpr const char* kUnreadable = "wren-mac-helper: unreadable request";

// The whole number a JSON number text stands for, when it is one in the signed 64-bit range:
// "7", "7.0", "7e0" and "700e-2" give 7; "7.5", "1e19" and "9223372036854775808" give nothing.
// The text has the grammar of a JSON number (the parser read it as one).
std::optional<int64_t> exactIntegerText(std::string_view text) {
  size_t at = 0;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  auto isDigit = [&] { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
  std::string digits;
  int64_t exponent = 0;  // the value is digits * 10^exponent
  for (; isDigit(); ++at) digits += text[at];
  if (at < text.size() && text[at] == '.') {
    for (++at; isDigit(); ++at, --exponent) digits += text[at];
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    const bool negativeExponent = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    // Past a billion the exponent says no more: the value is out of range or not whole.
    int64_t written = 0;
    for (; isDigit(); ++at) written = std::min<int64_t>(written * 10 + (text[at] - '0'), 1'000'000'000);
    exponent += negativeExponent ? -written : written;
  }
  if (at != text.size()) return std::nullopt;
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  digits.erase(0, first);
  while (digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  // 19 digits stay below 10^19, which fits an unsigned 64-bit value.
  if (exponent < 0 || static_cast<int64_t>(digits.size()) + exponent > 19) return std::nullopt;
  uint64_t magnitude = 0;
  for (char digit : digits) magnitude = magnitude * 10 + static_cast<uint64_t>(digit - '0');
  for (int64_t i = 0; i < exponent; ++i) magnitude *= 10;
  constexpr uint64_t kTwoToThe63 = uint64_t{1} << 63;
  if (negative) {
    if (magnitude > kTwoToThe63) return std::nullopt;
    return magnitude == kTwoToThe63 ? INT64_MIN : -static_cast<int64_t>(magnitude);
  }
  if (magnitude >= kTwoToThe63) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

// Keeps the text of the id when the parser reads it as a floating-point number, so that the
// id is judged on what was sent rather than on the nearest double.
class RequestLineBuilder : public JsonBuilder {
 public:
  bool key(std::string& key) {
    atId_ = depth() == 1 && key == "id";
    if (atId_) idText_.clear();
    return JsonBuilder::key(key);
  }
  bool number_float(double value, const std::string& text) {
    if (atId_ && depth() == 1) idText_ = text;
    return JsonBuilder::number_float(value, text);
  }
  const std::string& idText() const { return idText_; }

 private:
  bool atId_ = false;
  std::string idText_;
};

}  // namespace

std::optional<Request> parseRequestLine(std::string_view line) {
  // A raw NUL is never valid JSON text; the parser would take it for the end of the input
  // and ignore whatever follows it.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  RequestLineBuilder builder;
  Json parsed = parseJsonWith(platform::toValidUtf8(line), builder);
  if (!parsed.is_object()) return std::nullopt;  // also a parse failure (discarded)
  auto id = parsed.find("id");
  auto method = parsed.find("method");
  if (id == parsed.end() || method == parsed.end() || !method->is_string()) return std::nullopt;
  std::optional<int64_t> exactId = id->is_number_float() ? exactIntegerText(builder.idText()) : exactInteger(*id);
  if (!exactId) return std::nullopt;
  Request request{*exactId, method->get<std::string>(), Json::object()};
  auto params = parsed.find("params");
  if (params != parsed.end() && params->is_object()) request.params = std::move(*params);
  return request;
}

namespace {

Json failureEnvelope(int64_t id, const HelperError& error) {
  Json object = {{"code", error.code()}, {"message", error.message()}};
  if (error.details()) object["details"] = *error.details();
  Json envelope = Json::object();
  envelope["id"] = id;
  envelope["ok"] = false;
  envelope["error"] = std::move(object);
  return envelope;
}

}  // namespace

Json replyEnvelope(int64_t id, Outcome outcome) {
  if (const HelperError* error = std::get_if<HelperError>(&outcome)) return failureEnvelope(id, *error);
  Json envelope = Json::object();
  envelope["id"] = id;
  envelope["ok"] = true;
  envelope["result"] = std::move(std::get<Json>(outcome));
  return envelope;
}

void RequestLoop::run(int inputFd) {
  try {
    read(inputFd);
  } catch (const std::exception& error) {
    output_.diagnostic(std::string("wren-mac-helper: reading requests failed: ") + error.what());
  }
  waitForDrain();
}

void RequestLoop::read(int inputFd) {
  std::string pending;
  size_t scanned = 0;     // bytes of `pending` known to hold no line feed
  bool overlong = false;  // inside a line longer than the limit, whose bytes are dropped
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(inputFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::string_view chunk(buffer, static_cast<size_t>(n));
    if (overlong) {
      size_t end = chunk.find('\n');
      if (end == std::string_view::npos) continue;
      output_.diagnostic(kUnreadable);
      overlong = false;
      chunk.remove_prefix(end + 1);
    }
    pending.append(chunk);
    size_t begin = 0;
    std::vector<std::string> batch;
    for (size_t end; (end = pending.find('\n', std::max(begin, scanned))) != std::string::npos;
         begin = end + 1) {
      readLine(std::string_view(pending).substr(begin, end - begin), batch);
    }
    pending.erase(0, begin);
    scanned = pending.size();
    // One byte more than the limit is a carriage return that may end the line.
    if (pending.size() > lineLimit_ + 1) {
      overlong = true;
      std::string().swap(pending);  // the memory goes too
      scanned = 0;
    }
    start(std::move(batch));
    output_.waitForRoom();
    waitForParsing();
  }
  // A last line without its line feed still counts.
  if (overlong) output_.diagnostic(kUnreadable);
  std::vector<std::string> last;
  if (!pending.empty()) readLine(pending, last);
  start(std::move(last));
}

// The lines of one read are started together, so that a burst of lines costs one hand-over
// to the pool rather than one each.
void RequestLoop::readLine(std::string_view line, std::vector<std::string>& batch) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return;
  if (line.size() > lineLimit_) {
    output_.diagnostic(kUnreadable);
    return;
  }
  batch.emplace_back(line);
}

// Each line is parsed by its own task, so that a long line holds up no other request.
void RequestLoop::start(std::vector<std::string> lines) {
  if (lines.empty()) return;
  inFlight_.fetch_add(static_cast<int64_t>(lines.size()));
  std::vector<TaskPool::Task> tasks;
  tasks.reserve(lines.size());
  for (std::string& text : lines) {
    unparsedBytes_ += text.size();
    auto line = std::make_shared<std::string>(std::move(text));
    tasks.push_back({[this, line]() mutable { serve(std::move(line)); }, [this, line] { refuse(*line); }});
  }
  pool_.submit(std::move(tasks));
}

void RequestLoop::serve(std::shared_ptr<std::string> line) {
  std::optional<Request> request = parseRequestLine(*line);
  parsed(line->size());
  line.reset();  // the text goes before the request runs
  if (!request) {
    output_.diagnostic(kUnreadable);
    finish();
    return;
  }
  const int64_t id = request->id;
  router_.dispatch(request->method, Params(std::move(request->params)),
                   Reply([this, id](Outcome outcome) { answer(id, std::move(outcome)); }));
}

// A line that no thread could be started for: answered from the reader's thread.
void RequestLoop::refuse(const std::string& line) {
  std::optional<Request> request = parseRequestLine(line);
  parsed(line.size());
  if (!request) {
    output_.diagnostic(kUnreadable);
    finish();
    return;
  }
  answer(request->id, HelperError(ErrorCode::ExecutionFailed,
                                  "wren-mac-helper could not start a thread for the request. Try again when fewer "
                                  "programs are running."));
}

void RequestLoop::parsed(size_t bytes) {
  std::lock_guard lock(parsingMutex_);
  unparsedBytes_ -= bytes;
  if (unparsedBytes_ <= kUnparsedLimit) parsingProgress_.notify_all();
}

void RequestLoop::waitForParsing() {
  std::unique_lock lock(parsingMutex_);
  parsingProgress_.wait(lock, [this] { return unparsedBytes_.load() <= kUnparsedLimit; });
}

// Runs on the thread that answered: a pool thread for plain handlers, the main thread or a
// platform thread for handlers that answer later.
void RequestLoop::answer(int64_t id, Outcome outcome) {
  try {
    output_.reply(replyEnvelope(id, std::move(outcome)));
  } catch (const std::exception&) {
    output_.diagnostic("wren-mac-helper: unserializable reply");
  }
  finish();
}

void RequestLoop::finish() {
  if (inFlight_.fetch_sub(1) == 1) {
    std::lock_guard lock(drainMutex_);
    drained_.notify_all();
  }
}

void RequestLoop::waitForDrain() {
  {
    std::unique_lock lock(drainMutex_);
    drained_.wait(lock, [this] { return inFlight_.load() == 0; });
  }
  output_.flush();
}

}  // namespace wren

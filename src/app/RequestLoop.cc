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

}  // namespace

std::optional<Request> parseRequestLine(std::string_view line) {
  // A raw NUL is never valid JSON text; the parser would take it for the end of the input
  // and ignore whatever follows it.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  Json parsed = parseJson(platform::toValidUtf8(line));
  if (!parsed.is_object()) return std::nullopt;  // also a parse failure (discarded)
  auto id = parsed.find("id");
  auto method = parsed.find("method");
  if (id == parsed.end() || method == parsed.end() || !method->is_string()) return std::nullopt;
  std::optional<int64_t> exactId = exactInteger(*id);
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
    std::vector<Request> batch;
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
  }
  // A last line without its line feed still counts.
  if (overlong) output_.diagnostic(kUnreadable);
  std::vector<Request> last;
  if (!pending.empty()) readLine(pending, last);
  start(std::move(last));
  waitForDrain();
}

// The requests of one read are started together, so that a burst of lines costs one
// hand-over to the pool rather than one each.
void RequestLoop::readLine(std::string_view line, std::vector<Request>& batch) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return;
  std::optional<Request> request;
  if (line.size() <= lineLimit_) request = parseRequestLine(line);
  if (!request) {
    output_.diagnostic(kUnreadable);
    return;
  }
  batch.push_back(std::move(*request));
}

void RequestLoop::start(std::vector<Request> requests) {
  if (requests.empty()) return;
  inFlight_.fetch_add(static_cast<int64_t>(requests.size()));
  std::vector<std::function<void()>> tasks;
  tasks.reserve(requests.size());
  for (Request& request : requests)
    tasks.push_back([this, request = std::move(request)]() mutable { serve(std::move(request)); });
  pool_.submit(std::move(tasks));
}

void RequestLoop::serve(Request request) {
  const int64_t id = request.id;
  router_.dispatch(request.method, Params(std::move(request.params)),
                   Reply([this, id](Outcome outcome) { answer(id, std::move(outcome)); }));
}

// Runs on the thread that answered: a pool thread for plain handlers, the main thread or a
// platform thread for handlers that answer later.
void RequestLoop::answer(int64_t id, Outcome outcome) {
  try {
    output_.reply(replyEnvelope(id, std::move(outcome)));
  } catch (const std::exception&) {
    output_.diagnostic("wren-mac-helper: unserializable reply");
  }
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

#include "app/RequestLoop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/HelperError.h"
#include "platform/Text.h"

namespace wren {

std::optional<Request> parseRequestLine(const std::string& line) {
  // A raw NUL is never valid JSON text; the parser would take it for the end of the input
  // and ignore whatever follows it.
  if (line.find('\0') != std::string::npos) return std::nullopt;
  Json parsed = Json::parse(platform::toValidUtf8(line), nullptr, /*allow_exceptions=*/false);
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

Json runRequest(const Router& router, Request request) {
  Json envelope = Json::object();
  envelope["id"] = request.id;
  try {
    Json result = router.handle(request.method, Params(std::move(request.params)));
    envelope["ok"] = true;
    envelope["result"] = std::move(result);
  } catch (const HelperError& error) {
    Json object = {{"code", error.code()}, {"message", error.message()}};
    if (error.details()) object["details"] = *error.details();
    envelope["ok"] = false;
    envelope["error"] = std::move(object);
  } catch (const std::exception& error) {
    envelope["ok"] = false;
    envelope["error"] = {{"code", ErrorCode::ExecutionFailed}, {"message", error.what()}};
  }
  return envelope;
}

void RequestLoop::run(int inputFd) {
  std::string pending;
  size_t scanned = 0;  // bytes of `pending` known to hold no line feed
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(inputFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t begin = 0;
    for (size_t end; (end = pending.find('\n', std::max(begin, scanned))) != std::string::npos;
         begin = end + 1) {
      std::string line = pending.substr(begin, end - begin);
      handleLine(line);
    }
    pending.erase(0, begin);
    scanned = pending.size();
  }
  // A last line without its line feed still counts.
  if (!pending.empty()) handleLine(pending);
  waitForDrain();
}

void RequestLoop::handleLine(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return;
  std::optional<Request> request = parseRequestLine(line);
  if (!request) {
    output_.diagnostic("wren-mac-helper: unreadable request");
    return;
  }
  start(std::move(*request));
}

void RequestLoop::start(Request request) {
  {
    std::lock_guard lock(mutex_);
    ++inFlight_;
  }
  pool_.submit([this, request = std::move(request)]() mutable {
    output_.reply(runRequest(router_, std::move(request)));
    std::lock_guard lock(mutex_);
    if (--inFlight_ == 0) drained_.notify_all();
  });
}

void RequestLoop::waitForDrain() {
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [this] { return inFlight_ == 0; });
}

}  // namespace wren

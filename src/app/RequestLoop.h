#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Json.h"
#include "app/OutputWriter.h"
#include "app/Reply.h"
#include "app/Router.h"
#include "app/TaskPool.h"

namespace wren {

// One well-formed request line.
struct Request {
  int64_t id = 0;
  std::string method;
  Json params;  // always an object
};

// Reads a request line (without its line ending): nothing when the line is unreadable.
// Ill-formed UTF-8 becomes U+FFFD before parsing. The id is judged on its text: a whole
// number in the signed 64-bit range, however it is written (7, 7.0, 7e0), is that number;
// anything else, a number that only rounds to one included, makes the line unreadable.
std::optional<Request> parseRequestLine(std::string_view line);

// The reply envelope of a request's outcome.
Json replyEnvelope(int64_t id, Outcome outcome);

// Reads request lines from a file descriptor until it ends, parses and runs each request as
// its own task, and returns when every started request has been answered and its reply
// written.
class RequestLoop {
 public:
  // The longest request line, its line ending not counted: far above what any method takes
  // (a request is a method name and a few parameters), small enough that the reader never
  // holds more. A longer line is dropped as it arrives and reported as unreadable.
  static constexpr size_t kLineLimit = 16 << 20;

  struct Options {
    TaskPool::Options pool;
    size_t lineLimit = kLineLimit;
  };

  RequestLoop(const Router& router, OutputWriter& output) : RequestLoop(router, output, Options{}) {}
  RequestLoop(const Router& router, OutputWriter& output, Options options)
      : router_(router), output_(output), lineLimit_(options.lineLimit), pool_(std::move(options.pool)) {}
  // Never throws: a failure of the reader is reported on standard error, and the requests
  // already started are still answered.
  void run(int inputFd);

  TaskPool& pool() { return pool_; }

 private:
  // Bytes of lines handed to tasks and not yet parsed, past which the reader waits: the
  // memory of a flood of long lines stays bounded while the workers parse them.
  static constexpr size_t kUnparsedLimit = 64 << 20;

  void read(int inputFd);
  void readLine(std::string_view line, std::vector<std::string>& batch);
  void start(std::vector<std::string> lines);
  void serve(std::shared_ptr<std::string> line);
  void refuse(const std::string& line);
  void parsed(size_t bytes);
  void waitForParsing();
  void answer(int64_t id, Outcome outcome);
  void finish();
  void waitForDrain();

  const Router& router_;
  OutputWriter& output_;
  const size_t lineLimit_;
  TaskPool pool_;
  std::atomic<int64_t> inFlight_{0};  // lines handed to tasks whose reply is not yet written
  std::atomic<size_t> unparsedBytes_{0};
  std::mutex parsingMutex_;
  std::condition_variable parsingProgress_;
  std::mutex drainMutex_;
  std::condition_variable drained_;
};

}  // namespace wren

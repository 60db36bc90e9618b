#include "app/OutputWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "base/JsonParse.h"
#include "support/Timing.h"

namespace wren {
namespace {

using namespace std::chrono_literals;
using testing::scaledBound;

// A pipe standing for the host's end of standard output or error.
struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (read >= 0) close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  // Everything until the writing end is closed.
  std::string drain() {
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(read, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
  }
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
    lines.push_back(text.substr(begin, end - begin));
  EXPECT_EQ(begin, text.size()) << "the output ends with a whole line";
  return lines;
}

// Replies from many threads at once come out as whole lines, each thread's in its order.
// Run under ThreadSanitizer.
TEST(OutputWriter, LinesFromManyThreadsStayWholeAndInOrder) {
  Pipe out, err;
  std::string text;
  std::thread host([&] { text = out.drain(); });
  constexpr int kThreads = 8, kEach = 300;
  {
    OutputWriter writer(out.write, err.write);
    std::vector<std::thread> tasks;
    for (int t = 0; t < kThreads; ++t) {
      tasks.emplace_back([&writer, t] {
        for (int i = 0; i < kEach; ++i)
          writer.reply(Json{{"id", t}, {"n", i}, {"padding", std::string(static_cast<size_t>(i % 50) * 40, 'x')}});
      });
    }
    for (std::thread& task : tasks) task.join();
    writer.flush();
  }
  out.closeWrite();
  host.join();
  std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  std::map<int, int> next;
  for (const std::string& line : lines) {
    Json reply = Json::parse(line, nullptr, /*allow_exceptions=*/false);
    ASSERT_TRUE(reply.is_object()) << line.substr(0, 80);
    int thread = reply["id"], n = reply["n"];
    EXPECT_EQ(n, next[thread]++) << "thread " << thread;
  }
}

// The host does not read: the thread that answers a request still returns at once, and only
// the reader, which asks for room before it takes more requests, waits.
TEST(OutputWriter, AHostThatReadsSlowlyHoldsUpNoRequestTask) {
  Pipe out, err;
  OutputWriter writer(out.write, err.write);
  const Json big = {{"id", 1}, {"ok", true}, {"result", std::string(100000, 'a')}};
  auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) writer.reply(big);  // 2 MB, far more than a pipe holds
  EXPECT_LT(std::chrono::steady_clock::now() - started, scaledBound(200ms));

  std::atomic<bool> roomGiven{false};
  std::thread reader([&] {
    writer.waitForRoom();
    roomGiven = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(roomGiven) << "the reader waits while replies pile up";

  std::string text;
  std::thread host([&] {
    std::this_thread::sleep_for(20ms);
    char buffer[4096];
    while (text.size() < 20 * (big.dump().size() + 1)) {
      ssize_t n = ::read(out.read, buffer, sizeof buffer);  // a small read at a time
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
  });
  reader.join();
  EXPECT_TRUE(roomGiven);
  writer.flush();
  host.join();
  EXPECT_EQ(splitLines(text).size(), 20u);
}

// Short replies, which the answering thread may write itself, to a host that does not read:
// more of them than a pipe holds still return at once, and all come out whole and in order
// once the host reads.
TEST(OutputWriter, ShortRepliesToAHostThatDoesNotReadHoldUpNoRequestTask) {
  Pipe out, err;
  constexpr int kReplies = 3000;  // about 300 KB
  std::string text;
  {
    OutputWriter writer(out.write, err.write);
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kReplies; ++i) writer.reply(Json{{"id", i}, {"padding", std::string(80, 'x')}});
    EXPECT_LT(std::chrono::steady_clock::now() - started, scaledBound(300ms));
    std::thread host([&] { text = out.drain(); });
    writer.flush();
    out.closeWrite();
    host.join();
  }
  std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kReplies));
  for (int i = 0; i < kReplies; ++i) EXPECT_EQ(Json::parse(lines[i])["id"], i);
}

TEST(OutputWriter, AClosedOutputDropsLinesWithoutHanging) {
  signal(SIGPIPE, SIG_IGN);
  Pipe out, err;
  out.closeRead();
  OutputWriter writer(out.write, err.write);
  writer.reply(Json{{"id", 1}});
  writer.reply(Json{{"id", 2}});
  writer.flush();
  writer.waitForRoom();
  SUCCEED() << "flush returned";
}

TEST(OutputWriter, AReplyThatCannotBeWrittenIsReportedInstead) {
  Pipe out, err;
  {
    OutputWriter writer(out.write, err.write);
    Json deep = Json::array();
    Json* innermost = &deep;
    for (size_t level = 0; level < kJsonDepthLimit + 5; ++level) {
      innermost->push_back(Json::array());
      innermost = &innermost->back();
    }
    writer.reply(Json{{"id", 1}, {"ok", true}, {"result", std::move(deep)}});
    writer.reply(Json{{"id", 2}, {"ok", true}, {"result", nullptr}});
    writer.flush();
  }
  out.closeWrite();
  err.closeWrite();
  EXPECT_EQ(out.drain(), "{\"id\":2,\"ok\":true,\"result\":null}\n");
  EXPECT_EQ(err.drain(), "wren-mac-helper: unserializable reply\n");
}

}  // namespace
}  // namespace wren

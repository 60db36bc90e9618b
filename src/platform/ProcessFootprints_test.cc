#include "platform/ProcessFootprints.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

namespace fs = std::filesystem;

// The lines of a real /proc/PID/status around the fields that count.
std::string statusText(const std::string& rssAnon, const std::string& vmSwap) {
  std::string text =
      "Name:\tbash\nUmask:\t0022\nState:\tS (sleeping)\nPid:\t4242\nVmPeak:\t   12088 kB\n"
      "VmRSS:\t    5200 kB\n";
  if (!rssAnon.empty()) text += "RssAnon:\t" + rssAnon + "\n";
  text += "RssFile:\t    3400 kB\nRssShmem:\t       0 kB\n";
  if (!vmSwap.empty()) text += "VmSwap:\t" + vmSwap + "\n";
  return text + "Threads:\t1\n";
}

TEST(FootprintFromStatus, IsAnonymousResidentPlusSwapped) {
  struct Case {
    std::string text;
    std::optional<uint64_t> bytes;
  };
  const Case cases[] = {
      {statusText("    1800 kB", "     200 kB"), 2000 * 1024},
      {statusText("    1800 kB", ""), 1800 * 1024},
      {statusText("       0 kB", "       0 kB"), 0},
      // A kernel thread has no memory lines at all.
      {"Name:\tkthreadd\nState:\tS (sleeping)\nPid:\t2\nThreads:\t1\n", std::nullopt},
      {statusText("lots kB", "0 kB"), std::nullopt},
      {statusText("1800 MB", "0 kB"), std::nullopt},
      {statusText("-5 kB", "0 kB"), std::nullopt},
      {statusText("99999999999999999999 kB", "0 kB"), std::nullopt},
      // A swap figure that cannot be read does not hide the resident one.
      {statusText("1800 kB", "garbage"), 1800 * 1024},
      {"RssAnonymous:\t5 kB\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(footprintFromStatus(c.text), c.bytes);
  }
}

TEST(ProcessFootprints, MeasuresThisProcess) {
  std::optional<uint64_t> bytes = ProcessFootprints().bytes(getpid());
  ASSERT_TRUE(bytes.has_value());
  EXPECT_GT(*bytes, 0u);
}

TEST(ProcessFootprints, SeesAChildsOwnMemory) {
  constexpr size_t kTouched = 64 * 1024 * 1024;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Memory the child writes to is anonymous and resident: its footprint grows by it. The
    // child of a threaded process keeps to system calls and plain stores.
    void* mapped = mmap(nullptr, kTouched, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) _exit(1);
    for (size_t i = 0; i < kTouched; i += 4096) static_cast<volatile char*>(mapped)[i] = 1;
    char done = 1;
    if (write(ready[1], &done, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char done = 0;
  ASSERT_EQ(read(ready[0], &done, 1), 1);
  std::optional<uint64_t> bytes = ProcessFootprints().bytes(child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_GE(*bytes, kTouched);
  // Gone, it has no footprint any more.
  EXPECT_EQ(ProcessFootprints().bytes(child), std::nullopt);
}

TEST(ProcessFootprints, ThreadsAreNoProcesses) {
  std::thread sleeper([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
  // The sleeper's id names a live thread of this process, not a process.
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
    int32_t tid = std::stoi(entry.path().filename().string());
    if (tid == getpid()) continue;
    ++found;
    EXPECT_EQ(ProcessFootprints().bytes(tid), std::nullopt) << tid;
  }
  sleeper.join();
  EXPECT_GT(found, 0);
}

TEST(ProcessFootprints, PidsOfNoProcessHaveNone) {
  ProcessFootprints footprints;
  EXPECT_EQ(footprints.bytes(0), std::nullopt);
  EXPECT_EQ(footprints.bytes(-1), std::nullopt);
  EXPECT_EQ(footprints.bytes(INT32_MAX), std::nullopt);
}

TEST(ProcessFootprints, ReadsTheTreeItIsGiven) {
  wren::testing::TemporaryFolder proc("wren-proc");
  proc.write("100/status", statusText("512 kB", "512 kB"));
  // A thread of process 100, which /proc answers for under its own id.
  proc.write("101/status", "Tgid:\t100\nPid:\t101\n" + statusText("512 kB", "512 kB"));
  proc.write("200/status", std::string(1 << 20, 'x'));
  fs::create_directories(proc.path() / "300/status");  // a folder where the file should be
  ProcessFootprints footprints(proc.path());
  EXPECT_EQ(footprints.bytes(100), 1024u * 1024u);
  EXPECT_EQ(footprints.bytes(101), std::nullopt);
  EXPECT_EQ(footprints.bytes(200), std::nullopt);
  EXPECT_EQ(footprints.bytes(300), std::nullopt);
  EXPECT_EQ(footprints.bytes(400), std::nullopt);
}

}  // namespace
}  // namespace wren::platform

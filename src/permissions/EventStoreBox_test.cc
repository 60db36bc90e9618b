#include "permissions/EventStoreBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/vdir/VdirStore.h"
#include "support/ScopedDataHome.h"

namespace wren {
namespace {

TEST(EventStoreBox, BuildsOneStoreOnFirstUseForEveryThread) {
  platform::ScopedDataHome home;
  std::atomic<int> built = 0;
  EventStoreBox box([&built] {
    ++built;
    return platform::makeVdirEventStore();
  });
  EXPECT_EQ(built, 0);
  std::vector<platform::EventStore*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&box, &seen, i] { seen[i] = &box.store(); });
  for (std::thread& thread : threads) thread.join();
  for (platform::EventStore* store : seen) EXPECT_EQ(store, seen.front());
  EXPECT_EQ(&box.store(), seen.front());
  EXPECT_EQ(built, 1);
}

TEST(EventStoreBox, TriesAgainAfterAStoreCouldNotBeBuilt) {
  platform::ScopedDataHome home;
  int attempts = 0;
  EventStoreBox box([&attempts]() -> std::unique_ptr<platform::EventStore> {
    if (++attempts == 1) throw platform::StoreError("open(store): No such file or directory");
    return platform::makeVdirEventStore();
  });
  EXPECT_THROW(box.store(), platform::StoreError);
  platform::EventStore& store = box.store();
  EXPECT_EQ(&box.store(), &store);
  EXPECT_EQ(attempts, 2);
}

}  // namespace
}  // namespace wren

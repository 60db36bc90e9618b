#include "platform/FirstContactBook.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::readText;

TEST(FirstContactBook, MakesOneBookWhereThereIsNone) {
  struct Case {
    const char* name;
    std::vector<std::string> files;  // under contacts/
    std::set<std::string> after;     // the entries of contacts/ afterwards
  };
  const std::vector<Case> cases = {
      {"no store", {}, {"default"}},
      {"only hidden folders and files", {".cache/x", "store.json"}, {".cache", "store.json", "default"}},
      {"a book of its own", {"family/displayname"}, {"family"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedDataHome home;
    for (const std::string& file : c.files) home.write("contacts/" + file, "{}");
    ensureFirstContactBook();
    EXPECT_EQ(entryNames(home.root() / "contacts"), c.after);
    if (c.after.contains("default")) {
      EXPECT_EQ(readText(home.root() / "contacts/default/displayname"), "Contacts");
    }
  }
}

TEST(FirstContactBook, ConcurrentFirstGrantsLeaveOneBook) {
  ScopedDataHome home;
  std::vector<std::thread> grants;
  for (int i = 0; i < 4; ++i) grants.emplace_back([] { ensureFirstContactBook(); });
  for (std::thread& grant : grants) grant.join();
  EXPECT_EQ(entryNames(home.root() / "contacts"), (std::set<std::string>{"default"}));
  EXPECT_EQ(entryNames(home.root() / "contacts/default"), (std::set<std::string>{"displayname"}));
}

}  // namespace
}  // namespace wren::platform

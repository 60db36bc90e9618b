#include "platform/PostalAddress.h"

#include <gtest/gtest.h>

namespace wren::platform {
namespace {

TEST(PostalAddress, MailingStyleOnePartPerLine) {
  struct Case {
    const char* label;
    PostalAddress address;
    const char* expected;
  };
  const Case cases[] = {
      {"full", {"1 Infinite Loop", "", "Cupertino", "", "CA", "95014", "United States", "us"},
       "1 Infinite Loop\nCupertino CA 95014\nUnited States"},
      {"street over two lines", {"Flat 2\n10 Downing Street", "", "London", "", "", "SW1A 2AA", "", "gb"},
       "Flat 2\n10 Downing Street\nLondon SW1A 2AA"},
      {"no city line", {"Main Street 5", "", "", "", "", "", "Germany", "de"}, "Main Street 5\nGermany"},
      {"white space only parts", {"  ", "", " Berlin ", "", "\t", "10115", "", ""}, "Berlin 10115"},
      {"nothing", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(formatMailingAddress(c.address), c.expected);
  }
}

}  // namespace
}  // namespace wren::platform

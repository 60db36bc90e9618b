#include "platform/SystemInfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

namespace wren::platform {
namespace {

TEST(OsNameFromOsRelease, ReadsTheDisplayNameAsTheShellWould) {
  struct Case {
    const char* text;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Arch Linux'\n", "Arch Linux"},
      {"PRETTY_NAME=Gentoo\n", "Gentoo"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ there\"\n", "Say \"hi\" \\ there"},
      {"# PRETTY_NAME=\"commented out\"\nNAME=Fedora\nVERSION=\"39 (Workstation)\"\n",
       "Fedora 39 (Workstation)"},
      {"PRETTY_NAME=\nNAME=Alpine\n", "Alpine"},
      {"NAME=\"Void\"\n", "Void"},
      {"ID=void\nVERSION=1\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(osNameFromOsRelease(c.text), c.name);
  }
}

TEST(OsVersionText, EndsWithTheKernelRelease) {
  utsname system{};
  ASSERT_EQ(uname(&system), 0);
  std::string suffix = std::string(" (kernel ") + system.release + ")";
  std::string text = osVersionText();
  ASSERT_GT(text.size(), suffix.size());
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace
}  // namespace wren::platform

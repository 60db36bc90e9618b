#pragma once

#include <string>
#include <vector>

namespace wren::platform::vdir {

// What the codecs need to know about the stored item they turn into values.
struct ItemContext {
  std::string itemId;
  std::string calendarId;
  std::vector<std::string> ownEmails;  // the source's addresses: which attendee is the user
};

}  // namespace wren::platform::vdir

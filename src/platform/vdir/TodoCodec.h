#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/EventStore.h"
#include "platform/vdir/ItemContext.h"

namespace wren::platform::vdir {

// iCalendar files holding one reminder (a VCALENDAR with one VTODO), read and written with
// libical. Pure functions of file text: the store does the file work.

struct ParsedTodoFile;

// Parses the file text; nothing when it holds no usable VTODO.
std::shared_ptr<const ParsedTodoFile> parseTodoFile(std::string_view text);

// The reminder, with its fields filled in from the context (origin left empty).
ReminderItem todoItem(const ParsedTodoFile& file, const ItemContext& context);
bool todoCompleted(const ParsedTodoFile& file);

// The file text of a new reminder; its UID is the item's externalId, or a fresh one.
std::string newTodoText(const ReminderItem& reminder);

// Saving a changed reminder into its file text, keeping unknown properties exactly as they
// were. When the change completes a repeating reminder, `continuation` is the text of the
// next open occurrence (a new file, new UID, the next due date and the rest of the rule).
struct TodoSaveResult {
  std::string text;
  std::optional<std::string> continuation;
};
TodoSaveResult saveTodoText(std::string_view originalText, const ReminderItem& reminder);

}  // namespace wren::platform::vdir

#include "platform/vdir/StoreContainers.h"

#include <unistd.h>

#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vdir {

namespace {

// What the account refuses to hold, when it refuses new containers at all.
std::optional<std::string> refusal(const Source& source, EntityType kind) {
  const char* noun = kind == EntityType::Event ? "calendars" : "reminder lists";
  if (source.type == SourceType::Subscribed)
    return std::string("the account does not accept new ") + noun + " (subscribed)";
  if (source.type == SourceType::Birthdays)
    return std::string("the account does not accept new ") + noun + " (birthdays)";
  return std::nullopt;
}

void writeColor(const std::filesystem::path& folder, const Rgb& color, Existing existing) {
  writeFileAtomically(folder / "color", colorText(color), existing);
}

// Puts a file back as it was before a change that failed halfway. This is a best effort:
// the error that made the change fail is the one reported.
void putBack(const std::filesystem::path& path, const std::optional<std::string>& text) {
  try {
    if (text) {
      writeFileAtomically(path, *text, Existing::Replace);
    } else {
      unlink(path.c_str());
    }
  } catch (const FileError&) {
  }
}

}  // namespace

std::string makeCalendarFolder(const SourceFolder& source, EntityType kind, const std::string& title,
                               std::optional<Rgb> color) {
  if (std::optional<std::string> reason = refusal(source.source, kind)) throw StoreError(*reason);
  std::string name = freshName();
  publishFolder(source.folder / name, [&](const std::filesystem::path& staging) {
    // Bare values without a line end, as other vdir programs write these files.
    writeFileAtomically(staging / "displayname", title, Existing::Refuse);
    if (color) writeColor(staging, *color, Existing::Refuse);
  });
  return name;
}

void writeCalendarMetadata(const CalendarFolder& calendar, const std::optional<std::string>& title,
                           std::optional<Rgb> color) {
  std::filesystem::path displayName = calendar.folder / "displayname";
  std::optional<std::string> previousTitle = title ? readFileIfPresent(displayName) : std::nullopt;
  if (title) writeFileAtomically(displayName, *title, Existing::Replace);
  if (!color) return;
  try {
    writeColor(calendar.folder, *color, Existing::Replace);
  } catch (const FileError&) {
    // A rename whose recolouring failed is undone, so that the change is whole or nothing.
    if (title) putBack(displayName, previousTitle);
    throw;
  }
}

}  // namespace wren::platform::vdir

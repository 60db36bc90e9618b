#include "platform/vdir/StoreContainers.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"
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

// A metadata file as it is now: the version a change expects to replace (nothing when there
// is no such file).
std::optional<FileVersion> currentVersion(const std::filesystem::path& path) {
  if (!isPresent(path)) return std::nullopt;
  std::optional<FileVersion> version = readFileVersion(path, kMetadataFileBytes);
  // Something that cannot be read (a FIFO, a file over the cap) is not replaced blindly.
  if (!version) throw FileChangedError(path, FileChangedError::Change::Edited);
  return version;
}

// Puts a file back as it was before a change that failed halfway, unless another program
// changed it since. This is a best effort: the error that made the change fail is the one
// reported.
void putBack(const std::filesystem::path& path, const std::optional<FileVersion>& before, const FileVersion& written) {
  try {
    if (before) {
      replaceFileIfUnchanged(path, before->text, written);
    } else {
      removeFileIfUnchanged(path, written);
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
  const std::filesystem::path displayName = calendar.folder / "displayname";
  const std::filesystem::path colorFile = calendar.folder / "color";
  // Both files are read before either is written, so that a refusal of the second leaves
  // the first as it was too.
  const std::optional<FileVersion> previousTitle = title ? currentVersion(displayName) : std::nullopt;
  const std::optional<FileVersion> previousColor = color ? currentVersion(colorFile) : std::nullopt;
  std::optional<FileVersion> writtenTitle;
  if (title) writtenTitle = FileVersion{*title, replaceFileIfUnchanged(displayName, *title, previousTitle)};
  if (!color) return;
  try {
    replaceFileIfUnchanged(colorFile, colorText(*color), previousColor);
  } catch (const FileError&) {
    // A rename whose recolouring failed is undone, so that the change is whole or nothing.
    if (writtenTitle) putBack(displayName, previousTitle, *writtenTitle);
    throw;
  }
}

}  // namespace wren::platform::vdir

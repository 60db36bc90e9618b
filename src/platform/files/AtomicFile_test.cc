#include "platform/files/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files/FileError.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::FileSizeLimit;
using vdir::testing::readText;
using vdir::testing::writeText;

class AtomicFileTest : public ::testing::Test {
 protected:
  std::filesystem::path folder() const { return home_.root(); }
  ScopedDataHome home_;
};

TEST_F(AtomicFileTest, ReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  std::filesystem::path path = folder() / "displayname";
  writeText(path, "a much longer old title\n");
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  writeFileAtomically(path, "Work", Existing::Replace);
  EXPECT_EQ(readText(path), "Work");
  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  // A rename put a new file in place; the old one was not rewritten in place.
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0644u);
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"displayname"}));
}

TEST_F(AtomicFileTest, RefusesToReplaceWhenAskedTo) {
  std::filesystem::path path = folder() / "item.ics";
  writeText(path, "old");
  try {
    writeFileAtomically(path, "new", Existing::Refuse);
    FAIL() << "an existing file was replaced";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "renameat2(" + path.string() + "): File exists");
  }
  EXPECT_EQ(readText(path), "old");
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"item.ics"}));

  writeFileAtomically(folder() / "fresh.ics", "new", Existing::Refuse);
  EXPECT_EQ(readText(folder() / "fresh.ics"), "new");
}

TEST_F(AtomicFileTest, FailuresNameTheCallAndPathAndLeaveNothingBehind) {
  std::filesystem::path missing = folder() / "no-such-folder" / "color";
  EXPECT_THROW(
      {
        try {
          writeFileAtomically(missing, "#FF0000", Existing::Replace);
        } catch (const FileError& error) {
          EXPECT_NE(std::string(error.what()).find("mkostemp(" + missing.parent_path().string()),
                    std::string::npos)
              << error.what();
          EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos);
          throw;
        }
      },
      FileError);

  // A write that fails halfway keeps the old file and removes the temporary one.
  std::filesystem::path path = folder() / "big.ics";
  writeText(path, "old");
  {
    FileSizeLimit limit(8);
    EXPECT_THROW(writeFileAtomically(path, std::string(64, 'x'), Existing::Replace), FileError);
  }
  EXPECT_EQ(readText(path), "old");
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"big.ics"}));
}

TEST_F(AtomicFileTest, ReadsWholeFilesAndReportsMissingOnes) {
  std::string text(100000, 'y');
  text += "end";
  writeText(folder() / "long.ics", text);
  EXPECT_EQ(readWholeFile(folder() / "long.ics", kItemFileBytes), text);
  // Unless told otherwise, a file is a metadata file, which is never that long.
  try {
    readWholeFile(folder() / "long.ics");
    FAIL() << "a file over the cap was read";
  } catch (const FileError& error) {
    EXPECT_EQ(error.error(), EFBIG);
  }
  EXPECT_EQ(readFileIfPresent(folder() / "long.ics"), std::nullopt);
  try {
    readWholeFile(folder() / "gone.ics");
    FAIL() << "a missing file was read";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "open(" + (folder() / "gone.ics").string() + "): No such file or directory");
  }
}

TEST_F(AtomicFileTest, RenameNoReplaceMovesFoldersOnlyToFreeNames) {
  std::filesystem::create_directories(folder() / "a");
  std::filesystem::create_directories(folder() / "b");
  // An empty folder at the target would be replaced by a plain rename(2).
  EXPECT_THROW(renameNoReplace(folder() / "a", folder() / "b"), FileError);
  EXPECT_TRUE(std::filesystem::is_directory(folder() / "a"));
  renameNoReplace(folder() / "a", folder() / "c");
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"b", "c"}));
}

TEST_F(AtomicFileTest, PublishesAFolderWholeOrNotAtAll) {
  auto fill = [](const std::filesystem::path& staging) { writeText(staging / "displayname", "Work"); };
  publishFolder(folder() / "work", fill);
  EXPECT_EQ(readText(folder() / "work" / "displayname"), "Work");

  // A taken name and a failing fill both leave no hidden folder behind.
  EXPECT_THROW(publishFolder(folder() / "work", fill), FileError);
  EXPECT_THROW(publishFolder(folder() / "home",
                             [&](const std::filesystem::path& staging) {
                               fill(staging);
                               throw FileError("write", staging / "displayname", EIO);
                             }),
               FileError);
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"work"}));
}

}  // namespace
}  // namespace wren::platform

#include "platform/files/AtomicFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <functional>

#include "platform/files/FileDescriptor.h"
#include "platform/files/FileError.h"
#include "platform/files/FileStamp.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::FileSizeLimit;
using vdir::testing::readText;
using vdir::testing::writeElsewhere;
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

// ---- Replacing only the version that was read ---------------------------------------------

FileVersion versionOf(const std::filesystem::path& path) {
  std::optional<FileVersion> version = readFileVersion(path);
  if (!version) throw std::runtime_error("unreadable " + path.string());
  return *version;
}

class ReplaceIfUnchangedTest : public AtomicFileTest,
                               public ::testing::WithParamInterface<ReplaceHookForTesting::Exchange> {
 protected:
  ReplaceHookForTesting::Exchange exchange() const { return GetParam(); }
};

TEST_P(ReplaceIfUnchangedTest, ReplacesTheVersionThatWasRead) {
  const std::filesystem::path path = folder() / "a.ics";
  writeText(path, "version one");
  const FileVersion read = versionOf(path);
  int hooked = 0;
  ReplaceHookForTesting hook([&](const std::filesystem::path& target) { hooked += target == path; }, exchange());
  const FileStamp stamp = replaceFileIfUnchanged(path, "version two", read);
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(readText(path), "version two");
  EXPECT_EQ(stampOf(path), stamp);
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"a.ics"}));
}

TEST_P(ReplaceIfUnchangedTest, AnotherProgramsVersionIsNeverUnlinked) {
  const std::filesystem::path path = folder() / "a.ics";
  struct Case {
    const char* name;
    std::function<void()> otherProgram;  // runs just before the new file would take the old one's place
    std::optional<std::string> left;     // what the path holds afterwards (nothing: no file)
    FileChangedError::Change change;
  };
  const std::vector<Case> cases = {
      {"rewritten by rename", [&] { writeElsewhere(path, "theirs"); }, "theirs", FileChangedError::Change::Edited},
      {"same text, another file", [&] { writeElsewhere(path, "version one"); }, "version one",
       FileChangedError::Change::Edited},
      {"rewritten in place, same size", [&] { writeText(path, "version 1!!"); }, "version 1!!",
       FileChangedError::Change::Edited},
      {"removed", [&] { std::filesystem::remove(path); }, std::nullopt, FileChangedError::Change::Removed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(path, "version one");
    const FileVersion read = versionOf(path);
    ReplaceHookForTesting hook([&](const std::filesystem::path&) { c.otherProgram(); }, exchange());
    try {
      replaceFileIfUnchanged(path, "mine", read);
      FAIL() << "another program's version was replaced";
    } catch (const FileChangedError& refusal) {
      EXPECT_EQ(refusal.change(), c.change);
      EXPECT_EQ(refusal.path(), path);
    }
    if (c.left) {
      EXPECT_EQ(readText(path), *c.left);
      EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"a.ics"}));
    } else {
      EXPECT_TRUE(entryNames(folder()).empty());
    }
  }
}

TEST_P(ReplaceIfUnchangedTest, AFileWhereNoneWasExpectedStays) {
  const std::filesystem::path path = folder() / "displayname";
  ReplaceHookForTesting hook([](const std::filesystem::path&) {}, exchange());
  // No file was there when the change read the folder; another program made one since.
  writeText(path, "Theirs");
  EXPECT_THROW(replaceFileIfUnchanged(path, "Mine", std::nullopt), FileChangedError);
  EXPECT_EQ(readText(path), "Theirs");
  std::filesystem::remove(path);
  replaceFileIfUnchanged(path, "Mine", std::nullopt);
  EXPECT_EQ(readText(path), "Mine");
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"displayname"}));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutExchange, ReplaceIfUnchangedTest,
                         ::testing::Values(ReplaceHookForTesting::Exchange::Use,
                                           ReplaceHookForTesting::Exchange::Unavailable));

TEST_F(AtomicFileTest, RemovesOnlyTheVersionThatWasRead) {
  const std::filesystem::path path = folder() / "a.ics";
  writeText(path, "version one");
  const FileVersion read = versionOf(path);
  writeElsewhere(path, "theirs");
  EXPECT_THROW(removeFileIfUnchanged(path, read), FileChangedError);
  EXPECT_EQ(readText(path), "theirs");
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{"a.ics"}));
  removeFileIfUnchanged(path, versionOf(path));
  EXPECT_TRUE(entryNames(folder()).empty());
  try {
    removeFileIfUnchanged(path, read);
    FAIL() << "a removed file was removed again";
  } catch (const FileChangedError& refusal) {
    EXPECT_EQ(refusal.change(), FileChangedError::Change::Removed);
    EXPECT_EQ(std::string(refusal.what()), "open(" + path.string() + "): the file was removed since it was read");
  }
  EXPECT_TRUE(entryNames(folder()).empty());
}

// ---- Temporary files ---------------------------------------------------------------------

TEST(TemporaryFileNames, AreRecognisable) {
  EXPECT_TRUE(isTemporaryFileName(".wren-tmp-a1B2c3"));
  for (const char* name : {".wren-tmp-a1B2c", ".wren-tmp-a1B2c3.ics", "wren-tmp-a1B2c3", "a.ics", ".a.ics.tmp-abcdef"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(isTemporaryFileName(name));
  }
}

TEST_F(AtomicFileTest, StaleTemporaryFilesGoUnlessAWriteHoldsThem) {
  const auto old = std::filesystem::file_time_type::clock::now() - kStaleTemporaryAge - std::chrono::seconds(5);
  auto temporary = [&](const std::string& name, bool stale) {
    writeText(folder() / name, "half a file");
    if (stale) std::filesystem::last_write_time(folder() / name, old);
    return name;
  };
  const std::vector<std::string> names = {temporary(".wren-tmp-stale1", true), temporary(".wren-tmp-fresh1", false),
                                          temporary(".wren-tmp-held01", true), temporary(".wren-tmp-a.ics", true)};
  temporary("a.ics", true);
  // A write in progress holds its file.
  FileDescriptor held(open((folder() / ".wren-tmp-held01").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(flock(held.get(), LOCK_EX), 0);
  removeStaleTemporaryFiles(folder(), names);
  EXPECT_EQ(entryNames(folder()),
            (std::set<std::string>{".wren-tmp-a.ics", ".wren-tmp-fresh1", ".wren-tmp-held01", "a.ics"}));
  held = FileDescriptor();
  removeStaleTemporaryFiles(folder(), names);
  EXPECT_EQ(entryNames(folder()), (std::set<std::string>{".wren-tmp-a.ics", ".wren-tmp-fresh1", "a.ics"}));
}

}  // namespace
}  // namespace wren::platform

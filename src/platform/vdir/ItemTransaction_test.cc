#include "platform/vdir/ItemTransaction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/files/FileError.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform::vdir {
namespace {

using testing::entryNames;
using testing::FileSizeLimit;
using testing::readText;
using testing::writeElsewhere;
using testing::writeText;

// The transaction serves any item store; these tests use a store of cards.
class ItemTransactionTest : public ::testing::Test {
 protected:
  std::filesystem::path book(const std::string& name) const {
    std::filesystem::create_directories(home_.root() / name);
    return home_.root() / name;
  }
  // An item read from its file, as the index would hand it out.
  ItemOrigin stored(const std::filesystem::path& path, const std::string& text) const {
    writeText(path, text);
    ItemOrigin origin;
    origin.path = path;
    origin.text = text;
    origin.stamp = *stampOf(path);
    return origin;
  }

  ScopedDataHome home_;
};

TEST_F(ItemTransactionTest, RefusesFilesChangedOrRemovedSinceTheyWereRead) {
  const std::filesystem::path folder = book("family");
  const ItemOrigin ann = stored(folder / "ann.vcf", "BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n");
  ItemTransaction change(".vcf");
  change.checkUnchanged(ann);

  // Another program rewrites the card with text of the same length.
  writeText(ann.path, "BEGIN:VCARD\r\nFN:Bob\r\nEND:VCARD\r\n");
  try {
    change.checkUnchanged(ann);
    FAIL() << "a changed file passed";
  } catch (const ItemWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "the file " + ann.path.string() +
                                             " changed on disk since it was read (another program edited it); "
                                             "read it again");
  }
  std::filesystem::remove(ann.path);
  try {
    change.checkUnchanged(ann);
    FAIL() << "a removed file passed";
  } catch (const ItemWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "open(" + ann.path.string() + "): the file was removed since it was read");
  }
}

TEST_F(ItemTransactionTest, ChangesSeeTheVersionsThisProcessSavedButNoOtherProgramsOnes) {
  const std::filesystem::path folder = book("family");
  const auto read = std::make_shared<const ItemOrigin>(stored(folder / "ann.vcf", "BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n"));
  {
    ItemTransaction change(".vcf");
    EXPECT_EQ(change.latest(read), read);
    change.replace(*read, "version 2");
    change.commit();
  }
  // A second request read the card before the first saved it: it works on version 2. Once
  // it saved version 3, a request that read version 1 or 2 works on version 3.
  std::shared_ptr<const ItemOrigin> second;
  {
    ItemTransaction change(".vcf");
    second = change.latest(read);
    EXPECT_EQ(second->text, "version 2");
    EXPECT_EQ(second->stamp, stampOf(read->path));
    EXPECT_EQ(second->itemId, read->itemId);
    change.replace(*second, "version 3");
    change.commit();
  }
  for (const auto& origin : {read, second}) {
    ItemTransaction change(".vcf");
    EXPECT_EQ(change.latest(origin)->text, "version 3");
  }

  // Another program's version breaks the chain: no request that read an older one may
  // write over it, nor over what follows it.
  writeElsewhere(read->path, "theirs");
  {
    ItemTransaction change(".vcf");
    EXPECT_THROW(change.latest(read), ItemWriteError);
    EXPECT_THROW(change.latest(second), ItemWriteError);
    auto theirs = std::make_shared<const ItemOrigin>(stored(read->path, "theirs"));
    EXPECT_EQ(change.latest(theirs), theirs);
    change.replace(*theirs, "version 5");
    EXPECT_THROW(change.latest(second), ItemWriteError);
    EXPECT_EQ(change.latest(theirs)->text, "version 5");
    change.remove(*change.latest(theirs));
    try {
      change.latest(theirs);
      FAIL() << "a removed file has a version";
    } catch (const ItemWriteError& error) {
      EXPECT_EQ(std::string(error.what()), "open(" + read->path.string() + "): the file was removed since it was read");
    }
  }
}

TEST_F(ItemTransactionTest, AddedFilesStayOnlyWhenCommitted) {
  const std::filesystem::path folder = book("family");
  std::string kept;
  {
    ItemTransaction change(".vcf");
    const std::string dropped = change.add(folder, "dropped");
    EXPECT_TRUE(dropped.ends_with(".vcf"));
    EXPECT_EQ(readText(folder / dropped), "dropped");
  }
  EXPECT_TRUE(entryNames(folder).empty());
  {
    ItemTransaction change(".vcf");
    kept = change.add(folder, "kept");
    change.commit();
  }
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{kept}));
}

TEST_F(ItemTransactionTest, AFailedStepTakesBackWhatWasAdded) {
  const std::filesystem::path folder = book("family");
  const ItemOrigin ann = stored(folder / "ann.vcf", "short");
  try {
    ItemTransaction change(".vcf");
    change.add(folder, "next");
    FileSizeLimit limit(8);  // the rewrite fails halfway
    change.replace(ann, "a text longer than the limit");
    change.commit();
    FAIL() << "the rewrite did not fail";
  } catch (const FileError& error) {
    EXPECT_EQ(error.call(), "write");
  }
  EXPECT_EQ(entryNames(folder), (std::set<std::string>{"ann.vcf"}));
  EXPECT_EQ(readText(ann.path), "short");
}

TEST_F(ItemTransactionTest, MovesKeepTheNameWhenFreeAndAreWholeOrNothing) {
  const std::filesystem::path family = book("family");
  const std::filesystem::path work = book("work");
  {
    ItemTransaction change(".vcf");
    EXPECT_EQ(change.move(stored(family / "ann.vcf", "ann"), work, "ann moved"), "ann.vcf");
    writeText(work / "bob.vcf", "another bob");
    const std::string renamed = change.move(stored(family / "bob.vcf", "bob"), work, "bob moved");
    EXPECT_NE(renamed, "bob.vcf");
    EXPECT_TRUE(renamed.ends_with(".vcf"));
    change.commit();
    EXPECT_EQ(readText(work / renamed), "bob moved");
  }
  EXPECT_TRUE(entryNames(family).empty());
  EXPECT_EQ(readText(work / "ann.vcf"), "ann moved");
  EXPECT_EQ(readText(work / "bob.vcf"), "another bob");

  // The old file cannot be removed (a folder stands at its path): the new one goes again.
  ItemOrigin folderItem;
  folderItem.path = book("family/cat.vcf");
  writeText(folderItem.path / "inside", "x");
  const std::set<std::string> before = entryNames(work);
  {
    ItemTransaction change(".vcf");
    EXPECT_THROW(change.move(folderItem, work, "cat"), FileError);
  }
  EXPECT_EQ(entryNames(work), before);
}

TEST_F(ItemTransactionTest, OneChangeAtATime) {
  std::atomic<bool> secondBegan{false};
  std::thread second;
  {
    ItemTransaction first(".ics");
    second = std::thread([&] {
      ItemTransaction change(".ics");
      secondBegan = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(secondBegan);
  }
  second.join();
  EXPECT_TRUE(secondBegan);
}

TEST_F(ItemTransactionTest, ReadBackNeedsAnItem) {
  struct Book {
    std::filesystem::path folder;
  };
  struct Index {
    using EntryPtr = std::shared_ptr<const int>;
    EntryPtr refreshFile(const Book&, const std::string& name) {
      return name == "card.vcf" ? std::make_shared<const int>(1) : nullptr;
    }
  };
  Index index;
  const Book family{home_.root() / "family"};
  EXPECT_EQ(*readBack(index, family, "card.vcf"), 1);
  try {
    readBack(index, family, "broken.vcf");
    FAIL() << "a file without an item was read back";
  } catch (const ItemWriteError& error) {
    EXPECT_EQ(std::string(error.what()),
              "the saved file " + (family.folder / "broken.vcf").string() + " cannot be read back");
  }
}

}  // namespace
}  // namespace wren::platform::vdir

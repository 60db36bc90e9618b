#include "platform/vdir/ItemIndex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files/AtomicFile.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform::vdir {
namespace {

using testing::writeText;

// A codec and a collection of another kind than the calendar store's, as a contact store
// would bring them: the index knows neither.
struct CardCodec {
  using Parsed = std::string;
  using Summary = std::size_t;
  static std::shared_ptr<const Parsed> parse(std::string_view text) {
    if (text.find("THROW") != std::string_view::npos) throw std::runtime_error("unreadable card");
    if (!text.starts_with("BEGIN:VCARD")) return nullptr;
    return std::make_shared<const std::string>(text);
  }
  static Summary summarize(const Parsed& card) { return card.size(); }
};

struct AddressBook {
  std::string bookId;
  std::filesystem::path folder;
  const std::string& id() const { return bookId; }
};

std::string card(const std::string& name) { return "BEGIN:VCARD\r\nFN:" + name + "\r\nEND:VCARD\r\n"; }

std::vector<std::string> namesOf(const std::vector<ItemIndex<CardCodec, AddressBook>::EntryPtr>& files) {
  std::vector<std::string> names;
  for (const auto& entry : files) names.push_back(entry->origin->path.filename().string());
  return names;
}

TEST(ItemIndexKinds, IndexesOnlyItsSuffixUnderItsOwnIds) {
  ScopedDataHome home;
  const AddressBook book{"local/family", home.root() / "contacts/local/family"};
  writeText(book.folder / "ann.vcf", card("Ann"));
  writeText(book.folder / "bob.vcf", card("Bob"));
  writeText(book.folder / "event.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  writeText(book.folder / ".hidden.vcf", card("Hidden"));
  writeText(book.folder / ".vcf", card("No name"));
  writeText(book.folder / "notes.txt", card("Text"));
  writeText(book.folder / "broken.vcf", "not a card");
  writeText(book.folder / "hostile.vcf", "BEGIN:VCARD\r\nTHROW\r\n");
  std::filesystem::create_directories(book.folder / "folder.vcf");

  ItemIndex<CardCodec, AddressBook> index(ItemKind{".vcf", "contact"});
  const auto books = index.refresh({&book});
  ASSERT_EQ(books.size(), 1u);
  EXPECT_EQ(books[0].collection, &book);
  EXPECT_EQ(namesOf(books[0].files), (std::vector<std::string>{"ann.vcf", "bob.vcf"}));

  const auto& ann = *books[0].files[0];
  EXPECT_EQ(*ann.parsed, card("Ann"));
  EXPECT_EQ(ann.summary, card("Ann").size());
  EXPECT_EQ(ann.origin->collectionId, "local/family");
  EXPECT_EQ(ann.origin->text, card("Ann"));
  EXPECT_EQ(ann.origin->itemId, itemIdFor("contact", "local/family", "ann.vcf"));
  EXPECT_NE(ann.origin->itemId, itemIdFor("event", "local/family", "ann.vcf"));
  EXPECT_EQ(index.locate(ann.origin->itemId), (std::pair<std::string, std::string>{"local/family", "ann.vcf"}));
}

TEST(ItemIndexKinds, FollowsChangesToItsFiles) {
  ScopedDataHome home;
  const AddressBook book{"work", home.root() / "contacts/work"};
  writeText(book.folder / "ann.vcf", card("Ann"));
  writeText(book.folder / "bob.vcf", card("Bob"));
  ItemIndex<CardCodec, AddressBook> index(ItemKind{".vcf", "contact"});
  ASSERT_EQ(namesOf(index.refresh({&book})[0].files), (std::vector<std::string>{"ann.vcf", "bob.vcf"}));
  const std::string bobId = itemIdFor("contact", "work", "bob.vcf");

  writeText(book.folder / "ann.vcf", card("Ann Smith"));
  std::filesystem::remove(book.folder / "bob.vcf");
  writeText(book.folder / "cat.vcf", card("Cat"));
  writeText(book.folder / "dan.ics", card("Dan"));
  const auto files = index.refresh({&book})[0].files;
  EXPECT_EQ(namesOf(files), (std::vector<std::string>{"ann.vcf", "cat.vcf"}));
  EXPECT_EQ(*files[0]->parsed, card("Ann Smith"));
  EXPECT_FALSE(index.locate(bobId));
  EXPECT_EQ(*index.refreshFile(book, "cat.vcf")->parsed, card("Cat"));
  EXPECT_FALSE(index.refreshFile(book, "dan.ics"));

  index.retain({});
  EXPECT_FALSE(index.locate(files[0]->origin->itemId));
}

TEST(ItemIndexKinds, ListingRemovesWhatKilledWritesLeftAndNeverReadsIt) {
  ScopedDataHome home;
  const AddressBook book{"work", home.root() / "contacts/work"};
  writeText(book.folder / "ann.vcf", card("Ann"));
  // A write killed halfway, long ago and just now; the first holds a card that must never be
  // listed, whatever its name says.
  const auto old = std::filesystem::file_time_type::clock::now() - kStaleTemporaryAge - std::chrono::seconds(1);
  writeText(book.folder / ".wren-tmp-Ab12Cd", card("Half written"));
  std::filesystem::last_write_time(book.folder / ".wren-tmp-Ab12Cd", old);
  writeText(book.folder / ".wren-tmp-Ef34Gh", card("Being written"));

  ItemIndex<CardCodec, AddressBook> index(ItemKind{".vcf", "contact"});
  EXPECT_EQ(namesOf(index.refresh({&book})[0].files), (std::vector<std::string>{"ann.vcf"}));
  EXPECT_EQ(testing::entryNames(book.folder), (std::set<std::string>{".wren-tmp-Ef34Gh", "ann.vcf"}));
}

// A work item that throws on a helper thread would end the process; the caller gets the
// exception instead, after every thread is done.
TEST(ParallelFor, RunsEveryItemOnceAndHandsAThrowToTheCaller) {
  std::vector<std::atomic<int>> runs(5000);
  parallelFor(runs.size(), [&](std::size_t i) { ++runs[i]; });
  for (const std::atomic<int>& count : runs) ASSERT_EQ(count.load(), 1);

  std::atomic<std::size_t> ran{0};
  try {
    parallelFor(5000, [&](std::size_t i) {
      ++ran;
      if (i % 1000 == 999) throw std::runtime_error("item " + std::to_string(i));
    });
    FAIL() << "the exception was lost";
  } catch (const std::runtime_error& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("item ")) << error.what();
  }
  EXPECT_LT(ran.load(), 5000u);
}

}  // namespace
}  // namespace wren::platform::vdir

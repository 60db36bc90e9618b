#include "platform/vdir/ItemIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files/AtomicFile.h"
#include "platform/vdir/ItemIndexSpans.h"
#include "platform/vdir/ItemTransaction.h"
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

// A codec of events reduced to their span: "SPAN <first hour> <last hour>" from an origin,
// counting its parses; a scan that decides when the text says "SCAN" first.
struct SpanFile {
  std::string text;
  EventExtent extent;
};

constexpr Instant kHourZero{std::chrono::milliseconds(1'750'000'000'000)};

std::atomic<int> spanParses{0};

std::optional<EventExtent> spanOf(std::string_view text) {
  int first = 0, last = 0;
  const std::size_t space = text.find(' ', 5);
  if (!text.starts_with("SPAN ") || space == std::string_view::npos) return std::nullopt;
  std::from_chars(text.data() + 5, text.data() + space, first);
  std::from_chars(text.data() + space + 1, text.data() + text.size(), last);
  return EventExtent{kHourZero + std::chrono::hours(first), kHourZero + std::chrono::hours(last)};
}

struct SpanCodec {
  using Parsed = SpanFile;
  using Summary = EventExtent;
  template <class Key>
  using Catalog = SpanCatalog<Key>;
  static std::shared_ptr<const Parsed> parse(std::string_view text) {
    ++spanParses;
    std::optional<EventExtent> extent = spanOf(text.starts_with("SCAN ") ? text.substr(5) : text);
    if (!extent) return nullptr;
    return std::make_shared<const SpanFile>(SpanFile{std::string(text), *extent});
  }
  static Summary summarize(const Parsed& file) { return file.extent; }
  static std::optional<Summary> scan(std::string_view text) {
    if (!text.starts_with("SCAN ")) return std::nullopt;
    return spanOf(text.substr(5));
  }
};

struct Calendar {
  std::string calendarId;
  std::filesystem::path folder;
  const std::string& id() const { return calendarId; }
};

using SpanIndex = ItemIndex<SpanCodec, Calendar>;

std::string spanText(int first, int last) { return "SPAN " + std::to_string(first) + " " + std::to_string(last); }

// The names of the files forEach visits for the window [first, last) in hours.
std::vector<std::string> inWindow(SpanIndex& index, const Calendar& calendar, int first, int last) {
  std::vector<std::string> names;
  index.forEach({&calendar}, std::pair{kHourZero + std::chrono::hours(first), kHourZero + std::chrono::hours(last)},
                [&](const Calendar& in, const SpanIndex::Entry& entry) {
                  EXPECT_EQ(&in, &calendar);
                  EXPECT_EQ(entry.origin->text, entry.parsed->text);
                  names.push_back(entry.origin->path.filename().string());
                });
  return names;
}

const ItemKind kSpanFiles{".ics", "event", kItemFileBytes, Retention::Summary};

TEST(ItemIndexWindows, AWindowParsesOnlyTheFilesThatCanOverlapIt) {
  ScopedDataHome home;
  const Calendar calendar{"work", home.root() / "calendars/work"};
  // A file a day for a year, each lasting three hours, and a long one over the whole year.
  std::map<std::string, std::pair<int, int>> spans;
  for (int day = 0; day < 365; ++day) spans["d" + std::to_string(1000 + day) + ".ics"] = {day * 24, day * 24 + 3};
  spans["year.ics"] = {0, 365 * 24};
  for (const auto& [name, span] : spans) writeText(calendar.folder / name, spanText(span.first, span.second));
  writeText(calendar.folder / "broken.ics", "not a span");

  SpanIndex index(kSpanFiles);
  index.update({&calendar});
  spanParses = 0;
  const std::vector<std::string> week = inWindow(index, calendar, 100 * 24, 107 * 24);
  EXPECT_EQ(week, (std::vector<std::string>{"d1100.ics", "d1101.ics", "d1102.ics", "d1103.ics", "d1104.ics",
                                            "d1105.ics", "d1106.ics", "year.ics"}));
  // A cold reading keeps no parsed files; the window's are parsed once, then served from memory.
  EXPECT_EQ(spanParses.load(), 8);
  EXPECT_EQ(inWindow(index, calendar, 100 * 24, 107 * 24), week);
  EXPECT_EQ(spanParses.load(), 8);
}

TEST(ItemIndexWindows, FollowsAddedChangedRemovedAndRenamedFilesReadingOnlyThose) {
  ScopedDataHome home;
  const Calendar calendar{"work", home.root() / "calendars/work"};
  for (int i = 0; i < 100; ++i) writeText(calendar.folder / ("f" + std::to_string(100 + i) + ".ics"), spanText(i, i + 1));
  SpanIndex index(kSpanFiles);
  EXPECT_EQ(inWindow(index, calendar, 10, 12), (std::vector<std::string>{"f109.ics", "f110.ics", "f111.ics"}));
  const std::string movedId = itemIdFor("event", "work", "f110.ics");
  ASSERT_TRUE(index.locate(movedId));

  writeText(calendar.folder / "f150.ics", spanText(11, 11));             // changed into the window
  writeText(calendar.folder / "new.ics", spanText(5, 30));                // added across it
  std::filesystem::remove(calendar.folder / "f111.ics");                  // removed
  std::filesystem::rename(calendar.folder / "f110.ics", calendar.folder / "g110.ics");  // renamed
  spanParses = 0;
  EXPECT_EQ(inWindow(index, calendar, 10, 12),
            (std::vector<std::string>{"f109.ics", "f150.ics", "g110.ics", "new.ics"}));
  EXPECT_EQ(spanParses.load(), 3) << "only the added, changed and renamed files are read";
  EXPECT_EQ(inWindow(index, calendar, 50, 51), (std::vector<std::string>{"f149.ics"})) << "f150.ics left its old span";

  EXPECT_FALSE(index.locate(movedId));
  EXPECT_FALSE(index.locate(itemIdFor("event", "work", "f111.ics")));
  EXPECT_EQ(index.locate(itemIdFor("event", "work", "g110.ics")), (std::pair<std::string, std::string>{"work", "g110.ics"}));
  EXPECT_EQ(index.locate(itemIdFor("event", "work", "f150.ics")), (std::pair<std::string, std::string>{"work", "f150.ics"}));
}

TEST(ItemIndexWindows, AWrittenFileIsReadBackAloneWithItsId) {
  ScopedDataHome home;
  const Calendar calendar{"work", home.root() / "calendars/work"};
  for (int i = 0; i < 100; ++i) writeText(calendar.folder / ("f" + std::to_string(i) + ".ics"), spanText(i, i + 1));
  SpanIndex index(kSpanFiles);
  index.update({&calendar});

  std::string name;
  {
    ItemTransaction change(".ics");
    name = change.add(calendar.folder, spanText(7, 8));
    change.commit();
  }
  spanParses = 0;
  SpanIndex::EntryPtr saved = readBack(index, calendar, name);
  EXPECT_EQ(saved->parsed->text, spanText(7, 8));
  EXPECT_EQ(saved->origin->itemId, itemIdFor("event", "work", name));
  EXPECT_EQ(index.locate(saved->origin->itemId), (std::pair<std::string, std::string>{"work", name}));
  EXPECT_EQ(spanParses.load(), 1);

  {
    ItemTransaction change(".ics");
    change.replace(*saved->origin, spanText(70, 71));
    change.commit();
  }
  EXPECT_EQ(readBack(index, calendar, name)->parsed->text, spanText(70, 71));
  EXPECT_EQ(spanParses.load(), 2);
  std::vector<std::string> expected{"f69.ics", "f70.ics", name};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(inWindow(index, calendar, 70, 71), expected);
  EXPECT_EQ(spanParses.load(), 4) << "the saved file is parsed once; the two others of the window on demand";

  std::filesystem::remove(calendar.folder / name);
  EXPECT_FALSE(index.refreshFile(calendar, name));
  EXPECT_FALSE(index.locate(saved->origin->itemId));
}

TEST(ItemIndexWindows, AScanThatDecidesLeavesTheFileUnparsedUntilAQueryNeedsIt) {
  ScopedDataHome home;
  const Calendar calendar{"work", home.root() / "calendars/work"};
  for (int i = 0; i < 10; ++i) writeText(calendar.folder / ("f" + std::to_string(i) + ".ics"), "SCAN " + spanText(i, i + 1));
  writeText(calendar.folder / "parsed.ics", spanText(3, 3));
  SpanIndex index(kSpanFiles);
  spanParses = 0;
  index.update({&calendar});
  EXPECT_EQ(spanParses.load(), 1);
  EXPECT_EQ(inWindow(index, calendar, 3, 4), (std::vector<std::string>{"f2.ics", "f3.ics", "parsed.ics"}));
  EXPECT_EQ(spanParses.load(), 3);
}

// The cache drops the least recently used entry for a new one, except for an entry offered
// only if there is room: a request reading more files than the cache holds would otherwise
// evict, file after file, everything it and other requests could find again.
TEST(ParsedCache, EvictsLeastRecentlyUsedButNotForEntriesOfferedOnlyIfRoom) {
  using Entry = SpanIndex::Entry;
  auto entryAt = [](const std::string& path) {
    auto origin = std::make_shared<ItemOrigin>();
    origin->path = path;
    origin->stamp.size = 1;
    origin->collectionId = "work";
    return std::make_shared<const Entry>(Entry{std::move(origin), nullptr, {}});
  };
  auto cached = [](ParsedCache<Entry>& cache, const std::string& path) {
    return cache.find(path, FileStamp{0, 1, 0}, "work") != nullptr;
  };
  ParsedCache<Entry> cache(3, 1 << 20);
  for (const char* path : {"/a", "/b", "/c"}) cache.put(entryAt(path));
  EXPECT_TRUE(cached(cache, "/a"));  // now the most recently used

  cache.put(entryAt("/d"), /*ifRoom=*/true);
  EXPECT_FALSE(cached(cache, "/d"));
  EXPECT_TRUE(cached(cache, "/b") && cached(cache, "/c"));

  cache.put(entryAt("/e"));
  EXPECT_TRUE(cached(cache, "/e"));
  EXPECT_FALSE(cached(cache, "/a")) << "the least recently used one went";
  EXPECT_FALSE(cache.find("/e", FileStamp{0, 2, 0}, "work")) << "another version of the file";
  EXPECT_FALSE(cache.find("/e", FileStamp{0, 1, 0}, "home")) << "read for another calendar";
}

// A codec of to-dos reduced to "OPEN" or "DONE", counting its parses, whose scan decides
// every file; open ones stay loaded, as reminders' do.
std::atomic<int> todoParses{0};

struct CompletionCodec {
  using Parsed = std::string;
  using Summary = bool;  // completed
  template <class Key>
  using Catalog = CompletionCatalog<Key>;
  static std::shared_ptr<const Parsed> parse(std::string_view text) {
    ++todoParses;
    if (text != "OPEN" && text != "DONE") return nullptr;
    return std::make_shared<const std::string>(text);
  }
  static Summary summarize(const Parsed& file) { return file == "DONE"; }
  static std::optional<Summary> scan(std::string_view text) {
    if (text != "OPEN" && text != "DONE") return std::nullopt;
    return text == "DONE";
  }
  static bool keptWhole(Summary completed) { return !completed; }
};

TEST(ItemIndexWindows, ItemsTheCodecKeepsWholeStayLoadedAndTheRestWaitForAQuery) {
  ScopedDataHome home;
  const Calendar list{"inbox", home.root() / "reminders/inbox"};
  // Enough files for the parallel cold reading, which keeps no parsed form of the others.
  for (int i = 0; i < 200; ++i) writeText(list.folder / ("t" + std::to_string(100 + i) + ".ics"), i % 10 ? "DONE" : "OPEN");
  ItemIndex<CompletionCodec, Calendar> index({".ics", "reminder", kItemFileBytes, Retention::Summary});
  auto visited = [&](CompletionQuery query) {
    std::vector<std::string> texts;
    index.forEach({&list}, query, [&](const Calendar&, const auto& entry) { texts.push_back(*entry.parsed); });
    return texts;
  };
  todoParses = 0;
  index.update({&list});
  EXPECT_EQ(todoParses.load(), 20) << "only the open ones are parsed on the cold reading";
  EXPECT_EQ(visited(CompletionQuery::Open), std::vector<std::string>(20, "OPEN"));
  EXPECT_EQ(visited(CompletionQuery::Open).size(), 20u);
  EXPECT_EQ(todoParses.load(), 20) << "open ones are served from memory";
  EXPECT_EQ(visited(CompletionQuery::Completed), std::vector<std::string>(180, "DONE"));
  EXPECT_EQ(todoParses.load(), 200) << "completed ones are parsed when a query needs them";

  writeText(list.folder / "t100.ics", "DONE");  // an open one completed by another program
  writeText(list.folder / "t101.ics", "OPEN");  // a completed one opened again
  EXPECT_EQ(visited(CompletionQuery::Open).size(), 20u);
  EXPECT_EQ(visited(CompletionQuery::Completed).size(), 180u);
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

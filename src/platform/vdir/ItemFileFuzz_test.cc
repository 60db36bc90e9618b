// Mutations of item files, fed through everything a file meets in the store: the limits that
// decide what libical reads, the event and reminder codecs, the expansion of a window, and
// the writer of an edit. A seeded loop bounded in time, run in every build (the sanitizer
// builds included), so that a crash, a sanitizer report, a hang or a broken invariant on a
// hostile file shows up as a failing test with the seed and the file that caused it.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/LocalTime.h"
#include "platform/vdir/EventCodec.h"
#include "platform/vdir/IcalLimits.h"
#include "platform/vdir/TodoCodec.h"
#include "support/CalendarFiles.h"
#include "support/TimeZoneGuard.h"

namespace wren::platform::vdir {
namespace {

Instant at(int year, int month, int day) { return instantFromCivil(CivilTime{year, month, day, 0, 0, 0, 0}, "UTC").value(); }

TEST(ItemFileFuzz, MutatedFilesAreReadOrSkippedInBoundedTimeAndEditsReadBack) {
  TimeZoneGuard zone("Europe/Berlin");
  const std::uint64_t seed = 20250415;
  std::mt19937_64 random(seed);
  const ItemContext context{"item", "calendar", {"ann@example.com"}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int iterations = 0, events = 0, saved = 0;
  std::chrono::steady_clock::duration slowest{};
  for (; std::chrono::steady_clock::now() < deadline && iterations < 20'000; ++iterations) {
    std::string text = testing::fuzzSeedFiles()[random() % testing::fuzzSeedFiles().size()];
    for (int changes = 1 + static_cast<int>(random() % 4); changes > 0; --changes) text = testing::mutatedFile(text, random);
    auto fail = [&](const std::string& what) {
      ADD_FAILURE() << "seed " << seed << ", iteration " << iterations << ": " << what << "\n"
                    << text.substr(0, 2000);
    };
    const auto began = std::chrono::steady_clock::now();
    const bool refused = parseRefusal(text).has_value();
    std::shared_ptr<const ParsedEventFile> file = parseEventFile(text);
    std::shared_ptr<const ParsedTodoFile> todo = parseTodoFile(text);
    if (refused && (file || todo)) return fail("a refused file was parsed");
    if (todo) todoItem(*todo, context);
    if (file) {
      ++events;
      eventsInWindow(*file, at(2024, 12, 1), at(2026, 2, 1), context);
      std::optional<EventItem> primary = primaryEvent(*file, context);
      if (primary && !editRefusal(text) && !primary->title.empty()) {
        primary->title = "Edited " + std::to_string(iterations);
        std::string written;
        try {
          written = saveEventText(text, *primary, Span::ThisEvent).text;
        } catch (const std::exception&) {
          // A file the writer cannot place the change in is refused, never half written.
        }
        if (!written.empty()) {
          ++saved;
          std::shared_ptr<const ParsedEventFile> back = parseEventFile(written);
          if (!back) return fail("an edit was written that does not read back");
        }
      }
    }
    slowest = std::max(slowest, std::chrono::steady_clock::now() - began);
  }
  // One file never costs more than a moment, whatever its shape (the sanitizer builds are
  // several times slower than a release build).
  EXPECT_LT(slowest, std::chrono::seconds(2));
  EXPECT_GT(iterations, 50);
  EXPECT_GT(events, 0);
  EXPECT_GT(saved, 0);
}

}  // namespace
}  // namespace wren::platform::vdir

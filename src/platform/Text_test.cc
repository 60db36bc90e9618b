#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace wren::platform {
namespace {

constexpr const char* kFffd = "\xEF\xBF\xBD";

std::string repeatFffd(int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += kFffd;
  return result;
}

TEST(TextToValidUtf8, KeepsWellFormedTextUnchanged) {
  for (const std::string text : {"", "plain ASCII", "Café 日历 😀", "e\xCC\x81", "\xF4\x8F\xBF\xBF"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(toValidUtf8(text), text);
  }
}

TEST(TextToValidUtf8, ReplacesEachMaximalSubpartOnce) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // C0 can never start a sequence, so it and the byte after it are replaced apart.
      {"two-byte overlong slash", "a\xC0\xAF" "b", "a" + repeatFffd(2) + "b"},
      // After E0 only A0...BF may follow, so E0 alone is the maximal subpart.
      {"three-byte overlong", "\xE0\x80\xAF", repeatFffd(3)},
      {"four-byte overlong", "\xF0\x80\x80\xAF", repeatFffd(4)},
      // A truncated but otherwise valid prefix is one subpart, however long it is.
      {"truncated at end", "a\xE6\x97", "a" + repeatFffd(1)},
      {"truncated before ASCII", "\xE6\x97x", repeatFffd(1) + "x"},
      {"truncated four-byte emoji", "\xF0\x9F\x98" "!", repeatFffd(1) + "!"},
      {"truncated then valid", "\xE6\x97\xE6\x97\xA5", repeatFffd(1) + "\xE6\x97\xA5"},
      // Encoded surrogates: after ED only 80...9F may follow.
      {"encoded high surrogate", "\xED\xA0\x80", repeatFffd(3)},
      {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", repeatFffd(6)},
      {"stray continuation", "\x80", repeatFffd(1)},
      {"stray continuations between letters", "a\x80\xBF" "b", "a" + repeatFffd(2) + "b"},
      {"bytes never used", "\xFE\xFF", repeatFffd(2)},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", repeatFffd(4)},
      {"valid text around a fault", "日\xFF历", "日" + repeatFffd(1) + "历"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(toValidUtf8(c.input), c.expected);
  }
}

TEST(TextTrimWhitespace, RemovesUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"  Lunch \n", "Lunch"},
      {"\xE3\x80\x80会议\xE3\x80\x80", "会议"},             // U+3000 ideographic space
      {"\xC2\xA0Note\xC2\xA0", "Note"},                     // no-break space
      {"\r\n\tA  B\xE2\x80\xA8", "A  B"},                    // inner space kept; U+2028
      {"\xC2\x85x\xE2\x80\xA9", "x"},                        // NEL, U+2029
      {"\v\fy\xE2\x80\x83", "y"},                            // em space
      {" \t\n ", ""},
      {"", ""},
      {"Lunch", "Lunch"},
      // Not white space: zero-width space and the byte-order mark stay.
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},
      {"\xEF\xBB\xBFx ", "\xEF\xBB\xBFx"},
      // An ill-formed byte is not white space and is left as it is.
      {" \xFF ", "\xFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(trimWhitespace(c.input), c.expected);
  }
}

TEST(TextFolding, FoldsCaseAndDiacriticsLeavingOtherScriptsAlone) {
  struct Case {
    std::string input;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"Café", u"cafe"},
      {"CAFE", u"cafe"},
      {"Cafe\xCC\x81", u"cafe"},  // decomposed accent
      {"wörk", u"work"},
      {"Crème Brûlée", u"creme brulee"},
      {"\xE2\x84\xAB", u"a"},     // the Angstrom sign folds to å, then loses its ring
      {"ﬁle", u"file"},           // full case folding expands the ligature
      {"日历会议", u"日历会议"},
      {"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(foldForSearch(c.input), c.expected);
  }
}

TEST(TextFolding, AsciiTextFoldsAsItWouldThroughUnicodeFolding) {
  // Appending "é" forces the general path; the ASCII part must fold the same either way.
  std::string everyAscii;
  for (int c = 0; c < 0x80; ++c) everyAscii += static_cast<char>(c);
  EXPECT_EQ(foldForSearch(everyAscii + "é"), foldForSearch(everyAscii) + u"e");
  EXPECT_TRUE(equalsIgnoringCaseAndDiacritics(everyAscii, everyAscii + "\xCC\x81"));
}

TEST(TextFolding, ComparesWholeTextsIgnoringCaseAndDiacritics) {
  struct Case {
    std::string a;
    std::string b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"Café", "CAFE", true},
      {"Café", "cafe", true},
      {"CAFE", "cafe", true},
      {"wörk", "Work", true},
      {"ΣΊΣΥΦΟΣ", "σίσυφος", true},  // final sigma and tonos
      {"\xE2\x84\xAA" "elvin", "kelvin", true},  // Kelvin sign against ASCII
      {"日历", "日历", true},
      {"", "", true},
      {"cafe", "cafes", false},
      {"work", "word", false},
      {"日历", "日曆", false},
      {"", " ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " | " + c.b);
    EXPECT_EQ(equalsIgnoringCaseAndDiacritics(c.a, c.b), c.equal);
    EXPECT_EQ(equalsIgnoringCaseAndDiacritics(c.b, c.a), c.equal);
  }
}

TEST(TextFolding, SharpSIsTreatedConsistentlyEverywhere) {
  // Whether ß matches "ss" is up to Unicode case folding; every operation must agree.
  const bool sameFold = foldForSearch("Straße") == foldForSearch("STRASSE");
  EXPECT_EQ(equalsIgnoringCaseAndDiacritics("Straße", "STRASSE"), sameFold);
  EXPECT_EQ(containsIgnoringCaseAndDiacritics("Hauptstraße 5", "STRASSE"), sameFold);
  EXPECT_EQ(containsFolded("Hauptstraße 5", foldForSearch("strasse")), sameFold);
}

TEST(TextFolding, FindsNeedlesIgnoringCaseAndDiacritics) {
  struct Case {
    std::string haystack;
    std::string needle;
    bool found;
  };
  const std::vector<Case> cases = {
      {"Team Café meeting", "cafe", true},
      {"Team Cafe meeting", "CAFÉ", true},  // ASCII haystack, needle folds to ASCII
      {"Team Cafe meeting", "MEETING", true},
      {"Team Cafe meeting", "Team Cafe meeting", true},
      {"Lunch", "", true},
      {"", "", true},
      {"", "a", false},
      {"Lunch", "lunches", false},
      {"Lunch", "unch ", false},
      {"ABC", "é", false},  // the needle folds to "e", which is absent
      {"ABE", "é", true},
      {"ABC", "日", false},                  // ASCII haystack, non-ASCII needle
      {"日历会议", "会议", true},
      {"日历会议", "会历", false},
      {"Kelvin scale", "\xE2\x84\xAA" "ELVIN", true},
      {"Crème brûlée tasting", "BRULEE", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.haystack + " | " + c.needle);
    EXPECT_EQ(containsIgnoringCaseAndDiacritics(c.haystack, c.needle), c.found);
    EXPECT_EQ(containsFolded(c.haystack, foldForSearch(c.needle)), c.found);
  }
}

TEST(TextGraphemes, CountsUserPerceivedCharacters) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0},
      {"ASCII", "abc", 3},
      {"combining mark", "e\xCC\x81", 1},
      {"two combining marks", "a\xCC\x81\xCC\xA3" "b", 2},
      {"family with zero-width joiners", "👨\u200D👩\u200D👧", 1},
      {"two flags", "🇨🇳🇺🇸", 2},
      {"skin tone", "👍🏽", 1},
      {"CR LF", "\r\n", 1},
      {"Chinese", "日历", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(graphemeCount(c.text), c.count);
  }
}

TEST(TextGraphemes, PrefixNeverSplitsAClusterAndReportsTruncation) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t limit;
    std::string prefix;
    bool truncated;
  };
  const std::string family = "👨\u200D👩\u200D👧";
  const std::vector<Case> cases = {
      {"zero-width joiner sequence", family + "x", 1, family, true},
      {"combining mark", "e\xCC\x81" "a", 1, "e\xCC\x81", true},
      {"first of two flags", "🇨🇳🇺🇸", 1, "🇨🇳", true},
      {"skin tone", "👍🏽ok", 2, "👍🏽o", true},
      {"exactly the limit", "abc", 3, "abc", false},
      {"shorter than the limit", "abc", 5, "abc", false},
      {"limit zero", "abc", 0, "", true},
      {"empty text", "", 0, "", false},
      {"empty text with a limit", "", 4, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Prefix prefix = graphemePrefix(c.text, c.limit);
    EXPECT_EQ(prefix.text, c.prefix);
    EXPECT_EQ(prefix.truncated, c.truncated);
  }
}

TEST(TextGraphemes, BoundaryAtOrBeforeALimitNeverSplitsACluster) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t byteLimit;
    std::size_t boundary;
  };
  const std::string family = "👨\u200D👩\u200D👧";  // 18 bytes
  const std::vector<Case> cases = {
      {"ASCII", "abcdef", 4, 4},
      {"limit inside a two-byte letter", "aé", 2, 1},
      {"limit inside a combining mark", "ae\xCC\x81" "b", 3, 1},
      {"limit after a combining mark", "ae\xCC\x81" "b", 4, 4},
      {"limit inside a joiner sequence", "x" + family + "y", 10, 1},
      {"limit at the end of a joiner sequence", "x" + family + "y", 19, 19},
      {"first cluster longer than the limit", family + "y", 5, 0},
      {"CR LF is one cluster", "a\r\nb", 2, 1},
      {"limit zero", "abc", 0, 0},
      {"limit at the end", "ab\xCC\x81", 4, 4},
      {"limit past the end", "abc", 10, 3},
      {"empty text", "", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(graphemeBoundaryAtOrBefore(c.text, c.byteLimit), c.boundary);
  }
}

TEST(TextFolding, IgnoresWidthOnlyWhenAsked) {
  const Folding width{.diacritics = true, .width = true};
  const Folding widthKeepingAccents{.diacritics = false, .width = true};
  EXPECT_TRUE(containsFolded("ＡＮＮＡ Müller", foldForSearch("anna", width), width));
  EXPECT_TRUE(containsFolded("Anna", foldForSearch("ａｎｎａ", width), width));
  EXPECT_FALSE(containsFolded("Anna", foldForSearch("ａｎｎａ")));
  EXPECT_TRUE(containsFolded("ｶﾞｸｾｲ", foldForSearch("ガクセイ", width), width));
  EXPECT_EQ(foldForSearch("ＣＡＦÉ", widthKeepingAccents), foldForSearch("Café", widthKeepingAccents));
  EXPECT_NE(foldForSearch("Café", widthKeepingAccents), foldForSearch("Cafe", widthKeepingAccents));
  // Ligatures and circled letters are not width variants.
  EXPECT_NE(foldForSearch("\u2460", width), foldForSearch("1", width));
}

TEST(TextCase, LowerCasesWithoutALocaleAndDropsWhiteSpace) {
  EXPECT_EQ(lowerCased("ÀBC İ ΣΑΣ"), "àbc i̇ σας");
  EXPECT_EQ(lowerCased("Plain ASCII"), "plain ascii");
  EXPECT_EQ(withoutWhitespace(" a\tb\u00A0c\u3000d\u2028e\n"), "abcde");
  EXPECT_EQ(withoutWhitespace("\xFF x"), "\xFFx") << "ill-formed bytes are kept as they are";
}

TEST(TextThreads, ConcurrentFoldingAndSegmentationDoNotDisturbEachOther) {
  // Filtering runs on several threads at once; each must see only its own text.
  struct Work {
    std::string haystack;
    std::string needle;
    std::size_t graphemes;
  };
  const std::vector<Work> work = {
      {"Réunion d'équipe", "EQUIPE", 16},
      {"Crème brûlée 🇨🇳", "BRULEE", 14},
      {"日历会议 👨\u200D👩\u200D👧", "会议", 6},
      {"Weekly review", "REVIEW", 13},
  };
  std::vector<int> failures(work.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < work.size(); ++t) {
    threads.emplace_back([&, t] {
      const std::u16string needle = foldForSearch(work[t].needle);
      for (int round = 0; round < 500; ++round) {
        if (!containsFolded(work[t].haystack, needle) || graphemeCount(work[t].haystack) != work[t].graphemes) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < work.size(); ++t) {
    SCOPED_TRACE(work[t].haystack);
    EXPECT_EQ(failures[t], 0);
  }
}

}  // namespace
}  // namespace wren::platform

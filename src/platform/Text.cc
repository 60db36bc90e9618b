#include "platform/Text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/IcuSupport.h"

namespace wren::platform {
namespace {

// ICU's UTF-8 macros index with int32_t, so long texts are walked in windows of this size.
constexpr std::size_t kWindow = std::size_t{1} << 30;
// The longest well-formed UTF-8 sequence; a window stops this far before its end unless it
// reaches the end of the text, so no sequence is ever split between two windows.
constexpr std::size_t kMaxSequence = 4;

constexpr char kReplacement[] = "\xEF\xBF\xBD";

using icuSupport::fail;

bool isAscii(std::string_view text) {
  // Or-ing the bytes together is branch-free and lets the compiler vectorise the loop.
  unsigned char bits = 0;
  for (char c : text) bits |= static_cast<unsigned char>(c);
  return bits < 0x80;
}

char16_t asciiLower(char c) {
  return static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Calls visit(codePoint, begin, end) for every code point of the text, with byte offsets
// into the text; an ill-formed sequence is reported as a negative code point covering one
// maximal subpart.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit&& visit) {
  std::size_t base = 0;
  while (base < text.size()) {
    const std::size_t available = text.size() - base;
    const bool lastWindow = available <= kWindow;
    const auto length = static_cast<int32_t>(lastWindow ? available : kWindow);
    const auto stop = static_cast<int32_t>(lastWindow ? available : kWindow - kMaxSequence);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + base);
    int32_t i = 0;
    while (i < stop) {
      const int32_t begin = i;
      UChar32 c;
      U8_NEXT(bytes, i, length, c);
      visit(c, base + static_cast<std::size_t>(begin), base + static_cast<std::size_t>(i));
    }
    base += static_cast<std::size_t>(i);
  }
}

bool isFormedWhitespace(UChar32 c) { return c >= 0 && u_isUWhiteSpace(c); }

// Replaces the characters that are width variants of others (full-width Latin letters and
// digits, half-width katakana, the ideographic space...) by those others. Only the
// decomposition types "wide" and "narrow" count, so ligatures, superscripts and circled
// letters stay as they are.
void foldWidth(icu::UnicodeString& text) {
  auto isVariant = [](UChar32 c) {
    const int32_t type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    return type == U_DT_WIDE || type == U_DT_NARROW;
  };
  int32_t first = 0;
  while (first < text.length() && !isVariant(text.char32At(first))) first = text.moveIndex32(first, 1);
  if (first == text.length()) return;

  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  if (U_FAILURE(status)) fail("Normalizer2::getNFKDInstance", status);
  icu::UnicodeString narrowed(text, 0, first);
  icu::UnicodeString decomposition;
  for (int32_t i = first; i < text.length(); i = text.moveIndex32(i, 1)) {
    const UChar32 c = text.char32At(i);
    if (isVariant(c) && nfkd->getDecomposition(c, decomposition)) {
      narrowed.append(decomposition);
    } else {
      narrowed.append(c);
    }
  }
  text = std::move(narrowed);
}

// Han ideographs of the unified blocks have no case, no decomposition and no width
// variant, so text of them and ASCII folds to itself with ASCII in lower case, without
// ICU: Chinese names are searched as often as Latin ones. Fills `out` and gives true for
// such text; gives false for any other text.
bool foldsAsItIs(std::string_view text, std::u16string& out) {
  out.clear();
  bool plain = true;
  forEachCodePoint(text, [&](UChar32 c, std::size_t, std::size_t) {
    if (!plain) return;
    if (c >= 0 && c < 0x80) {
      out.push_back(asciiLower(static_cast<char>(c)));
    } else if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF)) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      plain = false;
    }
  });
  if (!plain) out.clear();
  return plain;
}

// Folds into `out` (replacing its content): width variants replaced when asked, case
// folding, then canonical decomposition so that accents become separate marks, then, when
// asked, removal of the nonspacing marks. Case folding comes before the decomposition
// because it may produce precomposed letters (the Angstrom sign folds to U+00E5), which the
// decomposition then splits.
void foldInto(std::string_view text, std::u16string& out, Folding folding) {
  out.clear();
  if (isAscii(text)) {
    // Folding leaves ASCII letters as their lower case and everything else as it is, so
    // the common case needs no ICU at all.
    out.resize(text.size());
    std::transform(text.begin(), text.end(), out.begin(), asciiLower);
    return;
  }
  if (foldsAsItIs(text, out)) return;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) fail("Normalizer2::getNFDInstance", status);

  // The buffers live as long as the thread so that filtering many rows does not allocate
  // for each of them.
  thread_local icu::UnicodeString folded;
  thread_local icu::UnicodeString decomposed;
  // Converting into the kept buffer reuses its storage. A UTF-8 text never needs more
  // UTF-16 units than it has bytes (an ill-formed subpart of one or more bytes becomes one
  // U+FFFD), so one conversion with that capacity always suffices.
  const auto length8 = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
  int32_t length16 = 0;
  char16_t* buffer = folded.getBuffer(std::max<int32_t>(length8, 1));
  if (buffer == nullptr) fail("UnicodeString::getBuffer", U_MEMORY_ALLOCATION_ERROR);
  u_strFromUTF8WithSub(buffer, folded.getCapacity(), &length16, text.data(), length8, 0xFFFD, nullptr, &status);
  folded.releaseBuffer(U_SUCCESS(status) ? length16 : 0);
  if (U_FAILURE(status)) fail("u_strFromUTF8WithSub", status);
  if (folding.width) foldWidth(folded);
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  decomposed.remove();
  nfd->normalize(folded, decomposed, status);
  if (U_FAILURE(status)) fail("Normalizer2::normalize", status);

  const char16_t* units = decomposed.getBuffer();
  const int32_t length = decomposed.length();
  out.reserve(static_cast<std::size_t>(length));
  for (int32_t i = 0; i < length;) {
    const int32_t begin = i;
    UChar32 c;
    U16_NEXT(units, i, length, c);
    if (folding.diacritics && u_charType(c) == U_NON_SPACING_MARK) continue;
    out.append(units + begin, units + i);
  }
}

// Case-insensitive search of an ASCII needle in an ASCII haystack, without allocating.
bool asciiContains(std::string_view haystack, const std::u16string& foldedNeedle) {
  if (foldedNeedle.size() > haystack.size()) return false;
  const auto found = std::search(haystack.begin(), haystack.end(), foldedNeedle.begin(), foldedNeedle.end(),
                                 [](char h, char16_t n) { return asciiLower(h) == n; });
  return found != haystack.end();
}

// The grapheme cluster iterator is costly to create, so each thread keeps one.
icu::BreakIterator& characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !created) fail("BreakIterator::createCharacterInstance", status);
    return created;
  }();
  return *iterator;
}

// Points the thread's grapheme iterator at the text, addressed by UTF-8 byte offsets. The
// returned UText must outlive the iteration.
icu::LocalUTextPointer attachText(std::string_view text, icu::BreakIterator& iterator) {
  UErrorCode status = U_ZERO_ERROR;
  icu::LocalUTextPointer utext(
      utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
  if (U_FAILURE(status)) fail("utext_openUTF8", status);
  iterator.setText(utext.getAlias(), status);
  if (U_FAILURE(status)) fail("BreakIterator::setText", status);
  return utext;
}

}  // namespace

std::string toValidUtf8(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  bool valid = true;
  forEachCodePoint(text, [&](UChar32 c, std::size_t, std::size_t) {
    if (c < 0) valid = false;
  });
  if (valid) return std::string(text);

  std::string result;
  result.reserve(text.size() + 8);
  forEachCodePoint(text, [&](UChar32 c, std::size_t begin, std::size_t end) {
    if (c < 0) {
      result += kReplacement;
    } else {
      result.append(text.data() + begin, end - begin);
    }
  });
  return result;
}

std::string trimWhitespace(std::string_view text) {
  if (isAscii(text)) {
    // The white space of ASCII is the tab, the line breaks and the space.
    auto white = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    const auto first = std::find_if_not(text.begin(), text.end(), white);
    const auto last = std::find_if_not(text.rbegin(), std::string_view::reverse_iterator(first), white).base();
    return std::string(first, last);
  }
  // The first and last non-white code points are found by one forward walk, which keeps
  // the handling of ill-formed bytes (never white space) in one place.
  std::size_t first = text.size();
  std::size_t last = 0;
  forEachCodePoint(text, [&](UChar32 c, std::size_t begin, std::size_t end) {
    if (isFormedWhitespace(c)) return;
    if (first == text.size()) first = begin;
    last = end;
  });
  if (first == text.size()) return {};
  return std::string(text.substr(first, last - first));
}

std::u16string foldForSearch(std::string_view text) { return foldForSearch(text, Folding{}); }

std::u16string foldForSearch(std::string_view text, Folding folding) {
  std::u16string folded;
  foldInto(text, folded, folding);
  return folded;
}

bool equalsIgnoringCaseAndDiacritics(std::string_view a, std::string_view b) {
  if (isAscii(a) && isAscii(b)) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
  }
  // Non-ASCII text may fold to ASCII ("ﬁ" to "fi", "É" to "e"), so both sides are folded.
  return foldForSearch(a) == foldForSearch(b);
}

bool containsIgnoringCaseAndDiacritics(std::string_view haystack, std::string_view needle) {
  return containsFolded(haystack, foldForSearch(needle));
}

bool containsFolded(std::string_view haystack, const std::u16string& foldedNeedle) {
  return containsFolded(haystack, foldedNeedle, Folding{});
}

bool containsFolded(std::string_view haystack, const std::u16string& foldedNeedle, Folding folding) {
  if (foldedNeedle.empty()) return true;
  if (isAscii(haystack)) {
    // An ASCII haystack folds to ASCII, so a needle with any other unit cannot occur in it.
    const bool needleAscii =
        std::all_of(foldedNeedle.begin(), foldedNeedle.end(), [](char16_t u) { return u < 0x80; });
    return needleAscii && asciiContains(haystack, foldedNeedle);
  }
  thread_local std::u16string folded;
  foldInto(haystack, folded, folding);
  return folded.find(foldedNeedle) != std::u16string::npos;
}

std::string lowerCased(std::string_view text) {
  if (isAscii(text)) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(asciiLower(c));
    return lower;
  }
  icu::UnicodeString unicode = icuSupport::fromUtf8(text);
  unicode.toLower(icu::Locale::getRoot());
  return icuSupport::toUtf8(unicode);
}

std::string withoutWhitespace(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  forEachCodePoint(text, [&](UChar32 c, std::size_t begin, std::size_t end) {
    if (!isFormedWhitespace(c)) kept.append(text.data() + begin, end - begin);
  });
  return kept;
}

std::size_t graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  icu::BreakIterator& iterator = characterIterator();
  icu::LocalUTextPointer utext = attachText(text, iterator);
  std::size_t count = 0;
  for (int32_t boundary = iterator.next(); boundary != icu::BreakIterator::DONE; boundary = iterator.next()) {
    ++count;
  }
  return count;
}

Prefix graphemePrefix(std::string_view text, std::size_t limit) {
  if (text.empty()) return {};
  if (limit == 0) return {std::string(), true};
  icu::BreakIterator& iterator = characterIterator();
  icu::LocalUTextPointer utext = attachText(text, iterator);
  // next(n) moves n boundaries at once; it stops at DONE when the text has fewer clusters.
  const auto steps = static_cast<int32_t>(std::min<std::size_t>(limit, INT32_MAX));
  iterator.first();
  const int32_t boundary = iterator.next(steps);
  if (boundary == icu::BreakIterator::DONE || static_cast<std::size_t>(boundary) >= text.size()) {
    return {std::string(text), false};
  }
  return {std::string(text.substr(0, static_cast<std::size_t>(boundary))), true};
}

std::size_t graphemeBoundaryAtOrBefore(std::string_view text, std::size_t byteLimit) {
  if (byteLimit >= text.size()) return text.size();
  icu::BreakIterator& iterator = characterIterator();
  icu::LocalUTextPointer utext = attachText(text, iterator);
  // The first boundary after the limit is found from the code point the limit falls in, so
  // the boundary before it is the last one at or before the limit.
  iterator.following(static_cast<int32_t>(std::min<std::size_t>(byteLimit, INT32_MAX)));
  return static_cast<std::size_t>(iterator.previous());
}

}  // namespace wren::platform

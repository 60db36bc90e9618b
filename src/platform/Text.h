#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wren::platform {

// Unicode text operations (ICU). All strings are UTF-8.

// Replaces every ill-formed UTF-8 sequence by U+FFFD (maximal subparts, as the Unicode
// standard recommends). Valid text is returned unchanged.
std::string toValidUtf8(std::string_view text);

// Removes leading and trailing Unicode white space and line breaks.
std::string trimWhitespace(std::string_view text);

// What a folded comparison ignores besides letter case, which it always ignores:
// diacritics ("é" folds like "e") and character width (the full-width "Ａ" and the
// half-width "ｶ" fold like "A" and "カ").
struct Folding {
  bool diacritics = true;
  bool width = false;
};

// Text folded for comparisons that ignore case and diacritics, with no locale:
// "Café", "CAFE" and "cafe" fold alike.
std::u16string foldForSearch(std::string_view text);
// The same with a choice of what else is ignored.
std::u16string foldForSearch(std::string_view text, Folding folding);
// Whole-text comparison ignoring case and diacritics.
bool equalsIgnoringCaseAndDiacritics(std::string_view a, std::string_view b);
// True when needle occurs in haystack, ignoring case and diacritics. An empty needle
// matches everything.
bool containsIgnoringCaseAndDiacritics(std::string_view haystack, std::string_view needle);
// As above, with a needle folded once by foldForSearch (for filtering many texts).
bool containsFolded(std::string_view haystack, const std::u16string& foldedNeedle);
bool containsFolded(std::string_view haystack, const std::u16string& foldedNeedle, Folding folding);

// The text in lower case by the Unicode default mapping, the same in every locale.
std::string lowerCased(std::string_view text);
// The text without its white space characters (Unicode White_Space: spaces of every
// width, tabs, line breaks, no-break and ideographic spaces).
std::string withoutWhitespace(std::string_view text);

// User-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view text);
// The first `limit` grapheme clusters of the text; `truncated` tells whether anything was cut.
struct Prefix {
  std::string text;
  bool truncated = false;
};
Prefix graphemePrefix(std::string_view text, std::size_t limit);
// The byte length of the longest run of whole grapheme clusters at the start of the text
// that takes at most `byteLimit` bytes: 0 when even the first cluster is longer.
std::size_t graphemeBoundaryAtOrBefore(std::string_view text, std::size_t byteLimit);

}  // namespace wren::platform

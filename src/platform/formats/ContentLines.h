#pragma once

// Content lines, the text layer that iCalendar (RFC 5545) and vCard (RFC 6350) share: logical
// lines "NAME;PARAM=value:value" folded into physical lines of at most 75 octets, grouped
// into components between BEGIN and END lines, with TEXT values escaped. Nothing here
// knows a property's meaning, so every codec of either format can keep the lines it does
// not model byte for byte:
//
//   std::optional<RawComponent> root = splitComponents(text);   // VCALENDAR, VCARD...
//   RawComponent* event = root->masterChild("VEVENT");
//   event->setLine("SUMMARY:" + escapeText(title));               // the other lines stay
//   std::string written = emitComponent(*root);                   // CRLF, folded at 75 octets

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wren::platform {

// One content line as it stands in the file.
struct ContentLine {
  std::string name;      // the property name, upper-cased ("DTSTART", "X-FOO")
  std::string unfolded;  // the logical line, unfolded, without its line end
  std::string raw;       // the physical lines as read, joined by CRLF, without the final CRLF

  // A line the helper writes itself (raw is its folded form).
  static ContentLine fromLogical(std::string_view logical);
};

// A component with its own lines and its nested components, in file order
// (properties first, then children, as writers emit them).
struct RawComponent {
  std::string name;  // "VCALENDAR", "VEVENT", "VALARM", "VCARD"...
  std::vector<ContentLine> lines;
  std::vector<RawComponent> children;

  // The first line with this property name, or nothing.
  const ContentLine* line(std::string_view propertyName) const;
  // Replaces every line with that property name by this one (added at the end when absent).
  void setLine(const ContentLine& replacement);
  void setLine(std::string_view logical) { setLine(ContentLine::fromLogical(logical)); }
  void removeLines(std::string_view propertyName);
  // The master of a series among the children of that name: the first without a
  // RECURRENCE-ID, else the first of them; null when there is none.
  RawComponent* masterChild(std::string_view componentName);
  const RawComponent* masterChild(std::string_view componentName) const;
};

// Components nested in one another that the split keeps. Files nest three or four levels
// (VCALENDAR, VEVENT, VALARM); copies, writers and destructors of a RawComponent go down one
// call per level, so a file nested deeper does not split, whatever thread reads it.
inline constexpr std::size_t kMaxComponentNesting = 64;

// Splits the text (CRLF or LF line ends) into its root component; nothing when the text does
// not hold a well-nested BEGIN/END structure, or nests components deeper than
// kMaxComponentNesting.
std::optional<RawComponent> splitComponents(std::string_view text);

// How forgiving a split is, for formats whose files come from many writers (vCard).
struct SplitOptions {
  // vCard 2.1: a quoted-printable value continues on the next physical line after a soft
  // line break ("=" at the end of the line), whatever that line starts with. The soft
  // break is removed from the logical line, as decoding would remove it.
  bool quotedPrintableBreaks = false;
  // An END without its BEGIN is skipped, an END names the innermost open component
  // whatever it says, and components still open at the end of the text are closed there.
  bool lenient = false;
};
// Every root component of the text in order (a vCard file may hold several cards). Without
// `lenient`, nothing when the structure is not well nested.
std::optional<std::vector<RawComponent>> splitRootComponents(std::string_view text, SplitOptions options);

// The raw components of a file text, split on first use: reading a file's values needs them
// only for a few files, saving it always, and one split serves both.
class LazySplit {
 public:
  explicit LazySplit(std::string_view text) : text_(text) {}

  std::string_view text() const { return text_; }
  // The root component; null when the text does not split.
  const RawComponent* get();
  // Hands the root component over for editing; the split is spent afterwards.
  std::optional<RawComponent> take();

 private:
  std::string_view text_;
  bool split_ = false;
  std::optional<RawComponent> root_;
};

// Writes a component: BEGIN/END lines and every line with CRLF. A line keeps its original
// physical form when every physical line is at most 75 octets, else it is folded again.
std::string emitComponent(const RawComponent& component);

// Folds a logical line into physical lines of at most 75 octets, each after the first
// starting with a space, and ends it with CRLF. A fold never splits a character (a grapheme
// cluster: a letter with its combining marks, an emoji sequence), so a lone character
// longer than a whole line is the only thing that makes a physical line longer.
std::string foldLine(std::string_view logical);
// The same without the final CRLF: the physical lines joined by CRLF and a space (the empty
// line stays empty).
std::string foldedText(std::string_view logical);
// Joins folded physical lines ("\r\n " or "\n\t" continuations) into logical lines.
std::string unfoldText(std::string_view text);

// TEXT value escaping (backslash, semicolon, comma, newline).
std::string escapeText(std::string_view text);
// The reverse of escapeText (an upper-case "\N" is a newline too).
std::string unescapeText(std::string_view text);
// The value of a content line: its logical text after the first ':' outside quotes.
std::string_view valueOf(const ContentLine& line);
// The value of a parameter of a logical line ("TZID"), unquoted; nothing when absent.
std::optional<std::string> parameterOf(std::string_view logical, std::string_view parameter);
// A parameter value, quoted when it holds ':', ';' or ','; a '"' inside becomes '\''.
std::string parameterValue(std::string_view value);

// One parameter of a content line as written, its value unquoted. vCard 2.1 writes bare
// values ("TEL;HOME;VOICE:..."): those have an empty name.
struct Parameter {
  std::string name;  // upper-cased
  std::string value;
};
// Every parameter of a logical line, in order.
std::vector<Parameter> parametersOf(std::string_view logical);

// A vCard property name split at its group ("item1.EMAIL" is EMAIL of group ITEM1);
// both upper-cased, the group empty when there is none.
struct GroupedName {
  std::string group;
  std::string name;
};
GroupedName splitGroup(std::string_view propertyName);

// Names of properties, parameters and components compare without regard to ASCII case.
std::string asciiUpper(std::string_view text);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace wren::platform

#include "platform/formats/ContentLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wren::platform {
namespace {

std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

std::vector<std::string> physicalLines(const std::string& folded) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < folded.size()) {
    const std::size_t end = folded.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "every line ends with CRLF";
    if (end == std::string::npos) break;
    lines.push_back(folded.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool isValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t j = 1; j < length; ++j) {
      if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

TEST(ContentLineFolding, FoldsAt75OctetsWithoutSplittingCharacters) {
  const struct {
    const char* name;
    std::string logical;
  } cases[] = {
      {"ascii", "DESCRIPTION:" + std::string(200, 'a')},
      {"two-byte", "SUMMARY:" + [] { std::string s; for (int i = 0; i < 80; ++i) s += "é"; return s; }()},
      {"three-byte", "SUMMARY:" + [] { std::string s; for (int i = 0; i < 60; ++i) s += "日程"; return s; }()},
      {"four-byte", "SUMMARY:x" + [] { std::string s; for (int i = 0; i < 40; ++i) s += "😀"; return s; }()},
      {"exactly 75", "SUMMARY:" + std::string(67, 'b')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folded = foldLine(c.logical);
    const std::vector<std::string> lines = physicalLines(folded);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), 75u) << "line " << i;
      if (i > 0) {
        EXPECT_EQ(lines[i].front(), ' ');
      }
      // Each physical line on its own is whole UTF-8: no character was cut in two.
      EXPECT_TRUE(isValidUtf8(i > 0 ? lines[i].substr(1) : lines[i])) << "line " << i;
    }
    EXPECT_EQ(unfoldText(folded), c.logical + "\r\n");
  }
  EXPECT_EQ(physicalLines(foldLine("SUMMARY:" + std::string(67, 'b'))).size(), 1u);
  EXPECT_EQ(physicalLines(foldLine("SUMMARY:" + std::string(68, 'b'))).size(), 2u);
}

// A character is what a reader sees as one: a letter with its combining marks, a flag, an
// emoji sequence. Folding between its code points would leave readers that decode each
// physical line on its own with a broken character.
TEST(ContentLineFolding, KeepsCombinedCharactersWhole) {
  const std::string accented = "e\xCC\x81";                                   // e + combining acute: 3 bytes
  const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";             // two regional indicators: 8 bytes
  const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl: 11 bytes
  std::string longMark = "x";
  for (int i = 0; i < 60; ++i) longMark += "\xCC\x81";  // one character of 121 bytes
  struct Case {
    const char* name;
    std::string logical;
    std::vector<std::size_t> lengths;  // of the physical lines, the leading space included
  };
  const std::vector<Case> cases = {
      // 74 bytes, then the accented e would reach 77: it moves whole to the next line.
      {"combining mark", "SUMMARY:" + std::string(66, 'a') + accented + accented, {74, 7}},
      {"flag", "SUMMARY:" + std::string(60, 'b') + flag + flag, {68, 17}},
      {"zwj sequence", "SUMMARY:" + std::string(60, 'c') + family, {68, 12}},
      {"one character longer than a line", "SUMMARY:" + longMark + "y", {8, 122, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folded = foldLine(c.logical);
    std::vector<std::size_t> lengths;
    for (const std::string& physical : physicalLines(folded)) lengths.push_back(physical.size());
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(unfoldText(folded), c.logical + "\r\n");
  }
  EXPECT_EQ(foldLine(""), "\r\n");
}

TEST(ContentLineFolding, UnfoldsBothLineEndsAndTabs) {
  EXPECT_EQ(unfoldText("SUMMARY:ab\r\n cd\n\tef\r\nX:1\r\n"), "SUMMARY:abcdef\r\nX:1\r\n");
}

TEST(RawComponents, SplitAndEmitKeepTextOfEveryLine) {
  const std::string text = crlf({
      "BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Test//EN", "BEGIN:VEVENT", "UID:1",
      "X-FOO;X-P=\"a;b\":a\\,b\\;c", "DESCRIPTION:first part of a long text that the writer", " folded here",
      "BEGIN:VALARM", "ACTION:AUDIO", "TRIGGER:-PT5M", "END:VALARM", "END:VEVENT", "END:VCALENDAR",
  });
  const std::optional<RawComponent> root = splitComponents(text);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name, "VCALENDAR");
  ASSERT_EQ(root->children.size(), 1u);
  const RawComponent& event = root->children[0];
  EXPECT_EQ(event.name, "VEVENT");
  ASSERT_EQ(event.children.size(), 1u);
  EXPECT_EQ(event.children[0].name, "VALARM");
  const ContentLine* description = event.line("description");
  ASSERT_TRUE(description);
  EXPECT_EQ(description->unfolded, "DESCRIPTION:first part of a long text that the writerfolded here");
  EXPECT_EQ(event.line("X-FOO")->unfolded, "X-FOO;X-P=\"a;b\":a\\,b\\;c");
  EXPECT_EQ(emitComponent(*root), text);
}

TEST(RawComponents, LfInputIsWrittenWithCrlfAndOverlongLinesAreFoldedAgain) {
  const std::string longLine = "X-LONG:" + std::string(100, 'z');
  const std::string text = "BEGIN:VCALENDAR\nVERSION:2.0\n" + longLine + "\nEND:VCALENDAR\n";
  const std::optional<RawComponent> root = splitComponents(text);
  ASSERT_TRUE(root);
  const std::string written = emitComponent(*root);
  EXPECT_EQ(written, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + foldLine(longLine) + "END:VCALENDAR\r\n");
}

TEST(RawComponents, RejectsBadNesting) {
  const char* bad[] = {
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VCALENDAR\r\n",
      "BEGIN:VCALENDAR\r\nEND:VEVENT\r\n",
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n",
      "",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(splitComponents(text));
  }
}

TEST(RawComponents, SetLineReplacesAllOfThatNameInPlace) {
  RawComponent component{"VEVENT", {}, {}};
  component.setLine("UID:1");
  component.setLine("ATTENDEE:mailto:a@example.com");
  component.lines.push_back(ContentLine::fromLogical("ATTENDEE:mailto:b@example.com"));
  component.setLine("SUMMARY:x");
  component.setLine("ATTENDEE:mailto:c@example.com");
  ASSERT_EQ(component.lines.size(), 3u);
  EXPECT_EQ(component.lines[1].unfolded, "ATTENDEE:mailto:c@example.com");
  component.removeLines("attendee");
  EXPECT_EQ(component.lines.size(), 2u);
  EXPECT_FALSE(component.line("ATTENDEE"));
}

// A card as phones and CardDAV servers write it: grouped properties ("item1."), repeated
// TYPE parameters, a folded base64 photo and escaped structured values. The layer keeps it
// byte for byte and finds its lines, though it knows nothing of vCard.
TEST(RawComponents, VcardsSplitAndEmitUnchanged) {
  const std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(70, 'A');
  const std::string text = crlf({
      "BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Phone//Contacts 17.0//EN", "N:Doe;John;Q.;Dr.;",
      "FN:Dr. John Q. Doe", "item1.EMAIL;type=INTERNET;type=pref:john@example.com",
      "item1.X-ABLabel:_$!<Other>!$_", "TEL;type=CELL;type=VOICE;type=pref:+1 555 0100",
      "ADR;TYPE=\"home,pref\":;;1 Main St\\nApt 2;Springfield;IL;62701;USA",
      photo.substr(0, 75), " " + photo.substr(75), "NOTE:Met at the conference\\, room 4", "END:VCARD",
  });
  const std::optional<RawComponent> card = splitComponents(text);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->name, "VCARD");
  EXPECT_TRUE(card->children.empty());
  ASSERT_TRUE(card->line("item1.email"));
  EXPECT_EQ(valueOf(*card->line("ITEM1.EMAIL")), "john@example.com");
  EXPECT_EQ(parameterOf(card->line("ADR")->unfolded, "type"), "home,pref");
  EXPECT_EQ(card->line("PHOTO")->unfolded, photo);
  EXPECT_EQ(unescapeText(valueOf(*card->line("NOTE"))), "Met at the conference, room 4");
  EXPECT_EQ(emitComponent(*card), text);
}

TEST(ContentLineText, FindsParametersOutsideTheValue) {
  const struct {
    const char* line;
    const char* parameter;
    std::optional<std::string> value;
  } cases[] = {
      {"DTSTART;TZID=Europe/Berlin:20250301T090000", "tzid", "Europe/Berlin"},
      {"ATTENDEE;CN=\"Doe, John\";ROLE=CHAIR:mailto:j@example.com", "ROLE", "CHAIR"},
      {"ATTENDEE;CN=\"a:b;c\":mailto:x@example.com", "CN", "a:b;c"},
      {"X-LOC;X-TITLE=Home:geo:1,2", "X-TITLE", "Home"},
      // Text after the value's ':' is never a parameter.
      {"DESCRIPTION:see;TZID=UTC", "TZID", std::nullopt},
      {"SUMMARY:plain", "CN", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(parameterOf(c.line, c.parameter), c.value);
  }
}

TEST(ContentLineText, EscapesTextAndQuotesParameters) {
  const struct {
    const char* input;
    const char* escaped;
  } texts[] = {
      {"a,b;c", "a\\,b\\;c"}, {"back\\slash", "back\\\\slash"}, {"two\nlines", "two\\nlines"},
      {"crlf\r\nline", "crlf\\nline"}, {"plain", "plain"},
  };
  for (const auto& c : texts) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(escapeText(c.input), c.escaped);
  }
  EXPECT_EQ(parameterValue("Europe/Berlin"), "Europe/Berlin");
  EXPECT_EQ(parameterValue("Room 1: east"), "\"Room 1: east\"");
  EXPECT_EQ(parameterValue("say \"hi\""), "say 'hi'");
}

TEST(ContentLineText, ListsEveryParameterIncludingBareOnes) {
  const std::vector<Parameter> parameters =
      parametersOf("item1.TEL;type=\"cell,voice\";HOME;X-Q=\"a:b;c\";PREF:+1 555;x=1");
  ASSERT_EQ(parameters.size(), 4u);
  EXPECT_EQ(parameters[0].name, "TYPE");
  EXPECT_EQ(parameters[0].value, "cell,voice");
  EXPECT_EQ(parameters[1].name, "");
  EXPECT_EQ(parameters[1].value, "HOME");
  EXPECT_EQ(parameters[2].value, "a:b;c");
  EXPECT_EQ(parameters[3].value, "PREF");
  EXPECT_TRUE(parametersOf("NOTE:a;b=c").empty());
  EXPECT_TRUE(parametersOf("NOTE").empty());
  EXPECT_EQ(parametersOf("X;Y=1").size(), 1u);
}

TEST(ContentLineText, SplitsVcardGroups) {
  EXPECT_EQ(splitGroup("item1.EMAIL").group, "ITEM1");
  EXPECT_EQ(splitGroup("item1.EMAIL").name, "EMAIL");
  EXPECT_EQ(splitGroup("X-ABLabel").group, "");
  EXPECT_EQ(splitGroup("X-ABLabel").name, "X-ABLABEL");
}

TEST(RawComponents, ForgivingSplitsForVcards) {
  const std::string text =
      "BEGIN:VCARD\r\nNOTE;ENCODING=QUOTED-PRINTABLE:one=\r\ntwo=0D=0A=\r\n three\r\nEND:VCARD\r\n"
      "END:VCARD\r\nBEGIN:VCARD\r\nFN:Open\r\n";
  EXPECT_FALSE(splitRootComponents(text, SplitOptions{}));
  const auto roots = splitRootComponents(text, SplitOptions{.quotedPrintableBreaks = true, .lenient = true});
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);
  ASSERT_EQ((*roots)[0].lines.size(), 1u);
  EXPECT_EQ(valueOf((*roots)[0].lines[0]), "onetwo=0D=0A three");
  EXPECT_EQ((*roots)[0].lines[0].raw, "NOTE;ENCODING=QUOTED-PRINTABLE:one=\r\ntwo=0D=0A=\r\n three");
  EXPECT_EQ((*roots)[1].line("FN")->unfolded, "FN:Open");
  // Without quoted-printable, a trailing "=" is just text.
  const auto plain = splitRootComponents("BEGIN:VCARD\r\nNOTE:a=\r\nFN:b\r\nEND:VCARD\r\n", SplitOptions{});
  ASSERT_TRUE(plain);
  EXPECT_EQ((*plain)[0].lines.size(), 2u);
}

}  // namespace
}  // namespace wren::platform

#pragma once

// The pieces the vCard reader and writer share: content lines taken apart, value escaping
// and dates, the labels of each kind of list, and which property of a card holds which of
// the contact's values. Internal to the vCard codec (VCard.h).

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Contact.h"
#include "platform/contacts/VCard.h"
#include "platform/formats/ContentLines.h"

namespace wren::platform::vcard {

// A content line of a card taken apart, its value decoded to UTF-8 (quoted-printable,
// base64 and CHARSET undone) with its escapes still in place.
struct Property {
  std::string group;  // upper-cased; empty when none
  std::string name;   // upper-cased
  // Bare vCard 2.1 parameters are named here: ENCODING for the encodings, else TYPE.
  std::vector<Parameter> parameters;
  std::vector<std::string> types;  // the TYPE values, lower-cased, one per entry
  std::string value;

  std::optional<std::string> parameter(std::string_view name) const;
};
Property decodeProperty(const ContentLine& line);

// The pieces of a value between separators that are not escaped, escapes kept.
std::vector<std::string_view> splitUnescaped(std::string_view value, char separator);
// A text value unescaped: "\n" is a line break, "\," "\;" "\\" "\:" their characters.
std::string textValue(std::string_view value);
// A name part (a component of N): its list items joined by spaces.
std::string namePart(std::string_view component);
// A text value escaped for writing (backslash, semicolon, comma, line breaks).
std::string escaped(std::string_view text);

// Dates as vCard writes them: 1990-03-14, 19900314, --0314, --03-14, 1990-03, --03, a
// date-time (the date part counts). `omitYear` (Apple's X-APPLE-OMIT-YEAR) drops the year,
// as does Apple's year 1604, which stands for none. Nothing for anything else.
std::optional<ContactDate> parseDate(std::string_view text, bool omitYear);
// The value that parseDate reads back: 1990-03-14, --0314 without a year.
std::string dateText(const ContactDate& date);

// The lists of a contact whose entries carry labels.
enum class ListKind { Email, Phone, Address, Url, Date, Relation, SocialProfile, InstantMessage };

// The label that TYPE values give an entry of that kind, or none.
std::optional<std::string> labelFromTypes(ListKind kind, const std::vector<std::string>& types);
// How a label is written: TYPE values, or (when `groupLabel`) an X-ABLabel line.
struct LabelForm {
  std::vector<std::string> types;  // written as TYPE=a,b
  std::optional<std::string> groupLabel;
};
LabelForm labelForm(ListKind kind, const std::optional<std::string>& label);

// Instant message services: the name a service is shown with, and the URI scheme IMPP
// writes for it.
std::string serviceForScheme(std::string_view scheme);
std::string schemeForService(std::string_view service);
// The name of a social profile service as address books spell it ("twitter" is Twitter).
std::string socialService(std::string_view written);

// Which of the contact's values a line holds; Other lines are kept as they are.
enum class Slot {
  Other,
  Version,
  Uid,
  Revision,
  Name,
  FormattedName,
  Nickname,
  Organization,
  JobTitle,
  Note,
  PhoneticGiven,
  PhoneticMiddle,
  PhoneticFamily,
  MaidenName,
  Birthday,
  Kind,
  Photo,
  Emails,
  Phones,
  Addresses,
  Urls,
  Dates,
  Relations,
  SocialProfiles,
  InstantMessages,
};

// A card decoded, with where each value came from.
struct DecodedCard {
  Card card;
  // The slot of each line of the component, in order. The X-ABLabel and X-ABADR lines of a
  // group belong to the slot of the list entry in that group.
  std::vector<Slot> lineSlots;
  // For each list slot, the lines of each entry in the order of the fields' list: the
  // property line, and the label lines of its group when no other entry shares the group.
  std::map<Slot, std::vector<std::vector<std::size_t>>> entryLines;
};
DecodedCard decodeCard(const RawComponent& card);

// The root components of a file, split as forgivingly as vCard files need. The cards are
// those named VCARD; a card's index counts only those.
std::vector<RawComponent> splitRoots(std::string_view text);
// The position among `roots` of card `index`, or nothing.
std::optional<std::size_t> rootOfCard(const std::vector<RawComponent>& roots, std::size_t index);

}  // namespace wren::platform::vcard

#pragma once

// vCard files (RFC 2426 for 3.0, RFC 6350 for 4.0, and the older 2.1) read into contact
// values and written back, on the shared content-line layer:
//
//   std::vector<Card> cards = readCards(fileText);        // every card the file holds
//   const ContactFields& ann = *cards[0].fields;
//   Contact edited = ...;                                 // a record of card 0, changed
//   std::string text = updatedFileText(fileText, 0, edited, now());
//
// Reading is forgiving, because address books come from phones, webmail, desktop mail
// programs and CardDAV servers: 2.1 quoted-printable values and CHARSET parameters, bare
// 2.1 parameters, Apple's grouped labels (item1.EMAIL with item1.X-ABLabel), folding that
// breaks the rules, cards without END. What cannot be read is skipped, never fatal.
//
// Writing changes only what changed: a card keeps every line of a property whose value is
// the same, and every property the helper does not model (PHOTO, CATEGORIES, X- lines...)
// byte for byte. New cards are vCard 3.0 with a UID; lines are folded at 75 octets.
//
// Labels: home, work, mobile (CELL), the faxes (FAX with HOME or WORK) and pager are TYPE
// values; every other built-in label and every custom one is written as Apple does it, as
// an X-ABLabel line in the property's group. Both forms are read.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Contact.h"
#include "platform/Instant.h"

namespace wren::platform::vcard {

enum class Version { V21, V30, V40 };

// One card of a file.
struct Card {
  enum class Kind { Contact, Group };

  Kind kind = Kind::Contact;
  Version version = Version::V30;
  std::string uid;  // without a "urn:uuid:" prefix; may be empty
  // The contact's values. Without a name (N) the formatted name (FN) stands in as the
  // given name, or as the organization of an organization card.
  std::shared_ptr<const ContactFields> fields;
  bool hasPhoto = false;
  // Group cards (KIND:group, X-ADDRESSBOOKSERVER-KIND:group): the name and the UIDs of the
  // members, without "urn:uuid:".
  std::string groupName;
  std::vector<std::string> memberUids;
};

// Every card of the file, in order; the position in this list is the card's index below.
// A card that cannot be read at all still takes its place, with empty fields.
std::vector<Card> readCards(std::string_view text);

// The text of a new card (vCard 3.0) with every available value of the contact, the UID
// and the revision time.
std::string newCardText(const Contact& contact, std::string_view uid, Instant revision);

// The file's text with card `index` changed to hold the contact's available values (the
// values of keys that are not available stay as stored). A revision time is set, and a UID
// when the card had none. The other cards stay as they are.
std::string updatedFileText(std::string_view fileText, std::size_t index, const Contact& edited, Instant revision);

// The file's text without card `index`; nothing when no card would remain.
std::optional<std::string> fileTextWithout(std::string_view fileText, std::size_t index);

// The PHOTO line of card `index` as written (unfolded), when it has one.
std::optional<std::string> photoLine(std::string_view fileText, std::size_t index);

}  // namespace wren::platform::vcard

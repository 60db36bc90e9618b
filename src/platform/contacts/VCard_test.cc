#include "platform/contacts/VCard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/contacts/VCardSyntax.h"

namespace wren::platform::vcard {
namespace {

namespace label = contactLabel;

std::string crlf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Card onlyCard(const std::vector<Card>& cards) {
  EXPECT_EQ(cards.size(), 1u);
  return cards.empty() ? Card{} : cards.front();
}

Instant revision() { return Instant(std::chrono::seconds(1740821400)); }  // 2025-03-01 09:30:00 UTC

// A card as the phone and desktop address books of one maker export it: grouped labels,
// several TYPE parameters, a year-less birthday, a picture and properties no one else knows.
const std::string kAppleCard = crlf({
    "BEGIN:VCARD",
    "VERSION:3.0",
    "PRODID:-//Apple Inc.//iPhone OS 17.0//EN",
    "N:Appleseed;John;Q.;Dr.;Jr.",
    "FN:Dr. John Q. Appleseed Jr.",
    "NICKNAME:Johnny",
    "ORG:Apple Inc.;Engineering;Frameworks",
    "TITLE:Engineer",
    "item1.EMAIL;type=INTERNET;type=pref:john@icloud.com",
    "item1.X-ABLabel:iCloud",
    "EMAIL;type=INTERNET;type=WORK:john@apple.com",
    "TEL;type=IPHONE;type=CELL;type=VOICE;type=pref:+1 (408) 555-0100",
    "TEL;type=HOME;type=FAX:+1 408 555 0101",
    "item2.TEL:+1 408 555 0102",
    "item2.X-ABLabel:Boat",
    "item3.ADR;type=HOME;type=pref:;;1 Infinite Loop;Cupertino;CA;95014;United States",
    "item3.X-ABADR:us",
    "item4.URL;type=pref:https://apple.com",
    "item4.X-ABLabel:_$!<HomePage>!$_",
    "BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-14",
    "item5.X-ABDATE;type=pref:2010-06-01",
    "item5.X-ABLabel:_$!<Anniversary>!$_",
    "item6.X-ABRELATEDNAMES;type=pref:Jane Appleseed",
    "item6.X-ABLabel:_$!<Spouse>!$_",
    "X-SOCIALPROFILE;type=twitter;x-user=jappleseed:http://twitter.com/jappleseed",
    "IMPP;X-SERVICE-TYPE=Skype;type=HOME;type=pref:skype:john.appleseed",
    "X-AIM;type=WORK:johnaim",
    "X-PHONETIC-FIRST-NAME:Jon",
    "X-PHONETIC-LAST-NAME:Apple-seed",
    "X-MAIDENNAME:Smith",
    "NOTE:Met at WWDC\\, 2019\\nSecond line",
    "CATEGORIES:friends,work",
    "X-CUSTOM-THING;X-PARAM=1:keep me \\, exactly",
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD",
    "REV:2023-01-01T00:00:00Z",
    "UID:1234-5678",
    "END:VCARD",
});

TEST(VCardReading, ReadsAGroupedThreeZeroCardWithEveryModelledProperty) {
  const Card card = onlyCard(readCards(kAppleCard));
  const ContactFields& f = *card.fields;
  EXPECT_EQ(card.version, Version::V30);
  EXPECT_EQ(card.uid, "1234-5678");
  EXPECT_TRUE(card.hasPhoto);
  EXPECT_EQ(card.kind, Card::Kind::Contact);

  EXPECT_EQ(f.text(ContactKey::FamilyName), "Appleseed");
  EXPECT_EQ(f.text(ContactKey::GivenName), "John");
  EXPECT_EQ(f.text(ContactKey::MiddleName), "Q.");
  EXPECT_EQ(f.text(ContactKey::NamePrefix), "Dr.");
  EXPECT_EQ(f.text(ContactKey::NameSuffix), "Jr.");
  EXPECT_EQ(f.text(ContactKey::Nickname), "Johnny");
  EXPECT_EQ(f.text(ContactKey::OrganizationName), "Apple Inc.");
  EXPECT_EQ(f.text(ContactKey::DepartmentName), "Engineering");
  EXPECT_EQ(f.text(ContactKey::JobTitle), "Engineer");
  EXPECT_EQ(f.text(ContactKey::PhoneticGivenName), "Jon");
  EXPECT_EQ(f.text(ContactKey::PhoneticFamilyName), "Apple-seed");
  EXPECT_EQ(f.text(ContactKey::PreviousFamilyName), "Smith");
  EXPECT_EQ(f.text(ContactKey::Note), "Met at WWDC, 2019\nSecond line");
  EXPECT_EQ(f.contactType, ContactType::Person);

  EXPECT_EQ(f.emailAddresses, (std::vector<LabeledText>{{std::string(label::kEmailICloud), "john@icloud.com"},
                                                         {std::string(label::kWork), "john@apple.com"}}));
  EXPECT_EQ(f.phoneNumbers, (std::vector<LabeledText>{{std::string(label::kPhoneIPhone), "+1 (408) 555-0100"},
                                                       {std::string(label::kPhoneHomeFax), "+1 408 555 0101"},
                                                       {"Boat", "+1 408 555 0102"}}));
  ASSERT_EQ(f.postalAddresses.size(), 1u);
  EXPECT_EQ(f.postalAddresses[0].label, std::string(label::kHome));
  EXPECT_EQ(f.postalAddresses[0].value, (PostalAddress{"1 Infinite Loop", "", "Cupertino", "", "CA", "95014",
                                                       "United States", "us"}));
  EXPECT_EQ(f.urlAddresses, (std::vector<LabeledText>{{std::string(label::kUrlHomePage), "https://apple.com"}}));
  EXPECT_EQ(f.birthday, (ContactDate{std::nullopt, 3, 14}));
  EXPECT_EQ(f.dates, (std::vector<LabeledValue<ContactDate>>{{std::string(label::kDateAnniversary), {2010, 6, 1}}}));
  EXPECT_EQ(f.relations, (std::vector<LabeledText>{{"_$!<Spouse>!$_", "Jane Appleseed"}}));
  EXPECT_EQ(f.socialProfiles, (std::vector<LabeledValue<SocialProfile>>{
                                  {std::nullopt, {"Twitter", "jappleseed", "http://twitter.com/jappleseed"}}}));
  EXPECT_EQ(f.instantMessageAddresses,
            (std::vector<LabeledValue<InstantMessageAddress>>{{std::string(label::kHome), {"Skype", "john.appleseed"}},
                                                              {std::string(label::kWork), {"AIM", "johnaim"}}}));
}

TEST(VCardReading, ReadsTwoOneQuotedPrintableAndLegacyCharsets) {
  // A phone's export: bare parameters, quoted-printable with a soft line break, and values
  // in Latin-1 and GB2312 as their CHARSET says.
  const std::string text = crlf({
      "BEGIN:VCARD",
      "VERSION:2.1",
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;;",
      "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen M=C3=BCller",
      "TEL;CELL;PREF:+49 170 1234567",
      "TEL;WORK;FAX:+49 30 1234",
      "EMAIL;INTERNET;HOME:juergen@example.de",
      "ADR;HOME;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=DFe 1;M=FCnchen;;80331;Deutschland",
      "NOTE;ENCODING=QUOTED-PRINTABLE:Erste Zeile=0D=0A=",
      "Zweite Zeile",
      "ORG;CHARSET=GB2312:\xD5\xC5\xC8\xFD\xB9\xAB\xCB\xBE",
      "TITLE;CHARSET=X-NO-SUCH-CHARSET:Chef",
      "END:VCARD",
  });
  const Card card = onlyCard(readCards(text));
  const ContactFields& f = *card.fields;
  EXPECT_EQ(card.version, Version::V21);
  EXPECT_EQ(f.text(ContactKey::FamilyName), "Müller");
  EXPECT_EQ(f.text(ContactKey::GivenName), "Jürgen");
  EXPECT_EQ(f.phoneNumbers, (std::vector<LabeledText>{{std::string(label::kPhoneMobile), "+49 170 1234567"},
                                                       {std::string(label::kPhoneWorkFax), "+49 30 1234"}}));
  EXPECT_EQ(f.emailAddresses, (std::vector<LabeledText>{{std::string(label::kHome), "juergen@example.de"}}));
  ASSERT_EQ(f.postalAddresses.size(), 1u);
  EXPECT_EQ(f.postalAddresses[0].value.street, "Hauptstraße 1");
  EXPECT_EQ(f.postalAddresses[0].value.city, "München");
  EXPECT_EQ(f.text(ContactKey::Note), "Erste Zeile\r\nZweite Zeile");
  EXPECT_EQ(f.text(ContactKey::OrganizationName), "张三公司");
  EXPECT_EQ(f.text(ContactKey::JobTitle), "Chef");
}

TEST(VCardReading, ReadsFourZeroValuesKindsAndRelations) {
  const std::string text = crlf({
      "BEGIN:VCARD",
      "VERSION:4.0",
      "KIND:org",
      "FN:Acme GmbH",
      "TEL;TYPE=\"work,voice\";VALUE=uri:tel:+49-30-555",
      "EMAIL;TYPE=work;PREF=1:info@acme.example",
      "BDAY:--0314",
      "ANNIVERSARY:20100601",
      "RELATED;TYPE=spouse;VALUE=text:Jane",
      "RELATED;TYPE=friend:urn:uuid:0d2a-77",
      "IMPP;PREF=1:xmpp:acme@jabber.example",
      "PHOTO:data:image/png;base64,iVBORw0KGgo=",
      "UID:urn:uuid:4fbe8971-0bc3-424c-9c26-36c3e1eff6b1",
      "END:VCARD",
  });
  const Card card = onlyCard(readCards(text));
  const ContactFields& f = *card.fields;
  EXPECT_EQ(card.version, Version::V40);
  EXPECT_EQ(card.uid, "4fbe8971-0bc3-424c-9c26-36c3e1eff6b1");
  EXPECT_EQ(f.contactType, ContactType::Organization);
  // An organization card without N is named by its formatted name as organization.
  EXPECT_EQ(f.text(ContactKey::OrganizationName), "Acme GmbH");
  EXPECT_EQ(f.text(ContactKey::GivenName), "");
  EXPECT_EQ(f.phoneNumbers, (std::vector<LabeledText>{{std::string(label::kWork), "+49-30-555"}}));
  EXPECT_EQ(f.emailAddresses, (std::vector<LabeledText>{{std::string(label::kWork), "info@acme.example"}}));
  EXPECT_EQ(f.birthday, (ContactDate{std::nullopt, 3, 14}));
  EXPECT_EQ(f.dates, (std::vector<LabeledValue<ContactDate>>{{std::string(label::kDateAnniversary), {2010, 6, 1}}}));
  EXPECT_EQ(f.relations, (std::vector<LabeledText>{{"_$!<Spouse>!$_", "Jane"}}));
  EXPECT_EQ(f.instantMessageAddresses,
            (std::vector<LabeledValue<InstantMessageAddress>>{{std::nullopt, {"Jabber", "acme@jabber.example"}}}));
  EXPECT_TRUE(card.hasPhoto);
}

TEST(VCardReading, ReadsGroupCardsOfBothKinds) {
  const std::string text = crlf({"BEGIN:VCARD", "VERSION:4.0", "KIND:group", "FN:Friends",
                                 "MEMBER:urn:uuid:aaa", "MEMBER:urn:uuid:bbb", "UID:group-1", "END:VCARD",
                                 "BEGIN:VCARD", "VERSION:3.0", "X-ADDRESSBOOKSERVER-KIND:group", "N:Family",
                                 "FN:Family", "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:ccc", "END:VCARD"});
  const std::vector<Card> cards = readCards(text);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].kind, Card::Kind::Group);
  EXPECT_EQ(cards[0].groupName, "Friends");
  EXPECT_EQ(cards[0].memberUids, (std::vector<std::string>{"aaa", "bbb"}));
  EXPECT_EQ(cards[1].kind, Card::Kind::Group);
  EXPECT_EQ(cards[1].groupName, "Family");
  EXPECT_EQ(cards[1].memberUids, (std::vector<std::string>{"ccc"}));
}

TEST(VCardReading, ReadsWhatItCanOfMessyFiles) {
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> givenNames;  // of the cards read, in order
  } cases[] = {
      {"LF line ends and a byte order mark",
       "\xEF\xBB\xBF" "BEGIN:VCARD\nVERSION:3.0\nN:;Ann;;;\nEND:VCARD\n", {"Ann"}},
      {"tab folding", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Ver\r\n\tonika;;;\r\nEND:VCARD\r\n", {"Veronika"}},
      {"no END at the end of the file", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Bo;;;\r\n", {"Bo"}},
      {"a line broken without folding", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Cy;;;\r\nNOTE:one\r\ntwo\r\nEND:VCARD\r\n",
       {"Cy"}},
      {"no FN, no N, no UID", "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n", {""}},
      {"FN only", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dee Dee\r\nEND:VCARD\r\n", {"Dee Dee"}},
      {"several cards and junk between them",
       "BEGIN:VCARD\r\nN:;Ed;;;\r\nEND:VCARD\r\ngarbage\r\nBEGIN:VCARD\r\nN:;Flo;;;\r\nEND:VCARD\r\n", {"Ed", "Flo"}},
      {"an END without BEGIN", "END:VCARD\r\nBEGIN:VCARD\r\nN:;Gus;;;\r\nEND:VCARD\r\n", {"Gus"}},
      {"an unknown encoding", "BEGIN:VCARD\r\nN;ENCODING=X-ROT13:;Hal;;;\r\nEND:VCARD\r\n", {"Hal"}},
      {"ill-formed UTF-8", "BEGIN:VCARD\r\nN:;I\xFFvy;;;\r\nEND:VCARD\r\n", {"I\xEF\xBF\xBDvy"}},
      {"a calendar, not a card", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", {}},
      {"nothing", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> given;
    for (const Card& card : readCards(c.text)) given.push_back(card.fields->text(ContactKey::GivenName));
    EXPECT_EQ(given, c.givenNames);
  }
}

TEST(VCardReading, ReadsAHugePictureWithoutKeepingIt) {
  std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:";
  photo.append(10 * 1024 * 1024, 'A');
  const std::string text = crlf({"BEGIN:VCARD", "VERSION:3.0", "N:;Pic;;;", photo, "END:VCARD"});
  const Card card = onlyCard(readCards(text));
  EXPECT_TRUE(card.hasPhoto);
  EXPECT_FALSE(card.fields->imageData);
  EXPECT_EQ(photoLine(text, 0)->size(), photo.size());
}

TEST(VCardDates, ReadsTheFormsWritersUse) {
  const struct {
    const char* text;
    bool omitYear;
    std::optional<ContactDate> date;
  } cases[] = {
      {"1990-03-14", false, ContactDate{1990, 3, 14}},
      {"19900314", false, ContactDate{1990, 3, 14}},
      {"1990-03-14T00:00:00Z", false, ContactDate{1990, 3, 14}},
      {"--0314", false, ContactDate{std::nullopt, 3, 14}},
      {"--03-14", false, ContactDate{std::nullopt, 3, 14}},
      {"1604-03-14", true, ContactDate{std::nullopt, 3, 14}},
      {"1604-03-14", false, ContactDate{std::nullopt, 3, 14}},
      {"2000-03-14", true, ContactDate{std::nullopt, 3, 14}},
      {"1990-03", false, ContactDate{1990, 3, std::nullopt}},
      {"--03", false, ContactDate{std::nullopt, 3, std::nullopt}},
      {"1990-13-01", false, std::nullopt},
      {"circa 1800", false, std::nullopt},
      {"1990-0314", false, std::nullopt},
      {"", false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseDate(c.text, c.omitYear), c.date);
    if (c.date && c.date->month) {
      EXPECT_EQ(parseDate(dateText(*c.date), false), c.date);
    }
  }
}

// A contact with a value of every kind the writer writes, labels of every form included.
Contact everything() {
  Contact contact;
  contact.setText(ContactKey::GivenName, "Anna");
  contact.setText(ContactKey::FamilyName, "Müller; Meier");
  contact.setText(ContactKey::MiddleName, "Maria");
  contact.setText(ContactKey::Nickname, "Anni, die Große");
  contact.setText(ContactKey::OrganizationName, "Acme, Inc.");
  contact.setText(ContactKey::DepartmentName, "R&D");
  contact.setText(ContactKey::JobTitle, "Lead\\Engineer");
  contact.setText(ContactKey::Note, "Line one\nLine two, with a comma; and a semicolon");
  contact.setEmailAddresses({{std::string(label::kHome), "anna@example.org"},
                             {std::string(label::kEmailICloud), "anna@icloud.com"},
                             {"Privat, alt", "old@example.org"},
                             {std::nullopt, "plain@example.org"}});
  contact.setPhoneNumbers({{std::string(label::kPhoneMobile), "+49 170 1234567"},
                           {std::string(label::kPhoneIPhone), "+49 171 1"},
                           {std::string(label::kPhoneMain), "+49 30 0"},
                           {std::string(label::kPhoneHomeFax), "+49 30 1"},
                           {std::string(label::kPhoneWorkFax), "+49 30 2"},
                           {std::string(label::kPhoneOtherFax), "+49 30 3"},
                           {std::string(label::kPhonePager), "+49 30 4"},
                           {std::string(label::kOther), "+49 30 5"},
                           {std::string(label::kSchool), "+49 30 6"},
                           {std::string(label::kWork), "+49 30 7"}});
  contact.setPostalAddresses({{std::string(label::kWork),
                               {"Hauptstraße 1\nHinterhaus", "", "Berlin", "", "BE", "10115", "Deutschland", "de"}},
                              {"Ferienhaus", {"Strandweg 2", "", "Sylt", "", "", "", "", ""}}});
  contact.setUrlAddresses({{std::string(label::kUrlHomePage), "https://anna.example.org/a,b;c"},
                           {std::nullopt, "https://example.org"}});
  contact.setBirthday(ContactDate{std::nullopt, 2, 29});
  return contact;
}

TEST(VCardWriting, ANewCardReadsBackAsWritten) {
  const Contact contact = everything();
  const std::string text = newCardText(contact, "uid-1", revision());
  const std::vector<std::string> lines = linesOf(text);
  EXPECT_EQ(lines.front(), "BEGIN:VCARD");
  EXPECT_EQ(lines[1], "VERSION:3.0");
  EXPECT_TRUE(contains(lines, "UID:uid-1"));
  EXPECT_TRUE(contains(lines, "REV:20250301T093000Z"));
  EXPECT_TRUE(contains(lines, "FN:Anna Maria Müller\\; Meier"));
  EXPECT_TRUE(contains(lines, "TEL;TYPE=CELL:+49 170 1234567"));
  EXPECT_TRUE(contains(lines, "TEL;TYPE=HOME,FAX:+49 30 1"));
  EXPECT_TRUE(contains(lines, "BDAY:--0229"));
  for (const std::string& line : lines) EXPECT_LE(line.size(), 75u) << line;

  const Card card = onlyCard(readCards(text));
  const ContactFields& f = *card.fields;
  EXPECT_EQ(card.uid, "uid-1");
  for (ContactKey key : {ContactKey::GivenName, ContactKey::FamilyName, ContactKey::MiddleName, ContactKey::Nickname,
                         ContactKey::OrganizationName, ContactKey::DepartmentName, ContactKey::JobTitle, ContactKey::Note})
    EXPECT_EQ(f.text(key), contact.text(key)) << static_cast<int>(key);
  EXPECT_EQ(f.emailAddresses, contact.emailAddresses());
  EXPECT_EQ(f.phoneNumbers, contact.phoneNumbers());
  EXPECT_EQ(f.postalAddresses, contact.postalAddresses());
  EXPECT_EQ(f.urlAddresses, contact.urlAddresses());
  EXPECT_EQ(f.birthday, contact.birthday());
  EXPECT_EQ(f.contactType, ContactType::Person);
}

TEST(VCardWriting, ReadOnlyKindsOfValuesSurviveAnExportRoundTrip) {
  const Card stored = onlyCard(readCards(kAppleCard));
  const Contact contact("id", stored.fields, {ContactKey::SocialProfiles, ContactKey::InstantMessageAddresses,
                                              ContactKey::Relations, ContactKey::Dates, ContactKey::NamePrefix,
                                              ContactKey::NameSuffix, ContactKey::PhoneticGivenName,
                                              ContactKey::PhoneticFamilyName, ContactKey::PreviousFamilyName},
                        nullptr);
  const Card written = onlyCard(readCards(newCardText(contact, "x", revision())));
  const ContactFields& f = *written.fields;
  EXPECT_EQ(f.socialProfiles, stored.fields->socialProfiles);
  EXPECT_EQ(f.instantMessageAddresses, stored.fields->instantMessageAddresses);
  EXPECT_EQ(f.relations, stored.fields->relations);
  EXPECT_EQ(f.dates, stored.fields->dates);
  for (ContactKey key : {ContactKey::NamePrefix, ContactKey::NameSuffix, ContactKey::PhoneticGivenName,
                         ContactKey::PhoneticFamilyName, ContactKey::PreviousFamilyName})
    EXPECT_EQ(f.text(key), stored.fields->text(key));
  // Keys the record does not carry are not written.
  EXPECT_TRUE(f.emailAddresses.empty());
  EXPECT_EQ(f.text(ContactKey::GivenName), "");
}

TEST(VCardWriting, AnOrganizationIsMarkedAsOne) {
  Contact company;
  company.setText(ContactKey::OrganizationName, "Acme");
  company.setContactType(ContactType::Organization);
  const std::string text = newCardText(company, "c", revision());
  EXPECT_TRUE(contains(linesOf(text), "X-ABShowAs:COMPANY"));
  EXPECT_TRUE(contains(linesOf(text), "FN:Acme"));
  EXPECT_EQ(onlyCard(readCards(text)).fields->contactType, ContactType::Organization);
}

Contact storedContact(const std::string& text, std::size_t index = 0) {
  const std::vector<Card> cards = readCards(text);
  ContactKeys keys;
  for (std::size_t i = 0; i < kContactKeyCount; ++i)
    if (static_cast<ContactKey>(i) != ContactKey::ImageData) keys.push_back(static_cast<ContactKey>(i));
  return Contact("id", cards.at(index).fields, keys, nullptr);
}

TEST(VCardUpdating, KeepsEveryLineOfWhatDidNotChange) {
  Contact edited = storedContact(kAppleCard);
  edited.setText(ContactKey::JobTitle, "Senior Engineer");
  const std::string text = updatedFileText(kAppleCard, 0, edited, revision());

  // Lines longer than 75 octets are folded when written; their logical lines stay.
  std::vector<std::string> before = linesOf(unfoldText(kAppleCard));
  std::vector<std::string> after = linesOf(unfoldText(text));
  ASSERT_EQ(before.size(), after.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == "TITLE:Engineer") {
      EXPECT_EQ(after[i], "TITLE:Senior Engineer");
    } else if (before[i].starts_with("REV:")) {
      EXPECT_EQ(after[i], "REV:20250301T093000Z");
    } else {
      EXPECT_EQ(after[i], before[i]);
    }
  }
}

TEST(VCardUpdating, RewritesAListButKeepsTheLinesOfEntriesThatStay) {
  Contact edited = storedContact(kAppleCard);
  std::vector<LabeledText> phones = edited.phoneNumbers();
  phones.erase(phones.begin() + 1);                                   // the home fax goes
  phones.push_back({std::string(label::kPhoneMain), "+1 408 555 0199"});  // a new main number
  edited.setPhoneNumbers(phones);
  const std::string text = updatedFileText(kAppleCard, 0, edited, revision());
  const std::vector<std::string> lines = linesOf(unfoldText(text));

  EXPECT_TRUE(contains(lines, "TEL;type=IPHONE;type=CELL;type=VOICE;type=pref:+1 (408) 555-0100"));
  EXPECT_TRUE(contains(lines, "item2.TEL:+1 408 555 0102"));
  EXPECT_TRUE(contains(lines, "item2.X-ABLabel:Boat"));
  EXPECT_FALSE(contains(lines, "TEL;type=HOME;type=FAX:+1 408 555 0101"));
  EXPECT_TRUE(contains(lines, "item7.TEL:+1 408 555 0199"));
  EXPECT_TRUE(contains(lines, "item7.X-ABLabel:_$!<Main>!$_"));
  // The phone lines stay together where they were.
  const auto first = std::find(lines.begin(), lines.end(), "TEL;type=IPHONE;type=CELL;type=VOICE;type=pref:+1 (408) 555-0100");
  EXPECT_EQ(*(first - 1), "EMAIL;type=INTERNET;type=WORK:john@apple.com");
  EXPECT_EQ(onlyCard(readCards(text)).fields->phoneNumbers, phones);
  for (const char* kept : {"X-CUSTOM-THING;X-PARAM=1:keep me \\, exactly", "CATEGORIES:friends,work",
                           "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD", "item3.X-ABADR:us",
                           "item1.X-ABLabel:iCloud", "BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-14"})
    EXPECT_TRUE(contains(lines, kept)) << kept;
}

TEST(VCardUpdating, NamesClearingAndCardsWithoutUid) {
  const std::string stored =
      crlf({"BEGIN:VCARD", "VERSION:3.0", "FN:Dee Dee", "NOTE:old note", "BDAY:1990-01-02", "END:VCARD"});
  Contact edited = storedContact(stored);
  EXPECT_EQ(edited.text(ContactKey::GivenName), "Dee Dee");
  edited.setText(ContactKey::FamilyName, "Ramone");
  edited.setText(ContactKey::Note, "");
  edited.setBirthday(std::nullopt);
  const std::string text = updatedFileText(stored, 0, edited, revision());
  const std::vector<std::string> lines = linesOf(text);
  EXPECT_TRUE(contains(lines, "N:Ramone;Dee Dee;;;"));
  EXPECT_TRUE(contains(lines, "FN:Dee Dee Ramone"));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("FN:"); }), 1);
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("NOTE"); }));
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("BDAY"); }));
  EXPECT_FALSE(onlyCard(readCards(text)).uid.empty()) << "a card saved without a UID gets one";
}

TEST(VCardUpdating, ChangesOneCardOfSeveralAndRemovesOne) {
  const std::string file = crlf({"BEGIN:VCARD", "VERSION:3.0", "N:;One;;;", "UID:1", "END:VCARD", "BEGIN:VCARD",
                                 "VERSION:3.0", "N:;Two;;;", "UID:2", "X-KEEP:yes", "END:VCARD"});
  Contact second = storedContact(file, 1);
  second.setText(ContactKey::GivenName, "Zwei");
  const std::vector<Card> updated = readCards(updatedFileText(file, 1, second, revision()));
  ASSERT_EQ(updated.size(), 2u);
  EXPECT_EQ(updated[0].fields->text(ContactKey::GivenName), "One");
  EXPECT_EQ(updated[1].fields->text(ContactKey::GivenName), "Zwei");
  EXPECT_NE(updatedFileText(file, 1, second, revision()).find("X-KEEP:yes"), std::string::npos);

  const std::optional<std::string> rest = fileTextWithout(file, 0);
  ASSERT_TRUE(rest);
  ASSERT_EQ(readCards(*rest).size(), 1u);
  EXPECT_EQ(readCards(*rest)[0].uid, "2");
  EXPECT_FALSE(fileTextWithout(*rest, 0));
}

TEST(VCardUpdating, KeepsTheSyntaxOfAFourZeroCard) {
  const std::string stored = crlf({"BEGIN:VCARD", "VERSION:4.0", "FN:Shop", "ORG:Shop", "UID:s", "END:VCARD"});
  Contact edited = storedContact(stored);
  edited.setContactType(ContactType::Organization);
  edited.setBirthday(ContactDate{std::nullopt, 5, 6});
  const std::vector<std::string> lines = linesOf(updatedFileText(stored, 0, edited, revision()));
  EXPECT_TRUE(contains(lines, "KIND:org"));
  EXPECT_TRUE(contains(lines, "BDAY:--0506"));
  EXPECT_TRUE(contains(lines, "VERSION:4.0"));
}

}  // namespace
}  // namespace wren::platform::vcard

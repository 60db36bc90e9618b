#pragma once

// A contact as the contact store hands it out: the values of the properties that were asked
// for, and nothing of the others.
//
//   Contact ann = store.unifiedContact(id, {ContactKey::GivenName, ContactKey::EmailAddresses});
//   ann.isKeyAvailable(ContactKey::Note);     // false: the note was not fetched
//   ann.text(ContactKey::Note);               // "": an unfetched key reads as empty, never fails
//   Contact edited = ann;                     // a copy to edit; the store's record stays as it is
//   edited.setText(ContactKey::GivenName, "Anna");
//
// A new contact (Contact{}) carries every key. Copies share their values until one of them
// is changed, so handing out thousands of records costs no copying of their texts.

#include <bitset>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/PostalAddress.h"

namespace wren::platform {

// The properties of a contact, in the order the key sets list them.
enum class ContactKey : std::size_t {
  Identifier,
  GivenName,
  FamilyName,
  MiddleName,
  Nickname,
  OrganizationName,
  ContactType,
  JobTitle,
  EmailAddresses,
  PhoneNumbers,
  Birthday,
  NamePrefix,
  NameSuffix,
  PreviousFamilyName,
  PhoneticGivenName,
  PhoneticMiddleName,
  PhoneticFamilyName,
  DepartmentName,
  PostalAddresses,
  UrlAddresses,
  SocialProfiles,
  InstantMessageAddresses,
  Relations,
  Dates,
  Note,
  ImageData,
};
inline constexpr std::size_t kContactKeyCount = static_cast<std::size_t>(ContactKey::ImageData) + 1;

// The keys to fetch, in the order asked; a key may be named twice.
using ContactKeys = std::vector<ContactKey>;

// True for the keys whose value is one text (names, organisation, job title, note).
bool isTextKey(ContactKey key);

// A calendar day that may lack its year (a birthday kept without one), its month or its
// day, as address books store such dates.
struct ContactDate {
  std::optional<int> year;
  std::optional<int> month;
  std::optional<int> day;
  bool operator==(const ContactDate&) const = default;
};

// A value with its label: one of the built-in label constants below, a label as the person
// typed it, or none.
template <class Value>
struct LabeledValue {
  std::optional<std::string> label;
  Value value;
  bool operator==(const LabeledValue&) const = default;
};
using LabeledText = LabeledValue<std::string>;

struct SocialProfile {
  std::string service;  // "Twitter", "LinkedIn"... or as stored
  std::string username;
  std::string url;
  bool operator==(const SocialProfile&) const = default;
};

struct InstantMessageAddress {
  std::string service;  // "Jabber", "Skype", "QQ"... or as stored
  std::string username;
  bool operator==(const InstantMessageAddress&) const = default;
};

enum class ContactType { Person, Organization };

// Every value a contact can carry; which of them count is the record's business.
struct ContactFields {
  // The texts that are not empty, by key; most contacts have only a few of them.
  std::vector<std::pair<ContactKey, std::string>> texts;
  ContactType contactType = ContactType::Person;
  std::vector<LabeledText> emailAddresses;
  std::vector<LabeledText> phoneNumbers;  // the number's text as written
  std::vector<LabeledValue<PostalAddress>> postalAddresses;
  std::vector<LabeledText> urlAddresses;
  std::vector<LabeledValue<SocialProfile>> socialProfiles;
  std::vector<LabeledValue<InstantMessageAddress>> instantMessageAddresses;
  std::vector<LabeledText> relations;  // the related person's name
  std::vector<LabeledValue<ContactDate>> dates;
  std::optional<ContactDate> birthday;
  // The picture as the store keeps it (for a vCard, its PHOTO line); only its presence
  // matters to the helper.
  std::optional<std::string> imageData;

  // The text of a text key: empty when there is none.
  const std::string& text(ContactKey key) const;
  // Sets the text of a text key; an empty text removes it.
  void setText(ContactKey key, std::string value);
};

// What the store that made a record needs to save it again (its file, which card of the
// file); defined by each store.
struct ContactOrigin;

class Contact {
 public:
  // A new contact: every key available, every value empty, not stored.
  Contact();
  // A stored contact with the values of these keys available; the identifier always is.
  Contact(std::string identifier, std::shared_ptr<const ContactFields> fields, const ContactKeys& keys,
          std::shared_ptr<const ContactOrigin> origin);

  bool isKeyAvailable(ContactKey key) const { return available_[static_cast<std::size_t>(key)]; }
  // The keys the record carries, in key order.
  ContactKeys availableKeys() const;
  // The same contact with only those of its keys that are also among `keys`.
  Contact restrictedTo(const ContactKeys& keys) const;

  // Readers give the empty value for a key that is not available.
  const std::string& identifier() const { return identifier_; }
  const std::string& text(ContactKey key) const;
  ContactType contactType() const;
  const std::vector<LabeledText>& emailAddresses() const;
  const std::vector<LabeledText>& phoneNumbers() const;
  const std::vector<LabeledValue<PostalAddress>>& postalAddresses() const;
  const std::vector<LabeledText>& urlAddresses() const;
  const std::vector<LabeledValue<SocialProfile>>& socialProfiles() const;
  const std::vector<LabeledValue<InstantMessageAddress>>& instantMessageAddresses() const;
  const std::vector<LabeledText>& relations() const;
  const std::vector<LabeledValue<ContactDate>>& dates() const;
  const std::optional<ContactDate>& birthday() const;
  const std::optional<std::string>& imageData() const;

  // Writers change this record only; the store sees the change when it is saved.
  void setText(ContactKey key, std::string value);
  void setContactType(ContactType type);
  void setEmailAddresses(std::vector<LabeledText> values);
  void setPhoneNumbers(std::vector<LabeledText> values);
  void setPostalAddresses(std::vector<LabeledValue<PostalAddress>> values);
  void setUrlAddresses(std::vector<LabeledText> values);
  void setBirthday(std::optional<ContactDate> birthday);
  void setImageData(std::optional<std::string> data);

  // Every value, available or not: for the store that saves the record.
  const ContactFields& fields() const { return *fields_; }
  const std::shared_ptr<const ContactOrigin>& origin() const { return origin_; }

 private:
  // The value, or the empty value of its type when the key is not available.
  template <class Value>
  const Value& ifAvailable(ContactKey key, const Value& value) const {
    static const Value empty{};
    return isKeyAvailable(key) ? value : empty;
  }
  // The values, copied first when another record shares them.
  ContactFields& editable();

  std::string identifier_;  // empty until stored
  std::shared_ptr<const ContactFields> fields_;
  std::bitset<kContactKeyCount> available_;
  std::shared_ptr<const ContactOrigin> origin_;
};

// The built-in labels, stored as these constants; every other label is the person's text.
namespace contactLabel {
inline constexpr std::string_view kHome = "_$!<Home>!$_";
inline constexpr std::string_view kWork = "_$!<Work>!$_";
inline constexpr std::string_view kSchool = "_$!<School>!$_";
inline constexpr std::string_view kOther = "_$!<Other>!$_";
inline constexpr std::string_view kPhoneMobile = "_$!<Mobile>!$_";
inline constexpr std::string_view kPhoneIPhone = "iPhone";
inline constexpr std::string_view kPhoneMain = "_$!<Main>!$_";
inline constexpr std::string_view kPhoneHomeFax = "_$!<HomeFAX>!$_";
inline constexpr std::string_view kPhoneWorkFax = "_$!<WorkFAX>!$_";
inline constexpr std::string_view kPhoneOtherFax = "_$!<OtherFAX>!$_";
inline constexpr std::string_view kPhonePager = "_$!<Pager>!$_";
inline constexpr std::string_view kEmailICloud = "iCloud";
inline constexpr std::string_view kUrlHomePage = "_$!<HomePage>!$_";
inline constexpr std::string_view kDateAnniversary = "_$!<Anniversary>!$_";
}  // namespace contactLabel

// The text a label is shown with: a built-in label's English word ("home", "mobile",
// "home fax", "homepage"...), any other label as it is stored.
std::string localizedLabel(std::string_view label);

}  // namespace wren::platform

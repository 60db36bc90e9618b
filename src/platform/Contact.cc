#include "platform/Contact.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace wren::platform {

namespace {

std::size_t indexOf(ContactKey key) { return static_cast<std::size_t>(key); }

}  // namespace

bool isTextKey(ContactKey key) {
  switch (key) {
    case ContactKey::Identifier:
    case ContactKey::GivenName:
    case ContactKey::FamilyName:
    case ContactKey::MiddleName:
    case ContactKey::Nickname:
    case ContactKey::OrganizationName:
    case ContactKey::JobTitle:
    case ContactKey::NamePrefix:
    case ContactKey::NameSuffix:
    case ContactKey::PreviousFamilyName:
    case ContactKey::PhoneticGivenName:
    case ContactKey::PhoneticMiddleName:
    case ContactKey::PhoneticFamilyName:
    case ContactKey::DepartmentName:
    case ContactKey::Note:
      return true;
    default:
      return false;
  }
}

const std::string& ContactFields::text(ContactKey key) const {
  static const std::string empty;
  for (const auto& [textKey, value] : texts)
    if (textKey == key) return value;
  return empty;
}

void ContactFields::setText(ContactKey key, std::string value) {
  if (!isTextKey(key) || key == ContactKey::Identifier)
    throw std::logic_error("contact key " + std::to_string(indexOf(key)) + " takes no text");
  auto found = std::find_if(texts.begin(), texts.end(), [&](const auto& entry) { return entry.first == key; });
  if (value.empty()) {
    if (found != texts.end()) texts.erase(found);
  } else if (found != texts.end()) {
    found->second = std::move(value);
  } else {
    texts.emplace_back(key, std::move(value));
  }
}

Contact::Contact() : fields_(std::make_shared<const ContactFields>()) { available_.set(); }

Contact::Contact(std::string identifier, std::shared_ptr<const ContactFields> fields, const ContactKeys& keys,
                 std::shared_ptr<const ContactOrigin> origin)
    : identifier_(std::move(identifier)), fields_(std::move(fields)), origin_(std::move(origin)) {
  available_.set(indexOf(ContactKey::Identifier));
  for (ContactKey key : keys) available_.set(indexOf(key));
}

ContactKeys Contact::availableKeys() const {
  ContactKeys keys;
  for (std::size_t i = 0; i < kContactKeyCount; ++i)
    if (available_[i]) keys.push_back(static_cast<ContactKey>(i));
  return keys;
}

Contact Contact::restrictedTo(const ContactKeys& keys) const {
  Contact restricted = *this;
  std::bitset<kContactKeyCount> wanted;
  wanted.set(indexOf(ContactKey::Identifier));
  for (ContactKey key : keys) wanted.set(indexOf(key));
  restricted.available_ &= wanted;
  return restricted;
}

const std::string& Contact::text(ContactKey key) const {
  if (!isTextKey(key)) throw std::logic_error("contact key " + std::to_string(indexOf(key)) + " holds no text");
  if (key == ContactKey::Identifier) return identifier_;
  return ifAvailable(key, fields_->text(key));
}

ContactType Contact::contactType() const {
  return isKeyAvailable(ContactKey::ContactType) ? fields_->contactType : ContactType::Person;
}

const std::vector<LabeledText>& Contact::emailAddresses() const {
  return ifAvailable(ContactKey::EmailAddresses, fields_->emailAddresses);
}
const std::vector<LabeledText>& Contact::phoneNumbers() const {
  return ifAvailable(ContactKey::PhoneNumbers, fields_->phoneNumbers);
}
const std::vector<LabeledValue<PostalAddress>>& Contact::postalAddresses() const {
  return ifAvailable(ContactKey::PostalAddresses, fields_->postalAddresses);
}
const std::vector<LabeledText>& Contact::urlAddresses() const {
  return ifAvailable(ContactKey::UrlAddresses, fields_->urlAddresses);
}
const std::vector<LabeledValue<SocialProfile>>& Contact::socialProfiles() const {
  return ifAvailable(ContactKey::SocialProfiles, fields_->socialProfiles);
}
const std::vector<LabeledValue<InstantMessageAddress>>& Contact::instantMessageAddresses() const {
  return ifAvailable(ContactKey::InstantMessageAddresses, fields_->instantMessageAddresses);
}
const std::vector<LabeledText>& Contact::relations() const {
  return ifAvailable(ContactKey::Relations, fields_->relations);
}
const std::vector<LabeledValue<ContactDate>>& Contact::dates() const {
  return ifAvailable(ContactKey::Dates, fields_->dates);
}
const std::optional<ContactDate>& Contact::birthday() const {
  return ifAvailable(ContactKey::Birthday, fields_->birthday);
}
const std::optional<std::string>& Contact::imageData() const {
  return ifAvailable(ContactKey::ImageData, fields_->imageData);
}

ContactFields& Contact::editable() {
  // A record that is the only owner of its values changes them in place; the store's
  // shared values are never changed.
  if (fields_.use_count() != 1) fields_ = std::make_shared<ContactFields>(*fields_);
  return const_cast<ContactFields&>(*fields_);
}

void Contact::setText(ContactKey key, std::string value) {
  if (!isTextKey(key) || key == ContactKey::Identifier)
    throw std::logic_error("contact key " + std::to_string(indexOf(key)) + " takes no text");
  editable().setText(key, std::move(value));
}

void Contact::setContactType(ContactType type) { editable().contactType = type; }
void Contact::setEmailAddresses(std::vector<LabeledText> values) { editable().emailAddresses = std::move(values); }
void Contact::setPhoneNumbers(std::vector<LabeledText> values) { editable().phoneNumbers = std::move(values); }
void Contact::setPostalAddresses(std::vector<LabeledValue<PostalAddress>> values) {
  editable().postalAddresses = std::move(values);
}
void Contact::setUrlAddresses(std::vector<LabeledText> values) { editable().urlAddresses = std::move(values); }
void Contact::setBirthday(std::optional<ContactDate> birthday) { editable().birthday = std::move(birthday); }
void Contact::setImageData(std::optional<std::string> data) { editable().imageData = std::move(data); }

std::string localizedLabel(std::string_view label) {
  static const std::pair<std::string_view, std::string_view> kWords[] = {
      {contactLabel::kHome, "home"},
      {contactLabel::kWork, "work"},
      {contactLabel::kSchool, "school"},
      {contactLabel::kOther, "other"},
      {contactLabel::kPhoneMobile, "mobile"},
      {contactLabel::kPhoneIPhone, "iPhone"},
      {contactLabel::kPhoneMain, "main"},
      {contactLabel::kPhoneHomeFax, "home fax"},
      {contactLabel::kPhoneWorkFax, "work fax"},
      {contactLabel::kPhoneOtherFax, "other fax"},
      {contactLabel::kPhonePager, "pager"},
      {contactLabel::kEmailICloud, "iCloud"},
      {contactLabel::kUrlHomePage, "homepage"},
      {contactLabel::kDateAnniversary, "anniversary"},
      {"_$!<Mother>!$_", "mother"},
      {"_$!<Father>!$_", "father"},
      {"_$!<Parent>!$_", "parent"},
      {"_$!<Brother>!$_", "brother"},
      {"_$!<Sister>!$_", "sister"},
      {"_$!<Child>!$_", "child"},
      {"_$!<Friend>!$_", "friend"},
      {"_$!<Spouse>!$_", "spouse"},
      {"_$!<Partner>!$_", "partner"},
      {"_$!<Assistant>!$_", "assistant"},
      {"_$!<Manager>!$_", "manager"},
  };
  for (const auto& [constant, word] : kWords)
    if (label == constant) return std::string(word);
  // A constant of the same form that this table does not know is shown by its inner word.
  constexpr std::string_view kOpen = "_$!<", kClose = ">!$_";
  if (label.size() > kOpen.size() + kClose.size() && label.starts_with(kOpen) && label.ends_with(kClose)) {
    std::string inner(label.substr(kOpen.size(), label.size() - kOpen.size() - kClose.size()));
    for (char& c : inner) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return inner;
  }
  return std::string(label);
}

}  // namespace wren::platform

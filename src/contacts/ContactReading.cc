#include "contacts/ContactReading.h"

#include <cstdio>
#include <utility>

#include "platform/ContactFormatter.h"
#include "platform/Text.h"

namespace wren {

namespace {

using platform::Contact;
using platform::ContactKey;
using platform::ContactKeys;

constexpr std::size_t kNoteLimit = 4000;
constexpr const char* kContactsSettingsUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Contacts";

void append(ContactKeys& keys, std::initializer_list<ContactKey> more) { keys.insert(keys.end(), more); }

// Adds key = the trimmed text when the key was fetched and the text is not empty.
void addText(Json& row, const char* key, const Contact& contact, ContactKey property) {
  if (!contact.isKeyAvailable(property)) return;
  std::string text = platform::trimWhitespace(contact.text(property));
  if (!text.empty()) row[key] = std::move(text);
}

void addLabel(Json& entry, const std::optional<std::string>& label) {
  if (std::optional<std::string> text = labelText(label)) entry["label"] = std::move(*text);
}

Json labeledTexts(const std::vector<platform::LabeledText>& values) {
  Json entries = Json::array();
  for (const platform::LabeledText& value : values) {
    Json entry{{"value", value.value}};
    addLabel(entry, value.label);
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The length of the line break that starts at text[i] (line feed, vertical tab, form
// feed, carriage return, U+0085, U+2028, U+2029), or 0. Bytes of multi-byte characters are
// never ASCII, so the text can be walked byte by byte.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
  switch (text[i]) {
    case '\n':
    case '\v':
    case '\f':
    case '\r': return 1;
    default: break;
  }
  if (text.compare(i, 2, "\xC2\x85") == 0) return 2;
  if (text.compare(i, 3, "\xE2\x80\xA8") == 0 || text.compare(i, 3, "\xE2\x80\xA9") == 0) return 3;
  return 0;
}

// The pieces of a text between its line breaks, in order.
std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = lineBreakAt(text, i)) {
      lines.emplace_back();
      i += length;
    } else {
      lines.back() += text[i++];
    }
  }
  return lines;
}

std::string trimSpacesAndTabs(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

Json addressEntry(const platform::LabeledValue<platform::PostalAddress>& address) {
  Json entry = Json::object();
  addLabel(entry, address.label);
  const platform::PostalAddress& a = address.value;
  const std::pair<const char*, const std::string*> parts[] = {{"street", &a.street}, {"city", &a.city},
                                                              {"state", &a.state},   {"zip", &a.postalCode},
                                                              {"country", &a.country}, {"country_code", &a.isoCountryCode}};
  for (const auto& [key, value] : parts)
    if (!value->empty()) entry[key] = *value;
  std::string formatted = addressLine(a);
  if (!formatted.empty()) entry["formatted"] = std::move(formatted);
  return entry;
}

}  // namespace

ContactKeys nameKeys() {
  ContactKeys keys = platform::fullNameRequiredKeys();
  append(keys, {ContactKey::Identifier, ContactKey::GivenName, ContactKey::FamilyName, ContactKey::MiddleName,
                ContactKey::Nickname, ContactKey::OrganizationName, ContactKey::ContactType});
  return keys;
}

ContactKeys summaryKeys() {
  ContactKeys keys = nameKeys();
  append(keys, {ContactKey::JobTitle, ContactKey::EmailAddresses, ContactKey::PhoneNumbers, ContactKey::Birthday});
  return keys;
}

ContactKeys detailKeys(WithNote withNote) {
  ContactKeys keys = summaryKeys();
  append(keys, {ContactKey::NamePrefix, ContactKey::NameSuffix, ContactKey::PreviousFamilyName,
                ContactKey::PhoneticGivenName, ContactKey::PhoneticMiddleName, ContactKey::PhoneticFamilyName,
                ContactKey::DepartmentName, ContactKey::PostalAddresses, ContactKey::UrlAddresses,
                ContactKey::SocialProfiles, ContactKey::InstantMessageAddresses, ContactKey::Relations,
                ContactKey::Dates});
  if (withNote == WithNote::Yes) keys.push_back(ContactKey::Note);
  return keys;
}

HelperError contactsError(std::exception_ptr error, const std::optional<std::string>& id) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const HelperError& helperError) {
    return helperError;
  } catch (const platform::ContactStoreError& storeError) {
    const int code = storeError.code();
    if (code == platform::contactError::kAuthorizationDenied)
      return HelperError(ErrorCode::OsPermission,
                         "macOS has not allowed Wren to access Contacts: System Settings → Privacy & Security → "
                         "Contacts → turn on Wren.",
                         Json{{"settingsUrl", kContactsSettingsUrl}});
    if (code == platform::contactError::kRecordDoesNotExist || code == platform::contactError::kRecordIdentifierInvalid) {
      if (id)
        return HelperError(ErrorCode::InvalidArgs, "No contact with id " + *id +
                                                       " on this Mac (ids come from contacts.list / contacts.get; it "
                                                       "may have been deleted).");
      return HelperError(ErrorCode::InvalidArgs, "That contact no longer exists on this Mac.");
    }
    if (code >= 300 && code <= 399)
      return HelperError(ErrorCode::InvalidArgs, std::string("Contacts rejected the change: ") + storeError.what());
    return HelperError(ErrorCode::ExecutionFailed, std::string("Contacts: ") + storeError.what());
  } catch (const std::exception& other) {
    return HelperError(ErrorCode::ExecutionFailed, std::string("Contacts: ") + other.what());
  } catch (...) {
    return HelperError(ErrorCode::ExecutionFailed, "Contacts: an unknown error occurred");
  }
}

Contact loadContact(platform::ContactStore& store, const std::string& id, const ContactKeys& keys) {
  try {
    return store.unifiedContact(id, keys);
  } catch (...) {
    throw contactsError(std::current_exception(), id);
  }
}

Contact loadDetail(platform::ContactStore& store, const std::string& id) {
  try {
    return store.unifiedContact(id, detailKeys(WithNote::Yes));
  } catch (const platform::ContactStoreError& error) {
    if (error.code() != platform::contactError::kUnauthorizedKeys) throw contactsError(std::current_exception(), id);
  } catch (...) {
    throw contactsError(std::current_exception(), id);
  }
  return loadContact(store, id, detailKeys(WithNote::No));
}

void eachContact(platform::ContactStore& store, const ContactKeys& keys,
                 const std::optional<std::string>& groupIdentifier, const std::function<bool(const Contact&)>& body) {
  try {
    store.enumerateContacts({keys, groupIdentifier}, body);
  } catch (...) {
    throw contactsError(std::current_exception());
  }
}

std::string contactDisplayName(const Contact& contact) {
  if (std::optional<std::string> full = platform::formatFullName(contact)) {
    std::string name = platform::trimWhitespace(*full);
    if (!name.empty()) return name;
  }
  if (contact.isKeyAvailable(ContactKey::OrganizationName)) {
    std::string organization = platform::trimWhitespace(contact.text(ContactKey::OrganizationName));
    if (!organization.empty()) return organization;
  }
  if (!contact.emailAddresses().empty() && !contact.emailAddresses().front().value.empty())
    return contact.emailAddresses().front().value;
  if (!contact.phoneNumbers().empty() && !contact.phoneNumbers().front().value.empty())
    return contact.phoneNumbers().front().value;
  return "(no name)";
}

std::optional<std::string> labelText(const std::optional<std::string>& label) {
  if (!label || label->empty()) return std::nullopt;
  return platform::localizedLabel(*label);
}

std::optional<std::string> dayText(const std::optional<platform::ContactDate>& date) {
  if (!date || !date->month || !date->day) return std::nullopt;
  char text[32];
  if (date->year) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", *date->year, *date->month, *date->day);
  } else {
    std::snprintf(text, sizeof text, "--%02d-%02d", *date->month, *date->day);
  }
  return text;
}

std::string addressLine(const platform::PostalAddress& address) {
  std::string line;
  for (const std::string& piece : linesOf(platform::formatMailingAddress(address))) {
    std::string text = trimSpacesAndTabs(piece);
    if (text.empty()) continue;
    if (!line.empty()) line += ", ";
    line += text;
  }
  return line;
}

Json emailsOf(const Contact& contact) { return labeledTexts(contact.emailAddresses()); }
Json phonesOf(const Contact& contact) { return labeledTexts(contact.phoneNumbers()); }

Json addressesOf(const Contact& contact) {
  Json entries = Json::array();
  for (const auto& address : contact.postalAddresses()) entries.push_back(addressEntry(address));
  return entries;
}

Json contactSummary(const Contact& contact) {
  Json row{{"id", contact.identifier()}, {"name", contactDisplayName(contact)}};
  addText(row, "organization", contact, ContactKey::OrganizationName);
  addText(row, "job_title", contact, ContactKey::JobTitle);
  if (contact.isKeyAvailable(ContactKey::ContactType) && contact.contactType() == platform::ContactType::Organization)
    row["company"] = true;
  row["emails"] = emailsOf(contact);
  row["phones"] = phonesOf(contact);
  if (std::optional<std::string> birthday = dayText(contact.birthday())) row["birthday"] = std::move(*birthday);
  return row;
}

Json contactDetail(const Contact& contact) {
  Json row = contactSummary(contact);
  const std::pair<const char*, ContactKey> texts[] = {
      {"first_name", ContactKey::GivenName},
      {"last_name", ContactKey::FamilyName},
      {"middle_name", ContactKey::MiddleName},
      {"nickname", ContactKey::Nickname},
      {"name_prefix", ContactKey::NamePrefix},
      {"name_suffix", ContactKey::NameSuffix},
      {"maiden_name", ContactKey::PreviousFamilyName},
      {"phonetic_first_name", ContactKey::PhoneticGivenName},
      {"phonetic_middle_name", ContactKey::PhoneticMiddleName},
      {"phonetic_last_name", ContactKey::PhoneticFamilyName},
      {"department", ContactKey::DepartmentName},
  };
  for (const auto& [key, property] : texts) addText(row, key, contact, property);

  if (contact.isKeyAvailable(ContactKey::Note)) {
    const std::string note = platform::trimWhitespace(contact.text(ContactKey::Note));
    if (!note.empty()) {
      platform::Prefix cut = platform::graphemePrefix(note, kNoteLimit);
      row["note"] = std::move(cut.text);
      if (cut.truncated) row["note_truncated"] = true;
    }
  } else {
    row["note_unavailable"] = true;
  }

  row["addresses"] = addressesOf(contact);
  if (contact.isKeyAvailable(ContactKey::UrlAddresses)) row["urls"] = labeledTexts(contact.urlAddresses());
  if (!contact.socialProfiles().empty()) {
    Json profiles = Json::array();
    for (const auto& profile : contact.socialProfiles()) {
      Json entry = Json::object();
      if (!profile.value.service.empty()) entry["service"] = profile.value.service;
      if (!profile.value.username.empty()) entry["username"] = profile.value.username;
      if (!profile.value.url.empty()) entry["url"] = profile.value.url;
      profiles.push_back(std::move(entry));
    }
    row["social_profiles"] = std::move(profiles);
  }
  if (!contact.instantMessageAddresses().empty()) {
    Json addresses = Json::array();
    for (const auto& address : contact.instantMessageAddresses())
      addresses.push_back({{"service", address.value.service}, {"username", address.value.username}});
    row["instant_messages"] = std::move(addresses);
  }
  if (!contact.relations().empty()) row["related_names"] = labeledTexts(contact.relations());
  if (!contact.dates().empty()) {
    Json dates = Json::array();
    for (const auto& date : contact.dates()) {
      std::optional<std::string> day = dayText(date.value);
      if (!day) continue;
      Json entry{{"value", std::move(*day)}};
      if (date.label && !date.label->empty()) addLabel(entry, date.label);
      dates.push_back(std::move(entry));
    }
    row["dates"] = std::move(dates);
  }
  return row;
}

}  // namespace wren

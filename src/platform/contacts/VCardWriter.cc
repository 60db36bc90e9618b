#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "platform/ContactFormatter.h"
#include "platform/Text.h"
#include "platform/contacts/VCard.h"
#include "platform/contacts/VCardSyntax.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform::vcard {

namespace {

constexpr std::string_view kProductId = "-//Wren//Wren Helper//EN";

ContactKeys allKeys() {
  ContactKeys keys;
  for (std::size_t i = 0; i < kContactKeyCount; ++i) keys.push_back(static_cast<ContactKey>(i));
  return keys;
}

// The revision time as vCard writes it, in UTC: 20250301T093000Z.
std::string revisionText(Instant revision) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::seconds>(revision));
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

// The contact's values: those of its available keys over `base` (the stored values, or
// nothing for a new card).
ContactFields overlaid(ContactFields base, const Contact& contact) {
  for (std::size_t i = 0; i < kContactKeyCount; ++i) {
    const auto key = static_cast<ContactKey>(i);
    if (!contact.isKeyAvailable(key)) continue;
    if (isTextKey(key)) {
      if (key != ContactKey::Identifier) base.setText(key, contact.text(key));
      continue;
    }
    switch (key) {
      case ContactKey::ContactType: base.contactType = contact.contactType(); break;
      case ContactKey::EmailAddresses: base.emailAddresses = contact.emailAddresses(); break;
      case ContactKey::PhoneNumbers: base.phoneNumbers = contact.phoneNumbers(); break;
      case ContactKey::PostalAddresses: base.postalAddresses = contact.postalAddresses(); break;
      case ContactKey::UrlAddresses: base.urlAddresses = contact.urlAddresses(); break;
      case ContactKey::SocialProfiles: base.socialProfiles = contact.socialProfiles(); break;
      case ContactKey::InstantMessageAddresses: base.instantMessageAddresses = contact.instantMessageAddresses(); break;
      case ContactKey::Relations: base.relations = contact.relations(); break;
      case ContactKey::Dates: base.dates = contact.dates(); break;
      case ContactKey::Birthday: base.birthday = contact.birthday(); break;
      case ContactKey::ImageData: base.imageData = contact.imageData(); break;
      default: break;
    }
  }
  return base;
}

// The formatted name (FN) of a card: the full name, else the organization, else the first
// email address or phone number.
std::string formattedName(const ContactFields& fields) {
  const Contact whole("", std::make_shared<const ContactFields>(fields), allKeys(), nullptr);
  if (std::optional<std::string> name = formatFullName(whole)) return *name;
  std::string organization = trimWhitespace(fields.text(ContactKey::OrganizationName));
  if (!organization.empty()) return organization;
  if (!fields.emailAddresses.empty()) return fields.emailAddresses.front().value;
  if (!fields.phoneNumbers.empty()) return fields.phoneNumbers.front().value;
  return {};
}

// Hands out group names (item1, item2...) that no line of the card uses yet.
class GroupNames {
 public:
  explicit GroupNames(const std::vector<ContentLine>& lines) {
    for (const ContentLine& line : lines) {
      const std::string group = splitGroup(line.name).group;
      if (group.size() > 4 && group.starts_with("ITEM") &&
          std::all_of(group.begin() + 4, group.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        last_ = std::max(last_, std::atoi(group.c_str() + 4));
    }
  }
  std::string next() { return "item" + std::to_string(++last_); }

 private:
  int last_ = 0;
};

std::string typeParameter(const std::vector<std::string>& types) {
  if (types.empty()) return {};
  std::string parameter = ";TYPE=";
  for (std::size_t i = 0; i < types.size(); ++i) parameter += (i ? "," : "") + types[i];
  return parameter;
}

// Writes the lines of one list entry: the property line, in a group with its X-ABLabel
// (and an address's X-ABADR) when the label or the country code needs one.
class EntryWriter {
 public:
  EntryWriter(GroupNames& groups, std::vector<ContentLine>& out) : groups_(groups), out_(out) {}

  void write(ListKind kind, const std::optional<std::string>& label, const std::string& property,
             const std::string& parameters, const std::string& value, const std::string& countryCode = {}) {
    const LabelForm form = labelForm(kind, label);
    std::string group;
    if (form.groupLabel || !countryCode.empty()) group = groups_.next();
    const std::string prefix = group.empty() ? "" : group + ".";
    out_.push_back(ContentLine::fromLogical(prefix + property + parameters + typeParameter(form.types) + ":" + value));
    if (form.groupLabel) out_.push_back(ContentLine::fromLogical(prefix + "X-ABLabel:" + escaped(*form.groupLabel)));
    if (!countryCode.empty()) out_.push_back(ContentLine::fromLogical(prefix + "X-ABADR:" + escaped(countryCode)));
  }

 private:
  GroupNames& groups_;
  std::vector<ContentLine>& out_;
};

std::string addressValue(const PostalAddress& address) {
  return ";;" + escaped(address.street) + ";" + escaped(address.city) + ";" + escaped(address.state) + ";" +
         escaped(address.postalCode) + ";" + escaped(address.country);
}

std::string instantMessageValue(const InstantMessageAddress& address) {
  return schemeForService(address.service) + ":" + address.username;
}

std::string socialParameters(const SocialProfile& profile) {
  std::string parameters;
  if (!profile.service.empty()) parameters += ";TYPE=" + parameterValue(profile.service);
  if (!profile.username.empty()) parameters += ";X-USER=" + parameterValue(profile.username);
  return parameters;
}

// The lines of one list, written anew; an entry equal to one of `old` keeps that entry's
// lines as they were.
template <class Value, class Write>
void writeList(const std::vector<LabeledValue<Value>>& entries, const std::vector<LabeledValue<Value>>* old,
               const std::vector<std::vector<std::size_t>>* oldLines, const std::vector<ContentLine>* cardLines,
               std::vector<ContentLine>& out, Write&& write) {
  std::vector<bool> used(old ? old->size() : 0, false);
  for (const LabeledValue<Value>& entry : entries) {
    bool reused = false;
    for (std::size_t j = 0; old && oldLines && cardLines && j < old->size() && j < oldLines->size(); ++j) {
      if (used[j] || !((*old)[j] == entry)) continue;
      used[j] = true;
      reused = true;
      for (std::size_t line : (*oldLines)[j]) out.push_back((*cardLines)[line]);
      break;
    }
    if (!reused) write(entry);
  }
}

struct Previous {
  const ContactFields* fields = nullptr;
  const DecodedCard* decoded = nullptr;
  const std::vector<ContentLine>* lines = nullptr;

  template <class Value>
  void list(Slot slot, const std::vector<LabeledValue<Value>> ContactFields::*member, const ContactFields& next,
            GroupNames& groups, std::vector<ContentLine>& out,
            const std::function<void(EntryWriter&, const LabeledValue<Value>&)>& write) const {
    EntryWriter writer(groups, out);
    const std::vector<std::vector<std::size_t>>* oldLines = nullptr;
    if (decoded) {
      auto found = decoded->entryLines.find(slot);
      if (found != decoded->entryLines.end()) oldLines = &found->second;
    }
    writeList(next.*member, fields ? &(fields->*member) : nullptr, oldLines, lines, out,
              [&](const LabeledValue<Value>& entry) { write(writer, entry); });
  }
};

void textLine(const std::string& name, const std::string& text, std::vector<ContentLine>& out) {
  if (!trimWhitespace(text).empty()) out.push_back(ContentLine::fromLogical(name + ":" + escaped(text)));
}

// The lines that hold a slot's values in a card of that version.
std::vector<ContentLine> slotLines(Slot slot, const ContactFields& f, Version version, GroupNames& groups,
                                   const Previous& previous, const ContentLine* oldOrganization) {
  std::vector<ContentLine> out;
  switch (slot) {
    case Slot::Name:
      out.push_back(ContentLine::fromLogical(
          "N:" + escaped(f.text(ContactKey::FamilyName)) + ";" + escaped(f.text(ContactKey::GivenName)) + ";" +
          escaped(f.text(ContactKey::MiddleName)) + ";" + escaped(f.text(ContactKey::NamePrefix)) + ";" +
          escaped(f.text(ContactKey::NameSuffix))));
      break;
    case Slot::FormattedName: out.push_back(ContentLine::fromLogical("FN:" + escaped(formattedName(f)))); break;
    case Slot::Nickname: textLine("NICKNAME", f.text(ContactKey::Nickname), out); break;
    case Slot::Organization: {
      const std::string& organization = f.text(ContactKey::OrganizationName);
      const std::string& department = f.text(ContactKey::DepartmentName);
      // Units past the department (a division, a team) are kept as they were written.
      std::string rest;
      if (oldOrganization) {
        const std::vector<std::string_view> units = splitUnescaped(valueOf(*oldOrganization), ';');
        for (std::size_t i = 2; i < units.size(); ++i) rest += ";" + std::string(units[i]);
      }
      if (organization.empty() && department.empty() && rest.empty()) break;
      std::string value = escaped(organization);
      if (!department.empty() || !rest.empty()) value += ";" + escaped(department);
      out.push_back(ContentLine::fromLogical("ORG:" + value + rest));
      break;
    }
    case Slot::JobTitle: textLine("TITLE", f.text(ContactKey::JobTitle), out); break;
    case Slot::Note: textLine("NOTE", f.text(ContactKey::Note), out); break;
    case Slot::PhoneticGiven: textLine("X-PHONETIC-FIRST-NAME", f.text(ContactKey::PhoneticGivenName), out); break;
    case Slot::PhoneticMiddle: textLine("X-PHONETIC-MIDDLE-NAME", f.text(ContactKey::PhoneticMiddleName), out); break;
    case Slot::PhoneticFamily: textLine("X-PHONETIC-LAST-NAME", f.text(ContactKey::PhoneticFamilyName), out); break;
    case Slot::MaidenName: textLine("X-MAIDENNAME", f.text(ContactKey::PreviousFamilyName), out); break;
    case Slot::Birthday:
      if (f.birthday && !dateText(*f.birthday).empty())
        out.push_back(ContentLine::fromLogical("BDAY:" + dateText(*f.birthday)));
      break;
    case Slot::Kind:
      if (f.contactType == ContactType::Organization)
        out.push_back(ContentLine::fromLogical(version == Version::V40 ? "KIND:org" : "X-ABShowAs:COMPANY"));
      break;
    case Slot::Photo:
      if (f.imageData && !f.imageData->empty()) out.push_back(ContentLine::fromLogical(*f.imageData));
      break;
    case Slot::Emails:
      previous.list<std::string>(slot, &ContactFields::emailAddresses, f, groups, out,
                                 [](EntryWriter& w, const LabeledText& e) {
                                   w.write(ListKind::Email, e.label, "EMAIL", "", escaped(e.value));
                                 });
      break;
    case Slot::Phones:
      previous.list<std::string>(slot, &ContactFields::phoneNumbers, f, groups, out,
                                 [](EntryWriter& w, const LabeledText& e) {
                                   w.write(ListKind::Phone, e.label, "TEL", "", escaped(e.value));
                                 });
      break;
    case Slot::Addresses:
      previous.list<PostalAddress>(slot, &ContactFields::postalAddresses, f, groups, out,
                                   [](EntryWriter& w, const LabeledValue<PostalAddress>& e) {
                                     w.write(ListKind::Address, e.label, "ADR", "", addressValue(e.value),
                                             e.value.isoCountryCode);
                                   });
      break;
    case Slot::Urls:
      previous.list<std::string>(slot, &ContactFields::urlAddresses, f, groups, out,
                                 [](EntryWriter& w, const LabeledText& e) {
                                   w.write(ListKind::Url, e.label, "URL", "", e.value);
                                 });
      break;
    case Slot::Dates:
      previous.list<ContactDate>(slot, &ContactFields::dates, f, groups, out,
                                    [](EntryWriter& w, const LabeledValue<ContactDate>& e) {
                                      if (!dateText(e.value).empty())
                                        w.write(ListKind::Date, e.label, "X-ABDATE", "", dateText(e.value));
                                    });
      break;
    case Slot::Relations:
      previous.list<std::string>(slot, &ContactFields::relations, f, groups, out,
                                 [](EntryWriter& w, const LabeledText& e) {
                                   w.write(ListKind::Relation, e.label, "X-ABRELATEDNAMES", "", escaped(e.value));
                                 });
      break;
    case Slot::SocialProfiles:
      previous.list<SocialProfile>(slot, &ContactFields::socialProfiles, f, groups, out,
                                   [](EntryWriter& w, const LabeledValue<SocialProfile>& e) {
                                     w.write(ListKind::SocialProfile, e.label, "X-SOCIALPROFILE",
                                             socialParameters(e.value), e.value.url);
                                   });
      break;
    case Slot::InstantMessages:
      previous.list<InstantMessageAddress>(
          slot, &ContactFields::instantMessageAddresses, f, groups, out,
          [](EntryWriter& w, const LabeledValue<InstantMessageAddress>& e) {
            const std::string parameters =
                e.value.service.empty() ? "" : ";X-SERVICE-TYPE=" + parameterValue(e.value.service);
            w.write(ListKind::InstantMessage, e.label, "IMPP", parameters, instantMessageValue(e.value));
          });
      break;
    default: break;
  }
  return out;
}

// The slots a card is written with, in the order a new card lists them.
constexpr Slot kWrittenSlots[] = {
    Slot::Name,         Slot::FormattedName, Slot::Nickname,  Slot::PhoneticGiven, Slot::PhoneticMiddle,
    Slot::PhoneticFamily, Slot::MaidenName,  Slot::Organization, Slot::JobTitle,   Slot::Kind,
    Slot::Emails,       Slot::Phones,        Slot::Addresses, Slot::Urls,          Slot::Birthday,
    Slot::Dates,        Slot::Relations,     Slot::SocialProfiles, Slot::InstantMessages, Slot::Note,
    Slot::Photo,
};

bool changed(Slot slot, const ContactFields& a, const ContactFields& b) {
  auto differs = [&](ContactKey key) { return a.text(key) != b.text(key); };
  switch (slot) {
    case Slot::Name:
      return differs(ContactKey::GivenName) || differs(ContactKey::FamilyName) || differs(ContactKey::MiddleName) ||
             differs(ContactKey::NamePrefix) || differs(ContactKey::NameSuffix);
    case Slot::FormattedName:
      return changed(Slot::Name, a, b) || changed(Slot::Organization, a, b) || changed(Slot::Kind, a, b);
    case Slot::Nickname: return differs(ContactKey::Nickname);
    case Slot::Organization: return differs(ContactKey::OrganizationName) || differs(ContactKey::DepartmentName);
    case Slot::JobTitle: return differs(ContactKey::JobTitle);
    case Slot::Note: return differs(ContactKey::Note);
    case Slot::PhoneticGiven: return differs(ContactKey::PhoneticGivenName);
    case Slot::PhoneticMiddle: return differs(ContactKey::PhoneticMiddleName);
    case Slot::PhoneticFamily: return differs(ContactKey::PhoneticFamilyName);
    case Slot::MaidenName: return differs(ContactKey::PreviousFamilyName);
    case Slot::Birthday: return a.birthday != b.birthday;
    case Slot::Kind: return a.contactType != b.contactType;
    case Slot::Photo: return a.imageData != b.imageData;
    case Slot::Emails: return a.emailAddresses != b.emailAddresses;
    case Slot::Phones: return a.phoneNumbers != b.phoneNumbers;
    case Slot::Addresses: return a.postalAddresses != b.postalAddresses;
    case Slot::Urls: return a.urlAddresses != b.urlAddresses;
    case Slot::Dates: return a.dates != b.dates;
    case Slot::Relations: return a.relations != b.relations;
    case Slot::SocialProfiles: return a.socialProfiles != b.socialProfiles;
    case Slot::InstantMessages: return a.instantMessageAddresses != b.instantMessageAddresses;
    default: return false;
  }
}

std::string emitRoots(const std::vector<RawComponent>& roots) {
  std::string text;
  for (const RawComponent& root : roots) text += emitComponent(root);
  return text;
}

}  // namespace

std::string newCardText(const Contact& contact, std::string_view uid, Instant revision) {
  const ContactFields fields = overlaid(ContactFields{}, contact);
  RawComponent card{"VCARD", {}, {}};
  card.lines.push_back(ContentLine::fromLogical("VERSION:3.0"));
  card.lines.push_back(ContentLine::fromLogical("PRODID:" + std::string(kProductId)));
  card.lines.push_back(ContentLine::fromLogical("UID:" + escaped(uid)));
  GroupNames groups(card.lines);
  for (Slot slot : kWrittenSlots) {
    std::vector<ContentLine> lines = slotLines(slot, fields, Version::V30, groups, Previous{}, nullptr);
    card.lines.insert(card.lines.end(), lines.begin(), lines.end());
  }
  card.lines.push_back(ContentLine::fromLogical("REV:" + revisionText(revision)));
  return emitComponent(card);
}

std::string updatedFileText(std::string_view fileText, std::size_t index, const Contact& edited, Instant revision) {
  std::vector<RawComponent> roots = splitRoots(fileText);
  const std::optional<std::size_t> root = rootOfCard(roots, index);
  if (!root) throw std::runtime_error("the file holds no card " + std::to_string(index + 1));
  RawComponent& card = roots[*root];
  const DecodedCard decoded = decodeCard(card);

  ContactFields before = *decoded.card.fields;
  if (edited.isKeyAvailable(ContactKey::ImageData)) {
    for (const ContentLine& line : card.lines)
      if (splitGroup(line.name).name == "PHOTO" && !before.imageData) before.imageData = line.unfolded;
  }
  const ContactFields after = overlaid(before, edited);

  const ContentLine* oldOrganization = nullptr;
  for (std::size_t i = 0; i < card.lines.size() && !oldOrganization; ++i)
    if (decoded.lineSlots[i] == Slot::Organization) oldOrganization = &card.lines[i];

  GroupNames groups(card.lines);
  const Previous previous{&before, &decoded, &card.lines};
  std::map<Slot, std::vector<ContentLine>> replacements;
  for (Slot slot : kWrittenSlots) {
    if (changed(slot, before, after))
      replacements[slot] = slotLines(slot, after, decoded.card.version, groups, previous, oldOrganization);
  }

  std::vector<ContentLine> lines;
  std::set<Slot> placed;
  for (std::size_t i = 0; i < card.lines.size(); ++i) {
    const Slot slot = decoded.lineSlots[i];
    auto replacement = replacements.find(slot);
    if (replacement == replacements.end()) {
      lines.push_back(std::move(card.lines[i]));
      continue;
    }
    // A changed slot's new lines stand where its first old line stood.
    if (placed.insert(slot).second)
      lines.insert(lines.end(), replacement->second.begin(), replacement->second.end());
  }
  for (auto& [slot, replacement] : replacements)
    if (!placed.contains(slot)) lines.insert(lines.end(), replacement.begin(), replacement.end());
  card.lines = std::move(lines);

  if (decoded.card.uid.empty()) card.setLine("UID:" + vdir::freshName());
  card.setLine("REV:" + revisionText(revision));
  return emitRoots(roots);
}

std::optional<std::string> fileTextWithout(std::string_view fileText, std::size_t index) {
  std::vector<RawComponent> roots = splitRoots(fileText);
  const std::optional<std::size_t> root = rootOfCard(roots, index);
  if (!root) throw std::runtime_error("the file holds no card " + std::to_string(index + 1));
  roots.erase(roots.begin() + static_cast<std::ptrdiff_t>(*root));
  if (!rootOfCard(roots, 0)) return std::nullopt;
  return emitRoots(roots);
}

}  // namespace wren::platform::vcard

#include <algorithm>
#include <exception>
#include <set>
#include <unordered_map>
#include <utility>

#include "platform/Text.h"
#include "platform/contacts/VCard.h"
#include "platform/contacts/VCardSyntax.h"

namespace wren::platform::vcard {

namespace {

struct NamedSlot {
  std::string_view name;
  Slot slot;
};

// The properties the codec models, by name. Instant messages come both as IMPP and as the
// older one-service properties.
constexpr NamedSlot kSlots[] = {
    {"VERSION", Slot::Version},
    {"UID", Slot::Uid},
    {"REV", Slot::Revision},
    {"N", Slot::Name},
    {"FN", Slot::FormattedName},
    {"NICKNAME", Slot::Nickname},
    {"ORG", Slot::Organization},
    {"TITLE", Slot::JobTitle},
    {"NOTE", Slot::Note},
    {"X-PHONETIC-FIRST-NAME", Slot::PhoneticGiven},
    {"X-PHONETIC-MIDDLE-NAME", Slot::PhoneticMiddle},
    {"X-PHONETIC-LAST-NAME", Slot::PhoneticFamily},
    {"X-MAIDENNAME", Slot::MaidenName},
    {"BDAY", Slot::Birthday},
    {"X-ABSHOWAS", Slot::Kind},
    {"KIND", Slot::Kind},
    {"X-ADDRESSBOOKSERVER-KIND", Slot::Kind},
    {"PHOTO", Slot::Photo},
    {"EMAIL", Slot::Emails},
    {"TEL", Slot::Phones},
    {"ADR", Slot::Addresses},
    {"URL", Slot::Urls},
    {"X-ABDATE", Slot::Dates},
    {"ANNIVERSARY", Slot::Dates},
    {"X-ANNIVERSARY", Slot::Dates},
    {"X-EVOLUTION-ANNIVERSARY", Slot::Dates},
    {"X-ABRELATEDNAMES", Slot::Relations},
    {"RELATED", Slot::Relations},
    {"X-SOCIALPROFILE", Slot::SocialProfiles},
    {"SOCIALPROFILE", Slot::SocialProfiles},
    {"X-TWITTER", Slot::SocialProfiles},
    {"IMPP", Slot::InstantMessages},
    {"X-AIM", Slot::InstantMessages},
    {"X-JABBER", Slot::InstantMessages},
    {"X-ICQ", Slot::InstantMessages},
    {"X-MSN", Slot::InstantMessages},
    {"X-YAHOO", Slot::InstantMessages},
    {"X-SKYPE", Slot::InstantMessages},
    {"X-SKYPE-USERNAME", Slot::InstantMessages},
    {"X-GTALK", Slot::InstantMessages},
    {"X-GOOGLE-TALK", Slot::InstantMessages},
    {"X-QQ", Slot::InstantMessages},
    {"X-GADUGADU", Slot::InstantMessages},
};

// The service of the one-service instant message properties.
constexpr std::pair<std::string_view, std::string_view> kServiceProperties[] = {
    {"X-AIM", "AIM"},     {"X-JABBER", "Jabber"},          {"X-ICQ", "ICQ"},
    {"X-MSN", "MSN"},     {"X-YAHOO", "Yahoo"},            {"X-SKYPE", "Skype"},
    {"X-SKYPE-USERNAME", "Skype"}, {"X-GTALK", "GoogleTalk"}, {"X-GOOGLE-TALK", "GoogleTalk"},
    {"X-QQ", "QQ"},       {"X-GADUGADU", "GaduGadu"},
};

Slot slotOf(std::string_view name) {
  for (const NamedSlot& entry : kSlots)
    if (entry.name == name) return entry.slot;
  return Slot::Other;
}

bool isListSlot(Slot slot) {
  return slot == Slot::Emails || slot == Slot::Phones || slot == Slot::Addresses || slot == Slot::Urls ||
         slot == Slot::Dates || slot == Slot::Relations || slot == Slot::SocialProfiles ||
         slot == Slot::InstantMessages;
}

std::string withoutPrefix(std::string text, std::string_view prefix) {
  if (text.size() >= prefix.size() && equalsIgnoringAsciiCase(std::string_view(text).substr(0, prefix.size()), prefix))
    text.erase(0, prefix.size());
  return text;
}

std::string uidText(std::string_view value) { return withoutPrefix(trimWhitespace(textValue(value)), "urn:uuid:"); }

std::string component(const std::vector<std::string_view>& components, std::size_t index) {
  return index < components.size() ? trimWhitespace(textValue(components[index])) : std::string();
}

bool looksLikeUri(std::string_view text) {
  return text.starts_with("urn:") || text.find("://") != std::string_view::npos || text.starts_with("mailto:") ||
         text.starts_with("tel:");
}

// An IMPP value: "xmpp:ann@example.org", "skype:ann", "aim:goim?screenname=ann".
InstantMessageAddress instantMessage(const Property& property) {
  InstantMessageAddress address;
  const std::string value = trimWhitespace(textValue(property.value));
  const std::size_t colon = value.find(':');
  std::string scheme = colon == std::string::npos ? std::string() : value.substr(0, colon);
  std::string username = colon == std::string::npos ? value : value.substr(colon + 1);
  if (username.starts_with("//")) username.erase(0, 2);
  if (const std::size_t name = username.find("screenname="); name != std::string::npos)
    username = username.substr(name + std::string_view("screenname=").size());
  address.username = std::move(username);
  if (std::optional<std::string> service = property.parameter("X-SERVICE-TYPE")) {
    address.service = *service;
  } else if (std::optional<std::string> serviceType = property.parameter("SERVICE-TYPE")) {
    address.service = *serviceType;
  } else {
    address.service = serviceForScheme(scheme);
  }
  return address;
}

// What is known of the lines of one group (Apple's item1., item2. ...).
struct GroupLines {
  std::optional<std::string> label;
  std::string countryCode;
  std::vector<std::size_t> labelLines;
  std::size_t listLines = 0;
};

class CardDecoder {
 public:
  explicit CardDecoder(const RawComponent& component) : component_(component) {}

  DecodedCard decode() {
    decoded_.lineSlots.assign(component_.lines.size(), Slot::Other);
    readGroups();
    for (std::size_t i = 0; i < component_.lines.size(); ++i) {
      const GroupedName name = splitGroup(component_.lines[i].name);
      const Slot slot = slotOf(name.name);
      if (slot == Slot::Other) {
        if (name.name == "MEMBER" || name.name == "X-ADDRESSBOOKSERVER-MEMBER")
          decoded_.card.memberUids.push_back(uidText(decodeProperty(component_.lines[i]).value));
        continue;
      }
      decoded_.lineSlots[i] = slot;
      read(i, slot, decodeProperty(component_.lines[i]));
    }
    finish();
    decoded_.card.fields = std::move(fields_);
    return std::move(decoded_);
  }

 private:
  void readGroups() {
    for (std::size_t i = 0; i < component_.lines.size(); ++i) {
      const GroupedName name = splitGroup(component_.lines[i].name);
      if (name.group.empty()) continue;
      if (name.name == "X-ABLABEL" || name.name == "X-ABADR") {
        GroupLines& group = groups_[name.group];
        const std::string value = trimWhitespace(textValue(decodeProperty(component_.lines[i]).value));
        if (name.name == "X-ABLABEL") {
          if (!value.empty()) group.label = value;
        } else {
          group.countryCode = value;
        }
        group.labelLines.push_back(i);
      } else if (isListSlot(slotOf(name.name))) {
        ++groups_[name.group].listLines;
      }
    }
  }

  // The label of a list entry: its group's X-ABLabel, else what its TYPE values say.
  std::optional<std::string> labelOf(const Property& property, ListKind kind) const {
    if (!property.group.empty()) {
      auto group = groups_.find(property.group);
      if (group != groups_.end() && group->second.label) return group->second.label;
    }
    if (kind == ListKind::SocialProfile) return std::nullopt;  // its types name the service
    return labelFromTypes(kind, property.types);
  }

  // Records that the entry just added to a list comes from line i (and its group's labels).
  void noteEntry(Slot slot, std::size_t line, const Property& property) {
    std::vector<std::size_t> lines{line};
    if (!property.group.empty()) {
      auto group = groups_.find(property.group);
      if (group != groups_.end() && group->second.listLines == 1) {
        for (std::size_t labelLine : group->second.labelLines) {
          lines.push_back(labelLine);
          decoded_.lineSlots[labelLine] = slot;
        }
      }
    }
    decoded_.entryLines[slot].push_back(std::move(lines));
  }

  // Claims the group's label lines for a list line that gave no entry, so that they go
  // with it when the list is written anew.
  void noteSkipped(Slot slot, const Property& property) {
    if (property.group.empty()) return;
    auto group = groups_.find(property.group);
    if (group == groups_.end() || group->second.listLines != 1) return;
    for (std::size_t labelLine : group->second.labelLines) decoded_.lineSlots[labelLine] = slot;
  }

  void read(std::size_t line, Slot slot, const Property& property) {
    ContactFields& f = *fields_;
    Card& card = decoded_.card;
    switch (slot) {
      case Slot::Version:
        card.version = trimWhitespace(property.value) == "2.1"   ? Version::V21
                       : trimWhitespace(property.value) == "4.0" ? Version::V40
                                                                 : Version::V30;
        return;
      case Slot::Uid:
        if (card.uid.empty()) card.uid = uidText(property.value);
        return;
      case Slot::Revision:
        return;
      case Slot::Name: {
        if (sawName_) return;
        sawName_ = true;
        const std::vector<std::string_view> parts = splitUnescaped(property.value, ';');
        const ContactKey keys[] = {ContactKey::FamilyName, ContactKey::GivenName, ContactKey::MiddleName,
                                   ContactKey::NamePrefix, ContactKey::NameSuffix};
        for (std::size_t i = 0; i < std::size(keys) && i < parts.size(); ++i) f.setText(keys[i], namePart(parts[i]));
        return;
      }
      case Slot::FormattedName:
        if (formattedName_.empty()) formattedName_ = trimWhitespace(textValue(property.value));
        return;
      case Slot::Nickname:
        if (f.text(ContactKey::Nickname).empty()) {
          std::string nickname;
          for (std::string_view item : splitUnescaped(property.value, ',')) {
            std::string text = trimWhitespace(textValue(item));
            if (text.empty()) continue;
            if (!nickname.empty()) nickname += ", ";
            nickname += text;
          }
          f.setText(ContactKey::Nickname, std::move(nickname));
        }
        return;
      case Slot::Organization: {
        if (sawOrganization_) return;
        sawOrganization_ = true;
        const std::vector<std::string_view> units = splitUnescaped(property.value, ';');
        f.setText(ContactKey::OrganizationName, component(units, 0));
        f.setText(ContactKey::DepartmentName, component(units, 1));
        return;
      }
      case Slot::JobTitle: setOnce(ContactKey::JobTitle, property); return;
      case Slot::PhoneticGiven: setOnce(ContactKey::PhoneticGivenName, property); return;
      case Slot::PhoneticMiddle: setOnce(ContactKey::PhoneticMiddleName, property); return;
      case Slot::PhoneticFamily: setOnce(ContactKey::PhoneticFamilyName, property); return;
      case Slot::MaidenName: setOnce(ContactKey::PreviousFamilyName, property); return;
      case Slot::Note: {
        std::string note = f.text(ContactKey::Note);
        if (!note.empty()) note += '\n';
        note += textValue(property.value);
        f.setText(ContactKey::Note, std::move(note));
        return;
      }
      case Slot::Birthday:
        if (!f.birthday) f.birthday = parseDate(textValue(property.value), property.parameter("X-APPLE-OMIT-YEAR").has_value());
        return;
      case Slot::Kind: {
        const std::string value = asciiUpper(trimWhitespace(property.value));
        if (value == "GROUP") card.kind = Card::Kind::Group;
        if (value == "COMPANY" || value == "ORG" || value == "ORGANIZATION") f.contactType = ContactType::Organization;
        return;
      }
      case Slot::Photo:
        card.hasPhoto = card.hasPhoto || !trimWhitespace(property.value).empty();
        return;
      default:
        readEntry(line, slot, property);
    }
  }

  void setOnce(ContactKey key, const Property& property) {
    if (fields_->text(key).empty()) fields_->setText(key, trimWhitespace(textValue(property.value)));
  }

  void readEntry(std::size_t line, Slot slot, const Property& property) {
    ContactFields& f = *fields_;
    const std::size_t before = entryCount(slot);
    switch (slot) {
      case Slot::Emails: addText(f.emailAddresses, ListKind::Email, property, textValue(property.value)); break;
      case Slot::Phones: {
        std::string number = trimWhitespace(textValue(property.value));
        addText(f.phoneNumbers, ListKind::Phone, property, withoutPrefix(std::move(number), "tel:"));
        break;
      }
      case Slot::Urls: addText(f.urlAddresses, ListKind::Url, property, textValue(property.value)); break;
      case Slot::Addresses: readAddress(property); break;
      case Slot::Dates: {
        std::optional<ContactDate> date =
            parseDate(textValue(property.value), property.parameter("X-APPLE-OMIT-YEAR").has_value());
        if (!date) break;
        std::optional<std::string> label = labelOf(property, ListKind::Date);
        if (!label && property.name != "X-ABDATE") label = std::string(contactLabel::kDateAnniversary);
        f.dates.push_back({std::move(label), *date});
        break;
      }
      case Slot::Relations: {
        const std::string name = trimWhitespace(textValue(property.value));
        const std::string valueType = asciiUpper(property.parameter("VALUE").value_or(""));
        if (property.name == "RELATED" && (valueType == "URI" || (valueType.empty() && looksLikeUri(name)))) break;
        addText(f.relations, ListKind::Relation, property, name);
        break;
      }
      case Slot::SocialProfiles: readSocialProfile(property); break;
      case Slot::InstantMessages: readInstantMessage(property); break;
      default: break;
    }
    if (entryCount(slot) > before) {
      noteEntry(slot, line, property);
    } else {
      noteSkipped(slot, property);
    }
  }

  std::size_t entryCount(Slot slot) const {
    const ContactFields& f = *fields_;
    switch (slot) {
      case Slot::Emails: return f.emailAddresses.size();
      case Slot::Phones: return f.phoneNumbers.size();
      case Slot::Addresses: return f.postalAddresses.size();
      case Slot::Urls: return f.urlAddresses.size();
      case Slot::Dates: return f.dates.size();
      case Slot::Relations: return f.relations.size();
      case Slot::SocialProfiles: return f.socialProfiles.size();
      case Slot::InstantMessages: return f.instantMessageAddresses.size();
      default: return 0;
    }
  }

  void addText(std::vector<LabeledText>& list, ListKind kind, const Property& property, std::string value) {
    value = trimWhitespace(value);
    if (value.empty()) return;
    list.push_back({labelOf(property, kind), std::move(value)});
  }

  void readAddress(const Property& property) {
    const std::vector<std::string_view> parts = splitUnescaped(property.value, ';');
    PostalAddress address;
    for (std::size_t i : {0, 1, 2}) {
      std::string line = component(parts, i);
      if (line.empty()) continue;
      if (!address.street.empty()) address.street += '\n';
      address.street += line;
    }
    address.city = component(parts, 3);
    address.state = component(parts, 4);
    address.postalCode = component(parts, 5);
    address.country = component(parts, 6);
    if (!property.group.empty()) {
      auto group = groups_.find(property.group);
      if (group != groups_.end()) address.isoCountryCode = group->second.countryCode;
    }
    if (address.street.empty() && address.city.empty() && address.state.empty() && address.postalCode.empty() &&
        address.country.empty())
      return;
    fields_->postalAddresses.push_back({labelOf(property, ListKind::Address), std::move(address)});
  }

  void readSocialProfile(const Property& property) {
    SocialProfile profile;
    if (property.name == "X-TWITTER") {
      profile.service = "Twitter";
      profile.username = trimWhitespace(textValue(property.value));
    } else {
      profile.url = trimWhitespace(textValue(property.value));
      std::optional<std::string> service = property.parameter("SERVICE-TYPE");
      if (!service) service = property.parameter("X-SERVICE-TYPE");
      // The service is the TYPE value, as written (not lower-cased).
      for (const Parameter& parameter : property.parameters) {
        if (service || parameter.name != "TYPE") continue;
        for (std::string_view type : splitUnescaped(parameter.value, ',')) {
          std::string text = trimWhitespace(type);
          if (!text.empty() && !equalsIgnoringAsciiCase(text, "pref")) {
            service = std::move(text);
            break;
          }
        }
      }
      profile.service = socialService(service.value_or(""));
      std::optional<std::string> user = property.parameter("X-USER");
      if (!user) user = property.parameter("USERNAME");
      profile.username = trimWhitespace(textValue(user.value_or("")));
    }
    if (profile.url.empty() && profile.username.empty()) return;
    fields_->socialProfiles.push_back({labelOf(property, ListKind::SocialProfile), std::move(profile)});
  }

  void readInstantMessage(const Property& property) {
    InstantMessageAddress address;
    if (property.name == "IMPP") {
      address = instantMessage(property);
    } else {
      for (const auto& [name, service] : kServiceProperties)
        if (property.name == name) address.service = service;
      address.username = trimWhitespace(textValue(property.value));
    }
    if (address.username.empty()) return;
    // Writers that know both forms write an address twice; it is one address.
    for (const auto& known : fields_->instantMessageAddresses) {
      if (equalsIgnoringAsciiCase(known.value.service, address.service) &&
          known.value.username == address.username)
        return;
    }
    fields_->instantMessageAddresses.push_back({labelOf(property, ListKind::InstantMessage), std::move(address)});
  }

  // A card without a name is named by its formatted name: as its organization when it is an
  // organization card without one, else as its given name (unless the formatted name only
  // repeats the organization).
  void finish() {
    ContactFields& f = *fields_;
    Card& card = decoded_.card;
    // The index keeps every card for as long as its file stays, so no list keeps room to
    // grow.
    f.texts.shrink_to_fit();
    f.emailAddresses.shrink_to_fit();
    f.phoneNumbers.shrink_to_fit();
    f.postalAddresses.shrink_to_fit();
    f.urlAddresses.shrink_to_fit();
    const bool named = !f.text(ContactKey::GivenName).empty() || !f.text(ContactKey::FamilyName).empty() ||
                       !f.text(ContactKey::MiddleName).empty() || !f.text(ContactKey::NamePrefix).empty() ||
                       !f.text(ContactKey::NameSuffix).empty();
    if (card.kind == Card::Kind::Group) {
      card.groupName = !formattedName_.empty() ? formattedName_ : trimWhitespace(f.text(ContactKey::FamilyName));
      return;
    }
    if (named || formattedName_.empty()) return;
    const std::string organization = f.text(ContactKey::OrganizationName);
    if (f.contactType == ContactType::Organization) {
      if (organization.empty()) f.setText(ContactKey::OrganizationName, formattedName_);
    } else if (formattedName_ != organization) {
      f.setText(ContactKey::GivenName, formattedName_);
    }
  }

  const RawComponent& component_;
  DecodedCard decoded_;
  std::shared_ptr<ContactFields> fields_ = std::make_shared<ContactFields>();
  std::unordered_map<std::string, GroupLines> groups_;
  std::string formattedName_;
  bool sawName_ = false;
  bool sawOrganization_ = false;
};

}  // namespace

DecodedCard decodeCard(const RawComponent& card) { return CardDecoder(card).decode(); }

std::vector<Card> readCards(std::string_view text) {
  std::vector<Card> cards;
  for (const RawComponent& root : splitRoots(text)) {
    if (root.name != "VCARD") continue;
    try {
      cards.push_back(decodeCard(root).card);
    } catch (const std::exception&) {
      // A card the decoder cannot take keeps its place, so that the indices of the others stay.
      Card unreadable;
      unreadable.fields = std::make_shared<const ContactFields>();
      cards.push_back(std::move(unreadable));
    }
  }
  return cards;
}

std::optional<std::string> photoLine(std::string_view fileText, std::size_t index) {
  std::vector<RawComponent> roots = splitRoots(fileText);
  std::optional<std::size_t> root = rootOfCard(roots, index);
  if (!root) return std::nullopt;
  for (const ContentLine& line : roots[*root].lines)
    if (splitGroup(line.name).name == "PHOTO") return line.unfolded;
  return std::nullopt;
}

}  // namespace wren::platform::vcard

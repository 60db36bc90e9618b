#include "contacts/ContactSearch.h"

#include <algorithm>

#include "app/HelperError.h"
#include "contacts/ContactReading.h"
#include "platform/Text.h"

namespace wren {

namespace {

using platform::Contact;
using platform::ContactKey;

constexpr int64_t kDefaultLimit = 50;
constexpr int64_t kMaxLimit = 500;
constexpr std::size_t kMaxCandidates = 20;
constexpr std::size_t kMaxGroupNames = 60;
constexpr std::size_t kMinQueryDigits = 3;
constexpr std::size_t kMinSuffixDigits = 7;

// Search ignores case, diacritics and width; group names only case and width.
constexpr platform::Folding kSearchFolding{.diacritics = true, .width = true};
constexpr platform::Folding kGroupFolding{.diacritics = false, .width = true};

bool looksLikePhoneNumber(std::string_view query) {
  return std::all_of(query.begin(), query.end(),
                     [](char c) { return (c >= '0' && c <= '9') || std::string_view("+-(). ").find(c) != std::string_view::npos; });
}

bool hasWhitespace(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return platform::withoutWhitespace(text).size() != text.size();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return true;
  }
  return false;
}

}  // namespace

std::string squash(std::string_view text) { return platform::lowerCased(platform::withoutWhitespace(text)); }

std::string digitsOf(std::string_view text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

ContactSearch::ContactSearch(std::string query)
    : query_(std::move(query)),
      squashed_(squash(query_)),
      foldedQuery_(platform::foldForSearch(query_, kSearchFolding)),
      foldedSquashed_(platform::foldForSearch(squashed_, kSearchFolding)) {
  if (looksLikePhoneNumber(query_)) {
    std::string digits = digitsOf(query_);
    if (digits.size() >= kMinQueryDigits) digits_ = std::move(digits);
  }
}

namespace {

// Calls visit(name) for each of the contact's names in order until one returns true; tells
// whether one did. Names are made one at a time, so a match ends the work early.
template <class Visit>
bool anyName(const Contact& contact, Visit&& visit) {
  if (visit(contactDisplayName(contact))) return true;
  for (ContactKey key : {ContactKey::Nickname, ContactKey::OrganizationName}) {
    if (contact.text(key).empty()) continue;
    std::string text = platform::trimWhitespace(contact.text(key));
    if (!text.empty() && visit(text)) return true;
  }
  const std::string family = platform::trimWhitespace(contact.text(ContactKey::FamilyName));
  const std::string given = platform::trimWhitespace(contact.text(ContactKey::GivenName));
  return visit(family + given) || visit(given + family);
}

}  // namespace

std::vector<std::string> ContactSearch::names(const Contact& contact) {
  std::vector<std::string> names;
  anyName(contact, [&](std::string name) {
    names.push_back(std::move(name));
    return false;
  });
  return names;
}

bool ContactSearch::containsQuery(const std::string& name) const {
  if (platform::containsFolded(name, foldedQuery_, kSearchFolding)) return true;
  if (squashed_.empty()) return false;
  // A name without white space is its own squashed form as far as a comparison that
  // ignores case can tell, which saves squashing most names.
  return platform::containsFolded(hasWhitespace(name) ? squash(name) : name, foldedSquashed_, kSearchFolding);
}

bool ContactSearch::matchesName(const Contact& contact) const {
  return anyName(contact, [&](const std::string& name) { return containsQuery(name); });
}

bool ContactSearch::matchesAny(const Contact& contact) const {
  if (matchesName(contact)) return true;
  for (const platform::LabeledText& email : contact.emailAddresses())
    if (platform::containsFolded(email.value, foldedQuery_, kSearchFolding)) return true;
  if (!digits_) return false;
  for (const platform::LabeledText& phone : contact.phoneNumbers()) {
    const std::string stored = digitsOf(phone.value);
    if (stored.find(*digits_) != std::string::npos) return true;
    // A number stored without the country code that the query puts in front.
    if (stored.size() >= kMinSuffixDigits && digits_->ends_with(stored)) return true;
  }
  return false;
}

bool exactName(const Contact& contact, const std::string& squashed) {
  return anyName(contact, [&](const std::string& name) { return squash(name) == squashed; });
}

NameMatches findByName(platform::ContactStore& store, const std::string& name) {
  const ContactSearch search(name);
  NameMatches matches;
  eachContact(store, summaryKeys(), std::nullopt, [&](const Contact& contact) {
    if (!search.matchesName(contact)) return true;
    matches.all.push_back(contact);
    if (exactName(contact, search.squashed())) matches.exact.push_back(contact);
    return true;
  });
  return matches;
}

Json listContacts(platform::ContactStore& store, const Params& params) {
  const int64_t limit = std::clamp<int64_t>(params.integer("limit").value_or(kDefaultLimit), 1, kMaxLimit);

  std::optional<std::string> groupId;
  std::optional<std::string> groupName;
  if (std::optional<std::string> wanted = params.string("group")) {
    std::vector<platform::ContactGroup> groups;
    try {
      groups = store.groups();
    } catch (...) {
      throw contactsError(std::current_exception());
    }
    const std::u16string folded = platform::foldForSearch(*wanted, kGroupFolding);
    for (const platform::ContactGroup& group : groups) {
      if (platform::foldForSearch(group.name, kGroupFolding) != folded) continue;
      groupId = group.identifier;
      groupName = group.name;
      break;
    }
    if (!groupId) {
      if (groups.empty())
        throwInvalidArgs("No contact group named \"" + *wanted +
                         "\": Contacts on this Mac has no groups. Leave group out.");
      std::string names;
      for (std::size_t i = 0; i < groups.size() && i < kMaxGroupNames; ++i) names += (i ? ", " : "") + groups[i].name;
      throwInvalidArgs("No contact group named \"" + *wanted + "\". Groups on this Mac: " + names + ".");
    }
  }

  std::optional<ContactSearch> search;
  if (std::optional<std::string> text = params.string("search")) search.emplace(*text);

  int64_t total = 0;
  Json rows = Json::array();
  eachContact(store, summaryKeys(), groupId, [&](const Contact& contact) {
    if (search && !search->matchesAny(contact)) return true;
    ++total;
    if (static_cast<int64_t>(rows.size()) < limit) rows.push_back(contactSummary(contact));
    return true;
  });
  const auto returned = static_cast<int64_t>(rows.size());
  Json result{{"total", total}, {"returned", returned}, {"truncated", returned < total}, {"contacts", std::move(rows)}};
  if (groupName) result["group"] = *groupName;
  return result;
}

Json getContact(platform::ContactStore& store, const Params& params) {
  if (std::optional<std::string> id = params.string("id")) return contactDetail(loadDetail(store, *id));
  const std::string name = params.requireString("name");
  const NameMatches matches = findByName(store, name);
  const Contact* chosen = nullptr;
  if (matches.all.size() == 1) {
    chosen = &matches.all.front();
  } else if (matches.exact.size() == 1) {
    chosen = &matches.exact.front();
  } else if (!matches.all.empty()) {
    Json candidates = Json::array();
    for (std::size_t i = 0; i < matches.all.size() && i < kMaxCandidates; ++i)
      candidates.push_back(contactSummary(matches.all[i]));
    const std::string total = std::to_string(matches.all.size());
    return Json{{"multiple", true},
                {"total", matches.all.size()},
                {"candidates", std::move(candidates)},
                {"hint", total + " contacts match \"" + name +
                             "\". Pick the right one (ask the person if unsure) and call contacts.get again with its "
                             "id."}};
  } else {
    throwInvalidArgs("No contact on this Mac matches the name \"" + name +
                     "\". Try contacts.list with a shorter search (it also matches emails and phone numbers).");
  }
  return contactDetail(loadDetail(store, chosen->identifier()));
}

Json myContact(platform::ContactStore& store, const Params&) {
  auto noCard = [](const std::exception& error) {
    return HelperError(ErrorCode::ExecutionFailed, std::string("This Mac has no \"My Card\" in Contacts (") +
                                                       error.what() +
                                                       "). The person can set one in Contacts → Card → Make This My Card.");
  };
  try {
    try {
      return contactDetail(store.unifiedMeContact(detailKeys(WithNote::Yes)));
    } catch (const platform::ContactStoreError& error) {
      if (error.code() != platform::contactError::kUnauthorizedKeys) throw;
    }
    return contactDetail(store.unifiedMeContact(detailKeys(WithNote::No)));
  } catch (const platform::ContactStoreError& error) {
    if (error.code() == platform::contactError::kAuthorizationDenied) throw contactsError(std::current_exception());
    throw noCard(error);
  } catch (const HelperError&) {
    throw;
  } catch (const std::exception& error) {
    throw noCard(error);
  }
}

}  // namespace wren

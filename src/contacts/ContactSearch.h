#pragma once

// Finding contacts the way people name them: by a name in either order, with or without
// spaces, in any script; by part of an email address; by a phone number typed any way.
//
//   ContactSearch search("zhang san");          // squashed "zhangsan"
//   search.matchesName(contact);                // family 张/Zhang + given 三/San
//   search.matchesAny(contact);                 // also emails and phone numbers
//   auto [all, exact] = findByName(store, "Anna Müller");
//
// Containment ignores case, diacritics and character width (ICU folding, no locale).

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/Contact.h"
#include "platform/ContactStore.h"

namespace wren {

// The text without white space, lower-cased (Unicode, no locale).
std::string squash(std::string_view text);
// The ASCII digits 0 to 9 of the text, in order.
std::string digitsOf(std::string_view text);

class ContactSearch {
 public:
  // The query as the client sent it, trimmed and not empty.
  explicit ContactSearch(std::string query);

  const std::string& query() const { return query_; }
  const std::string& squashed() const { return squashed_; }
  // The query's digits when it is written like a phone number with at least 3 digits.
  const std::optional<std::string>& digits() const { return digits_; }

  // The texts a contact is found by: its display name, nickname, organization, and its
  // family and given names joined both ways without a space.
  static std::vector<std::string> names(const platform::Contact& contact);

  bool matchesName(const platform::Contact& contact) const;
  // A name, an email address or a phone number matches.
  bool matchesAny(const platform::Contact& contact) const;

 private:
  bool containsQuery(const std::string& text) const;

  std::string query_;
  std::string squashed_;
  std::optional<std::string> digits_;
  std::u16string foldedQuery_;
  std::u16string foldedSquashed_;
};

// True when one of the contact's names, squashed, is exactly `squashed`.
bool exactName(const platform::Contact& contact, const std::string& squashed);

// The contacts whose names match (`all`) and those of them named exactly so (`exact`), in
// the person's sort order.
struct NameMatches {
  std::vector<platform::Contact> all;
  std::vector<platform::Contact> exact;
};
NameMatches findByName(platform::ContactStore& store, const std::string& name);

// contacts.list, contacts.get and contacts.me.
Json listContacts(platform::ContactStore& store, const Params& params);
Json getContact(platform::ContactStore& store, const Params& params);
Json myContact(platform::ContactStore& store, const Params& params);

}  // namespace wren

#pragma once

// Reading contacts: which keys each use fetches, the mapping of every contact store failure
// to the error the host sees, and the two row forms of a contact.
//
//   platform::Contact ann = loadDetail(store, id);     // invalid_args for an unknown id
//   Json row = contactDetail(ann);                      // "note_unavailable" when refused
//   eachContact(store, summaryKeys(), std::nullopt, [&](const platform::Contact& c) {
//     rows.push_back(contactSummary(c));
//     return rows.size() < 50;                          // false stops the walk
//   });

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "app/HelperError.h"
#include "app/Json.h"
#include "platform/Contact.h"
#include "platform/ContactStore.h"

namespace wren {

// The keys a name needs (the formatter's own first), a summary row, a detail row.
platform::ContactKeys nameKeys();
platform::ContactKeys summaryKeys();
enum class WithNote { Yes, No };
platform::ContactKeys detailKeys(WithNote withNote);

// The error the host sees for a failure of the contact store (or anything else thrown while
// reading or saving contacts); `id` is the contact the request named, if any. A
// HelperError comes back as it is.
HelperError contactsError(std::exception_ptr error, const std::optional<std::string>& id = std::nullopt);

platform::Contact loadContact(platform::ContactStore& store, const std::string& id, const platform::ContactKeys& keys);
// The contact with the detail keys; when the store refuses the note, without it.
platform::Contact loadDetail(platform::ContactStore& store, const std::string& id);
// Walks the contacts (of one group, when given) in the person's sort order.
void eachContact(platform::ContactStore& store, const platform::ContactKeys& keys,
                 const std::optional<std::string>& groupIdentifier,
                 const std::function<bool(const platform::Contact&)>& body);

// The one-line name a contact is shown by; never empty.
std::string contactDisplayName(const platform::Contact& contact);
// A stored label's display text; nothing for none.
std::optional<std::string> labelText(const std::optional<std::string>& label);
// "YYYY-MM-DD", or "--MM-DD" without a year; nothing without a month or a day.
std::optional<std::string> dayText(const std::optional<platform::ContactDate>& date);
// The address in mailing style on one line, its lines joined by ", ".
std::string addressLine(const platform::PostalAddress& address);

Json emailsOf(const platform::Contact& contact);
Json phonesOf(const platform::Contact& contact);
Json addressesOf(const platform::Contact& contact);

Json contactSummary(const platform::Contact& contact);
Json contactDetail(const platform::Contact& contact);

}  // namespace wren

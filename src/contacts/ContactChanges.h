#pragma once

// Changing contacts and carrying them out of the store: contacts.create, .update, .delete
// and .export. A change that would create a second contact of the same name, remove data
// or delete a contact is made only when the request comes again with confirmed true; the
// question for the person names the contact (whoText) and what would go (lostData).
//
//   std::vector<std::string> gone = lostData(stored, edited);   // {"电话 +49 170 1234567"}

#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/Contact.h"
#include "platform/ContactStore.h"

namespace wren {

// 「display name」, followed by the organization and the first phone number (or email
// address) in brackets when there are such.
std::string whoText(const platform::Contact& contact);

// The data the stored contact `old` has and the edited `updated` no longer has, one short
// Chinese text per piece, in field order.
std::vector<std::string> lostData(const platform::Contact& old, const platform::Contact& updated);

Json createContact(platform::ContactStore& store, const Params& params);
Json updateContact(platform::ContactStore& store, const Params& params);
Json deleteContact(platform::ContactStore& store, const Params& params);
Json exportContacts(platform::ContactStore& store, const Params& params);

}  // namespace wren

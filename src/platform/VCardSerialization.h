#pragma once

// Contacts written as vCard text for export, one vCard 3.0 card each:
//
//   ContactKeys keys = vcardRequiredKeys();                  // what the writer reads
//   std::string text = vcardData({store.unifiedContact(id, keys)});
//
// A card holds every value of the contact's available keys (its picture too, when the
// record carries one), the UID of the stored card, and is folded at 75 octets with CR LF
// line ends. Throws when a card cannot be written.

#include <string>
#include <vector>

#include "platform/Contact.h"

namespace wren::platform {

std::string vcardData(const std::vector<Contact>& contacts);
ContactKeys vcardRequiredKeys();

}  // namespace wren::platform

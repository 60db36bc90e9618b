#include "platform/VCardSerialization.h"

#include "platform/contacts/VCard.h"
#include "platform/contacts/VcardContactStore.h"

namespace wren::platform {

std::string vcardData(const std::vector<Contact>& contacts) {
  std::string text;
  for (const Contact& contact : contacts) {
    // The stored card's UID keeps the exported card the same contact for whoever imports
    // it; a contact that is not stored is named by its identifier.
    std::string uid = contact.origin() ? contact.origin()->uid : std::string();
    if (uid.empty()) uid = contact.identifier();
    text += vcard::newCardText(contact, uid, now());
  }
  return text;
}

ContactKeys vcardRequiredKeys() {
  ContactKeys keys;
  for (std::size_t i = 0; i < kContactKeyCount; ++i) keys.push_back(static_cast<ContactKey>(i));
  return keys;
}

}  // namespace wren::platform

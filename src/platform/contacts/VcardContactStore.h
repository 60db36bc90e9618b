#pragma once

// The contact store as folders of vCard files under the data root (AddressBooks.h):
//
//   ContactStoreFactory makeStore = makeVcardContactStores();   // once, at start-up
//   std::unique_ptr<ContactStore> store = makeStore();           // per request
//
// Every store the factory makes shares one index of parsed cards (ItemIndex.h), checked
// against the disk on every call, so that a warm request reads only the files that changed
// and never a card as it was before. A contact's id is the hash of its book and file name
// (with the card's position for the second and later cards of a file); group cards
// (KIND:group, X-ADDRESSBOOKSERVER-KIND:group) are groups, not contacts.
//
// Contacts are walked in the order store.json asks for (family or given name first),
// compared with ICU's collation for the process's locale. Writes go through the item
// transaction: atomic, refused when the file changed on disk since it was read, new files
// first. A deleted contact's file goes to the freedesktop Trash; a card deleted from a file
// that holds several goes there with the whole file as it was, and the others stay.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/ContactStore.h"
#include "platform/vdir/ItemIndex.h"

namespace wren::platform {

// Where a record of the vCard store came from: the file version it was read from and the
// card's position in it.
struct ContactOrigin {
  std::shared_ptr<const ItemOrigin> file;
  std::size_t cardIndex = 0;
  std::string uid;
};

// A factory of stores over the current data root that share one index.
ContactStoreFactory makeVcardContactStores();

}  // namespace wren::platform

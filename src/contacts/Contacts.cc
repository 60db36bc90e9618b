#include "contacts/Contacts.h"

#include <utility>

#include "contacts/ContactChanges.h"
#include "contacts/ContactSearch.h"
#include "permissions/Permissions.h"

namespace wren {

namespace {

using StoreHandler = Json (*)(platform::ContactStore&, const Params&);

// Checks access, then hands the request a store of its own.
Handler withStore(const platform::ContactStoreFactory& makeStore, StoreHandler handler) {
  return [makeStore, handler](const Params& params) {
    ensureContacts();
    std::unique_ptr<platform::ContactStore> store = makeStore();
    return handler(*store, params);
  };
}

}  // namespace

void registerContacts(Router& router, platform::ContactStoreFactory makeStore) {
  router.registerMethod("contacts.list", withStore(makeStore, listContacts));
  router.registerMethod("contacts.get", withStore(makeStore, getContact));
  router.registerMethod("contacts.me", withStore(makeStore, myContact));
  router.registerMethod("contacts.create", withStore(makeStore, createContact));
  router.registerMethod("contacts.update", withStore(makeStore, updateContact));
  router.registerMethod("contacts.delete", withStore(makeStore, deleteContact));
  router.registerMethod("contacts.export", withStore(makeStore, exportContacts));
}

}  // namespace wren

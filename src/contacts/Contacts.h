#pragma once

#include "app/Router.h"
#include "platform/ContactStore.h"

namespace wren {

// The contacts methods: contacts.list, .get, .me, .create, .update, .delete and .export.
// Each request checks Contacts access first, then works on a fresh store from `makeStore`.
void registerContacts(Router& router, platform::ContactStoreFactory makeStore);

}  // namespace wren

#pragma once

#include "platform/EventStore.h"

namespace wren::platform::vdir {

// Creates a kind's store under the data root on first use, the way a new user account comes with an empty
// calendar: when the person granted access to the kind and its store folder does not
// exist, the folder appears with one local account "On My Computer" (folder "local")
// holding one container, "Calendar" for events or "Reminders" for reminders, in a folder
// of random name, and store.json naming that container the default.
//
// The store is assembled in a hidden folder beside it and renamed into place without
// replacing anything, so that concurrent first uses (threads or processes) leave exactly
// one store, and a store folder that exists (even an empty one) is never touched. When the
// store cannot be made (a read-only data root), nothing is left behind and the store reads
// as empty.
void ensureDefaultStore(EntityType kind);

}  // namespace wren::platform::vdir

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Json.h"
#include "app/Router.h"
#include "permissions/EventStoreBox.h"
#include "platform/EventStore.h"

namespace wren {

using platform::EntityType;

// Which containers a lookup accepts: any, or only those that accept new or changed items.
enum class Access { Any, Writable };

// "#RRGGBB" in upper case, or nothing.
std::optional<std::string> hexColor(const std::optional<platform::Rgb>& color);
Json sourceRow(const platform::Source& source);
Json containerRow(platform::EventStore& store, const platform::Calendar& calendar, EntityType kind);

// The containers of a kind, all or only writable ones, of every account or of one, sorted
// by (account title, container title).
std::vector<platform::Calendar> containers(platform::EventStore& store, EntityType kind, Access access,
                                           const std::optional<std::string>& sourceId);
// The container with exactly that id, or invalid_args naming the method that lists ids. The
// forms that take `all` look among those containers instead of reading the store.
platform::Calendar containerById(platform::EventStore& store, EntityType kind, const std::string& id);
platform::Calendar containerById(EntityType kind, const std::vector<platform::Calendar>& all, const std::string& id);
// A container named by id, else by title ignoring case and diacritics, with messages that
// say how to recover when nothing, several or only read-only containers match.
platform::Calendar resolveContainer(platform::EventStore& store, EntityType kind, const std::string& reference,
                                    Access access);
platform::Calendar resolveContainer(EntityType kind, const std::vector<platform::Calendar>& all,
                                    const std::string& reference, Access access);
// The containers a request names: the one `reference` names (id or title), then those with
// the exact `ids`, all looked up in one reading of the store; empty when nothing is named.
std::vector<platform::Calendar> namedContainers(platform::EventStore& store, EntityType kind,
                                                const std::optional<std::string>& reference,
                                                const std::vector<std::string>& ids);
// The container a new item goes to: the one `reference` names (it must be writable), else
// the store's default when writable, else the first writable one by account and title.
platform::Calendar containerForNewItem(platform::EventStore& store, EntityType kind,
                                       const std::optional<std::string>& reference);
// Whether a container with that id is among `all` and accepts changes to its items.
bool isWritableContainer(const std::vector<platform::Calendar>& all, const std::string& id);

// Every account with the ids of its containers of the kind, sorted by name.
Json sourcesList(platform::EventStore& store, EntityType kind);
// The answer of the status methods: the permission, the zone and system, and for a granted
// kind the number of containers and the default one, else a hint on what to do. Only a
// granted kind uses the store.
Json ekStatus(EventStoreBox& eventStore, EntityType kind);

// Six hexadecimal digits, optionally after one "#", spaces and tabs around ignored; else
// invalid_args quoting the text as given.
platform::Rgb parseHexColor(const std::string& text);

// The changes of containers. Each answers with the saved container's row; deletion with
// `deleted` and the row as it was, after the confirmation step. The container is named by
// `calendar_id` or `list_id`.
Json createContainer(platform::EventStore& store, EntityType kind, const Params& params);
Json updateContainer(platform::EventStore& store, EntityType kind, const Params& params);
Json deleteContainer(platform::EventStore& store, EntityType kind, const Params& params);

// The reminders matching a filter (all lists when no ids are given).
std::vector<platform::ReminderItem> fetchReminders(platform::EventStore& store, platform::ReminderFilter filter,
                                                   const std::optional<std::vector<std::string>>& calendarIds);

// A handler of a calendar or reminders method: a function of the shared store and the params.
using StoreHandler = std::function<Json(platform::EventStore& store, const Params& params)>;
// The handler that checks access to the data of the kind first, before it reads any param,
// and then runs on the shared store.
Handler guarded(EntityType kind, EventStoreBox& eventStore, StoreHandler handler);

// The handlers of the seven container methods of one kind, on the shared store: status,
// which answers without access, then sources, list, get, create, update and delete, which
// check access first. Each kind registers them under its own method names:
//
//   const ContainerMethods lists(EntityType::Reminder, eventStore);
//   router.registerMethod("reminders.lists.create", lists.create());
class ContainerMethods {
 public:
  ContainerMethods(EntityType kind, EventStoreBox& eventStore);

  Handler status() const;
  Handler sources() const;
  Handler list() const;
  Handler get() const;
  Handler create() const;
  Handler update() const;
  Handler remove() const;

 private:
  using KindHandler = Json (*)(platform::EventStore& store, EntityType kind, const Params& params);
  // The handler that checks access first and then calls `handler` for this kind.
  Handler guardedCall(KindHandler handler) const;

  EntityType kind_;
  EventStoreBox& eventStore_;
};

}  // namespace wren

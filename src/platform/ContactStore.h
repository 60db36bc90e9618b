#pragma once

// The person's contacts: address books of contacts, group cards that gather contacts, and
// one contact marked as the person's own card. A handler makes a fresh store for its
// request and drops it with the request:
//
//   std::unique_ptr<ContactStore> store = makeStore();
//   store->enumerateContacts({keys, std::nullopt}, [&](const Contact& contact) {
//     use(contact);        // in the person's sort order
//     return true;         // false stops the walk
//   });
//   Contact ann = store->unifiedContact(id, keys);   // ContactStoreError 200 when unknown
//   Contact edited = ann;
//   edited.setText(ContactKey::JobTitle, "Engineer");
//   ContactSaveRequest save;
//   save.updateContact(edited);
//   Contact saved = store->executeSaveRequest(save).front();
//
// Records carry only the keys asked for (Contact.h). Every call sees the store as it is on
// disk now. Failures of the store itself are ContactStoreError with one of the codes below;
// anything else that fails (a file that cannot be written) throws its own error.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Contact.h"

namespace wren::platform {

// The codes a contact store fails with, as the platform's contact service numbers them.
namespace contactError {
inline constexpr int kAuthorizationDenied = 100;
inline constexpr int kUnauthorizedKeys = 102;  // the store refuses to hand out a key
inline constexpr int kRecordDoesNotExist = 200;
inline constexpr int kRecordIdentifierInvalid = 205;
// 300 to 399: the contact does not pass the store's checks and was not saved.
inline constexpr int kValidationMultipleErrors = 300;
inline constexpr int kValidationTypeMismatch = 301;
inline constexpr int kValidationConfigurationError = 302;
}  // namespace contactError

class ContactStoreError : public std::runtime_error {
 public:
  ContactStoreError(int code, const std::string& description) : std::runtime_error(description), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

struct ContactGroup {
  std::string identifier;
  std::string name;
};

// Which contacts to walk and what to fetch of each.
struct ContactFetchRequest {
  ContactKeys keys;
  // Only the members of this group, when set.
  std::optional<std::string> groupIdentifier;
};

// The changes one save makes, all or none.
class ContactSaveRequest {
 public:
  enum class Kind { Add, Update, Delete };
  struct Change {
    Kind kind;
    Contact contact;
    std::optional<std::string> containerIdentifier;  // for Add: the address book, else the default one
  };

  void addContact(Contact contact, std::optional<std::string> containerIdentifier = std::nullopt) {
    changes_.push_back({Kind::Add, std::move(contact), std::move(containerIdentifier)});
  }
  void updateContact(Contact contact) { changes_.push_back({Kind::Update, std::move(contact), std::nullopt}); }
  void deleteContact(Contact contact) { changes_.push_back({Kind::Delete, std::move(contact), std::nullopt}); }

  const std::vector<Change>& changes() const { return changes_; }

 private:
  std::vector<Change> changes_;
};

class ContactStore {
 public:
  virtual ~ContactStore() = default;

  // The contact with that identifier, with these keys.
  virtual Contact unifiedContact(const std::string& identifier, const ContactKeys& keys) = 0;
  // The person's own card; ContactStoreError 200 when none is set.
  virtual Contact unifiedMeContact(const ContactKeys& keys) = 0;
  // Every contact the request selects, in the person's sort order, until `body` says stop.
  virtual void enumerateContacts(const ContactFetchRequest& request,
                                 const std::function<bool(const Contact&)>& body) = 0;
  // Every group, in the store's order.
  virtual std::vector<ContactGroup> groups() = 0;
  // Makes the changes; gives each added or updated contact as stored now, in the order of
  // the changes, with the keys it carried (a new contact: every key).
  virtual std::vector<Contact> executeSaveRequest(const ContactSaveRequest& request) = 0;
};

// Makes a fresh store for one request.
using ContactStoreFactory = std::function<std::unique_ptr<ContactStore>()>;

}  // namespace wren::platform

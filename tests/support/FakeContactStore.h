#pragma once

// A contact store in memory, for the tests of what the handlers make of the store's
// answers that a real store on this machine never gives: a refusal to hand out the note
// (code 102), a denied authorisation, a failing walk. Everything else is tested on the
// real store over temporary folders.
//
//   FakeContactStore store;
//   store.contacts.push_back(person("Anna", "Zeller"));
//   store.refuseNote = true;   // asking for the note fails with code 102

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ContactStore.h"

namespace wren::testing {

class FakeContactStore : public platform::ContactStore {
 public:
  std::vector<platform::Contact> contacts;  // in the order they are walked
  std::vector<platform::ContactGroup> groupList;
  std::optional<std::string> meId;
  bool refuseNote = false;
  std::optional<int> failWith;  // every call fails with this code
  std::vector<platform::ContactSaveRequest> saved;

  platform::Contact unifiedContact(const std::string& identifier, const platform::ContactKeys& keys) override {
    check(keys);
    for (const platform::Contact& contact : contacts)
      if (contact.identifier() == identifier) return contact.restrictedTo(keys);
    throw platform::ContactStoreError(platform::contactError::kRecordDoesNotExist, "no such record");
  }

  platform::Contact unifiedMeContact(const platform::ContactKeys& keys) override {
    check(keys);
    if (!meId) throw platform::ContactStoreError(platform::contactError::kRecordDoesNotExist, "no me card is set");
    return unifiedContact(*meId, keys);
  }

  void enumerateContacts(const platform::ContactFetchRequest& request,
                         const std::function<bool(const platform::Contact&)>& body) override {
    check(request.keys);
    for (const platform::Contact& contact : contacts)
      if (!body(contact.restrictedTo(request.keys))) return;
  }

  std::vector<platform::ContactGroup> groups() override {
    check({});
    return groupList;
  }

  std::vector<platform::Contact> executeSaveRequest(const platform::ContactSaveRequest& request) override {
    check({});
    saved.push_back(request);
    std::vector<platform::Contact> result;
    for (const auto& change : request.changes())
      if (change.kind != platform::ContactSaveRequest::Kind::Delete) result.push_back(change.contact);
    return result;
  }

 private:
  void check(const platform::ContactKeys& keys) const {
    if (failWith) throw platform::ContactStoreError(*failWith, "the store failed");
    if (refuseNote && std::find(keys.begin(), keys.end(), platform::ContactKey::Note) != keys.end())
      throw platform::ContactStoreError(platform::contactError::kUnauthorizedKeys, "the note may not be read");
  }
};

// A stored contact with every key, built from a new one.
inline platform::Contact stored(const std::string& id, const platform::Contact& values) {
  return platform::Contact(id, std::make_shared<const platform::ContactFields>(values.fields()),
                           values.availableKeys(), nullptr);
}

inline platform::Contact person(const std::string& id, const std::string& given, const std::string& family) {
  platform::Contact contact;
  contact.setText(platform::ContactKey::GivenName, given);
  contact.setText(platform::ContactKey::FamilyName, family);
  return stored(id, contact);
}

}  // namespace wren::testing

#include "contacts/ContactChanges.h"

#include <algorithm>
#include <optional>
#include <set>

#include "app/HelperError.h"
#include "contacts/ContactEdit.h"
#include "contacts/ContactReading.h"
#include "contacts/ContactSearch.h"
#include "platform/Text.h"
#include "platform/VCardSerialization.h"

namespace wren {

namespace {

using platform::Contact;
using platform::ContactKey;

constexpr std::size_t kMaxDuplicatesNamed = 3;
constexpr std::size_t kMaxDuplicatesShown = 10;
constexpr std::size_t kMaxRemovalsNamed = 8;
constexpr std::size_t kRemovedTextLimit = 40;
constexpr std::size_t kExportBudget = 262144;

std::string joined(const std::vector<std::string>& items, std::size_t count, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < count; ++i) text += (i ? separator : "") + items[i];
  return text;
}

bool lacksEveryName(const Contact& contact) {
  return platform::trimWhitespace(contact.text(ContactKey::GivenName)).empty() &&
         platform::trimWhitespace(contact.text(ContactKey::FamilyName)).empty() &&
         platform::trimWhitespace(contact.text(ContactKey::OrganizationName)).empty();
}

// Saves the request; a failure is reported as the contact store's error about `id`.
std::vector<Contact> save(platform::ContactStore& store, const platform::ContactSaveRequest& request,
                          const std::optional<std::string>& id) {
  try {
    return store.executeSaveRequest(request);
  } catch (...) {
    throw contactsError(std::current_exception(), id);
  }
}

// The values of a list that are not among the new values, compared by `key`.
template <class Value, class Key>
void addRemoved(std::vector<std::string>& removed, const std::vector<Value>& old, const std::vector<Value>& updated,
                Key key, const std::string& prefix, auto&& shown) {
  std::set<std::string> kept;
  for (const Value& value : updated) kept.insert(key(value));
  for (const Value& value : old)
    if (!kept.contains(key(value))) removed.push_back(prefix + shown(value));
}

}  // namespace

std::string whoText(const Contact& contact) {
  const std::string name = contactDisplayName(contact);
  std::vector<std::string> details;
  if (contact.isKeyAvailable(ContactKey::OrganizationName)) {
    std::string organization = platform::trimWhitespace(contact.text(ContactKey::OrganizationName));
    if (!organization.empty() && organization != name) details.push_back(std::move(organization));
  }
  if (!contact.phoneNumbers().empty()) {
    details.push_back(contact.phoneNumbers().front().value);
  } else if (!contact.emailAddresses().empty()) {
    details.push_back(contact.emailAddresses().front().value);
  }
  std::string text = "「" + name + "」";
  if (!details.empty()) text += "（" + joined(details, details.size(), "，") + "）";
  return text;
}

std::vector<std::string> lostData(const Contact& old, const Contact& updated) {
  std::vector<std::string> removed;
  for (const ScalarField& field : scalarFields()) {
    if (!old.isKeyAvailable(field.key)) continue;
    const std::string before = platform::trimWhitespace(old.text(field.key));
    if (before.empty()) continue;
    if (updated.isKeyAvailable(field.key) && !platform::trimWhitespace(updated.text(field.key)).empty()) continue;
    removed.push_back(field.zh + "「" + platform::graphemePrefix(before, kRemovedTextLimit).text + "」");
  }
  auto both = [&](ContactKey key) { return old.isKeyAvailable(key) && updated.isKeyAvailable(key); };
  if (both(ContactKey::EmailAddresses))
    addRemoved(
        removed, old.emailAddresses(), updated.emailAddresses(),
        [](const platform::LabeledText& e) { return platform::lowerCased(e.value); }, "邮箱 ",
        [](const platform::LabeledText& e) { return e.value; });
  if (both(ContactKey::PhoneNumbers))
    addRemoved(
        removed, old.phoneNumbers(), updated.phoneNumbers(),
        [](const platform::LabeledText& p) { return digitsOf(p.value); }, "电话 ",
        [](const platform::LabeledText& p) { return p.value; });
  if (both(ContactKey::PostalAddresses))
    addRemoved(
        removed, old.postalAddresses(), updated.postalAddresses(),
        [](const auto& a) { return squash(addressLine(a.value)); }, "地址 ",
        [](const auto& a) { return addressLine(a.value); });
  if (both(ContactKey::UrlAddresses))
    addRemoved(
        removed, old.urlAddresses(), updated.urlAddresses(),
        [](const platform::LabeledText& u) { return platform::lowerCased(u.value); }, "网址 ",
        [](const platform::LabeledText& u) { return u.value; });
  if (old.isKeyAvailable(ContactKey::Birthday)) {
    std::optional<std::string> before = dayText(old.birthday());
    if (before && !dayText(updated.birthday())) removed.push_back("生日 " + *before);
  }
  return removed;
}

Json createContact(platform::ContactStore& store, const Params& params) {
  const ContactEdit edit(params, AllowCompany::Yes);
  Contact contact;
  edit.apply(contact);
  if (lacksEveryName(contact)) throwInvalidArgs("At least one of firstName, lastName or organization is required");
  if (contact.contactType() == platform::ContactType::Organization &&
      platform::trimWhitespace(contact.text(ContactKey::OrganizationName)).empty())
    throwInvalidArgs("organization is required when company is true");

  if (params.boolean("confirmed") != true) {
    const std::string name = contactDisplayName(contact);
    const std::string key = squash(name);
    std::vector<Contact> same;
    eachContact(store, summaryKeys(), std::nullopt, [&](const Contact& existing) {
      if (squash(contactDisplayName(existing)) == key) same.push_back(existing);
      return true;
    });
    if (!same.empty()) {
      std::vector<std::string> who;
      Json existing = Json::array();
      for (std::size_t i = 0; i < same.size(); ++i) {
        if (i < kMaxDuplicatesNamed) who.push_back(whoText(same[i]));
        if (i < kMaxDuplicatesShown) existing.push_back(contactSummary(same[i]));
      }
      throw HelperError(ErrorCode::NeedsConfirmation,
                        "通讯录里已经有 " + std::to_string(same.size()) + " 位「" + name + "」：" + joined(who, who.size(), "、") +
                            "。还要再新建一个同名联系人吗？",
                        Json{{"existing", std::move(existing)},
                             {"hint", "To change the existing contact use contacts.update with its id; resend with "
                                      "confirmed: true only if the person wants a second contact."}});
    }
  }

  platform::ContactSaveRequest request;
  request.addContact(contact);
  return contactDetail(save(store, request, std::nullopt).front());
}

Json updateContact(platform::ContactStore& store, const Params& params) {
  const std::optional<std::string> id = params.string("id");
  if (!id) throwInvalidArgs("id is required");
  const ContactEdit edit(params, AllowCompany::No);
  if (edit.isEmpty()) throwInvalidArgs("Nothing to change: pass at least one field besides id");

  const Contact old = loadDetail(store, *id);
  Contact updated = old;
  edit.apply(updated);
  if (lacksEveryName(updated))
    throwInvalidArgs("The contact would be left without firstName, lastName and organization; keep at least one");

  const std::vector<std::string> removals = lostData(old, updated);
  if (!removals.empty()) {
    const std::string more =
        removals.size() > kMaxRemovalsNamed ? " 等 " + std::to_string(removals.size()) + " 项" : std::string();
    Json removes = Json::array();
    for (const std::string& item : removals) removes.push_back(item);
    requireConfirmation(params,
                        "修改" + whoText(old) + "会删掉：" + joined(removals, kMaxRemovalsNamed, "、") + more + "。确定吗？",
                        Json{{"contact", contactSummary(old)},
                             {"removes", std::move(removes)},
                             {"hint", "emails / phones / addresses / urls replace the whole list. To add an entry, pass "
                                      "the existing entries too (see contacts.get). Resend with confirmed: true only "
                                      "if the person agrees to remove these."}});
  }

  platform::ContactSaveRequest request;
  request.updateContact(updated);
  return contactDetail(save(store, request, id).front());
}

Json deleteContact(platform::ContactStore& store, const Params& params) {
  const std::optional<std::string> id = params.string("id");
  if (!id) throwInvalidArgs("id is required");
  const Contact contact = loadContact(store, *id, summaryKeys());
  requireConfirmation(params, "要从这台电脑的通讯录里删除" + whoText(contact) + "吗？删除后无法撤销。",
                      Json{{"contact", contactSummary(contact)}});
  const std::string name = contactDisplayName(contact);
  platform::ContactSaveRequest request;
  request.deleteContact(contact);
  save(store, request, id);
  return Json{{"deleted", true}, {"id", *id}, {"name", name}};
}

Json exportContacts(platform::ContactStore& store, const Params& params) {
  std::vector<std::string> ids;
  if (std::optional<std::string> id = params.string("id")) {
    ids.push_back(*id);
  } else {
    const std::string name = params.requireString("name");
    for (const Contact& contact : findByName(store, name).all) ids.push_back(contact.identifier());
    if (ids.empty())
      throwInvalidArgs("No contact on this Mac matches the name \"" + name + "\". Use contacts.list to search.");
  }

  platform::ContactKeys keys = platform::vcardRequiredKeys();
  for (ContactKey key : nameKeys()) keys.push_back(key);

  std::size_t bytes = 0;
  Json entries = Json::array();
  for (const std::string& id : ids) {
    const Contact fetched = loadContact(store, id, keys);
    Contact copy = fetched;
    // Exported cards never carry the picture: it would dwarf everything else in the reply.
    if (copy.isKeyAvailable(ContactKey::ImageData)) copy.setImageData(std::nullopt);
    std::string vcard;
    try {
      vcard = platform::vcardData({copy});
    } catch (const std::exception& error) {
      throwExecutionFailed("Could not write a vCard for " + contactDisplayName(fetched) + ": " + error.what());
    }
    if (bytes + vcard.size() > kExportBudget) break;
    bytes += vcard.size();
    entries.push_back(
        {{"id", fetched.identifier()}, {"name", contactDisplayName(fetched)}, {"vcard", platform::toValidUtf8(vcard)}});
  }
  const auto returned = static_cast<int64_t>(entries.size());
  const auto total = static_cast<int64_t>(ids.size());
  return Json{{"total", total},
              {"returned", returned},
              {"truncated", returned < total},
              {"bytes", bytes},
              {"contacts", std::move(entries)}};
}

}  // namespace wren

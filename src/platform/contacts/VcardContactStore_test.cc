#include "platform/contacts/VcardContactStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ContactFormatter.h"
#include "platform/files/Trash.h"
#include "platform/vdir/ItemTransaction.h"
#include "platform/vdir/StoreNames.h"
#include "support/ScopedDataHome.h"
#include "support/StoreTestSupport.h"

namespace wren::platform {
namespace {

using vdir::testing::entryNames;
using vdir::testing::readText;
using vdir::testing::writeText;

std::string card(const std::string& uid, const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "END:VCARD\r\n";
}

const ContactKeys kNames = {ContactKey::GivenName, ContactKey::FamilyName, ContactKey::OrganizationName,
                            ContactKey::ContactType, ContactKey::NamePrefix, ContactKey::NameSuffix,
                            ContactKey::MiddleName};

class VcardContactStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path book(const std::string& name) const { return home_.root() / "contacts" / name; }
  void write(const std::string& bookName, const std::string& file, const std::string& text) const {
    writeText(book(bookName) / file, text);
  }
  std::unique_ptr<ContactStore> store() { return makeStores_(); }

  std::vector<std::string> names(const ContactFetchRequest& request) {
    std::vector<std::string> result;
    store()->enumerateContacts(request, [&](const Contact& contact) {
      result.push_back(formatFullName(contact).value_or("-"));
      return true;
    });
    return result;
  }

  // The id of the contact with that given name.
  std::string idOf(const std::string& given) {
    std::string id;
    store()->enumerateContacts({kNames, std::nullopt}, [&](const Contact& contact) {
      if (contact.text(ContactKey::GivenName) == given) id = contact.identifier();
      return id.empty();
    });
    return id;
  }

  ScopedDataHome home_;
  ContactStoreFactory makeStores_ = makeVcardContactStores();
};

TEST_F(VcardContactStoreTest, WalksContactsInTheSortOrderOfStoreJson) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  write("family", "b.vcf", card("b", {"N:Abel;Zoe;;;"}));
  write("work", "c.vcf", card("c", {"N:Müller;Bert;;;"}));
  write("work", "d.vcf", card("d", {"FN:Acme", "ORG:Acme", "X-ABShowAs:COMPANY"}));
  write("work", "g.vcf", card("g", {"KIND:group", "FN:Team", "MEMBER:urn:uuid:c"}));
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"Zoe Abel", "Acme", "Bert Müller", "Anna Zeller"}));

  writeText(home_.root() / "contacts/store.json", R"({"sort": "given"})");
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"Acme", "Anna Zeller", "Bert Müller", "Zoe Abel"}));
}

TEST_F(VcardContactStoreTest, RecordsCarryOnlyTheKeysAskedFor) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;", "NOTE:secret", "EMAIL:anna@example.org"}));
  const std::string id = idOf("Anna");
  const Contact anna = store()->unifiedContact(id, {ContactKey::GivenName});
  EXPECT_EQ(anna.identifier(), id);
  EXPECT_EQ(anna.text(ContactKey::GivenName), "Anna");
  EXPECT_FALSE(anna.isKeyAvailable(ContactKey::Note));
  EXPECT_EQ(anna.text(ContactKey::Note), "");
  EXPECT_TRUE(anna.emailAddresses().empty());
  EXPECT_EQ(anna.identifier(), vdir::itemIdFor("contact", "family", "a.vcf"));
}

TEST_F(VcardContactStoreTest, UnknownAndMalformedIdsFailWithTheirCodes) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  auto codeOf = [&](const std::string& id) {
    try {
      store()->unifiedContact(id, kNames);
    } catch (const ContactStoreError& error) {
      return error.code();
    }
    return 0;
  };
  EXPECT_EQ(codeOf(std::string(32, 'a')), contactError::kRecordDoesNotExist);
  EXPECT_EQ(codeOf("../../etc/passwd"), contactError::kRecordIdentifierInvalid);
  EXPECT_EQ(codeOf(""), contactError::kRecordIdentifierInvalid);
}

TEST_F(VcardContactStoreTest, GroupsAndTheirMembers) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  write("family", "b.vcf", card("urn:uuid:b", {"N:Abel;Zoe;;;"}));
  write("family", "f.vcf", card("f", {"KIND:group", "FN:Friends", "MEMBER:urn:uuid:b"}));
  write("work", "t.vcf", card("t", {"X-ADDRESSBOOKSERVER-KIND:group", "FN:Team", "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:a"}));
  const std::vector<ContactGroup> groups = store()->groups();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, "Friends");
  EXPECT_EQ(groups[1].name, "Team");
  EXPECT_EQ(names({kNames, groups[0].identifier}), (std::vector<std::string>{"Zoe Abel"}));
  EXPECT_EQ(names({kNames, groups[1].identifier}), (std::vector<std::string>{"Anna Zeller"}));
  EXPECT_TRUE(names({kNames, std::string(32, '0')}).empty());
}

TEST_F(VcardContactStoreTest, TheOwnCardComesFromStoreJson) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  EXPECT_THROW(store()->unifiedMeContact(kNames), ContactStoreError);
  writeText(home_.root() / "contacts/store.json", R"({"me": "a"})");
  EXPECT_EQ(store()->unifiedMeContact(kNames).text(ContactKey::GivenName), "Anna");
  writeText(home_.root() / "contacts/store.json", R"({"me": "nobody"})");
  try {
    store()->unifiedMeContact(kNames);
    FAIL() << "a missing own card must fail";
  } catch (const ContactStoreError& error) {
    EXPECT_EQ(error.code(), contactError::kRecordDoesNotExist);
  }
}

TEST_F(VcardContactStoreTest, SeesFilesOtherProgramsChange) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"Anna Zeller"}));
  write("family", "a.vcf", card("a", {"N:Zeller;Anne;;;"}));
  write("family", "b.vcf", card("b", {"N:Abel;Zoe;;;"}));
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"Zoe Abel", "Anne Zeller"}));
  std::filesystem::remove_all(book("family"));
  EXPECT_TRUE(names({kNames, std::nullopt}).empty());
}

TEST_F(VcardContactStoreTest, AddsToTheDefaultBookOrMakesOne) {
  Contact anna;
  anna.setText(ContactKey::GivenName, "Anna");
  ContactSaveRequest add;
  add.addContact(anna);
  const std::vector<Contact> saved = store()->executeSaveRequest(add);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].text(ContactKey::GivenName), "Anna");
  EXPECT_TRUE(saved[0].isKeyAvailable(ContactKey::Note));
  EXPECT_EQ(readText(book("Contacts") / "displayname"), "Contacts");
  const std::set<std::string> files = entryNames(book("Contacts"));
  EXPECT_EQ(files.size(), 2u);

  write("work", "x.vcf", card("x", {"N:;Xaver;;;"}));
  writeText(home_.root() / "contacts/store.json", R"({"default": "work"})");
  store()->executeSaveRequest(add);
  EXPECT_EQ(entryNames(book("work")).size(), 2u);
}

TEST_F(VcardContactStoreTest, UpdatesInPlaceAndRefusesFilesChangedMeanwhile) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;", "X-KEEP:1"}));
  const std::string id = idOf("Anna");
  Contact anna = store()->unifiedContact(id, kNames);
  anna.setText(ContactKey::GivenName, "Anne");
  ContactSaveRequest update;
  update.updateContact(anna);
  const Contact saved = store()->executeSaveRequest(update).front();
  EXPECT_EQ(saved.identifier(), id);
  EXPECT_EQ(saved.text(ContactKey::GivenName), "Anne");
  EXPECT_NE(readText(book("family") / "a.vcf").find("X-KEEP:1\r\n"), std::string::npos);

  // Another program edits the file after it was read: the save is refused, nothing changes.
  Contact stale = store()->unifiedContact(id, kNames);
  write("family", "a.vcf", card("a", {"N:Zeller;Annette;;;"}));
  stale.setText(ContactKey::GivenName, "Ann");
  ContactSaveRequest refused;
  refused.updateContact(stale);
  EXPECT_THROW(store()->executeSaveRequest(refused), vdir::ItemWriteError);
  EXPECT_NE(readText(book("family") / "a.vcf").find("Annette"), std::string::npos);
}

TEST_F(VcardContactStoreTest, RejectsControlCharactersWithAValidationCode) {
  Contact bad;
  bad.setText(ContactKey::GivenName, std::string("An\x01na"));
  ContactSaveRequest add;
  add.addContact(bad);
  try {
    store()->executeSaveRequest(add);
    FAIL() << "the save must be refused";
  } catch (const ContactStoreError& error) {
    EXPECT_GE(error.code(), 300);
    EXPECT_LE(error.code(), 399);
  }
  EXPECT_FALSE(std::filesystem::exists(home_.root() / "contacts"));
}

TEST_F(VcardContactStoreTest, DeletedContactsGoToTheTrash) {
  write("family", "a.vcf", card("a", {"N:Zeller;Anna;;;"}));
  const Contact anna = store()->unifiedContact(idOf("Anna"), kNames);
  ContactSaveRequest remove;
  remove.deleteContact(anna);
  store()->executeSaveRequest(remove);
  EXPECT_FALSE(std::filesystem::exists(book("family") / "a.vcf"));
  EXPECT_EQ(readText(trashFolder() / "files" / "a.vcf"), card("a", {"N:Zeller;Anna;;;"}));
  EXPECT_TRUE(names({kNames, std::nullopt}).empty());
}

TEST_F(VcardContactStoreTest, CardsOfOneFileAreContactsOfTheirOwn) {
  const std::string file = card("1", {"N:;One;;;"}) + card("2", {"N:;Two;;;"}) + card("3", {"N:;Three;;;"});
  write("family", "all.vcf", file);
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"One", "Three", "Two"}));
  const std::string twoId = idOf("Two");
  EXPECT_NE(twoId, idOf("One"));

  Contact two = store()->unifiedContact(twoId, kNames);
  two.setText(ContactKey::GivenName, "Zwei");
  ContactSaveRequest update;
  update.updateContact(two);
  EXPECT_EQ(store()->executeSaveRequest(update).front().text(ContactKey::GivenName), "Zwei");
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"One", "Three", "Zwei"}));

  // Deleting one card keeps the others in the book; the file as it was goes to the trash.
  ContactSaveRequest remove;
  remove.deleteContact(store()->unifiedContact(idOf("One"), kNames));
  store()->executeSaveRequest(remove);
  EXPECT_EQ(names({kNames, std::nullopt}), (std::vector<std::string>{"Three", "Zwei"}));
  EXPECT_TRUE(std::filesystem::exists(book("family") / "all.vcf"));
  EXPECT_NE(readText(trashFolder() / "files" / "all.vcf").find("N:;One;;;"), std::string::npos);
}

TEST_F(VcardContactStoreTest, HandsOutThePictureOnlyWhenAskedFor) {
  write("family", "p.vcf", card("p", {"N:;Pia;;;", "PHOTO;ENCODING=b;TYPE=JPEG:AAAA"}));
  const std::string id = idOf("Pia");
  EXPECT_FALSE(store()->unifiedContact(id, kNames).imageData());
  EXPECT_EQ(store()->unifiedContact(id, {ContactKey::ImageData}).imageData(), "PHOTO;ENCODING=b;TYPE=JPEG:AAAA");
}

}  // namespace
}  // namespace wren::platform

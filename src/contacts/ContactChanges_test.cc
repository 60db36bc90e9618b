#include "contacts/ContactChanges.h"

#include <gtest/gtest.h>

#include <string>

#include "app/HelperError.h"
#include "contacts/ContactReading.h"
#include "support/FakeContactStore.h"

namespace wren {
namespace {

using platform::Contact;
using platform::ContactKey;
using testing::FakeContactStore;
using testing::stored;

Contact anna() {
  Contact contact;
  contact.setText(ContactKey::GivenName, "Anna");
  contact.setText(ContactKey::FamilyName, "Zeller");
  contact.setText(ContactKey::OrganizationName, "Acme");
  contact.setText(ContactKey::Note, std::string(45, 'x') + "tail");
  contact.setText(ContactKey::JobTitle, "Lead");
  contact.setEmailAddresses({{std::nullopt, "Anna@Example.org"}, {std::nullopt, "old@example.org"}});
  contact.setPhoneNumbers({{std::nullopt, "+49 170 1234567"}, {std::nullopt, "030 1234"}});
  contact.setPostalAddresses({{std::nullopt, {"Hauptstr. 1", "", "Berlin", "", "", "", "", ""}}});
  contact.setUrlAddresses({{std::nullopt, "https://Anna.example"}});
  contact.setBirthday(platform::ContactDate{std::nullopt, 3, 14});
  return stored("a1", contact);
}

TEST(ContactWho, NamesTheContactWithWhatTellsItApart) {
  EXPECT_EQ(whoText(anna()), "「Anna Zeller」（Acme，+49 170 1234567）");
  Contact company;
  company.setText(ContactKey::OrganizationName, "Acme");
  company.setContactType(platform::ContactType::Organization);
  company.setEmailAddresses({{std::nullopt, "info@acme.example"}});
  EXPECT_EQ(whoText(company), "「Acme」（info@acme.example）");
  EXPECT_EQ(whoText(Contact()), "「(no name)」");
}

TEST(ContactLostData, ListsWhatAnUpdateWouldRemove) {
  const Contact old = anna();
  Contact updated = old;
  updated.setText(ContactKey::Note, " ");
  updated.setText(ContactKey::JobTitle, "Head");  // changed, not removed
  updated.setEmailAddresses({{std::string("_$!<Work>!$_"), "anna@example.org"}});  // relabelled, case differs
  updated.setPhoneNumbers({{std::nullopt, "+49-170-123 4567"}, {std::nullopt, "30 1234"}});
  updated.setPostalAddresses({{std::nullopt, {"Hauptstr.  1", "", "berlin", "", "", "", "", ""}}});
  updated.setUrlAddresses({});
  updated.setBirthday(std::nullopt);
  EXPECT_EQ(lostData(old, updated), (std::vector<std::string>{"备注「" + std::string(40, 'x') + "」", "邮箱 old@example.org",
                                                              "电话 030 1234", "网址 https://Anna.example",
                                                              "生日 --03-14"}));
  EXPECT_TRUE(lostData(old, old).empty());

  // A note that was not read is not listed.
  const Contact withoutNote = old.restrictedTo(detailKeys(WithNote::No));
  Contact cleared = withoutNote;
  cleared.setText(ContactKey::JobTitle, "");
  EXPECT_EQ(lostData(withoutNote, cleared), (std::vector<std::string>{"职位「Lead」"}));
}

class ContactChangeMethods : public ::testing::Test {
 protected:
  std::string question(Json (*method)(platform::ContactStore&, const Params&), Json params, Json* details = nullptr) {
    try {
      method(store_, Params(std::move(params)));
    } catch (const HelperError& error) {
      EXPECT_EQ(error.code(), ErrorCode::NeedsConfirmation) << error.message();
      if (details && error.details()) *details = *error.details();
      return error.message();
    }
    return "no question";
  }
  FakeContactStore store_;
};

TEST_F(ContactChangeMethods, CreatingASecondContactOfTheSameNameAsks) {
  store_.contacts = {anna(), testing::person("a2", "anna", "zeller"), testing::person("b", "Bert", "")};
  Json details;
  EXPECT_EQ(question(createContact, {{"firstName", "AnnaZeller"}}, &details),
            "通讯录里已经有 2 位「AnnaZeller」：「Anna Zeller」（Acme，+49 170 1234567）、「anna zeller」。还要再新建一个同名联系人吗？");
  EXPECT_EQ(details["existing"].size(), 2u);
  EXPECT_TRUE(store_.saved.empty());
  const Json created = createContact(store_, Params(Json{{"firstName", "AnnaZeller"}, {"confirmed", true}}));
  EXPECT_EQ(created["first_name"], "AnnaZeller");
  EXPECT_EQ(store_.saved.size(), 1u);
}

TEST_F(ContactChangeMethods, AnUpdateThatRemovesMuchListsEightAndCounts) {
  Contact full = anna();
  std::vector<platform::LabeledText> emails;
  for (int i = 0; i < 9; ++i) emails.push_back({std::nullopt, "a" + std::to_string(i) + "@example.org"});
  full.setEmailAddresses(emails);
  store_.contacts = {stored("a1", full)};
  Json details;
  const std::string asked = question(updateContact, {{"id", "a1"}, {"emails", Json::array()}}, &details);
  EXPECT_EQ(asked, "修改「Anna Zeller」（Acme，+49 170 1234567）会删掉：邮箱 a0@example.org、邮箱 a1@example.org、邮箱 "
                   "a2@example.org、邮箱 a3@example.org、邮箱 a4@example.org、邮箱 a5@example.org、邮箱 "
                   "a6@example.org、邮箱 a7@example.org 等 9 项。确定吗？");
  EXPECT_EQ(details["removes"].size(), 9u);
  EXPECT_EQ(details["contact"]["id"], "a1");

  emails.pop_back();
  full.setEmailAddresses(emails);
  store_.contacts = {stored("a1", full)};
  EXPECT_EQ(question(updateContact, {{"id", "a1"}, {"emails", Json::array()}}).find(" 等 "), std::string::npos);
  EXPECT_TRUE(store_.saved.empty());
}

TEST_F(ContactChangeMethods, DeletingAsksWithTheWhoText) {
  store_.contacts = {anna()};
  Json details;
  EXPECT_EQ(question(deleteContact, {{"id", "a1"}, {"confirmed", "true"}}, &details),
            "要从这台电脑的通讯录里删除「Anna Zeller」（Acme，+49 170 1234567）吗？删除后无法撤销。");
  EXPECT_EQ(details["contact"]["name"], "Anna Zeller");
  EXPECT_EQ(deleteContact(store_, Params(Json{{"id", "a1"}, {"confirmed", true}})),
            (Json{{"deleted", true}, {"id", "a1"}, {"name", "Anna Zeller"}}));
}

TEST_F(ContactChangeMethods, ExportStopsAtTheByteBudget) {
  auto big = [](const std::string& id, const std::string& family, std::size_t noteSize) {
    Contact contact;
    contact.setText(ContactKey::GivenName, "Anna");
    contact.setText(ContactKey::FamilyName, family);
    contact.setText(ContactKey::Note, std::string(noteSize, 'n'));
    contact.setImageData("PHOTO;ENCODING=b;TYPE=JPEG:AAAA");
    return stored(id, contact);
  };
  store_.contacts = {big("1", "Eins", 100000), big("2", "Zwei", 200000), big("3", "Drei", 10)};
  const Json exported = exportContacts(store_, Params(Json{{"name", "anna"}}));
  EXPECT_EQ(exported["total"], 3);
  EXPECT_EQ(exported["returned"], 1);
  EXPECT_EQ(exported["truncated"], true);
  const std::string vcard = exported["contacts"][0]["vcard"];
  EXPECT_EQ(exported["bytes"], vcard.size());
  EXPECT_EQ(vcard.find("PHOTO"), std::string::npos);
  EXPECT_NE(vcard.find("N:Eins;Anna;;;"), std::string::npos);
}

}  // namespace
}  // namespace wren

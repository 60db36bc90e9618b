#include "contacts/ContactSearch.h"

#include <gtest/gtest.h>

#include <string>

#include "app/HelperError.h"
#include "support/FakeContactStore.h"

namespace wren {
namespace {

using platform::Contact;
using platform::ContactKey;
using testing::FakeContactStore;
using testing::person;
using testing::stored;

Contact withPhone(const std::string& given, const std::string& number) {
  Contact contact;
  contact.setText(ContactKey::GivenName, given);
  contact.setPhoneNumbers({{std::nullopt, number}});
  return stored("p-" + given, contact);
}

TEST(ContactSearchText, SquashesAndTakesDigits) {
  EXPECT_EQ(squash(" Zhang\tSan\u3000Ä "), "zhangsanä");
  EXPECT_EQ(squash("ＡＢ"), "ａｂ");
  EXPECT_EQ(digitsOf("+49 (170) 12-34"), "491701234");
  EXPECT_EQ(digitsOf("１２３ 4٥"), "4");
  EXPECT_EQ(digitsOf("none"), "");
}

TEST(ContactSearchText, TellsPhoneNumbersFromText) {
  const struct {
    const char* query;
    std::optional<std::string> digits;
  } cases[] = {
      {"138 0013 8000", "13800138000"}, {"+86 138-0013-8000", "8613800138000"}, {"(030) 12.34", "0301234"},
      {"12", std::nullopt},              {"123a", std::nullopt},                   {"12/34/56", std::nullopt},
      {"١٢٣٤", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(ContactSearch(c.query).digits(), c.digits);
  }
}

TEST(ContactSearchMatching, FindsNamesInEitherOrderAndAnyForm) {
  Contact zhang = person("z", "San", "Zhang");
  Contact chinese = person("c", "三", "张");
  Contact mueller = person("m", "Anna", "Müller");
  Contact wide = person("w", "Ａｎｎａ", "");
  Contact nick;
  nick.setText(ContactKey::Nickname, "Bobby");
  nick.setText(ContactKey::OrganizationName, "Acme Corp");
  nick = stored("n", nick);
  const struct {
    const char* query;
    const Contact* contact;
    bool matches;
  } cases[] = {
      {"zhang san", &zhang, true}, {"ZHANGSAN", &zhang, true},   {"san zhang", &zhang, true},
      {"sanzhang", &zhang, true},  {"张三", &chinese, true},      {"三张", &chinese, true},
      {"张 三", &chinese, true},    {"Muller", &mueller, true},  {"annamüller", &mueller, true},
      {"MÜLLER ANNA", &mueller, true}, {"anna", &wide, true},  {"ＡＮＮＡ", &mueller, true},
      {"bobby", &nick, true},      {"acme", &nick, true},       {"acmecorp", &nick, true},
      {"zhang si", &zhang, false}, {"李", &chinese, false},     {"Mueller", &mueller, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(ContactSearch(c.query).matchesName(*c.contact), c.matches);
  }
}

TEST(ContactSearchMatching, EmailsAndPhoneNumbersCountOnlyForAny) {
  Contact anna;
  anna.setText(ContactKey::GivenName, "Anna");
  anna.setEmailAddresses({{std::nullopt, "Anna.Weber@Example.org"}});
  anna = stored("a", anna);
  EXPECT_TRUE(ContactSearch("weber@example").matchesAny(anna));
  EXPECT_FALSE(ContactSearch("weber@example").matchesName(anna));

  const Contact withCode = withPhone("Li", "+86 138-0013-8000");
  const Contact bare = withPhone("Wang", "13800138000");
  const Contact shortNumber = withPhone("Short", "123456");
  const struct {
    const char* query;
    const Contact* contact;
    bool matches;
  } cases[] = {
      {"138 0013 8000", &withCode, true},      // the stored digits hold the query's
      {"+86 13800138000", &bare, true},        // the query ends with a stored number of 7+ digits
      {"0086 138 0013 8000", &bare, true},
      {"99123456", &shortNumber, false},       // fewer than 7 stored digits never match that way
      {"0013", &withCode, true},
      {"12", &shortNumber, false},             // too few digits: compared as text only
      {"138a", &withCode, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(ContactSearch(c.query).matchesAny(*c.contact), c.matches);
  }
}

TEST(ContactSearchMatching, ExactNamesCompareSquashedWholeNames) {
  const Contact zhang = person("z", "San", "Zhang");
  EXPECT_TRUE(exactName(zhang, squash("Zhang San")));
  EXPECT_TRUE(exactName(zhang, "sanzhang"));
  EXPECT_FALSE(exactName(zhang, "zhang"));
}

class ContactMethods : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.contacts = {person("1", "Anna", "Zeller"), person("2", "Anna", "Berg"), person("3", "Annabelle", "Roth"),
                       person("4", "Bert", "Klein")};
  }
  Json call(Json (*method)(platform::ContactStore&, const Params&), Json params) {
    return method(store_, Params(std::move(params)));
  }
  std::string failure(Json (*method)(platform::ContactStore&, const Params&), Json params) {
    try {
      call(method, std::move(params));
    } catch (const HelperError& error) {
      return error.message();
    }
    return "no failure";
  }
  FakeContactStore store_;
};

TEST_F(ContactMethods, ListsCountAllMatchesAndCutAtTheLimit) {
  const Json all = call(listContacts, Json::object());
  EXPECT_EQ(all["total"], 4);
  EXPECT_EQ(all["returned"], 4);
  EXPECT_EQ(all["truncated"], false);
  EXPECT_FALSE(all.contains("group"));

  const Json one = call(listContacts, {{"search", "anna"}, {"limit", 0}});
  EXPECT_EQ(one["total"], 3);
  EXPECT_EQ(one["returned"], 1);
  EXPECT_EQ(one["truncated"], true);
  EXPECT_EQ(one["contacts"][0]["id"], "1");
  EXPECT_EQ(call(listContacts, {{"search", "   "}})["total"], 4);
  EXPECT_EQ(call(listContacts, {{"limit", 1000}})["returned"], 4);
}

TEST_F(ContactMethods, GroupsMatchIgnoringCaseAndWidthButNotAccents) {
  EXPECT_EQ(failure(listContacts, {{"group", "Friends"}}),
            "No contact group named \"Friends\": Contacts on this Mac has no groups. Leave group out.");
  store_.groupList = {{"g1", "Family"}, {"g2", "Amigos Café"}};
  EXPECT_EQ(call(listContacts, {{"group", "FAMILY"}})["group"], "Family");
  EXPECT_EQ(call(listContacts, {{"group", "ｆａｍｉｌｙ"}})["group"], "Family");
  EXPECT_EQ(failure(listContacts, {{"group", "amigos cafe"}}),
            "No contact group named \"amigos cafe\". Groups on this Mac: Family, Amigos Café.");
}

TEST_F(ContactMethods, GetPicksTheOnlyOrTheExactMatch) {
  EXPECT_EQ(call(getContact, {{"name", "bert"}})["id"], "4");
  EXPECT_EQ(call(getContact, {{"name", "anna berg"}})["id"], "2");
  const Json several = call(getContact, {{"name", "anna"}});
  EXPECT_EQ(several["multiple"], true);
  EXPECT_EQ(several["total"], 3);
  EXPECT_EQ(several["candidates"].size(), 3u);
  EXPECT_EQ(several["hint"],
            "3 contacts match \"anna\". Pick the right one (ask the person if unsure) and call contacts.get again with "
            "its id.");
  EXPECT_EQ(call(getContact, {{"id", "3"}, {"name", "bert"}})["id"], "3");
  EXPECT_EQ(failure(getContact, Json::object()), "name is required");
  EXPECT_EQ(failure(getContact, {{"name", "nobody"}}),
            "No contact on this Mac matches the name \"nobody\". Try contacts.list with a shorter search (it also "
            "matches emails and phone numbers).");

  // A unique exact name wins over several partial matches; two exact names do not.
  store_.contacts.push_back(person("6", "Ann", ""));
  EXPECT_EQ(call(getContact, {{"name", "ann"}})["id"], "6");
  store_.contacts.push_back(person("5", "Anna", "Berg"));
  EXPECT_EQ(call(getContact, {{"name", "anna berg"}})["multiple"], true);
}

TEST_F(ContactMethods, TheOwnCardWithAndWithoutItsNote) {
  EXPECT_EQ(failure(myContact, Json::object()),
            "This Mac has no \"My Card\" in Contacts (no me card is set). The person can set one in Contacts → Card → "
            "Make This My Card.");
  store_.meId = "4";
  store_.refuseNote = true;
  const Json me = call(myContact, Json::object());
  EXPECT_EQ(me["name"], "Bert Klein");
  EXPECT_EQ(me["note_unavailable"], true);
  store_.failWith = 100;
  try {
    call(myContact, Json::object());
    FAIL();
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::OsPermission);
  }
}

}  // namespace
}  // namespace wren

#include "contacts/ContactReading.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/FakeContactStore.h"

namespace wren {
namespace {

using platform::Contact;
using platform::ContactKey;
using testing::FakeContactStore;
using testing::stored;
namespace label = platform::contactLabel;

HelperError errorOf(std::exception_ptr error, std::optional<std::string> id = std::nullopt) {
  return contactsError(std::move(error), id);
}

template <class E>
std::exception_ptr thrown(E error) {
  return std::make_exception_ptr(std::move(error));
}

TEST(ContactsError, MapsEveryKindOfFailure) {
  using platform::ContactStoreError;
  const struct {
    const char* name;
    std::exception_ptr error;
    std::optional<std::string> id;
    ErrorCode code;
    std::string message;
  } cases[] = {
      {"helper error", thrown(HelperError(ErrorCode::InvalidArgs, "as it was")), "x", ErrorCode::InvalidArgs,
       "as it was"},
      {"denied", thrown(ContactStoreError(100, "denied")), std::nullopt, ErrorCode::OsPermission,
       "macOS has not allowed Wren to access Contacts: System Settings → Privacy & Security → Contacts → turn on "
       "Wren."},
      {"unknown id", thrown(ContactStoreError(200, "gone")), "abc", ErrorCode::InvalidArgs,
       "No contact with id abc on this Mac (ids come from contacts.list / contacts.get; it may have been deleted)."},
      {"invalid id", thrown(ContactStoreError(205, "bad")), "abc", ErrorCode::InvalidArgs,
       "No contact with id abc on this Mac (ids come from contacts.list / contacts.get; it may have been deleted)."},
      {"gone without id", thrown(ContactStoreError(200, "gone")), std::nullopt, ErrorCode::InvalidArgs,
       "That contact no longer exists on this Mac."},
      {"validation", thrown(ContactStoreError(301, "the URL holds a control character")), "abc",
       ErrorCode::InvalidArgs, "Contacts rejected the change: the URL holds a control character"},
      {"last validation code", thrown(ContactStoreError(399, "odd")), std::nullopt, ErrorCode::InvalidArgs,
       "Contacts rejected the change: odd"},
      {"other code", thrown(ContactStoreError(101, "busy")), std::nullopt, ErrorCode::ExecutionFailed,
       "Contacts: busy"},
      {"not the store's", thrown(std::runtime_error("rename(/a.vcf): No space left on device")), "abc",
       ErrorCode::ExecutionFailed, "Contacts: rename(/a.vcf): No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HelperError error = errorOf(c.error, c.id);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.message(), c.message);
  }
  const HelperError denied = errorOf(thrown(ContactStoreError(100, "denied")));
  ASSERT_TRUE(denied.details());
  EXPECT_EQ(*denied.details(),
            (Json{{"settingsUrl", "x-apple.systempreferences:com.apple.preference.security?Privacy_Contacts"}}));
  EXPECT_FALSE(errorOf(thrown(ContactStoreError(200, "gone")), "a").details());
}

TEST(ContactKeySets, NestInOrder) {
  const platform::ContactKeys summary = summaryKeys();
  const platform::ContactKeys detail = detailKeys(WithNote::Yes);
  EXPECT_TRUE(std::equal(summary.begin(), summary.end(), detail.begin()));
  EXPECT_EQ(detail.back(), ContactKey::Note);
  EXPECT_EQ(detailKeys(WithNote::No).size() + 1, detail.size());
}

TEST(ContactNames, FallBackToWhatTheContactHas) {
  Contact email;
  email.setEmailAddresses({{std::nullopt, " only@example.org"}});
  email.setPhoneNumbers({{std::nullopt, "+1 555"}});
  Contact phone;
  phone.setPhoneNumbers({{std::nullopt, "+1 555"}});
  Contact company;
  company.setText(ContactKey::OrganizationName, "  Acme ");
  Contact chinese;
  chinese.setText(ContactKey::FamilyName, "张");
  chinese.setText(ContactKey::GivenName, "三");
  const struct {
    const char* name;
    Contact contact;
    std::string shown;
  } cases[] = {
      {"email as stored", email, " only@example.org"},
      {"phone", phone, "+1 555"},
      {"organization of a person", company, "Acme"},
      {"nothing", Contact(), "(no name)"},
      {"family name first without a space", chinese, "张三"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(contactDisplayName(c.contact), c.shown);
  }
}

TEST(ContactDays, WriteWhatTheDateHas) {
  EXPECT_EQ(dayText(platform::ContactDate{std::nullopt, 3, 14}), "--03-14");
  EXPECT_EQ(dayText(platform::ContactDate{1990, 3, 14}), "1990-03-14");
  EXPECT_EQ(dayText(platform::ContactDate{1990, 3, std::nullopt}), std::nullopt);
  EXPECT_EQ(dayText(platform::ContactDate{std::nullopt, std::nullopt, 4}), std::nullopt);
  EXPECT_EQ(dayText(std::nullopt), std::nullopt);
}

TEST(ContactLabels, ShowBuiltInWordsAndCustomText) {
  EXPECT_EQ(labelText(std::string(label::kPhoneHomeFax)), "home fax");
  EXPECT_EQ(labelText(std::string(label::kPhoneIPhone)), "iPhone");
  EXPECT_EQ(labelText(std::string(label::kUrlHomePage)), "homepage");
  EXPECT_EQ(labelText(std::string("Boat")), "Boat");
  EXPECT_EQ(labelText(std::string()), std::nullopt);
  EXPECT_EQ(labelText(std::nullopt), std::nullopt);
}

TEST(ContactAddresses, JoinTheMailingLinesWithoutEmptyParts) {
  platform::PostalAddress address;
  address.street = "1 Main St\n\n  Apt 2\t";
  address.country = "USA";
  EXPECT_EQ(addressLine(address), "1 Main St, Apt 2, USA");
  address.street = "Line\xE2\x80\xA8Other";
  address.city = "Town";
  EXPECT_EQ(addressLine(address), "Line, Other, Town, USA");
  EXPECT_EQ(addressLine(platform::PostalAddress{}), "");
}

TEST(ContactRows, SummaryKeysFollowTheirPresenceRules) {
  Contact person;
  person.setText(ContactKey::GivenName, "Anna");
  person.setText(ContactKey::JobTitle, "  ");
  person.setBirthday(platform::ContactDate{1990, 3, std::nullopt});
  const Json row = contactSummary(stored("p1", person));
  EXPECT_EQ(row, (Json{{"id", "p1"}, {"name", "Anna"}, {"emails", Json::array()}, {"phones", Json::array()}}));

  Contact company;
  company.setText(ContactKey::OrganizationName, "Acme");
  company.setContactType(platform::ContactType::Organization);
  company.setEmailAddresses({{std::string(label::kWork), "info@acme.example"}, {std::nullopt, "x@acme.example"}});
  company.setBirthday(platform::ContactDate{std::nullopt, 3, 14});
  const Json companyRow = contactSummary(stored("c1", company));
  EXPECT_EQ(companyRow["company"], true);
  EXPECT_EQ(companyRow["organization"], "Acme");
  EXPECT_EQ(companyRow["emails"], (Json::array({{{"value", "info@acme.example"}, {"label", "work"}},
                                                {{"value", "x@acme.example"}}})));
  EXPECT_EQ(companyRow["birthday"], "--03-14");
}

TEST(ContactRows, DetailCutsTheNoteAndKeepsEntryShapes) {
  Contact contact;
  contact.setText(ContactKey::GivenName, "Anna");
  contact.setText(ContactKey::Note, std::string(4001, 'n'));
  platform::ContactFields fields = contact.fields();
  fields.socialProfiles = {{std::nullopt, {"Twitter", "", "https://twitter.com/x"}}};
  fields.instantMessageAddresses = {{std::nullopt, {"", "ann"}}};
  fields.dates = {{std::nullopt, {1990, std::nullopt, 1}}};
  fields.postalAddresses = {{std::string(label::kHome), {"1 Main St", "", "Town", "", "", "", "", "us"}}};
  const Contact full("d1", std::make_shared<const platform::ContactFields>(fields), detailKeys(WithNote::Yes), nullptr);
  const Json row = contactDetail(full);
  EXPECT_EQ(row["note"].get<std::string>().size(), 4000u);
  EXPECT_EQ(row["note_truncated"], true);
  EXPECT_FALSE(row.contains("note_unavailable"));
  EXPECT_EQ(row["social_profiles"], (Json::array({{{"service", "Twitter"}, {"url", "https://twitter.com/x"}}})));
  EXPECT_EQ(row["instant_messages"], (Json::array({{{"service", ""}, {"username", "ann"}}})));
  EXPECT_EQ(row["dates"], Json::array()) << "a date without a month is left out, the key stays";
  EXPECT_EQ(row["urls"], Json::array());
  EXPECT_EQ(row["addresses"], (Json::array({{{"label", "home"}, {"street", "1 Main St"}, {"city", "Town"},
                                             {"country_code", "us"}, {"formatted", "1 Main St, Town"}}})));
  EXPECT_FALSE(row.contains("related_names"));

  fields.setText(ContactKey::Note, std::string(4000, 'n'));
  const Json exact =
      contactDetail(Contact("d2", std::make_shared<const platform::ContactFields>(fields), detailKeys(WithNote::Yes), nullptr));
  EXPECT_FALSE(exact.contains("note_truncated"));
  fields.setText(ContactKey::Note, " \n ");
  const Json blank =
      contactDetail(Contact("d3", std::make_shared<const platform::ContactFields>(fields), detailKeys(WithNote::Yes), nullptr));
  EXPECT_FALSE(blank.contains("note"));
  EXPECT_FALSE(blank.contains("note_unavailable"));
}

TEST(ContactLoading, FallsBackWhenTheNoteIsRefused) {
  FakeContactStore store;
  Contact anna;
  anna.setText(ContactKey::GivenName, "Anna");
  anna.setText(ContactKey::Note, "private");
  store.contacts.push_back(stored("a", anna));
  store.refuseNote = true;
  const Json row = contactDetail(loadDetail(store, "a"));
  EXPECT_EQ(row["note_unavailable"], true);
  EXPECT_FALSE(row.contains("note"));
  EXPECT_EQ(row["first_name"], "Anna");

  try {
    loadDetail(store, "missing");
    FAIL() << "an unknown id must fail";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.message(),
              "No contact with id missing on this Mac (ids come from contacts.list / contacts.get; it may have been "
              "deleted).");
  }
  store.failWith = 100;
  EXPECT_THROW(
      {
        try {
          eachContact(store, summaryKeys(), std::nullopt, [](const Contact&) { return true; });
        } catch (const HelperError& error) {
          EXPECT_EQ(error.code(), ErrorCode::OsPermission);
          throw;
        }
      },
      HelperError);
}

}  // namespace
}  // namespace wren

#include "contacts/ContactEdit.h"

#include <gtest/gtest.h>

#include <string>

#include "app/HelperError.h"
#include "support/FakeContactStore.h"

namespace wren {
namespace {

using platform::Contact;
using platform::ContactKey;
namespace label = platform::contactLabel;

std::string failureOf(const Json& params, AllowCompany allowCompany = AllowCompany::Yes) {
  try {
    ContactEdit edit(Params(params), allowCompany);
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::InvalidArgs);
    return error.message();
  }
  return "accepted";
}

Json entriesOf(std::size_t count, const Json& entry) { return Json(std::vector<Json>(count, entry)); }

TEST(ContactEditValidation, NamesTheFieldThatIsWrong) {
  const Json email{{"value", "a@b.c"}};
  const struct {
    const char* name;
    Json params;
    std::string message;
  } cases[] = {
      {"number as a name", {{"firstName", 5}}, "firstName must be a string"},
      {"null as a name", {{"firstName", nullptr}}, "firstName must be a string"},
      {"null note", {{"note", nullptr}}, "note must be a string"},
      {"list as a string", {{"emails", "a@b.c"}}, "emails must be an array"},
      {"50 entries", {{"emails", entriesOf(50, email)}}, "accepted"},
      {"51 entries", {{"emails", entriesOf(51, email)}}, "emails: at most 50 entries"},
      {"a string among objects, after a bad email",
       {{"emails", Json::array({{{"value", "no at"}}, "x"})}},
       "emails: every entry must be an object"},
      {"email without @", {{"emails", Json::array({{{"value", "nobody"}}})}},
       "emails: every entry needs a value that is an email address"},
      {"email value not text", {{"emails", Json::array({{{"value", 5}}})}},
       "emails: every entry needs a value that is an email address"},
      {"phone of letters", {{"phones", Json::array({{{"value", "call me (now)"}}})}},
       "phones: every entry needs a value with digits"},
      {"phone of full-width digits", {{"phones", Json::array({{{"value", "１２３"}}})}},
       "phones: every entry needs a value with digits"},
      {"address with a country code only", {{"addresses", Json::array({{{"countryCode", "cn"}}})}},
       "addresses: every entry needs at least one of street, city, state, zip, country"},
      {"url empty", {{"urls", Json::array({{{"value", "  "}}})}}, "urls: every entry needs a value"},
      {"homePage not text", {{"homePage", false}}, "homePage must be a string"},
      {"birthday not text", {{"birthday", 19900314}}, "birthday must be a string"},
      {"a number as a label", {{"phones", Json::array({{{"value", "1"}, {"label", 7}}})}}, "accepted"},
      {"company as text", {{"company", "true"}}, "accepted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureOf(c.params), c.message);
  }
}

TEST(ContactEditValidation, ReadsBirthdaysOfBothShapes) {
  const struct {
    const char* text;
    std::optional<platform::ContactDate> date;
    std::string failure;
  } cases[] = {
      {"1990-03-14", platform::ContactDate{1990, 3, 14}, ""},
      {"--03-14", platform::ContactDate{std::nullopt, 3, 14}, ""},
      {"--3-4", platform::ContactDate{std::nullopt, 3, 4}, ""},
      {"1990-3-4", platform::ContactDate{1990, 3, 4}, ""},
      {"1990-02-31", platform::ContactDate{1990, 2, 31}, ""},
      {"1990-13-01", std::nullopt, "birthday has an impossible month/day: 1990-13-01"},
      {"--00-10", std::nullopt, "birthday has an impossible month/day: --00-10"},
      {"90-03-14", std::nullopt, "birthday must be \"YYYY-MM-DD\" or \"--MM-DD\" (no year), got 90-03-14"},
      {"03-14", std::nullopt, "birthday must be \"YYYY-MM-DD\" or \"--MM-DD\" (no year), got 03-14"},
      {"1990-03- 4", std::nullopt, "birthday must be \"YYYY-MM-DD\" or \"--MM-DD\" (no year), got 1990-03- 4"},
      {"March 14", std::nullopt, "birthday must be \"YYYY-MM-DD\" or \"--MM-DD\" (no year), got March 14"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      EXPECT_EQ(parseBirthday(c.text), *c.date);
      EXPECT_TRUE(c.failure.empty());
    } catch (const HelperError& error) {
      EXPECT_EQ(error.message(), c.failure);
    }
  }
  const ContactEdit cleared(Params(Json{{"birthday", "  "}}), AllowCompany::No);
  ASSERT_TRUE(cleared.birthday);
  EXPECT_FALSE(*cleared.birthday);
  EXPECT_FALSE(cleared.isEmpty());
}

TEST(ContactEditLabels, MapEnglishAndChineseWordsPerKind) {
  const struct {
    const char* label;
    LabelKind kind;
    std::optional<std::string> stored;
  } cases[] = {
      {"Home", LabelKind::Email, std::string(label::kHome)},
      {"住宅", LabelKind::Address, std::string(label::kHome)},
      {" 工作 ", LabelKind::Url, std::string(label::kWork)},
      {"学校", LabelKind::Phone, std::string(label::kSchool)},
      {"其他", LabelKind::Email, std::string(label::kOther)},
      {"手机", LabelKind::Phone, std::string(label::kPhoneMobile)},
      {"Mobile", LabelKind::Phone, std::string(label::kPhoneMobile)},
      {"mobile", LabelKind::Email, "mobile"},
      {"Mobile", LabelKind::Address, "Mobile"},
      {"iPhone", LabelKind::Phone, std::string(label::kPhoneIPhone)},
      {"总机", LabelKind::Phone, std::string(label::kPhoneMain)},
      {"Home Fax", LabelKind::Phone, std::string(label::kPhoneHomeFax)},
      {"工作传真", LabelKind::Phone, std::string(label::kPhoneWorkFax)},
      {"other fax", LabelKind::Phone, std::string(label::kPhoneOtherFax)},
      {"传呼", LabelKind::Phone, std::string(label::kPhonePager)},
      {"iCloud", LabelKind::Email, std::string(label::kEmailICloud)},
      {"iCloud", LabelKind::Phone, "iCloud"},
      {"主页", LabelKind::Url, std::string(label::kUrlHomePage)},
      {"home page", LabelKind::Url, std::string(label::kUrlHomePage)},
      {"_$!<Custom>!$_", LabelKind::Email, "_$!<Custom>!$_"},
      {"Boat", LabelKind::Phone, "Boat"},
      {"   ", LabelKind::Phone, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(labelConstant(std::string(c.label), c.kind), c.stored);
  }
  EXPECT_EQ(labelConstant(std::nullopt, LabelKind::Phone), std::nullopt);
}

TEST(ContactEditFields, ReadsWhatWasSentAndOnlyThat) {
  const ContactEdit edit(Params(Json{{"lastName", "  Zeller\n"},
                                     {"note", "   "},
                                     {"addresses", Json::array({{{"city", "Berlin"}, {"countryCode", "DE"}, {"label", "家"}}})},
                                     {"company", true}}),
                         AllowCompany::No);
  ASSERT_EQ(edit.scalars.size(), 2u);
  EXPECT_EQ(edit.scalars[0].first.param, "lastName");
  EXPECT_EQ(edit.scalars[0].second, "Zeller");
  EXPECT_EQ(edit.scalars[1].first.param, "note");
  EXPECT_EQ(edit.scalars[1].second, "");
  ASSERT_TRUE(edit.addresses);
  EXPECT_EQ((*edit.addresses)[0].value.isoCountryCode, "de");
  EXPECT_EQ((*edit.addresses)[0].label, std::string(label::kHome));
  EXPECT_FALSE(edit.emails);
  EXPECT_FALSE(edit.company) << "updates do not read company";
  EXPECT_TRUE(ContactEdit(Params(Json::object()), AllowCompany::Yes).isEmpty());
  EXPECT_FALSE(ContactEdit(Params(Json{{"emails", Json::array()}}), AllowCompany::Yes).isEmpty());
}

TEST(ContactEditApply, PlacesTheHomePageFirstAfterTheUrls) {
  Contact contact;
  contact.setUrlAddresses({{std::string(label::kUrlHomePage), "https://old.example"},
                           {std::nullopt, "https://plain.example"},
                           {std::string(label::kWork), "https://work.example"}});
  ContactEdit(Params(Json{{"homePage", "https://new.example"}}), AllowCompany::No).apply(contact);
  EXPECT_EQ(contact.urlAddresses(),
            (std::vector<platform::LabeledText>{{std::string(label::kUrlHomePage), "https://new.example"},
                                                {std::nullopt, "https://plain.example"},
                                                {std::string(label::kWork), "https://work.example"}}));
  ContactEdit(Params(Json{{"homePage", ""}}), AllowCompany::No).apply(contact);
  EXPECT_EQ(contact.urlAddresses().size(), 2u);

  ContactEdit(Params(Json{{"urls", Json::array({{{"value", "https://a.example"}}})}, {"homePage", "https://h.example"}}),
              AllowCompany::No)
      .apply(contact);
  EXPECT_EQ(contact.urlAddresses(),
            (std::vector<platform::LabeledText>{{std::string(label::kUrlHomePage), "https://h.example"},
                                                {std::nullopt, "https://a.example"}}));
}

TEST(ContactEditApply, RefusesANoteTheStoreWouldNotHandOut) {
  Contact full;
  full.setText(ContactKey::GivenName, "Anna");
  Contact withoutNote = testing::stored("a", full).restrictedTo({ContactKey::GivenName, ContactKey::FamilyName});
  const ContactEdit edit(Params(Json{{"firstName", "Anne"}, {"note", "x"}}), AllowCompany::No);
  try {
    edit.apply(withoutNote);
    FAIL() << "the note cannot be written";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::ExecutionFailed);
    EXPECT_EQ(error.message(), "This Mac does not let Wren edit the contact's note.");
  }

  Contact company;
  ContactEdit(Params(Json{{"organization", "Acme"}, {"company", true}, {"birthday", "--01-02"}}), AllowCompany::Yes)
      .apply(company);
  EXPECT_EQ(company.contactType(), platform::ContactType::Organization);
  EXPECT_EQ(company.birthday(), (platform::ContactDate{std::nullopt, 1, 2}));
}

}  // namespace
}  // namespace wren

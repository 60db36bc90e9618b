#include "platform/Contact.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ContactFormatter.h"

namespace wren::platform {
namespace {

Contact named(const std::string& prefix, const std::string& given, const std::string& middle,
              const std::string& family, const std::string& suffix) {
  Contact contact;
  contact.setText(ContactKey::NamePrefix, prefix);
  contact.setText(ContactKey::GivenName, given);
  contact.setText(ContactKey::MiddleName, middle);
  contact.setText(ContactKey::FamilyName, family);
  contact.setText(ContactKey::NameSuffix, suffix);
  return contact;
}

TEST(ContactRecords, CarryOnlyTheirKeysAndShareValuesUntilChanged) {
  auto fields = std::make_shared<ContactFields>();
  fields->setText(ContactKey::GivenName, "Anna");
  fields->setText(ContactKey::Note, "secret");
  fields->emailAddresses = {{std::nullopt, "anna@example.org"}};
  const Contact fetched("id1", fields, {ContactKey::GivenName}, nullptr);
  EXPECT_TRUE(fetched.isKeyAvailable(ContactKey::Identifier));
  EXPECT_FALSE(fetched.isKeyAvailable(ContactKey::Note));
  EXPECT_EQ(fetched.text(ContactKey::Note), "");
  EXPECT_TRUE(fetched.emailAddresses().empty());
  EXPECT_EQ(fetched.text(ContactKey::Identifier), "id1");
  EXPECT_EQ(fetched.availableKeys(), (ContactKeys{ContactKey::Identifier, ContactKey::GivenName}));

  Contact copy = fetched;
  copy.setText(ContactKey::GivenName, "Anne");
  EXPECT_EQ(fetched.text(ContactKey::GivenName), "Anna");
  EXPECT_EQ(fields->text(ContactKey::GivenName), "Anna");
  EXPECT_EQ(copy.text(ContactKey::GivenName), "Anne");
  EXPECT_FALSE(copy.restrictedTo({ContactKey::Note}).isKeyAvailable(ContactKey::GivenName));
  EXPECT_THROW(copy.text(ContactKey::EmailAddresses), std::logic_error);

  const Contact fresh;
  EXPECT_TRUE(fresh.isKeyAvailable(ContactKey::Note));
  EXPECT_EQ(fresh.identifier(), "");
}

TEST(ContactLabelsShown, BuiltInLabelsAsEnglishWords) {
  const struct {
    std::string_view label;
    const char* shown;
  } cases[] = {
      {contactLabel::kHome, "home"},           {contactLabel::kWork, "work"},
      {contactLabel::kPhoneMobile, "mobile"},  {contactLabel::kPhoneIPhone, "iPhone"},
      {contactLabel::kPhoneMain, "main"},      {contactLabel::kPhoneHomeFax, "home fax"},
      {contactLabel::kPhoneWorkFax, "work fax"}, {contactLabel::kPhoneOtherFax, "other fax"},
      {contactLabel::kPhonePager, "pager"},    {contactLabel::kEmailICloud, "iCloud"},
      {contactLabel::kUrlHomePage, "homepage"}, {contactLabel::kSchool, "school"},
      {contactLabel::kOther, "other"},         {"_$!<Spouse>!$_", "spouse"},
      {"_$!<GrandAunt>!$_", "grandaunt"},      {"Boat", "Boat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(localizedLabel(c.label), c.shown);
  }
}

TEST(ContactFullNames, FollowTheScriptOfTheName) {
  const struct {
    const char* name;
    Contact contact;
    std::optional<std::string> formatted;
  } cases[] = {
      {"Latin with every part", named("Dr.", "Anna", "Maria", "Müller", "Jr."), "Dr. Anna Maria Müller Jr."},
      {"given only", named("", " Anna ", "", "", ""), "Anna"},
      {"Chinese", named("", "三", "", "张", ""), "张三"},
      {"Chinese with a middle name", named("", "小明", "子", "王", ""), "王子小明"},
      {"Japanese", named("", "太郎", "", "山田", ""), "山田太郎"},
      {"Korean", named("", "길동", "", "홍", ""), "홍길동"},
      {"mixed scripts", named("", "Wei", "", "张", ""), "Wei 张"},
      {"nothing", named("", "", "", "", ""), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(formatFullName(c.contact), c.formatted);
  }
  Contact company = named("", "Anna", "", "Müller", "");
  company.setText(ContactKey::OrganizationName, "Acme");
  EXPECT_EQ(formatFullName(company), "Anna Müller");
  company.setContactType(ContactType::Organization);
  EXPECT_EQ(formatFullName(company), "Acme");
}

}  // namespace
}  // namespace wren::platform

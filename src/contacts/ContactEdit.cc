#include "contacts/ContactEdit.h"

#include <charconv>
#include <limits>

#include "app/HelperError.h"
#include "contacts/ContactSearch.h"
#include "platform/Text.h"

namespace wren {

namespace {

using platform::ContactKey;
namespace label = platform::contactLabel;

constexpr std::size_t kMaxEntries = 50;

struct LabelWords {
  std::optional<LabelKind> kind;  // none: every kind
  std::vector<std::string_view> words;
  std::string_view constant;
};

const std::vector<LabelWords>& labelWords() {
  static const std::vector<LabelWords> table = {
      {std::nullopt, {"home", "家", "住宅", "家庭"}, label::kHome},
      {std::nullopt, {"work", "工作", "单位"}, label::kWork},
      {std::nullopt, {"school", "学校"}, label::kSchool},
      {std::nullopt, {"other", "其他"}, label::kOther},
      {LabelKind::Phone, {"mobile", "cell", "手机", "移动电话"}, label::kPhoneMobile},
      {LabelKind::Phone, {"iphone"}, label::kPhoneIPhone},
      {LabelKind::Phone, {"main", "主要", "总机"}, label::kPhoneMain},
      {LabelKind::Phone, {"home fax", "住宅传真"}, label::kPhoneHomeFax},
      {LabelKind::Phone, {"work fax", "工作传真"}, label::kPhoneWorkFax},
      {LabelKind::Phone, {"other fax"}, label::kPhoneOtherFax},
      {LabelKind::Phone, {"pager", "传呼"}, label::kPhonePager},
      {LabelKind::Email, {"icloud"}, label::kEmailICloud},
      {LabelKind::Url, {"homepage", "home page", "主页"}, label::kUrlHomePage},
  };
  return table;
}

std::string trimmed(const Json& value) { return platform::trimWhitespace(value.get<std::string>()); }

// The entry's text under `key` trimmed; a missing value or one that is not text is empty.
std::string entryText(const Json& entry, const char* key) {
  auto found = entry.find(key);
  return found != entry.end() && found->is_string() ? trimmed(*found) : std::string();
}

std::optional<std::string> entryLabel(const Json& entry, LabelKind kind) {
  auto found = entry.find("label");
  if (found == entry.end() || !found->is_string()) return labelConstant(std::nullopt, kind);
  return labelConstant(found->get<std::string>(), kind);
}

// An integer written as an optional plus sign and ASCII digits, nothing else.
std::optional<int> wholeNumber(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  long long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

std::vector<std::string_view> splitAtDashes(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t dash = text.find('-'); dash != std::string_view::npos; dash = text.find('-', start)) {
    pieces.push_back(text.substr(start, dash - start));
    start = dash + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// A list parameter's labelled text values, each checked by `valid`.
template <class Check>
std::optional<std::vector<platform::LabeledText>> labeledTexts(const Params& params, const std::string& key,
                                                               LabelKind kind, const std::string& message, Check valid) {
  std::optional<std::vector<Json>> list = ContactEdit::entries(params, key);
  if (!list) return std::nullopt;
  std::vector<platform::LabeledText> values;
  for (const Json& entry : *list) {
    auto value = entry.find("value");
    if (value == entry.end() || !value->is_string() || !valid(trimmed(*value))) throwInvalidArgs(message);
    values.push_back({entryLabel(entry, kind), trimmed(*value)});
  }
  return values;
}

}  // namespace

std::vector<ScalarField> scalarFields() {
  return {
      {"firstName", ContactKey::GivenName, "名"},       {"lastName", ContactKey::FamilyName, "姓"},
      {"middleName", ContactKey::MiddleName, "中间名"}, {"nickname", ContactKey::Nickname, "昵称"},
      {"organization", ContactKey::OrganizationName, "公司"}, {"jobTitle", ContactKey::JobTitle, "职位"},
      {"department", ContactKey::DepartmentName, "部门"}, {"note", ContactKey::Note, "备注"},
  };
}

std::optional<std::string> labelConstant(const std::optional<std::string>& label, LabelKind kind) {
  if (!label) return std::nullopt;
  std::string text = platform::trimWhitespace(*label);
  if (text.empty()) return std::nullopt;
  if (text.starts_with("_$!<")) return text;
  const std::string lower = platform::lowerCased(text);
  for (const LabelWords& row : labelWords()) {
    if (row.kind && *row.kind != kind) continue;
    for (std::string_view word : row.words)
      if (lower == word) return std::string(row.constant);
  }
  return text;
}

platform::ContactDate parseBirthday(const std::string& text) {
  const std::vector<std::string_view> pieces = splitAtDashes(text);
  std::optional<int> year, month, day;
  bool shaped = false;
  if (text.starts_with("--") && pieces.size() == 4) {
    month = wholeNumber(pieces[2]);
    day = wholeNumber(pieces[3]);
    shaped = month && day;
  } else if (pieces.size() == 3 && pieces[0].size() == 4 && wholeNumber(pieces[0])) {
    year = wholeNumber(pieces[0]);
    month = wholeNumber(pieces[1]);
    day = wholeNumber(pieces[2]);
    shaped = month && day;
  }
  if (!shaped)
    throwInvalidArgs("birthday must be \"YYYY-MM-DD\" or \"--MM-DD\" (no year), got " + text);
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31)
    throwInvalidArgs("birthday has an impossible month/day: " + text);
  return platform::ContactDate{year, month, day};
}

std::optional<std::vector<Json>> ContactEdit::entries(const Params& params, const std::string& key) {
  const Json* value = params.find(key);
  if (!value) return std::nullopt;
  if (!value->is_array()) throwInvalidArgs(key + " must be an array");
  if (value->size() > kMaxEntries) throwInvalidArgs(key + ": at most 50 entries");
  for (const Json& entry : *value)
    if (!entry.is_object()) throwInvalidArgs(key + ": every entry must be an object");
  return std::vector<Json>(value->begin(), value->end());
}

ContactEdit::ContactEdit(const Params& params, AllowCompany allowCompany) {
  for (const ScalarField& field : scalarFields()) {
    const Json* value = params.find(field.param);
    if (!value) continue;
    if (!value->is_string()) throwInvalidArgs(field.param + " must be a string");
    scalars.emplace_back(field, trimmed(*value));
  }

  emails = labeledTexts(params, "emails", LabelKind::Email, "emails: every entry needs a value that is an email address",
                        [](const std::string& text) { return text.find('@') != std::string::npos; });
  phones = labeledTexts(params, "phones", LabelKind::Phone, "phones: every entry needs a value with digits",
                        [](const std::string& text) { return !digitsOf(text).empty(); });

  if (std::optional<std::vector<Json>> list = entries(params, "addresses")) {
    addresses.emplace();
    for (const Json& entry : *list) {
      platform::PostalAddress address;
      address.street = entryText(entry, "street");
      address.city = entryText(entry, "city");
      address.state = entryText(entry, "state");
      address.postalCode = entryText(entry, "zip");
      address.country = entryText(entry, "country");
      address.isoCountryCode = platform::lowerCased(entryText(entry, "countryCode"));
      if (address.street.empty() && address.city.empty() && address.state.empty() && address.postalCode.empty() &&
          address.country.empty())
        throwInvalidArgs("addresses: every entry needs at least one of street, city, state, zip, country");
      addresses->push_back({entryLabel(entry, LabelKind::Address), std::move(address)});
    }
  }

  urls = labeledTexts(params, "urls", LabelKind::Url, "urls: every entry needs a value",
                      [](const std::string& text) { return !text.empty(); });

  if (const Json* value = params.find("homePage")) {
    if (!value->is_string()) throwInvalidArgs("homePage must be a string");
    homePage = trimmed(*value);
  }
  if (const Json* value = params.find("birthday")) {
    if (!value->is_string()) throwInvalidArgs("birthday must be a string");
    const std::string text = trimmed(*value);
    birthday = text.empty() ? std::optional<platform::ContactDate>() : parseBirthday(text);
  }
  if (allowCompany == AllowCompany::Yes) company = params.boolean("company");
}

bool ContactEdit::isEmpty() const {
  return scalars.empty() && !emails && !phones && !addresses && !urls && !homePage && !birthday && !company;
}

void ContactEdit::apply(platform::Contact& contact) const {
  for (const auto& [field, text] : scalars) {
    if (!contact.isKeyAvailable(field.key))
      throwExecutionFailed("This Mac does not let Wren edit the contact's " + field.param + ".");
    contact.setText(field.key, text);
  }
  if (emails) contact.setEmailAddresses(*emails);
  if (phones) contact.setPhoneNumbers(*phones);
  if (addresses) contact.setPostalAddresses(*addresses);
  if (urls) contact.setUrlAddresses(*urls);
  if (homePage) {
    std::vector<platform::LabeledText> kept;
    if (!homePage->empty()) kept.push_back({std::string(label::kUrlHomePage), *homePage});
    for (const platform::LabeledText& url : contact.urlAddresses())
      if (url.label != label::kUrlHomePage) kept.push_back(url);
    contact.setUrlAddresses(std::move(kept));
  }
  if (birthday) contact.setBirthday(*birthday);
  if (company) contact.setContactType(*company ? platform::ContactType::Organization : platform::ContactType::Person);
}

}  // namespace wren

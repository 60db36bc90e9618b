#include "platform/ContactFormatter.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <initializer_list>

#include "platform/Text.h"

namespace wren::platform {

namespace {

struct Scripts {
  bool cjk = false;
  bool latin = false;
};

void noteScripts(const std::string& text, Scripts& scripts) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0x80) {
      scripts.latin = scripts.latin || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      continue;
    }
    if (c < 0) continue;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &status);
    if (U_FAILURE(status)) continue;
    scripts.cjk = scripts.cjk || script == USCRIPT_HAN || script == USCRIPT_HIRAGANA ||
                  script == USCRIPT_KATAKANA || script == USCRIPT_HANGUL;
    scripts.latin = scripts.latin || script == USCRIPT_LATIN;
  }
}

std::string join(std::initializer_list<const std::string*> parts, const char* separator) {
  std::string line;
  for (const std::string* part : parts) {
    if (part->empty()) continue;
    if (!line.empty()) line += separator;
    line += *part;
  }
  return line;
}

}  // namespace

std::optional<std::string> formatFullName(const Contact& contact) {
  if (contact.contactType() == ContactType::Organization) {
    std::string organization = trimWhitespace(contact.text(ContactKey::OrganizationName));
    if (!organization.empty()) return organization;
  }
  const std::string prefix = trimWhitespace(contact.text(ContactKey::NamePrefix));
  const std::string given = trimWhitespace(contact.text(ContactKey::GivenName));
  const std::string middle = trimWhitespace(contact.text(ContactKey::MiddleName));
  const std::string family = trimWhitespace(contact.text(ContactKey::FamilyName));
  const std::string suffix = trimWhitespace(contact.text(ContactKey::NameSuffix));
  Scripts scripts;
  for (const std::string* part : {&given, &middle, &family}) noteScripts(*part, scripts);
  std::string name = scripts.cjk && !scripts.latin ? join({&prefix, &family, &middle, &given, &suffix}, "")
                                                   : join({&prefix, &given, &middle, &family, &suffix}, " ");
  if (name.empty()) return std::nullopt;
  return name;
}

ContactKeys fullNameRequiredKeys() {
  return {ContactKey::NamePrefix,      ContactKey::GivenName,        ContactKey::MiddleName,
          ContactKey::FamilyName,      ContactKey::NameSuffix,       ContactKey::OrganizationName,
          ContactKey::ContactType};
}

}  // namespace wren::platform

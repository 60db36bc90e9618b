#include "platform/contacts/VCardSyntax.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <utility>

#include "platform/Text.h"
#include "platform/files/Deleters.h"
#include "platform/formats/Charset.h"

namespace wren::platform::vcard {

namespace {

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Quoted-printable as vCard 2.1 writes it: "=XX" is a byte; an "=" that starts no such pair
// is kept. Soft line breaks were already removed when the line was unfolded.
std::string decodeQuotedPrintable(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size()) {
      const int high = hexDigit(text[i + 1]);
      const int low = hexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    bytes += text[i];
  }
  return bytes;
}

std::optional<std::string> decodeBase64(std::string_view text) {
  std::string clean;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') clean += c;
  if (clean.empty()) return std::string();
  gsize length = 0;
  std::unique_ptr<gchar, GFree> bytes(reinterpret_cast<gchar*>(g_base64_decode(clean.c_str(), &length)));
  if (!bytes) return std::nullopt;
  return std::string(bytes.get(), length);
}

bool isEncodingName(std::string_view upper) {
  return upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "B" || upper == "8BIT" || upper == "7BIT";
}

bool isUtf8Name(std::string_view charset) {
  const std::string upper = asciiUpper(charset);
  return upper == "UTF-8" || upper == "UTF8";
}

std::optional<int> number(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The TYPE values that say nothing a label would show: the kind of line, preference, the
// delivery details of addresses.
bool isIgnoredType(std::string_view type) {
  static constexpr std::array<std::string_view, 20> kIgnored = {
      "pref", "voice", "internet", "x400", "dom",  "intl", "postal", "parcel", "msg",   "video",
      "bbs",  "modem", "car",      "isdn", "pcs",  "text", "textphone", "uri", "x-pref", "cell-voice"};
  return std::find(kIgnored.begin(), kIgnored.end(), type) != kIgnored.end() || allDigits(type);
}

bool has(const std::vector<std::string>& types, std::string_view type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

std::optional<std::string> Property::parameter(std::string_view wanted) const {
  for (const Parameter& p : parameters)
    if (p.name == wanted) return p.value;
  return std::nullopt;
}

Property decodeProperty(const ContentLine& line) {
  Property property;
  GroupedName name = splitGroup(line.name);
  property.group = std::move(name.group);
  property.name = std::move(name.name);
  property.parameters = parametersOf(line.unfolded);
  for (Parameter& parameter : property.parameters) {
    if (!parameter.name.empty()) continue;
    const std::string upper = asciiUpper(parameter.value);
    parameter.name = isEncodingName(upper) ? "ENCODING" : "TYPE";
  }
  for (const Parameter& parameter : property.parameters) {
    if (parameter.name != "TYPE") continue;
    for (std::string_view type : splitUnescaped(parameter.value, ',')) {
      std::string lower = lowerAscii(trimWhitespace(type));
      if (!lower.empty()) property.types.push_back(std::move(lower));
    }
  }

  std::string_view raw = valueOf(line);
  std::string value;
  const std::string encoding = asciiUpper(property.parameter("ENCODING").value_or(""));
  if (encoding == "QUOTED-PRINTABLE") {
    value = decodeQuotedPrintable(raw);
  } else if ((encoding == "B" || encoding == "BASE64") && property.name != "PHOTO") {
    value = decodeBase64(raw).value_or(std::string(raw));
  } else {
    value = std::string(raw);
  }
  if (std::optional<std::string> charset = property.parameter("CHARSET"); charset && !isUtf8Name(*charset)) {
    if (std::optional<std::string> converted = decodeCharset(value, *charset)) value = std::move(*converted);
  }
  property.value = toValidUtf8(value);
  return property;
}

std::vector<std::string_view> splitUnescaped(std::string_view value, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == separator) {
      pieces.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(value.substr(start));
  return pieces;
}

std::string textValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    if (next == 'n' || next == 'N') {
      out += '\n';
    } else if (next == '\\' || next == ';' || next == ',' || next == ':' || next == '"') {
      out += next;
    } else {
      out.append({'\\', next});
    }
  }
  return out;
}

std::string namePart(std::string_view component) {
  std::string part;
  for (std::string_view item : splitUnescaped(component, ',')) {
    std::string text = trimWhitespace(textValue(item));
    if (text.empty()) continue;
    if (!part.empty()) part += ' ';
    part += text;
  }
  return part;
}

std::string escaped(std::string_view text) { return escapeText(text); }

std::optional<ContactDate> parseDate(std::string_view text, bool omitYear) {
  std::string value = trimWhitespace(text);
  if (std::size_t time = value.find('T'); time != std::string::npos) value.erase(time);
  ContactDate date;
  if (value.starts_with("---")) {  // a day alone
    date.day = number(value.substr(3));
  } else if (value.starts_with("--")) {
    std::string rest = value.substr(2);
    std::erase(rest, '-');
    if (rest.size() != 2 && rest.size() != 4) return std::nullopt;
    date.month = number(rest.substr(0, 2));
    if (rest.size() == 4) date.day = number(rest.substr(2));
  } else {
    std::string digits = value;
    std::erase(digits, '-');
    if (!allDigits(digits) || (digits.size() != 4 && digits.size() != 6 && digits.size() != 8)) return std::nullopt;
    if (value.find('-') != std::string::npos && value.size() != digits.size() + (digits.size() - 4) / 2)
      return std::nullopt;
    date.year = number(digits.substr(0, 4));
    if (digits.size() >= 6) date.month = number(digits.substr(4, 2));
    if (digits.size() == 8) date.day = number(digits.substr(6, 2));
  }
  if (date.month && (*date.month < 1 || *date.month > 12)) return std::nullopt;
  if (date.day && (*date.day < 1 || *date.day > 31)) return std::nullopt;
  if (!date.year && !date.month && !date.day) return std::nullopt;
  if (omitYear || date.year == 1604) date.year.reset();
  return date;
}

std::string dateText(const ContactDate& date) {
  char text[16];
  if (date.year && date.month && date.day) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", *date.year, *date.month, *date.day);
  } else if (date.year && date.month) {
    std::snprintf(text, sizeof text, "%04d-%02d", *date.year, *date.month);
  } else if (date.year) {
    std::snprintf(text, sizeof text, "%04d", *date.year);
  } else if (date.month && date.day) {
    std::snprintf(text, sizeof text, "--%02d%02d", *date.month, *date.day);
  } else if (date.month) {
    std::snprintf(text, sizeof text, "--%02d", *date.month);
  } else if (date.day) {
    std::snprintf(text, sizeof text, "---%02d", *date.day);
  } else {
    return {};
  }
  return text;
}

std::optional<std::string> labelFromTypes(ListKind kind, const std::vector<std::string>& types) {
  using namespace contactLabel;
  auto label = [](std::string_view constant) { return std::optional<std::string>(constant); };
  if (kind == ListKind::Phone) {
    if (has(types, "iphone")) return label(kPhoneIPhone);
    if (has(types, "fax")) {
      if (has(types, "home")) return label(kPhoneHomeFax);
      if (has(types, "work")) return label(kPhoneWorkFax);
      return label(kPhoneOtherFax);
    }
    if (has(types, "cell") || has(types, "mobile")) return label(kPhoneMobile);
    if (has(types, "main")) return label(kPhoneMain);
    if (has(types, "pager")) return label(kPhonePager);
  }
  if (kind == ListKind::Url && (has(types, "homepage") || has(types, "home-page") || has(types, "x-homepage")))
    return label(kUrlHomePage);
  if (kind == ListKind::Email && has(types, "icloud")) return label(kEmailICloud);
  if (has(types, "home")) return label(kHome);
  if (has(types, "work")) return label(kWork);
  if (has(types, "school")) return label(kSchool);
  if (has(types, "other")) return label(kOther);
  if (kind == ListKind::Relation) {
    static constexpr std::pair<std::string_view, std::string_view> kRelations[] = {
        {"spouse", "_$!<Spouse>!$_"}, {"child", "_$!<Child>!$_"},       {"parent", "_$!<Parent>!$_"},
        {"friend", "_$!<Friend>!$_"}, {"partner", "_$!<Partner>!$_"},   {"assistant", "_$!<Assistant>!$_"},
        {"agent", "_$!<Assistant>!$_"}, {"manager", "_$!<Manager>!$_"}, {"mother", "_$!<Mother>!$_"},
        {"father", "_$!<Father>!$_"}, {"brother", "_$!<Brother>!$_"},   {"sister", "_$!<Sister>!$_"}};
    for (const auto& [type, constant] : kRelations)
      if (has(types, type)) return label(constant);
  }
  // A type that is neither a label this table knows nor a detail of the line is the label
  // as the writer typed it.
  for (const std::string& type : types)
    if (!isIgnoredType(type) && type != "fax" && type != "cell") return type;
  return std::nullopt;
}

LabelForm labelForm(ListKind kind, const std::optional<std::string>& label) {
  using namespace contactLabel;
  if (!label || label->empty()) return {};
  const bool typed = kind == ListKind::Email || kind == ListKind::Phone || kind == ListKind::Address ||
                     kind == ListKind::Url || kind == ListKind::InstantMessage;
  if (typed) {
    if (*label == kHome) return {{"HOME"}, std::nullopt};
    if (*label == kWork) return {{"WORK"}, std::nullopt};
  }
  if (kind == ListKind::Phone) {
    if (*label == kPhoneMobile) return {{"CELL"}, std::nullopt};
    if (*label == kPhoneHomeFax) return {{"HOME", "FAX"}, std::nullopt};
    if (*label == kPhoneWorkFax) return {{"WORK", "FAX"}, std::nullopt};
    if (*label == kPhoneOtherFax) return {{"FAX"}, std::nullopt};
    if (*label == kPhonePager) return {{"PAGER"}, std::nullopt};
  }
  return {{}, *label};
}

namespace {

struct Service {
  std::string_view name;
  std::string_view scheme;
};
constexpr Service kServices[] = {
    {"Jabber", "xmpp"}, {"AIM", "aim"},       {"Yahoo", "ymsgr"},      {"MSN", "msnim"},
    {"ICQ", "icq"},     {"Skype", "skype"},   {"GoogleTalk", "gtalk"}, {"QQ", "qq"},
    {"Facebook", "xmpp"}, {"GaduGadu", "x-apple"}, {"IRC", "irc"},     {"SIP", "sip"},
};

}  // namespace

std::string serviceForScheme(std::string_view scheme) {
  const std::string lower = lowerAscii(scheme);
  if (lower == "msn") return "MSN";
  if (lower == "callto") return "Skype";
  if (lower == "x-apple") return {};
  for (const Service& service : kServices)
    if (service.scheme == lower) return std::string(service.name);
  return std::string(scheme);
}

std::string schemeForService(std::string_view service) {
  const std::string lower = lowerAscii(service);
  for (const Service& known : kServices)
    if (lowerAscii(known.name) == lower) return std::string(known.scheme);
  return "x-apple";
}

std::string socialService(std::string_view written) {
  static constexpr std::string_view kNames[] = {"Twitter", "Facebook",     "LinkedIn",  "Flickr",     "MySpace",
                                                "SinaWeibo", "TencentWeibo", "Yelp", "GameCenter", "Instagram"};
  const std::string lower = lowerAscii(written);
  for (std::string_view name : kNames)
    if (lowerAscii(name) == lower) return std::string(name);
  return std::string(written);
}

std::vector<RawComponent> splitRoots(std::string_view text) {
  constexpr SplitOptions kForgiving{.quotedPrintableBreaks = true, .lenient = true};
  // Windows programs start their files with a byte order mark, and some write UTF-16.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    if (std::optional<std::string> utf8 = decodeCharset(text, "UTF-16")) {
      std::string_view converted = *utf8;
      if (converted.starts_with(kUtf8Mark)) converted.remove_prefix(kUtf8Mark.size());
      return splitRootComponents(converted, kForgiving).value_or(std::vector<RawComponent>{});
    }
  }
  return splitRootComponents(text, kForgiving).value_or(std::vector<RawComponent>{});
}

std::optional<std::size_t> rootOfCard(const std::vector<RawComponent>& roots, std::size_t index) {
  std::size_t cards = 0;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (roots[i].name != "VCARD") continue;
    if (cards++ == index) return i;
  }
  return std::nullopt;
}

}  // namespace wren::platform::vcard

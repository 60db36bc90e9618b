#include "platform/ocr/LanguageModels.h"

#include <unicode/locid.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

namespace wren::platform {

namespace {

struct FixedLanguage {
  const char* tag;
  const char* model;
};

constexpr std::array<FixedLanguage, 12> kFixedOrder = {{
    {"en-US", "eng"},
    {"fr-FR", "fra"},
    {"it-IT", "ita"},
    {"de-DE", "deu"},
    {"es-ES", "spa"},
    {"pt-BR", "por"},
    {"zh-Hans", "chi_sim"},
    {"zh-Hant", "chi_tra"},
    {"ja-JP", "jpn"},
    {"ko-KR", "kor"},
    {"ru-RU", "rus"},
    {"uk-UA", "ukr"},
}};

bool allLetters(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::islower(static_cast<unsigned char>(c)); });
}

}  // namespace

std::optional<std::string> languageTagOfModel(std::string_view model) {
  for (const FixedLanguage& fixed : kFixedOrder)
    if (model == fixed.model) return std::string(fixed.tag);
  const size_t underscore = model.find('_');
  const std::string_view code = model.substr(0, underscore);
  const std::string_view variant = underscore == std::string_view::npos ? std::string_view() : model.substr(underscore + 1);
  // osd detects orientation and script, equ finds equations: neither reads a language.
  if (code == "osd" || code == "equ" || variant == "vert") return std::nullopt;
  if (code.size() < 2 || code.size() > 3 || !allLetters(code)) return std::nullopt;
  // Tesseract names models by three-letter ISO 639-2 codes; BCP 47 wants the two-letter
  // code where there is one ("nld" is "nl"), which ICU's alias data knows.
  std::string tag = icu::Locale::createCanonical(std::string(code).c_str()).getLanguage();
  if (tag.empty()) tag = code;
  if (variant.empty()) return tag;
  if (variant.size() == 4 && allLetters(variant)) {
    // A script: "srp_latn" is sr-Latn.
    std::string script(variant);
    script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(script[0])));
    return tag + "-" + script;
  }
  if (variant.size() <= 8 && allLetters(variant)) return tag + "-x-" + std::string(variant);  // "ita_old"
  return std::nullopt;
}

std::vector<LanguageModel> orderedLanguages(const std::vector<std::string>& models) {
  std::vector<LanguageModel> ordered;
  std::set<std::string> installed(models.begin(), models.end());
  std::set<std::string> tags;
  for (const FixedLanguage& fixed : kFixedOrder) {
    if (installed.count(fixed.model)) {
      ordered.push_back({fixed.tag, fixed.model});
      tags.insert(fixed.tag);
    }
  }
  std::vector<LanguageModel> rest;
  for (const std::string& model : installed) {
    std::optional<std::string> tag = languageTagOfModel(model);
    if (tag && tags.insert(*tag).second) rest.push_back({*tag, model});
  }
  std::sort(rest.begin(), rest.end(), [](const LanguageModel& a, const LanguageModel& b) { return a.tag < b.tag; });
  ordered.insert(ordered.end(), rest.begin(), rest.end());
  return ordered;
}

bool writesWithoutSpaces(std::string_view model) {
  return model.starts_with("chi_sim") || model.starts_with("chi_tra") || model.starts_with("jpn");
}

}  // namespace wren::platform

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wren::platform {

// The recognition languages of the installed Tesseract models, named as BCP 47 tags.
//
//   orderedLanguages({"rus", "eng", "nld", "chi_sim", "osd"})
//     -> en-US (eng), zh-Hans (chi_sim), ru-RU (rus), nl (nld)
//
// The most used languages come first in a fixed order (en-US, fr-FR, it-IT, de-DE, es-ES,
// pt-BR, zh-Hans, zh-Hant, ja-JP, ko-KR, ru-RU, uk-UA), so that a bare "en" or "zh" picks
// the common variant; the other languages follow in the order of their tags.

struct LanguageModel {
  std::string tag;    // BCP 47: "zh-Hans"
  std::string model;  // the traineddata file's name without extension: "chi_sim"
};

// The tag of a model name; nothing for models that are no language of their own (osd,
// equ), for vertical-text variants, and for names that are no ISO 639 code.
std::optional<std::string> languageTagOfModel(std::string_view model);

// The models that are languages, with their tags, in the order described above; a tag
// that two models share keeps the first.
std::vector<LanguageModel> orderedLanguages(const std::vector<std::string>& models);

// Whether text in the model's script is written without spaces between words, so that the
// spaces the recogniser would put between its word guesses are not in the text.
bool writesWithoutSpaces(std::string_view model);

}  // namespace wren::platform

#include "platform/ocr/LanguageModels.h"

#include <gtest/gtest.h>

namespace wren::platform {
namespace {

TEST(LanguageTagOfModel, NamesModelsByTheirBcp47Tags) {
  struct Case {
    const char* model;
    std::optional<std::string> tag;
  };
  const Case cases[] = {
      {"eng", "en-US"},     {"chi_sim", "zh-Hans"}, {"chi_tra", "zh-Hant"}, {"jpn", "ja-JP"},
      {"kor", "ko-KR"},     {"ukr", "uk-UA"},       {"pt", "pt"},  // a two-letter name is taken as it is
      {"nld", "nl"},        {"ara", "ar"},          {"srp_latn", "sr-Latn"}, {"aze_cyrl", "az-Cyrl"},
      {"ita_old", "it-x-old"}, {"chr", "chr"},
      // Not languages of their own: orientation and script detection, equations, and the
      // vertical variants of languages whose horizontal models come in their own files.
      {"osd", std::nullopt}, {"equ", std::nullopt}, {"jpn_vert", std::nullopt}, {"chi_sim_vert", std::nullopt},
      {"My Model", std::nullopt}, {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_EQ(languageTagOfModel(c.model), c.tag);
  }
}

TEST(OrderedLanguages, PutsTheCommonLanguagesFirstInTheirFixedOrder) {
  std::vector<LanguageModel> ordered =
      orderedLanguages({"rus", "vie", "eng", "nld", "chi_tra", "osd", "deu", "jpn_vert", "chi_sim", "fra", "ara"});
  std::vector<std::string> tags, models;
  for (const LanguageModel& l : ordered) {
    tags.push_back(l.tag);
    models.push_back(l.model);
  }
  EXPECT_EQ(tags, (std::vector<std::string>{"en-US", "fr-FR", "de-DE", "zh-Hans", "zh-Hant", "ru-RU", "ar", "nl", "vi"}));
  EXPECT_EQ(models, (std::vector<std::string>{"eng", "fra", "deu", "chi_sim", "chi_tra", "rus", "ara", "nld", "vie"}));
  EXPECT_TRUE(orderedLanguages({}).empty());
}

TEST(WritesWithoutSpaces, HoldsForChineseAndJapaneseOnly) {
  for (const char* model : {"chi_sim", "chi_tra", "jpn", "chi_sim_vert"}) EXPECT_TRUE(writesWithoutSpaces(model)) << model;
  for (const char* model : {"eng", "kor", "tha", "vie"}) EXPECT_FALSE(writesWithoutSpaces(model)) << model;
}

}  // namespace
}  // namespace wren::platform

#include "system/Icons.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/Router.h"
#include "platform/FreedesktopIconTheme.h"
#include "support/MainQueueThread.h"
#include "support/PngHeader.h"
#include "support/TemporaryFolder.h"
#include "support/TestSupport.h"

namespace wren {
namespace {

TEST(IconPixelSize, ClampsToTheDrawableRange) {
  const std::pair<const char*, int> cases[] = {
      {R"({})", 96},           {R"({"size": null})", 96}, {R"({"size": "64"})", 96}, {R"({"size": 8})", 16},
      {R"({"size": -3})", 16}, {R"({"size": 16})", 16},   {R"({"size": 100})", 100}, {R"({"size": 64.9})", 64},
      {R"({"size": 512})", 512}, {R"({"size": 4096})", 512}, {R"({"size": 1e300})", 96},
  };
  for (const auto& [json, size] : cases) {
    SCOPED_TRACE(json);
    EXPECT_EQ(iconPixelSize(testing::params(json)), size);
  }
}

class IconsFiles : public ::testing::Test {
 protected:
  IconsFiles() {
    router_.registerAsyncMethod("icons.files", [theme = theme_](const Params& params, Reply reply) {
      iconsFiles(params, std::move(reply), theme);
    });
  }
  Json icons(Json params) { return router_.handle("icons.files", Params(std::move(params)))["icons"]; }
  std::string path(const std::string& relative) const { return (folder_.path() / relative).string(); }

  // The edge of the entry's PNG; 0 when its data is not a base64 PNG.
  static uint32_t edge(const Json& entry) {
    std::optional<std::string> png = testing::fromBase64(entry["data"].get<std::string>());
    std::optional<testing::PngHeader> header = png ? testing::pngHeader(*png) : std::nullopt;
    if (!header || header->width != header->height) return 0;
    return header->width;
  }

  testing::MainQueueThread mainThread_;
  std::shared_ptr<platform::IconTheme> theme_ = std::make_shared<platform::FreedesktopIconTheme>();
  Router router_;
  testing::TemporaryFolder folder_{"wren-icons"};
};

TEST_F(IconsFiles, EntriesInRequestOrderForWhatExists) {
  std::string notes = folder_.write("notes.txt", "words").string();
  std::filesystem::create_directories(path("Photos"));
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  std::string missing = path("missing.pdf");
  Json entries = icons({{"paths", {missing, path("Photos"), notes, path("pipe"), notes}}, {"size", 32}});
  ASSERT_EQ(entries.size(), 4u);
  const std::string expected[] = {path("Photos"), notes, path("pipe"), notes};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<std::string> keys;
    for (const auto& item : entries[i].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "mimeType", "data"}));
    EXPECT_EQ(entries[i]["path"], expected[i]);
    EXPECT_EQ(entries[i]["mimeType"], "image/png");
    EXPECT_EQ(edge(entries[i]), 32u);
  }
  // The folder and the text file look different; one file listed twice looks the same.
  EXPECT_NE(entries[0]["data"], entries[1]["data"]);
  EXPECT_EQ(entries[1]["data"], entries[3]["data"]);
}

TEST_F(IconsFiles, SizesFollowTheClamp) {
  std::string notes = folder_.write("notes.txt", "words").string();
  const std::pair<Json, uint32_t> cases[] = {{Json(), 96}, {8, 16}, {4096, 512}, {200, 200}};
  for (const auto& [size, edgeLength] : cases) {
    SCOPED_TRACE(size.dump());
    Json params = {{"paths", notes}};
    if (!size.is_null()) params["size"] = size;
    Json entries = icons(params);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(edge(entries[0]), edgeLength);
  }
}

TEST_F(IconsFiles, NoPathsOrNothingThereGivesAnEmptyList) {
  const Json cases[] = {
      Json::object(),
      {{"paths", Json::array()}},
      {{"paths", 42}},
      {{"paths", {path("missing"), "", "relative/missing", "/" + std::string(5000, 'x'), path("a\nb")}}},
      {{"paths", {path("notes.txt") + std::string(1, '\0')}}},
  };
  folder_.write("notes.txt", "words");
  for (const Json& params : cases) {
    SCOPED_TRACE(params.dump().substr(0, 100));
    EXPECT_EQ(icons(params), Json::array());
  }
}

TEST_F(IconsFiles, TenThousandPathsDrawEachIconOnce) {
  std::string notes = folder_.write("notes.txt", "words").string();
  Json paths = Json::array();
  for (int i = 0; i < 10000; ++i) paths.push_back(i % 2 ? notes : folder_.path().string());
  auto started = std::chrono::steady_clock::now();
  Json entries = icons({{"paths", paths}, {"size", 16}});
  auto took = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(entries.size(), 10000u);
  EXPECT_EQ(entries[9999]["path"], notes);
  EXPECT_EQ(edge(entries[9998]), 16u);
  // Two drawings and ten thousand examined paths, not ten thousand drawings.
  EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
}  // namespace wren

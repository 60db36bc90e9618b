#include "vision/Vision.h"

#include <gtest/gtest.h>

#include "app/RequestLoop.h"
#include "platform/ocr/FileVisionEngine.h"
#include "support/OcrFixtures.h"

namespace wren {
namespace {

using platform::GrayImage;
using platform::RecognizedLine;
using namespace wren::testing;

// Stands in for the recogniser, so that the replies' numbers are known exactly; the files
// are decoded by the real engine, and the recogniser is tested on its own and end to end.
class FakeRecognizer : public platform::TextRecognizer {
 public:
  std::vector<std::string> supported = {"en-US", "fr-FR", "zh-Hans", "zh-Hant", "ja-JP", "en-GB"};
  std::vector<RecognizedLine> lines;
  std::optional<std::string> failure;
  // What the last recognition was given.
  int orientation = 0;
  int width = 0;
  int height = 0;
  std::vector<std::string> languages;

  std::vector<std::string> supportedLanguages() override { return supported; }
  std::vector<RecognizedLine> recognize(const GrayImage& image, int givenOrientation,
                                        const std::vector<std::string>& givenLanguages) override {
    orientation = givenOrientation;
    width = image.width;
    height = image.height;
    languages = givenLanguages;
    if (failure) throw platform::RecognitionError(*failure);
    return lines;
  }
};

class VisionOcr : public ::testing::Test {
 protected:
  VisionOcr() {
    registerVision(router_, engine_);
    writeBytes(folder_ / "halves.png", encoded(GrayImage::blank(40, 30), IFF_PNG));
  }

  // The reply envelope of one call, as the host would read it.
  Json call(Json params) {
    try {
      return replyEnvelope(1, router_.handle("vision.ocr", Params(std::move(params))));
    } catch (const HelperError& error) {
      return replyEnvelope(1, error);
    }
  }
  Json result(Json params) {
    Json reply = call(std::move(params));
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply.value("result", Json());
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  // The error message of a failed call, checking its code.
  std::string failure(Json params, const char* code) {
    Json reply = call(std::move(params));
    EXPECT_EQ(reply["ok"], false) << reply.dump();
    EXPECT_EQ(reply["error"]["code"], code);
    return reply["error"].value("message", "");
  }

  TemporaryFolder folder_;
  Router router_;
  std::shared_ptr<FakeRecognizer> recognizer_ = std::make_shared<FakeRecognizer>();
  platform::FileVisionEngine engine_{recognizer_};
};

TEST_F(VisionOcr, AnswersWithTheLinesRoundedToFourPlaces) {
  recognizer_->lines = {{"Hello", 0.987654, 0.123456, 0.5, 0.25, 0.00004}, {"World", 0.5, 0.1, 0.6, 0.3333333, 0.05}};
  Json answer = result({{"path", path("halves.png")}});
  EXPECT_EQ(answer.dump(),
            R"({"text":"Hello\nWorld","confidence":0.7438,"lineCount":2,"lines":[)"
            R"({"text":"Hello","confidence":0.9877,"box":{"x":0.1235,"y":0.5,"width":0.25,"height":0.0}},)"
            R"({"text":"World","confidence":0.5,"box":{"x":0.1,"y":0.6,"width":0.3333,"height":0.05}}],)"
            R"("width":40,"height":30,"languages":["zh-Hans","en-US"]})");
  EXPECT_EQ(recognizer_->orientation, 1);
}

TEST_F(VisionOcr, AnImageWithoutTextHasNoLinesAndTheIntegerZeroConfidence) {
  Json answer = result({{"path", path("halves.png")}});
  EXPECT_EQ(answer["text"], "");
  EXPECT_EQ(answer["lineCount"], 0);
  EXPECT_EQ(answer["lines"], Json::array());
  EXPECT_TRUE(answer["confidence"].is_number_integer());
  EXPECT_EQ(answer["confidence"], 0);
  EXPECT_FALSE(answer.contains("page"));
  EXPECT_FALSE(answer.contains("pageCount"));
}

TEST_F(VisionOcr, APortraitPhotoReportsItsUprightSize) {
  // Stored 40 × 30 with EXIF orientation 6: seen upright it is 30 wide and 40 high.
  writeBytes(folder_ / "portrait.jpg", jpegOf(GrayImage::blank(40, 30), 6));
  Json answer = result({{"path", path("portrait.jpg")}});
  EXPECT_EQ(answer["width"], 30);
  EXPECT_EQ(answer["height"], 40);
  EXPECT_EQ(recognizer_->orientation, 6);
  EXPECT_EQ(recognizer_->width, 40);  // the recogniser turns the stored picture itself
  EXPECT_EQ(recognizer_->height, 30);
}

TEST_F(VisionOcr, DrawsPdfPagesAtMostFourTimesAndFourThousandPixels) {
  writeBytes(folder_ / "three.pdf", pdfOf({{612, 792, "one"}, {2000, 3000, "two"}, {842, 595, "three"}}));
  writeBytes(folder_ / "UPPER.PDF", pdfOf({{100, 50, ""}}));
  struct Case {
    Json params;
    int width, height, page, pageCount;
  };
  const Case cases[] = {
      {{{"path", path("three.pdf")}}, 2448, 3168, 1, 3},
      {{{"path", path("three.pdf")}, {"page", 2}}, 2666, 4000, 2, 3},
      {{{"path", path("three.pdf")}, {"page", 3.9}}, 3368, 2380, 3, 3},
      {{{"path", path("UPPER.PDF")}}, 400, 200, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    Json answer = result(c.params);
    EXPECT_EQ(answer["width"], c.width);
    EXPECT_EQ(answer["height"], c.height);
    EXPECT_EQ(answer["page"], c.page);
    EXPECT_EQ(answer["pageCount"], c.pageCount);
    EXPECT_EQ(recognizer_->orientation, 1);
  }
}

TEST_F(VisionOcr, ReportsEachKindOfUnusableFile) {
  writeBytes(folder_ / "three.pdf", pdfOf({{612, 792, "one"}, {612, 792, "two"}, {612, 792, "three"}}));
  writeBytes(folder_ / "locked.pdf", passwordProtectedPdf());
  writeBytes(folder_ / "no-pages.pdf",
             handWrittenPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}));
  writeBytes(folder_ / "notes.pdf", "not a PDF");
  writeBytes(folder_ / "notes.txt", "not an image");
  std::filesystem::create_directory(folder_ / "folder.png");
  const std::string unreadable = " is not an image macOS can read (JPEG, PNG, HEIC, TIFF, GIF, WebP, BMP or PDF)";
  struct Case {
    Json params;
    const char* code;
    std::string message;
  };
  const Case cases[] = {
      {Json::object(), "invalid_args", "path is required"},
      {{{"path", "  \n"}}, "invalid_args", "path is required"},
      {{{"path", 42}}, "invalid_args", "path is required"},
      {{{"path", path("missing.png")}}, "invalid_args", path("missing.png") + unreadable},
      {{{"path", path("notes.txt")}}, "invalid_args", path("notes.txt") + unreadable},
      {{{"path", path("folder.png")}}, "invalid_args", path("folder.png") + unreadable},
      {{{"path", path("missing.pdf")}}, "execution_failed", "cannot open PDF " + path("missing.pdf")},
      {{{"path", path("notes.pdf")}}, "execution_failed", "cannot open PDF " + path("notes.pdf")},
      {{{"path", path("locked.pdf")}}, "execution_failed", path("locked.pdf") + " is a password-protected PDF"},
      {{{"path", path("three.pdf")}, {"page", 4}}, "invalid_args", "page must be between 1 and 3"},
      {{{"path", path("three.pdf")}, {"page", 0}}, "invalid_args", "page must be between 1 and 3"},
      {{{"path", path("three.pdf")}, {"page", -1}}, "invalid_args", "page must be between 1 and 3"},
      {{{"path", path("no-pages.pdf")}}, "invalid_args", "page must be between 1 and 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.dump());
    EXPECT_EQ(failure(c.params, c.code), c.message);
  }
}

TEST_F(VisionOcr, ResolvesLanguagesAmongTheSupportedOnes) {
  const std::vector<std::string> defaults = {"zh-Hans", "en-US"};
  struct Case {
    Json languages;
    std::vector<std::string> resolved;
  };
  const Case cases[] = {
      {Json::array({"en", "EN"}), {"en-US"}},
      {Json::array({"zh"}), {"zh-Hans"}},
      {Json::array({"ZH-hant"}), {"zh-Hant"}},
      {Json::array({"en-GB", "en", "fr"}), {"en-GB", "en-US", "fr-FR"}},
      {"  ja-JP ", {"ja-JP"}},
      {Json::array(), defaults},
      {Json::array({1, 2}), defaults},
      {nullptr, defaults},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.languages.dump());
    Json answer = result({{"path", path("halves.png")}, {"languages", c.languages}});
    EXPECT_EQ(answer["languages"], Json(c.resolved));
    EXPECT_EQ(recognizer_->languages, c.resolved);
  }
}

TEST_F(VisionOcr, RefusesLanguagesItDoesNotSupport) {
  const std::string supported = "; supported: en-US, fr-FR, zh-Hans, zh-Hant, ja-JP, en-GB";
  for (const char* language : {"de", "e", "en-", "zh-Hans-CN", ""}) {
    SCOPED_TRACE(language);
    EXPECT_EQ(failure({{"path", path("halves.png")}, {"languages", Json::array({"en", language})}}, "invalid_args"),
              std::string("OCR does not support language ") + language + " on this Mac" + supported);
  }
}

TEST_F(VisionOcr, ChecksTheFileBeforeTheLanguages) {
  EXPECT_EQ(failure({{"path", path("missing.pdf")}, {"languages", "xx"}}, "execution_failed"),
            "cannot open PDF " + path("missing.pdf"));
}

TEST_F(VisionOcr, PassesOnTheRecognisersFailure) {
  recognizer_->failure = "Tesseract could not recognise the picture";
  EXPECT_EQ(failure({{"path", path("halves.png")}}, "execution_failed"), "Tesseract could not recognise the picture");
}

}  // namespace
}  // namespace wren

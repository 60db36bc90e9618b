#include "platform/ocr/TesseractRecognizer.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/OcrFixtures.h"

namespace wren::platform {
namespace {

using namespace wren::testing;

// One recogniser for the whole suite, as the helper keeps one: loading the models once
// keeps the tests quick. Like the helper's, it is never destroyed, because Tesseract's
// model cache is torn down at exit before the engines holding its models would be.
TesseractRecognizer& recognizer() {
  static auto* shared = new TesseractRecognizer;
  return *shared;
}

const std::vector<std::string> kEnglish = {"en-US"};

std::string allText(const std::vector<RecognizedLine>& lines) {
  std::string text;
  for (const RecognizedLine& line : lines) text += (text.empty() ? "" : "\n") + line.text;
  return text;
}

TEST(TesseractRecognizer, ListsTheInstalledDefaultLanguagesFirst) {
  std::vector<std::string> languages = recognizer().supportedLanguages();
  ASSERT_GE(languages.size(), 2u);
  EXPECT_EQ(languages[0], "en-US");
  EXPECT_NE(std::find(languages.begin(), languages.end(), "zh-Hans"), languages.end());
}

TEST(TesseractRecognizer, ListsTheModelsOfItsDataFolderInTheFixedOrder) {
  TemporaryFolder folder;
  for (const char* name : {"rus.traineddata", "nld.traineddata", "eng.traineddata", "osd.traineddata", "notes.txt"})
    writeBytes(folder / name, "");
  std::filesystem::create_directory(folder / "fra.traineddata");  // a folder is no model
  TesseractRecognizer own({.dataPath = folder.path().string()});
  EXPECT_EQ(own.supportedLanguages(), (std::vector<std::string>{"en-US", "ru-RU", "nl"}));
  // A model file that Tesseract cannot load is a failure of the recogniser.
  EXPECT_THROW(own.recognize(GrayImage::blank(20, 20), 1, {"ru-RU"}), RecognitionError);
  EXPECT_THROW(own.recognize(GrayImage::blank(20, 20), 1, {"de-DE"}), RecognitionError);
}

TEST(TesseractRecognizer, ReadsLinesWithBoxesFromTheTopLeft) {
  GrayImage image = textImage("Invoice 4521 due Friday\nMeeting room 12", 28);
  std::vector<RecognizedLine> lines = recognizer().recognize(image, 1, kEnglish);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Invoice 4521 due Friday");
  EXPECT_EQ(lines[1].text, "Meeting room 12");
  for (const RecognizedLine& line : lines) {
    EXPECT_GT(line.confidence, 0.5);
    EXPECT_LE(line.confidence, 1.0);
    EXPECT_GT(line.x, 0.0);
    EXPECT_LT(line.x + line.width, 1.0);
  }
  // The first line is above the second: y grows downwards.
  EXPECT_LT(lines[0].y + lines[0].height, lines[1].y + 0.01);
  EXPECT_GT(lines[0].width, lines[1].width);
}

TEST(TesseractRecognizer, TurnsAStoredPictureUprightFirst) {
  GrayImage upright = textImage("Quarterly report 2025", 28, 0, 200);
  std::vector<RecognizedLine> expected = recognizer().recognize(upright, 1, kEnglish);
  ASSERT_EQ(allText(expected), "Quarterly report 2025");
  for (int orientation : {3, 6, 8}) {
    SCOPED_TRACE(orientation);
    std::vector<RecognizedLine> lines = recognizer().recognize(storedForOrientation(upright, orientation), orientation, kEnglish);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, expected[0].text);
    // The box is in the upright picture's coordinates.
    EXPECT_NEAR(lines[0].x, expected[0].x, 0.01);
    EXPECT_NEAR(lines[0].y, expected[0].y, 0.01);
    EXPECT_NEAR(lines[0].width, expected[0].width, 0.01);
    EXPECT_NEAR(lines[0].height, expected[0].height, 0.01);
  }
}

TEST(TesseractRecognizer, ReadsColumnsOneAfterTheOther) {
  // Two columns side by side: each line belongs to its column, not to a row across both.
  const std::string left = "Apples and pears\nfrom the market\nevery Saturday\nnear the station\non the corner\nby the old mill\nfor two euros";
  const std::string right = "Trains to Lyon\nleave at noon\nfrom platform 4\nand they stop\nat Dijon and\nMacon before\nreaching Lyon";
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1000, 500);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  drawText(cr, left, 26, 30, 30);
  drawText(cr, right, 26, 600, 30);
  cairo_destroy(cr);
  GrayImage image = grayOfSurface(surface);
  cairo_surface_destroy(surface);
  EXPECT_EQ(allText(recognizer().recognize(image, 1, kEnglish)), left + "\n" + right);
}

TEST(TesseractRecognizer, KeepsChineseLinesWhole) {
  GrayImage image = textImage("会议改到下午三点", 32, 0, 0, "WenQuanYi Micro Hei");
  std::vector<RecognizedLine> lines = recognizer().recognize(image, 1, {"zh-Hans", "en-US"});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "会议改到下午三点");
}

TEST(TesseractRecognizer, FindsNothingOnAnEmptyPicture) {
  EXPECT_TRUE(recognizer().recognize(GrayImage::blank(300, 200), 1, kEnglish).empty());
  EXPECT_TRUE(recognizer().recognize(GrayImage::blank(1, 1), 1, kEnglish).empty());
}

TEST(TesseractRecognizer, RefusesWhatItCannotRecognise) {
  EXPECT_THROW(recognizer().recognize(GrayImage::blank(10, 10), 1, {}), RecognitionError);
  EXPECT_THROW(recognizer().recognize(GrayImage::blank(10, 10), 1, {"xx-XX"}), RecognitionError);
  GrayImage inconsistent = GrayImage::blank(10, 10);
  inconsistent.pixels.resize(50);
  EXPECT_THROW(recognizer().recognize(inconsistent, 1, kEnglish), RecognitionError);
}

TEST(TesseractRecognizer, RecognisesConcurrently) {
  GrayImage first = textImage("Alpha 100", 28);
  GrayImage second = textImage("Bravo 200", 28);
  std::string firstText, secondText;
  std::thread a([&] { firstText = allText(recognizer().recognize(first, 1, kEnglish)); });
  std::thread b([&] { secondText = allText(recognizer().recognize(second, 1, {"zh-Hans", "en-US"})); });
  a.join();
  b.join();
  EXPECT_EQ(firstText, "Alpha 100");
  EXPECT_EQ(secondText, "Bravo 200");
}

TEST(TesseractRecognizer, BelievesOnlyCredibleResolutions) {
  GrayImage image = GrayImage::blank(10, 10);
  image.resolution = 0;
  EXPECT_EQ(TesseractRecognizer::recognitionResolution(image), 200);
  image.resolution = 50;
  EXPECT_EQ(TesseractRecognizer::recognitionResolution(image), 200);
  image.resolution = 288;
  EXPECT_EQ(TesseractRecognizer::recognitionResolution(image), 288);
  image.resolution = 10000;
  EXPECT_EQ(TesseractRecognizer::recognitionResolution(image), 2400);
}

}  // namespace
}  // namespace wren::platform

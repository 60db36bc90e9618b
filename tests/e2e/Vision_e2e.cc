// vision.ocr through the built helper with the real recogniser: text drawn into image
// files and PDF pages at test time, read back line by line.

#include <gtest/gtest.h>

#include "support/HelperProcess.h"
#include "support/OcrFixtures.h"

namespace wren::testing {
namespace {

class VisionE2e : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& bytes) {
    writeBytes(folder_ / name, bytes);
    return (folder_ / name).string();
  }

  TemporaryFolder folder_;
  HelperProcess helper_;
};

TEST_F(VisionE2e, ReadsTheLinesOfImagesAndPdfPages) {
  const std::string png = file("note.png", encoded(textImage("Lunch with Dana at noon\nRoom 401", 28), IFF_PNG));
  // A portrait photo: stored turned a quarter, with EXIF orientation 6.
  const GrayImage upright = textImage("Invoice 2291", 28, 0, 240);
  const std::string jpeg = file("photo.jpg", jpegOf(storedForOrientation(upright, 6), 6));
  const std::string pdf =
      file("three.pdf", pdfOf({{612, 792, "First page"}, {612, 792, "Second page"}, {612, 792, "Third page"}}));

  HelperRun run = helper_.run({
      requestLine(1, "vision.ocr", {{"path", png}, {"languages", "en"}}),
      requestLine(2, "vision.ocr", {{"path", jpeg}, {"languages", Json::array({"en-US"})}}),
      requestLine(3, "vision.ocr", {{"path", pdf}, {"page", 2}, {"languages", "en"}}),
      requestLine(4, "vision.ocr", {{"path", pdf}, {"page", 4}}),
      requestLine(5, "vision.ocr", {{"path", png}, {"languages", "tlh"}}),
  });
  ASSERT_EQ(run.exitStatus, 0) << run.err;

  const Json& note = run.result(1);
  EXPECT_EQ(note["text"], "Lunch with Dana at noon\nRoom 401");
  EXPECT_EQ(note["lineCount"], 2);
  EXPECT_EQ(note["languages"], Json::array({"en-US"}));
  EXPECT_FALSE(note.contains("page"));
  EXPECT_FALSE(note.contains("pageCount"));
  for (const Json& line : note["lines"]) {
    EXPECT_GT(line["confidence"].get<double>(), 0.5);
    const Json& box = line["box"];
    EXPECT_GE(box["x"].get<double>(), 0.0);
    EXPECT_LE(box["x"].get<double>() + box["width"].get<double>(), 1.0);
    EXPECT_LE(box["y"].get<double>() + box["height"].get<double>(), 1.0);
  }
  EXPECT_LT(note["lines"][0]["box"]["y"].get<double>(), note["lines"][1]["box"]["y"].get<double>());

  const Json& photo = run.result(2);
  EXPECT_EQ(photo["text"], "Invoice 2291");
  EXPECT_EQ(photo["width"], upright.width);
  EXPECT_EQ(photo["height"], upright.height);

  const Json& page = run.result(3);
  EXPECT_EQ(page["text"], "Second page");
  EXPECT_EQ(page["page"], 2);
  EXPECT_EQ(page["pageCount"], 3);
  EXPECT_EQ(page["width"], 2448);
  EXPECT_EQ(page["height"], 3168);

  EXPECT_EQ(run.error(4)["code"], "invalid_args");
  EXPECT_EQ(run.error(4)["message"], "page must be between 1 and 3");
  EXPECT_EQ(run.error(5)["code"], "invalid_args");
  // The list names every installed language, the fixed ones first.
  const std::string message = run.error(5)["message"];
  EXPECT_TRUE(message.starts_with("OCR does not support language tlh on this Mac; supported: en-US, ")) << message;
  EXPECT_NE(message.find(", zh-Hans"), std::string::npos) << message;
}

TEST_F(VisionE2e, ReadsChineseWithTheDefaultLanguages) {
  const std::string png = file("notice.png", encoded(textImage("请在周五前提交报告", 32, 0, 0, "WenQuanYi Micro Hei"), IFF_PNG));
  HelperRun run = helper_.run({requestLine(1, "vision.ocr", {{"path", png}})});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.result(1)["text"], "请在周五前提交报告");
  EXPECT_EQ(run.result(1)["languages"], Json::array({"zh-Hans", "en-US"}));
}

TEST_F(VisionE2e, HostileFilesGetAnErrorAndTheHelperCarriesOn) {
  const std::string bomb = file("bomb.png", pngHeaderClaiming(30000, 30000));
  std::string jpegBytes = jpegOf(textImage("cut", 28));
  const std::string cut = file("cut.jpg", jpegBytes.substr(0, jpegBytes.find("\xFF\xDA") + 20));
  const std::string locked = file("locked.pdf", passwordProtectedPdf());
  const std::string folder = folder_.path().string();
  std::filesystem::create_symlink(folder_ / "loop-a.png", folder_ / "loop-b.png");
  std::filesystem::create_symlink(folder_ / "loop-b.png", folder_ / "loop-a.png");
  const std::string loop = (folder_ / "loop-a.png").string();
  const std::string unreadable = " is not an image macOS can read (JPEG, PNG, HEIC, TIFF, GIF, WebP, BMP or PDF)";

  HelperRun run = helper_.run({
      requestLine(1, "vision.ocr", {{"path", bomb}}),
      requestLine(2, "vision.ocr", {{"path", cut}, {"languages", "en"}}),
      requestLine(3, "vision.ocr", {{"path", locked}}),
      requestLine(4, "vision.ocr", {{"path", folder}}),
      requestLine(5, "vision.ocr", {{"path", loop}}),
  });
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.error(1)["message"], bomb + unreadable);
  EXPECT_EQ(run.result(2)["width"], textImage("cut", 28).width);  // what could be decoded
  EXPECT_EQ(run.error(3)["message"], locked + " is a password-protected PDF");
  EXPECT_EQ(run.error(4)["message"], folder + unreadable);
  EXPECT_EQ(run.error(5)["message"], loop + unreadable);
}

}  // namespace
}  // namespace wren::testing

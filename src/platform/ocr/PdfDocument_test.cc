#include "platform/ocr/PdfDocument.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/OcrFixtures.h"

namespace wren::platform {
namespace {

using namespace wren::testing;

size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(PdfDocument, CountsAndMeasuresPages) {
  TemporaryFolder folder;
  writeBytes(folder / "three.pdf", pdfOf({{612, 792, "one"}, {2000, 3000, "two"}, {842, 595, "three"}}));
  PdfDocument pdf = PdfDocument::open((folder / "three.pdf").string());
  ASSERT_EQ(pdf.status(), PdfDocument::Status::Opened);
  EXPECT_EQ(pdf.pageCount(), 3);
  struct Case {
    int index;
    double width, height;
  };
  for (const Case& c : {Case{0, 612, 792}, Case{1, 2000, 3000}, Case{2, 842, 595}}) {
    SCOPED_TRACE(c.index);
    std::optional<PdfDocument::PageSize> size = pdf.pageSize(c.index);
    ASSERT_TRUE(size);
    EXPECT_DOUBLE_EQ(size->width, c.width);
    EXPECT_DOUBLE_EQ(size->height, c.height);
  }
  EXPECT_FALSE(pdf.pageSize(3));
  EXPECT_FALSE(pdf.pageSize(-1));
}

TEST(PdfDocument, MeasuresATurnedPageAsItIsShown) {
  TemporaryFolder folder;
  writeBytes(folder / "turned.pdf",
             handWrittenPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Rotate 90 >>"}));
  PdfDocument pdf = PdfDocument::open((folder / "turned.pdf").string());
  std::optional<PdfDocument::PageSize> size = pdf.pageSize(0);
  ASSERT_TRUE(size);
  EXPECT_DOUBLE_EQ(size->width, 100);
  EXPECT_DOUBLE_EQ(size->height, 200);
}

TEST(PdfDocument, DrawsTheCropBoxOnWhiteAtTheScale) {
  TemporaryFolder folder;
  // A black square of 10 points, 72 points from the left and 72 from the top of what is
  // shown: of a 200 × 100 page, and of a larger page cropped to 200 × 100.
  struct Case {
    const char* name;
    std::string boxes;
    std::string square;
  };
  const Case cases[] = {
      {"plain", "/MediaBox [0 0 200 100]", "72 18 10 10"},
      {"cropped", "/MediaBox [0 0 400 300] /CropBox [100 50 300 150]", "172 68 10 10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string content = "0 g " + c.square + " re f";
    writeBytes(folder / "square.pdf",
               handWrittenPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                               "<< /Type /Page /Parent 2 0 R " + c.boxes + " /Contents 4 0 R >>",
                               "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"}));
    PdfDocument document = PdfDocument::open((folder / "square.pdf").string());
    ASSERT_EQ(document.status(), PdfDocument::Status::Opened);
    std::optional<PdfDocument::PageSize> size = document.pageSize(0);
    ASSERT_TRUE(size);
    EXPECT_DOUBLE_EQ(size->width, 200);
    EXPECT_DOUBLE_EQ(size->height, 100);
    std::optional<GrayImage> page = document.render(0, 2.0, 400, 200);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->width, 400);
    EXPECT_EQ(page->height, 200);
    EXPECT_EQ(page->resolution, 144);
    EXPECT_EQ(page->at(5, 5), 255);      // paper, although the page paints none
    EXPECT_EQ(page->at(154, 154), 0);    // inside the square: x 144...164, y 144...164 from the top
    EXPECT_EQ(page->at(140, 154), 255);  // left of it
    EXPECT_FALSE(document.render(1, 2.0, 400, 200));
    EXPECT_FALSE(document.render(0, 2.0, 0, 200));
  }
}

TEST(PdfDocument, TellsLockedFilesFromUnreadableOnes) {
  TemporaryFolder folder;
  std::string good = pdfOf({{612, 792, "text"}});
  std::string brokenXref = good;
  size_t xref = brokenXref.rfind("startxref");
  ASSERT_NE(xref, std::string::npos);
  brokenXref.replace(xref, std::string::npos, "startxref\n999999\n%%EOF\n");

  writeBytes(folder / "locked.pdf", passwordProtectedPdf());
  writeBytes(folder / "text.pdf", "this is not a PDF");
  writeBytes(folder / "empty.pdf", "");
  writeBytes(folder / "cut.pdf", good.substr(0, 60));
  writeBytes(folder / "broken-xref.pdf", brokenXref);
  writeBytes(folder / "no-pages.pdf", handWrittenPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}));
  std::filesystem::create_directory(folder / "folder.pdf");
  std::filesystem::create_symlink(folder / "loop-a.pdf", folder / "loop-b.pdf");
  std::filesystem::create_symlink(folder / "loop-b.pdf", folder / "loop-a.pdf");

  const size_t descriptorsBefore = openDescriptors();
  struct Case {
    const char* name;
    PdfDocument::Status status;
    int pageCount;
  };
  const Case cases[] = {
      {"locked.pdf", PdfDocument::Status::Locked, 0},
      {"text.pdf", PdfDocument::Status::Unreadable, 0},
      {"empty.pdf", PdfDocument::Status::Unreadable, 0},
      {"cut.pdf", PdfDocument::Status::Unreadable, 0},
      {"missing.pdf", PdfDocument::Status::Unreadable, 0},
      {"folder.pdf", PdfDocument::Status::Unreadable, 0},
      {"loop-a.pdf", PdfDocument::Status::Unreadable, 0},
      // Poppler rebuilds a damaged cross-reference table from the objects themselves.
      {"broken-xref.pdf", PdfDocument::Status::Opened, 1},
      {"no-pages.pdf", PdfDocument::Status::Opened, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PdfDocument pdf = PdfDocument::open((folder / c.name).string());
    EXPECT_EQ(pdf.status(), c.status);
    EXPECT_EQ(pdf.pageCount(), c.pageCount);
  }
  // Every descriptor opened for a file that could not be read was closed again.
  EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}  // namespace
}  // namespace wren::platform

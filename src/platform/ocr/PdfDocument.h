#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ocr/GrayImage.h"
#include "platform/ocr/VisionEngine.h"

namespace wren::platform {

// A PDF file opened for drawing its pages (Poppler).
//
//   PdfDocument pdf = PdfDocument::open("scan.pdf");
//   if (pdf.status() == PdfDocument::Status::Opened && pdf.pageCount() >= 1) {
//     PageSize size = *pdf.pageSize(0);                      // points
//     std::optional<GrayImage> page = pdf.render(0, 2.0, int(size.width * 2), int(size.height * 2));
//   }
//
// Its operations are those of PdfPages (VisionEngine.h); a file Poppler cannot open is
// Unreadable.
class PdfDocument final : public PdfPages {
 public:
  static PdfDocument open(const std::string& path);
  ~PdfDocument() override;
  PdfDocument(PdfDocument&&) noexcept;
  PdfDocument& operator=(PdfDocument&&) noexcept;

  Status status() const override { return status_; }
  int pageCount() const override;
  std::optional<PageSize> pageSize(int index) const override;
  std::optional<GrayImage> render(int index, double scale, int width, int height) const override;

 private:
  struct Handle;
  PdfDocument(Status status, std::unique_ptr<Handle> handle);

  Status status_;
  std::unique_ptr<Handle> handle_;
};

}  // namespace wren::platform

#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ocr/GrayImage.h"

namespace wren::platform {

// A PDF file opened for drawing its pages (Poppler).
//
//   PdfDocument pdf = PdfDocument::open("scan.pdf");
//   if (pdf.status() == PdfDocument::Status::Opened && pdf.pageCount() >= 1) {
//     PageSize size = *pdf.pageSize(0);                      // points
//     std::optional<GrayImage> page = pdf.render(0, 2.0, int(size.width * 2), int(size.height * 2));
//   }
class PdfDocument {
 public:
  enum class Status {
    Opened,
    Unreadable,  // missing, not a regular file, or not a PDF Poppler can open
    Locked,      // encrypted, and the empty password does not open it
  };
  struct PageSize {
    double width = 0;
    double height = 0;
  };

  static PdfDocument open(const std::string& path);
  ~PdfDocument();
  PdfDocument(PdfDocument&&) noexcept;
  PdfDocument& operator=(PdfDocument&&) noexcept;

  Status status() const { return status_; }
  int pageCount() const;
  // The size in points of the page (0-based) as it is shown: its crop box, turned by the
  // page's own rotation. Nothing when the page cannot be fetched.
  std::optional<PageSize> pageSize(int index) const;
  // The page drawn `scale` times its size in points onto a white picture of width × height
  // pixels whose top left is the top left of the shown crop box; the resolution is 72 ×
  // scale. Nothing when the page cannot be fetched or the picture cannot be made.
  std::optional<GrayImage> render(int index, double scale, int width, int height) const;

 private:
  struct Handle;
  PdfDocument(Status status, std::unique_ptr<Handle> handle);

  Status status_;
  std::unique_ptr<Handle> handle_;
};

}  // namespace wren::platform

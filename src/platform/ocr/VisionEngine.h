#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ocr/GrayImage.h"
#include "platform/ocr/TextRecognizer.h"

namespace wren::platform {

// What text recognition of a local file needs from the platform: the first picture of an
// image file, the pages of a PDF, and the recogniser itself.
//
//   std::optional<DecodedImage> photo = engine.readImage("IMG_0001.HEIC");
//   std::unique_ptr<PdfPages> pdf = engine.openPdf("scan.pdf");
//   if (pdf->status() == PdfPages::Status::Opened) pdf->render(0, 2.0, width, height);
//   engine.recognize(photo->image, photo->orientation, {"en-US"});
//
// The Linux engine (FileVisionEngine.h) decodes with ImageFile.h, draws with PdfDocument.h
// and recognises with Tesseract; the helper reaches it through the desktop module
// (DesktopModule.h), so that these libraries are loaded by the first request that needs them.

// The first picture of an image file and the EXIF orientation (1 to 8) that turns it upright.
struct DecodedImage {
  GrayImage image;
  int orientation = 1;
};

// A PDF file opened for drawing its pages.
class PdfPages {
 public:
  enum class Status {
    Opened,
    Unreadable,  // missing, not a regular file, or not a PDF that can be opened
    Locked,      // encrypted, and the empty password does not open it
  };
  struct PageSize {
    double width = 0;
    double height = 0;
  };

  virtual ~PdfPages() = default;
  virtual Status status() const = 0;
  virtual int pageCount() const = 0;
  // The size in points of the page (0-based) as it is shown: its crop box, turned by the
  // page's own rotation. Nothing when the page cannot be fetched.
  virtual std::optional<PageSize> pageSize(int index) const = 0;
  // The page drawn `scale` times its size in points onto a white picture of width × height
  // pixels whose top left is the top left of the shown crop box; the resolution is 72 ×
  // scale. Nothing when the page cannot be fetched or the picture cannot be made.
  virtual std::optional<GrayImage> render(int index, double scale, int width, int height) const = 0;
};

// Every operation may also throw RecognitionError when the engine itself is unavailable.
class VisionEngine : public TextRecognizer {
 public:
  // Nothing when the file is not an image the engine can read.
  virtual std::optional<DecodedImage> readImage(const std::string& path) = 0;
  // Never null: a file that cannot be opened gives a document whose status says why.
  virtual std::unique_ptr<PdfPages> openPdf(const std::string& path) = 0;
};

}  // namespace wren::platform

#include "platform/ocr/FileVisionEngine.h"

#include "platform/ocr/ImageFile.h"
#include "platform/ocr/PdfDocument.h"

namespace wren::platform {

std::optional<DecodedImage> FileVisionEngine::readImage(const std::string& path) {
  return readImageFile(path);
}

std::unique_ptr<PdfPages> FileVisionEngine::openPdf(const std::string& path) {
  return std::make_unique<PdfDocument>(PdfDocument::open(path));
}

}  // namespace wren::platform

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ocr/VisionEngine.h"

namespace wren::platform {

// The Linux vision engine: images decoded by readImageFile (ImageFile.h), PDF pages drawn by
// PdfDocument, text recognised by the recogniser it is given.
//
//   FileVisionEngine engine(std::make_shared<TesseractRecognizer>());
//   std::optional<DecodedImage> photo = engine.readImage("IMG_0001.HEIC");
class FileVisionEngine final : public VisionEngine {
 public:
  explicit FileVisionEngine(std::shared_ptr<TextRecognizer> recognizer) : recognizer_(std::move(recognizer)) {}

  std::optional<DecodedImage> readImage(const std::string& path) override;
  std::unique_ptr<PdfPages> openPdf(const std::string& path) override;
  std::vector<std::string> supportedLanguages() override { return recognizer_->supportedLanguages(); }
  std::vector<RecognizedLine> recognize(const GrayImage& image, int orientation,
                                        const std::vector<std::string>& languages) override {
    return recognizer_->recognize(image, orientation, languages);
  }

 private:
  std::shared_ptr<TextRecognizer> recognizer_;
};

}  // namespace wren::platform

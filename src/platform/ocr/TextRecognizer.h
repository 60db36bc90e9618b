#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ocr/GrayImage.h"

namespace wren::platform {

// Text recognition on a picture, line by line.
//
//   std::vector<RecognizedLine> lines = recognizer.recognize(photo.image, photo.orientation, {"zh-Hans", "en-US"});
//   for (const RecognizedLine& line : lines) ... line.text, line.confidence, line.x ...
//
// Failures of the recognition engine throw RecognitionError with its description.

class RecognitionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RecognizedLine {
  std::string text;
  double confidence = 0;  // 0 to 1
  // The line's box in the upright picture, as fractions of its width and height, with the
  // origin at the top left.
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

class TextRecognizer {
 public:
  virtual ~TextRecognizer() = default;

  // The languages text can be recognised in, as BCP 47 tags, most used first.
  virtual std::vector<std::string> supportedLanguages() = 0;

  // The lines of text in the picture, in reading order, recognised in the given languages
  // (tags from supportedLanguages, in order of preference). The picture is stored with the
  // given EXIF orientation and turned upright before recognition.
  virtual std::vector<RecognizedLine> recognize(const GrayImage& image, int orientation,
                                                const std::vector<std::string>& languages) = 0;
};

}  // namespace wren::platform

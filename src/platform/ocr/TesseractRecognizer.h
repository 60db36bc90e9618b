#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/ocr/TextRecognizer.h"

namespace wren::platform {

// Text recognition with Tesseract's LSTM engine, reading the language models installed in
// Tesseract's data folder (tesseract-ocr-eng, tesseract-ocr-chi-sim...).
//
//   TesseractRecognizer recognizer;
//   recognizer.supportedLanguages();   // {"en-US", "zh-Hans"}
//   recognizer.recognize(image, 1, {"zh-Hans", "en-US"});
//
// Loading a language model takes far longer than recognising a line, so engines stay
// loaded between requests in a small pool keyed by their language list; the pictures
// themselves are never kept. At most `concurrency` recognitions run at once, each on one
// thread, so that parallel requests neither oversubscribe the processor nor hold an
// engine and a picture each in memory; further requests wait for a turn.
class TesseractRecognizer : public TextRecognizer {
 public:
  struct Options {
    // The folder of the .traineddata files; empty for Tesseract's own (TESSDATA_PREFIX,
    // else where the packages install them).
    std::string dataPath;
    // Recognitions at once; 0 for one per processor core.
    int concurrency = 0;
    // Loaded engines kept while idle.
    size_t idleEngines = 2;
    // A recognition that runs longer is stopped and fails.
    std::chrono::milliseconds deadline{120000};
  };

  TesseractRecognizer();
  explicit TesseractRecognizer(Options options);
  ~TesseractRecognizer() override;

  std::vector<std::string> supportedLanguages() override;
  std::vector<RecognizedLine> recognize(const GrayImage& image, int orientation,
                                        const std::vector<std::string>& languages) override;

  // The resolution recognition assumes for a picture: the one it states, else one that
  // suits the text sizes of screenshots, photos and scans alike.
  static int recognitionResolution(const GrayImage& image);

 private:
  struct Pool;
  std::unique_ptr<Pool> pool_;
};

}  // namespace wren::platform

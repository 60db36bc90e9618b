#pragma once

#include "app/Router.h"
#include "platform/ocr/VisionEngine.h"

namespace wren {

// vision.ocr: the text of a local image file or of one page of a local PDF, as one block
// and line by line with a confidence and a box per line.
//
//   {"method": "vision.ocr", "params": {"path": "scan.pdf", "page": 2, "languages": ["en"]}}
//   -> {"text": "...", "confidence": 0.93, "lineCount": 12, "lines": [...], "width": 2448,
//       "height": 3168, "languages": ["en-US"], "page": 2, "pageCount": 3}
// The engine decodes the file and recognises its text; its failures are execution_failed.
void registerVision(Router& router, platform::VisionEngine& engine);

}  // namespace wren

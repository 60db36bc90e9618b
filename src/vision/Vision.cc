#include "vision/Vision.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/HelperError.h"
#include "platform/ocr/VisionEngine.h"

namespace wren {

namespace {

using platform::GrayImage;
using platform::PdfPages;
using platform::VisionEngine;

// Used when the request names no language.
const std::vector<std::string> kDefaultLanguages = {"zh-Hans", "en-US"};

struct LoadedImage {
  GrayImage image;
  int orientation = 1;
  std::optional<int> pageCount;  // PDFs only
};

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool isPdfPath(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return lowercase(std::filesystem::path(trimmed).extension().string()) == ".pdf";
}

// The scale a PDF page of that size in points is drawn at: at most 4, and the longer side
// at most 4000 pixels.
double pdfPageScale(double width, double height) {
  const double maxSide = std::max(width, height);
  return maxSide <= 1 ? 4.0 : std::min(4000 / maxSide, 4.0);
}

[[noreturn]] void failToRender(int64_t page, const std::string& path) {
  throwExecutionFailed("cannot render page " + std::to_string(page) + " of " + path);
}

LoadedImage loadPdfPage(VisionEngine& engine, const std::string& path, int64_t page) {
  std::unique_ptr<PdfPages> pdf = engine.openPdf(path);
  if (pdf->status() == PdfPages::Status::Unreadable) throwExecutionFailed("cannot open PDF " + path);
  if (pdf->status() == PdfPages::Status::Locked) throwExecutionFailed(path + " is a password-protected PDF");
  const int pageCount = pdf->pageCount();
  std::optional<PdfPages::PageSize> size;
  if (page >= 1 && page <= pageCount) size = pdf->pageSize(static_cast<int>(page - 1));
  if (!size) throwInvalidArgs("page must be between 1 and " + std::to_string(pageCount));
  const double scale = pdfPageScale(size->width, size->height);
  const double width = std::trunc(scale * size->width);
  const double height = std::trunc(scale * size->height);
  if (!(width >= 1 && height >= 1 && width <= 4000 && height <= 4000)) failToRender(page, path);
  std::optional<GrayImage> image = pdf->render(static_cast<int>(page - 1), scale, static_cast<int>(width), static_cast<int>(height));
  if (!image) failToRender(page, path);
  return LoadedImage{std::move(*image), 1, pageCount};
}

// The first picture of an image file, or the rendered page of a PDF (by the extension).
LoadedImage loadImage(VisionEngine& engine, const std::string& path, int64_t page) {
  if (isPdfPath(path)) return loadPdfPage(engine, path, page);
  std::optional<platform::DecodedImage> decoded = engine.readImage(path);
  if (!decoded)
    throwInvalidArgs(path + " is not an image macOS can read (JPEG, PNG, HEIC, TIFF, GIF, WebP, BMP or PDF)");
  return LoadedImage{std::move(decoded->image), decoded->orientation, std::nullopt};
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

// The recognition languages for the requested ones, each matched among the supported
// ones by its exact tag ignoring case, else as the first supported tag it is the language
// part of ("en" is the first "en-..."). Duplicates are dropped; an unsupported language
// fails with invalid_args.
std::vector<std::string> resolveLanguages(const std::vector<std::string>& requested,
                                          const std::vector<std::string>& supported) {
  std::vector<std::string> result;
  for (const std::string& wanted : requested) {
    const std::string key = lowercase(wanted);
    auto match = std::find_if(supported.begin(), supported.end(), [&](const std::string& s) { return lowercase(s) == key; });
    if (match == supported.end())
      match = std::find_if(supported.begin(), supported.end(),
                           [&](const std::string& s) { return lowercase(s).starts_with(key + "-"); });
    if (match == supported.end())
      throwInvalidArgs("OCR does not support language " + wanted + " on this Mac; supported: " + joined(supported, ", "));
    if (std::find(result.begin(), result.end(), *match) == result.end()) result.push_back(*match);
  }
  return result;
}

// A number rounded to 4 decimal places the way replies carry it: formatted with "%.4f"
// and read back.
double roundedTo4(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  return std::strtod(text, nullptr);
}

Json lineEntry(const platform::RecognizedLine& line) {
  return Json{{"text", line.text},
              {"confidence", roundedTo4(line.confidence)},
              {"box",
               {{"x", roundedTo4(line.x)},
                {"y", roundedTo4(line.y)},
                {"width", roundedTo4(line.width)},
                {"height", roundedTo4(line.height)}}}};
}

Json recognizeText(const Params& params, VisionEngine& engine) {
  const std::string path = params.requireString("path");
  const int64_t page = params.integer("page").value_or(1);
  LoadedImage loaded = loadImage(engine, path, page);

  const std::vector<std::string> supported = engine.supportedLanguages();
  std::vector<std::string> requested = params.strings("languages").value_or(std::vector<std::string>{});
  if (requested.empty()) requested = kDefaultLanguages;
  const std::vector<std::string> languages = resolveLanguages(requested, supported);

  const std::vector<platform::RecognizedLine> lines = engine.recognize(loaded.image, loaded.orientation, languages);
  std::vector<std::string> texts;
  Json entries = Json::array();
  double confidenceSum = 0;
  for (const platform::RecognizedLine& line : lines) {
    texts.push_back(line.text);
    confidenceSum += line.confidence;
    entries.push_back(lineEntry(line));
  }
  const bool turned = platform::turnsQuarter(loaded.orientation);
  Json result = {
      {"text", joined(texts, "\n")},
      {"confidence", lines.empty() ? Json(0) : Json(roundedTo4(confidenceSum / static_cast<double>(lines.size())))},
      {"lineCount", lines.size()},
      {"lines", std::move(entries)},
      {"width", turned ? loaded.image.height : loaded.image.width},
      {"height", turned ? loaded.image.width : loaded.image.height},
      {"languages", languages},
  };
  if (loaded.pageCount) {
    result["page"] = page;
    result["pageCount"] = *loaded.pageCount;
  }
  return result;
}

}  // namespace

void registerVision(Router& router, platform::VisionEngine& engine) {
  router.registerMethod("vision.ocr", [&engine](const Params& params) { return recognizeText(params, engine); });
}

}  // namespace wren

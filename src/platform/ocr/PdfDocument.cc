#include "platform/ocr/PdfDocument.h"

#include <cairo.h>
#include <poppler.h>

#include <cmath>

#include "platform/files/Deleters.h"
#include "platform/files/RegularFile.h"

namespace wren::platform {

namespace {

struct CairoSurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDestroy {
  void operator()(cairo_t* context) const { cairo_destroy(context); }
};

using PagePtr = std::unique_ptr<PopplerPage, GObjectUnref>;

}  // namespace

struct PdfDocument::Handle {
  std::unique_ptr<PopplerDocument, GObjectUnref> document;

  PagePtr page(int index) const {
    if (index < 0 || index >= poppler_document_get_n_pages(document.get())) return nullptr;
    return PagePtr(poppler_document_get_page(document.get(), index));
  }
};

PdfDocument::PdfDocument(Status status, std::unique_ptr<Handle> handle) : status_(status), handle_(std::move(handle)) {}
PdfDocument::~PdfDocument() = default;
PdfDocument::PdfDocument(PdfDocument&&) noexcept = default;
PdfDocument& PdfDocument::operator=(PdfDocument&&) noexcept = default;

PdfDocument PdfDocument::open(const std::string& path) {
  FileDescriptor file = openRegularFile(path);
  if (!file) return PdfDocument(Status::Unreadable, nullptr);
  GError* rawError = nullptr;
  // Poppler reads the file through the descriptor and closes it with the document. No
  // password is tried but the empty one, which opens files that are encrypted only
  // against changes.
  PopplerDocument* document = poppler_document_new_from_fd(file.release(), nullptr, &rawError);
  std::unique_ptr<GError, GErrorFree> error(rawError);
  if (!document) {
    bool locked = error && error->domain == POPPLER_ERROR && error->code == POPPLER_ERROR_ENCRYPTED;
    return PdfDocument(locked ? Status::Locked : Status::Unreadable, nullptr);
  }
  auto handle = std::make_unique<Handle>();
  handle->document.reset(document);
  return PdfDocument(Status::Opened, std::move(handle));
}

int PdfDocument::pageCount() const {
  return handle_ ? poppler_document_get_n_pages(handle_->document.get()) : 0;
}

std::optional<PdfDocument::PageSize> PdfDocument::pageSize(int index) const {
  if (!handle_) return std::nullopt;
  PagePtr page = handle_->page(index);
  if (!page) return std::nullopt;
  PageSize size;
  poppler_page_get_size(page.get(), &size.width, &size.height);
  if (!std::isfinite(size.width) || !std::isfinite(size.height)) return std::nullopt;
  return size;
}

std::optional<GrayImage> PdfDocument::render(int index, double scale, int width, int height) const {
  if (!handle_ || width < 1 || height < 1) return std::nullopt;
  PagePtr page = handle_->page(index);
  if (!page) return std::nullopt;
  std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  {
    std::unique_ptr<cairo_t, CairoDestroy> context(cairo_create(surface.get()));
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    // Pages are drawn on paper: what a page leaves transparent is white.
    cairo_set_source_rgb(context.get(), 1, 1, 1);
    cairo_paint(context.get());
    cairo_scale(context.get(), scale, scale);
    poppler_page_render(page.get(), context.get());
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  }
  cairo_surface_flush(surface.get());
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  if (!data) return std::nullopt;
  GrayImage image = GrayImage::blank(width, height);
  image.resolution = static_cast<int>(std::lround(72 * scale));
  for (int y = 0; y < height; ++y) {
    // Each pixel is one native-endian 32-bit word, 0x00RRGGBB.
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(stride) * y);
    for (int x = 0; x < width; ++x) {
      uint32_t p = row[x];
      image.at(x, y) = luminance(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
    }
  }
  return image;
}

}  // namespace wren::platform

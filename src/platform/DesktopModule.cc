#include "platform/DesktopModule.h"

#include <gmodule.h>

#include <stdexcept>
#include <system_error>
#include <utility>

#include "base/Diagnostic.h"
#include "platform/MainQueue.h"

namespace wren::platform {

namespace {

// The implementation a factory of the module makes, made by the first get() on any thread.
template <class Interface>
class Lazy {
 public:
  Lazy(std::shared_ptr<DesktopModule> module, const char* factory, const char* what)
      : module_(std::move(module)), factory_(factory), what_(what) {}

  // Null when it cannot be made; failure() then says why.
  Interface* get() {
    std::call_once(made_, [this] {
      try {
        auto make = reinterpret_cast<Interface* (*)()>(module_->symbol(factory_));
        instance_.reset(make());
      } catch (const std::exception& error) {
        failure_ = std::string(what_) + " is unavailable: " + error.what();
      }
    });
    return instance_.get();
  }
  const std::string& failure() const { return failure_; }

 private:
  std::shared_ptr<DesktopModule> module_;
  const char* factory_;
  const char* what_;
  std::once_flag made_;
  std::unique_ptr<Interface> instance_;
  std::string failure_;
};

class LazyVisionEngine final : public VisionEngine {
 public:
  explicit LazyVisionEngine(std::shared_ptr<DesktopModule> module)
      : lazy_(std::move(module), kVisionEngineFactory, "text recognition") {}

  std::optional<DecodedImage> readImage(const std::string& path) override { return engine().readImage(path); }
  std::unique_ptr<PdfPages> openPdf(const std::string& path) override { return engine().openPdf(path); }
  std::vector<std::string> supportedLanguages() override { return engine().supportedLanguages(); }
  std::vector<RecognizedLine> recognize(const GrayImage& image, int orientation,
                                        const std::vector<std::string>& languages) override {
    return engine().recognize(image, orientation, languages);
  }

 private:
  VisionEngine& engine() {
    if (VisionEngine* engine = lazy_.get()) return *engine;
    throw RecognitionError(lazy_.failure());
  }
  Lazy<VisionEngine> lazy_;
};

class LazyIconTheme final : public IconTheme {
 public:
  explicit LazyIconTheme(std::shared_ptr<DesktopModule> module)
      : lazy_(std::move(module), kIconThemeFactory, "drawing file icons") {}

  std::optional<std::string> drawPng(const std::vector<std::string>& names, int size) override {
    if (IconTheme* theme = lazy_.get()) return theme->drawPng(names, size);
    // Requests for icons never fail; the reason they come back without any is told once.
    std::call_once(reported_, [this] { writeDiagnostic("wren-mac-helper: " + lazy_.failure()); });
    return std::nullopt;
  }

 private:
  Lazy<IconTheme> lazy_;
  std::once_flag reported_;
};

class LazyOwnerAuthority final : public OwnerAuthority {
 public:
  explicit LazyOwnerAuthority(std::shared_ptr<DesktopModule> module)
      : lazy_(std::move(module), kOwnerAuthorityFactory, "owner verification") {}

  Cancel check(const std::string& reason, Answer answer) override {
    if (OwnerAuthority* authority = lazy_.get()) return authority->check(reason, std::move(answer));
    // Answers come on the main queue, as the real authority's do.
    mainQueue::post([answer = std::move(answer), description = lazy_.failure()] {
      answer(AuthorityAnswer{AuthorityAnswer::Kind::NoAuthority, description});
    });
    return [] {};
  }

 private:
  Lazy<OwnerAuthority> lazy_;
};

class LazyGeocoder final : public Geocoder {
 public:
  explicit LazyGeocoder(std::shared_ptr<DesktopModule> module)
      : lazy_(std::move(module), kGeocoderFactory, "reverse geocoding") {}

  void reverseGeocode(double latitude, double longitude, std::chrono::steady_clock::time_point deadline,
                      std::function<void(GeocodeAnswer)> done) override {
    if (Geocoder* geocoder = lazy_.get()) return geocoder->reverseGeocode(latitude, longitude, deadline, std::move(done));
    done(GeocodeError{GeocodeErrorKind::Other, lazy_.failure()});
  }

 private:
  Lazy<Geocoder> lazy_;
};

}  // namespace

std::filesystem::path DesktopModule::besideExecutable() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  // Without /proc the module is not looked for anywhere else: a bare name would send the
  // loader through the library search path, to whatever file of that name it finds there.
  if (error || self.empty()) return {};
  return self.parent_path() / kDesktopModuleFile;
}

void* DesktopModule::symbol(const char* name) {
  std::call_once(loaded_, [this] {
    if (path_.empty()) {
      failure_ = std::string("cannot find ") + kDesktopModuleFile + ": the helper's own path is unknown";
      return;
    }
    // Bound at once rather than lazily, so that a module that does not fit this executable
    // fails here, with the loader's description, instead of ending the process at its first
    // call. Local, so that the libraries it brings never stand in for the helper's own symbols.
    GModule* module = g_module_open(path_.c_str(), G_MODULE_BIND_LOCAL);
    if (!module) {
      failure_ = g_module_error();
      return;
    }
    g_module_make_resident(module);
    module_ = module;
  });
  if (!module_) throw std::runtime_error(failure_);
  gpointer address = nullptr;
  if (!g_module_symbol(static_cast<GModule*>(module_), name, &address) || !address)
    throw std::runtime_error(g_module_error());
  return address;
}

std::unique_ptr<VisionEngine> lazyVisionEngine(std::shared_ptr<DesktopModule> module) {
  return std::make_unique<LazyVisionEngine>(std::move(module));
}

std::unique_ptr<IconTheme> lazyIconTheme(std::shared_ptr<DesktopModule> module) {
  return std::make_unique<LazyIconTheme>(std::move(module));
}

std::unique_ptr<OwnerAuthority> lazyOwnerAuthority(std::shared_ptr<DesktopModule> module) {
  return std::make_unique<LazyOwnerAuthority>(std::move(module));
}

std::unique_ptr<Geocoder> lazyGeocoder(std::shared_ptr<DesktopModule> module) {
  return std::make_unique<LazyGeocoder>(std::move(module));
}

}  // namespace wren::platform

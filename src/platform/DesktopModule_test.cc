#include "platform/DesktopModule.h"

#include <dlfcn.h>
#include <gmodule.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/MainQueueThread.h"
#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

using testing::TemporaryFolder;

// The file of a shared library this test already has loaded, which has none of the factories.
std::string libraryOf(const void* function) {
  Dl_info info{};
  if (!dladdr(function, &info) || !info.dli_fname) return {};
  return info.dli_fname;
}

struct Unloadable {
  const char* name;
  std::filesystem::path path;
  std::string why;  // in every failure's text
};

class DesktopModuleUnavailable : public ::testing::Test {
 protected:
  std::vector<Unloadable> modules() const {
    const std::string gmodule = libraryOf(reinterpret_cast<const void*>(&g_module_open));
    return {
        {"no file", folder_.path() / kDesktopModuleFile, (folder_.path() / kDesktopModuleFile).string()},
        {"an empty file", folder_.write("empty/libwren-desktop.so", ""), "empty/libwren-desktop.so"},
        {"a library without the factories", gmodule, "wren_desktop_"},
        {"the helper's path unknown", {}, "the helper's own path is unknown"},
    };
  }

  testing::MainQueueThread mainThread_;
  TemporaryFolder folder_{"wren-desktop"};
};

TEST_F(DesktopModuleUnavailable, EachImplementationFailsItsOwnWayNamingWhatAndWhy) {
  for (const Unloadable& unloadable : modules()) {
    SCOPED_TRACE(unloadable.name);
    auto module = std::make_shared<DesktopModule>(unloadable.path);

    std::unique_ptr<VisionEngine> vision = lazyVisionEngine(module);
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second one fails the same way
      try {
        vision->readImage(folder_.write("photo.png", "\x89PNG\r\n\x1a\n").string());
        ADD_FAILURE() << "read an image without the module";
      } catch (const RecognitionError& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with("text recognition is unavailable: ")) << error.what();
        EXPECT_NE(std::string(error.what()).find(unloadable.why), std::string::npos) << error.what();
      }
    }
    EXPECT_THROW(vision->openPdf("scan.pdf"), RecognitionError);
    EXPECT_THROW(vision->supportedLanguages(), RecognitionError);

    EXPECT_EQ(lazyIconTheme(module)->drawPng({"folder"}, 32), std::nullopt);

    std::mutex mutex;
    std::condition_variable answered;
    std::optional<AuthorityAnswer> authority;
    lazyOwnerAuthority(module)->check("reason", [&](AuthorityAnswer answer) {
      std::lock_guard lock(mutex);
      authority = std::move(answer);
      answered.notify_all();
    });
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(answered.wait_for(lock, std::chrono::seconds(10), [&] { return authority.has_value(); }));
    }
    EXPECT_EQ(authority->kind, AuthorityAnswer::Kind::NoAuthority);
    EXPECT_TRUE(authority->description.starts_with("owner verification is unavailable: ")) << authority->description;
    EXPECT_NE(authority->description.find(unloadable.why), std::string::npos) << authority->description;

    std::optional<GeocodeAnswer> place;
    lazyGeocoder(module)->reverseGeocode(48.8584, 2.2945, std::chrono::steady_clock::now() + std::chrono::seconds(5),
                                         [&](GeocodeAnswer answer) { place = std::move(answer); });
    ASSERT_TRUE(place);
    const GeocodeError* failure = std::get_if<GeocodeError>(&*place);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, GeocodeErrorKind::Other);
    EXPECT_TRUE(failure->description.starts_with("reverse geocoding is unavailable: ")) << failure->description;
    EXPECT_NE(failure->description.find(unloadable.why), std::string::npos) << failure->description;
  }
}

TEST_F(DesktopModuleUnavailable, RequestsAtTheSameMomentAllGetTheFailure) {
  auto module = std::make_shared<DesktopModule>(folder_.path() / kDesktopModuleFile);
  std::unique_ptr<VisionEngine> vision = lazyVisionEngine(module);
  std::vector<std::string> failures(8);
  std::vector<std::thread> threads;
  for (std::string& failure : failures) {
    threads.emplace_back([&vision, &failure] {
      try {
        vision->supportedLanguages();
      } catch (const RecognitionError& error) {
        failure = error.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& failure : failures) {
    EXPECT_TRUE(failure.starts_with("text recognition is unavailable: ")) << failure;
    EXPECT_EQ(failure, failures.front());
  }
}

}  // namespace
}  // namespace wren::platform

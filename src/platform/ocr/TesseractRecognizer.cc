#include "platform/ocr/TesseractRecognizer.h"

#include <dlfcn.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <filesystem>
#include <list>
#include <mutex>
#include <semaphore>
#include <thread>

#include "platform/ocr/LanguageModels.h"

namespace wren::platform {

namespace {

using tesseract::PageIteratorLevel;

// Resolutions outside this range are not believed (Tesseract's own bounds).
constexpr int kMinCredibleResolution = 70;
constexpr int kMaxCredibleResolution = 2400;
// For a picture that states no resolution. Tesseract's layout analysis sizes its search
// for columns and text lines by the resolution; measured on screenshots (10 to 14 pixel
// text), photographed signs (120 pixel text) and dense pages of Chinese, 200 reads all of
// them, where Tesseract's own guess of 70 breaks dense Chinese pages into fragments and
// 300 loses the smallest and the largest text.
constexpr int kAssumedResolution = 200;

// Tesseract writes its progress and its complaints (a missing model, an estimated
// resolution) to standard error; the helper's standard error carries only its own
// diagnostics. The setting is global in Tesseract.
void quietTesseract(tesseract::TessBaseAPI& api) { api.SetVariable("debug_file", "/dev/null"); }

// Tesseract parallelises the inside of one recognition with OpenMP. On two cores shared
// with other requests that costs more than it gains, and it lets one request take every
// core. The runtime reads its thread limit only from the environment at start-up, so
// instead parallel regions are made inactive (at most zero active levels): each then runs
// on the thread that reaches it. The setting is per thread in newer runtimes, so it is
// made on every recognising thread.
void runOpenMpSerially() {
  using SetLevels = void (*)(int);
  static const SetLevels setMaxActiveLevels = [] {
    void* runtime = dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD);
    return runtime ? reinterpret_cast<SetLevels>(dlsym(runtime, "omp_set_max_active_levels")) : nullptr;
  }();
  if (setMaxActiveLevels) setMaxActiveLevels(0);
}

std::string tesseractDefaultDataPath() {
  static const std::string path = [] {
    // Tesseract finds its folder (TESSDATA_PREFIX, else the one it was built for) while it
    // loads a model; a name that names no model finds the folder and loads nothing.
    tesseract::TessBaseAPI probe;
    quietTesseract(probe);
    probe.Init(nullptr, "wren-folder-probe", tesseract::OEM_LSTM_ONLY);
    const char* found = probe.GetDatapath();
    return std::string(found ? found : "");
  }();
  return path;
}

std::vector<std::string> installedModels(const std::string& dataPath) {
  std::vector<std::string> models;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dataPath, error), end; !error && it != end; it.increment(error)) {
    const std::filesystem::path& file = it->path();
    if (file.extension() == ".traineddata" && it->is_regular_file(error)) models.push_back(file.stem().string());
  }
  return models;
}

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Whether the text blocks Tesseract's full layout analysis finds stand one above the
// other, as in a letter, a book page or a list, rather than side by side in columns.
// Vertical Chinese or Japanese text counts as columns.
bool textInOneColumn(tesseract::TessBaseAPI& api) {
  std::unique_ptr<tesseract::PageIterator> it(api.AnalyseLayout());
  if (!it) return true;
  std::vector<Box> blocks;
  do {
    const tesseract::PolyBlockType type = it->BlockType();
    if (!tesseract::PTIsTextType(type)) continue;
    if (type == tesseract::PT_VERTICAL_TEXT) return false;
    Box box;
    if (it->BoundingBox(tesseract::RIL_BLOCK, &box.left, &box.top, &box.right, &box.bottom)) blocks.push_back(box);
  } while (it->Next(tesseract::RIL_BLOCK));
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t j = i + 1; j < blocks.size(); ++j) {
      const Box& a = blocks[i];
      const Box& b = blocks[j];
      const int sharedHeight = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
      const int smallerHeight = std::min(a.bottom - a.top, b.bottom - b.top);
      const bool apart = a.right <= b.left || b.right <= a.left;
      if (apart && sharedHeight * 2 > smallerHeight) return false;
    }
  }
  return true;
}

struct Engine {
  std::string models;  // "chi_sim+eng"
  std::unique_ptr<tesseract::TessBaseAPI> api;
};

std::string trimmedLine(const char* text) {
  std::string line(text ? text : "");
  const char* space = " \t\r\n";
  line.erase(line.find_last_not_of(space) + 1);
  line.erase(0, line.find_first_not_of(space));
  return line;
}

double fraction(int value, int whole) { return std::clamp(static_cast<double>(value) / whole, 0.0, 1.0); }

std::vector<RecognizedLine> readLines(tesseract::TessBaseAPI& api, int width, int height) {
  std::vector<RecognizedLine> lines;
  std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
  if (!it) return lines;
  it->Begin();
  // Words in reading order; each line is read when its first word comes up, and its
  // confidence is the mean of its words' confidences.
  RecognizedLine current;
  double confidenceSum = 0;
  int words = 0;
  bool open = false;
  auto finish = [&] {
    if (open && !current.text.empty()) {
      current.confidence = words ? std::clamp(confidenceSum / words / 100, 0.0, 1.0) : 0;
      lines.push_back(current);
    }
    open = false;
  };
  do {
    if (it->Empty(tesseract::RIL_WORD)) continue;
    if (!open || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
      finish();
      std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
      current = RecognizedLine{trimmedLine(text.get())};
      int left = 0, top = 0, right = 0, bottom = 0;
      it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
      current.x = fraction(left, width);
      current.y = fraction(top, height);
      current.width = fraction(right - left, width);
      current.height = fraction(bottom - top, height);
      confidenceSum = 0;
      words = 0;
      open = true;
    }
    confidenceSum += it->Confidence(tesseract::RIL_WORD);
    ++words;
  } while (it->Next(tesseract::RIL_WORD));
  finish();
  return lines;
}

}  // namespace

struct TesseractRecognizer::Pool {
  explicit Pool(Options given)
      : options(std::move(given)),
        turns(std::clamp(options.concurrency > 0 ? options.concurrency
                                                 : static_cast<int>(std::thread::hardware_concurrency()),
                         1, kMaxTurns)) {}

  std::string dataPath() const { return options.dataPath.empty() ? tesseractDefaultDataPath() : options.dataPath; }

  Engine take(const std::string& models) {
    {
      std::lock_guard lock(mutex);
      auto found = std::find_if(idle.begin(), idle.end(), [&](const Engine& e) { return e.models == models; });
      if (found != idle.end()) {
        Engine engine = std::move(*found);
        idle.erase(found);
        return engine;
      }
    }
    Engine engine{models, std::make_unique<tesseract::TessBaseAPI>()};
    quietTesseract(*engine.api);
    const std::string path = dataPath();
    if (engine.api->Init(path.empty() ? nullptr : path.c_str(), models.c_str(), tesseract::OEM_LSTM_ONLY) != 0)
      throw RecognitionError("Tesseract could not load the language models " + models + " from " + path);
    quietTesseract(*engine.api);
    // Chinese and Japanese put no spaces between words; without this every guessed word
    // boundary would become a space in the line's text.
    bool noSpaces = false;
    for (size_t start = 0; start <= models.size();) {
      size_t end = std::min(models.find('+', start), models.size());
      noSpaces = noSpaces || writesWithoutSpaces(std::string_view(models).substr(start, end - start));
      start = end + 1;
    }
    if (noSpaces) engine.api->SetVariable("preserve_interword_spaces", "1");
    return engine;
  }

  void giveBack(Engine engine) {
    engine.api->Clear();  // the picture and the results, not the models
    std::lock_guard lock(mutex);
    idle.push_front(std::move(engine));
    while (idle.size() > options.idleEngines) idle.pop_back();
  }

  static constexpr int kMaxTurns = 1024;
  const Options options;
  std::counting_semaphore<kMaxTurns> turns;
  std::mutex mutex;
  std::list<Engine> idle;  // most recently used first
};

TesseractRecognizer::TesseractRecognizer() : TesseractRecognizer(Options{}) {}
TesseractRecognizer::TesseractRecognizer(Options options) : pool_(std::make_unique<Pool>(std::move(options))) {}
TesseractRecognizer::~TesseractRecognizer() = default;

std::vector<std::string> TesseractRecognizer::supportedLanguages() {
  std::vector<std::string> tags;
  for (const LanguageModel& language : orderedLanguages(installedModels(pool_->dataPath()))) tags.push_back(language.tag);
  return tags;
}

int TesseractRecognizer::recognitionResolution(const GrayImage& image) {
  if (image.resolution < kMinCredibleResolution) return kAssumedResolution;
  return std::min(image.resolution, kMaxCredibleResolution);
}

std::vector<RecognizedLine> TesseractRecognizer::recognize(const GrayImage& image, int orientation,
                                                           const std::vector<std::string>& languages) {
  const std::vector<LanguageModel> installed = orderedLanguages(installedModels(pool_->dataPath()));
  std::string models;
  for (const std::string& tag : languages) {
    auto found = std::find_if(installed.begin(), installed.end(), [&](const LanguageModel& l) { return l.tag == tag; });
    if (found == installed.end()) throw RecognitionError("no Tesseract language model is installed for " + tag);
    models += (models.empty() ? "" : "+") + found->model;
  }
  if (models.empty()) throw RecognitionError("no recognition language was given");
  if (image.width < 1 || image.height < 1 || image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    throw RecognitionError("the picture has no pixels");

  pool_->turns.acquire();
  struct Turn {
    std::counting_semaphore<Pool::kMaxTurns>& turns;
    ~Turn() { turns.release(); }
  } turn{pool_->turns};

  const GrayImage rotated = orientation >= 2 && orientation <= 8 ? uprightImage(image, orientation) : GrayImage();
  const GrayImage& upright = rotated.width ? rotated : image;

  Engine engine = pool_->take(models);
  runOpenMpSerially();
  tesseract::TessBaseAPI& api = *engine.api;
  auto setImage = [&] {
    api.SetImage(upright.pixels.data(), upright.width, upright.height, 1, upright.width);
    api.SetSourceResolution(recognitionResolution(upright));
  };
  // The full layout analysis finds columns, blocks and lines in reading order. On a page
  // whose text stands in one column it is less sure than the analysis that assumes one
  // column: that one reads long, dense lines (a page of Chinese especially) more
  // accurately and sooner. The full analysis takes a twentieth of the recognition's time,
  // so it is run first to choose, and its results are kept when the page has columns.
  api.SetPageSegMode(tesseract::PSM_AUTO);
  setImage();
  if (textInOneColumn(api)) {
    api.SetPageSegMode(tesseract::PSM_SINGLE_COLUMN);
    setImage();
  }
  tesseract::ETEXT_DESC monitor;
  monitor.set_deadline_msecs(static_cast<int32_t>(pool_->options.deadline.count()));
  if (api.Recognize(&monitor) != 0) {
    bool late = monitor.deadline_exceeded();
    pool_->giveBack(std::move(engine));
    throw RecognitionError(late ? "Tesseract did not finish within " +
                                      std::to_string(pool_->options.deadline.count() / 1000) + " seconds"
                                : "Tesseract could not recognise the picture");
  }
  std::vector<RecognizedLine> lines = readLines(api, upright.width, upright.height);
  pool_->giveBack(std::move(engine));
  return lines;
}

}  // namespace wren::platform

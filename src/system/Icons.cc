#include "system/Icons.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/OneShot.h"

namespace wren {

namespace {

// Drawing an icon takes milliseconds; the deadline only ends a request whose main queue
// stopped serving, with the icons drawn by then.
constexpr std::chrono::seconds kDrawingDeadline(60);

// Paths whose content types are guessed in one piece of main-queue work.
constexpr size_t kPathsPerPiece = 256;

// One request's work. Filled on the calling thread before the main queue takes it, then used
// only on the main queue, by the steps below and by the continuation that answers.
struct IconJob {
  int size = kDefaultIconSize;
  // The paths that name something, in request order, with what examining them found (shared
  // by the paths of one file) and, once known, the key of their icon.
  struct Entry {
    std::string path;
    std::shared_ptr<platform::FileFacts> facts;
    std::string key;
  };
  std::vector<Entry> entries;
  // Each distinct icon once: its names to try, and its PNG in base64 once drawn.
  std::map<std::string, std::vector<std::string>> wanted;
  std::map<std::string, std::string> drawn;
  std::shared_ptr<platform::IconTheme> theme;
};

using DrawingSlot = platform::OneShot<bool>;
using Wanted = std::map<std::string, std::vector<std::string>>::const_iterator;

std::string iconKey(const std::vector<std::string>& names) {
  std::string key;
  for (const std::string& name : names) key += name + '\n';
  return key;
}

Json iconEntry(const std::string& path, const std::string& data) {
  return Json{{"path", path}, {"mimeType", "image/png"}, {"data", data}};
}

Json iconsResult(const IconJob& job) {
  Json icons = Json::array();
  for (const IconJob::Entry& entry : job.entries) {
    auto data = job.drawn.find(entry.key);
    if (data != job.drawn.end()) icons.push_back(iconEntry(entry.path, data->second));
  }
  return Json{{"icons", std::move(icons)}};
}

// Draws the icon at `next` and hands the main queue back before the next one, so that other
// main-queue work (timers, other requests' icons) runs between two drawings.
void drawFrom(std::shared_ptr<IconJob> job, std::shared_ptr<DrawingSlot> slot, Wanted next) {
  if (slot->settled()) return;
  if (next == job->wanted.end()) {
    slot->resolve(true);
    return;
  }
  if (std::optional<std::string> png = job->theme->drawPng(next->second, job->size))
    job->drawn.emplace(next->first, platform::base64(*png));
  ++next;
  platform::mainQueue::post([job, slot, next] { drawFrom(job, slot, next); });
}

// Finds the icons of the entries from `first` on, a piece at a time, then starts drawing.
void findFrom(std::shared_ptr<IconJob> job, std::shared_ptr<DrawingSlot> slot, size_t first) {
  if (slot->settled()) return;
  size_t end = std::min(first + kPathsPerPiece, job->entries.size());
  for (size_t i = first; i < end; ++i) {
    IconJob::Entry& entry = job->entries[i];
    platform::FileIcon icon = platform::iconOf(*entry.facts);
    entry.key = iconKey(icon.names);
    job->wanted.emplace(entry.key, std::move(icon.names));
  }
  if (end < job->entries.size()) {
    platform::mainQueue::post([job, slot, end] { findFrom(job, slot, end); });
    return;
  }
  // The first bytes have done their work.
  for (IconJob::Entry& entry : job->entries) entry.facts.reset();
  platform::mainQueue::post([job, slot] { drawFrom(job, slot, job->wanted.cbegin()); });
}

}  // namespace

int iconPixelSize(const Params& params) {
  std::optional<int64_t> size = params.integer("size");
  if (!size) return kDefaultIconSize;
  return static_cast<int>(std::clamp<int64_t>(*size, kMinIconSize, kMaxIconSize));
}

void iconsFiles(const Params& params, Reply reply, std::shared_ptr<platform::IconTheme> theme) {
  auto job = std::make_shared<IconJob>();
  job->size = iconPixelSize(params);
  job->theme = std::move(theme);
  // One file listed many times under one name is examined, and its first bytes kept, once.
  std::map<std::tuple<uint64_t, uint64_t, std::string>, std::shared_ptr<platform::FileFacts>> seen;
  for (const std::string& path : params.strings("paths").value_or(std::vector<std::string>{})) {
    std::optional<platform::FileFacts> facts = platform::examineFile(path);
    if (!facts) continue;
    auto& shared = seen[{facts->device, facts->inode, facts->name}];
    if (!shared) shared = std::make_shared<platform::FileFacts>(std::move(*facts));
    job->entries.push_back({path, shared, {}});
  }
  if (job->entries.empty()) {
    reply.succeed(iconsResult(*job));
    return;
  }
  // The answer is built by the continuation on the main queue, where the icons are found and
  // drawn, whether the drawing finished or the deadline passed first.
  auto slot = DrawingSlot::start(kDrawingDeadline, [job, reply](std::optional<bool>) { reply.succeed(iconsResult(*job)); });
  platform::mainQueue::post([job, slot] { findFrom(job, slot, 0); });
}

}  // namespace wren

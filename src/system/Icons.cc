#include "system/Icons.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/OneShot.h"

namespace wren {

namespace {

// Drawing an icon takes milliseconds; the deadline only ends a request whose main queue
// stopped serving, with the icons drawn by then.
constexpr std::chrono::seconds kDrawingDeadline(60);

// One request's drawing. Filled on the calling thread before the drawing starts, then used
// only on the main queue, by the drawing steps and by the continuation that answers.
struct IconJob {
  int size = kDefaultIconSize;
  // The paths that name something, in request order, with the key of their icon.
  std::vector<std::pair<std::string, std::string>> entries;
  // Each distinct icon once: its names to try, and its PNG in base64 once drawn.
  std::map<std::string, std::vector<std::string>> wanted;
  std::map<std::string, std::string> drawn;
  std::shared_ptr<platform::IconTheme> theme;
};

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
  for (const auto& [path, key] : job.entries) {
    auto data = job.drawn.find(key);
    if (data != job.drawn.end()) icons.push_back(iconEntry(path, data->second));
  }
  return Json{{"icons", std::move(icons)}};
}

using DrawingSlot = platform::OneShot<bool>;

// Draws the icon at `next` and hands the main queue back before the next one, so that other
// main-queue work (timers, other requests' icons) runs between two drawings.
void drawFrom(std::shared_ptr<IconJob> job, std::shared_ptr<DrawingSlot> slot,
              std::map<std::string, std::vector<std::string>>::const_iterator next) {
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
  for (const std::string& path : params.strings("paths").value_or(std::vector<std::string>{})) {
    std::optional<platform::FileIcon> icon = platform::fileIcon(path);
    if (!icon) continue;
    std::string key = iconKey(icon->names);
    job->entries.emplace_back(path, key);
    job->wanted.emplace(std::move(key), std::move(icon->names));
  }
  if (job->wanted.empty()) {
    reply.succeed(iconsResult(*job));
    return;
  }
  // The answer is built by the continuation on the main queue, where the drawing is, whether
  // the drawing finished or the deadline passed first.
  auto slot = DrawingSlot::start(kDrawingDeadline, [job, reply](std::optional<bool>) { reply.succeed(iconsResult(*job)); });
  platform::mainQueue::post([job, slot] { drawFrom(job, slot, job->wanted.cbegin()); });
}

}  // namespace wren

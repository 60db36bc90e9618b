#include "base/JsonParse.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <utility>

namespace wren {

namespace {

// Objects up to this many keys find a repeated key by scanning them, which is quicker than
// hashing for the few keys that requests and metadata files hold.
constexpr std::size_t kScannedKeys = 16;

}  // namespace

Json parseJson(std::string_view text) {
  JsonBuilder builder;
  return parseJsonWith(text, builder);
}

Json tooDeepValue() { return Json::binary({}); }

bool nestedDeeperThan(const Json& value, std::size_t levels) {
  // Each entry is a container and the number of containers around it.
  std::vector<std::pair<const Json*, std::size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [container, around] = pending.back();
    pending.pop_back();
    if (!container->is_structured()) continue;
    if (around + 1 > levels) return true;
    for (const Json& element : *container)
      if (element.is_structured()) pending.emplace_back(&element, around + 1);
  }
  return false;
}

Json* JsonBuilder::place(Json value) {
  if (open_.empty()) {
    root_ = std::move(value);
    return &root_;
  }
  if (auto* array = open_.back().container->get_ptr<Json::array_t*>()) {
    array->push_back(std::move(value));
    return &array->back();
  }
  *member_ = std::move(value);
  return member_;
}

bool JsonBuilder::open(Json container) {
  if (skipped_ > 0 || open_.size() >= kJsonDepthLimit) {
    if (skipped_++ == 0) place(tooDeepValue());
    return true;
  }
  open_.push_back({place(std::move(container)), {}});
  return true;
}

bool JsonBuilder::close() {
  if (skipped_ > 0) {
    --skipped_;
  } else {
    open_.pop_back();
  }
  return true;
}

bool JsonBuilder::null() {
  if (skipped_ == 0) place(nullptr);
  return true;
}

bool JsonBuilder::boolean(bool value) {
  if (skipped_ == 0) place(value);
  return true;
}

bool JsonBuilder::number_integer(int64_t value) {
  if (skipped_ == 0) place(value);
  return true;
}

bool JsonBuilder::number_unsigned(uint64_t value) {
  if (skipped_ == 0) place(value);
  return true;
}

bool JsonBuilder::number_float(double value, const std::string&) {
  if (skipped_ == 0) place(value);
  return true;
}

// The parser gives its own buffer, which it clears before the next token, so the text can be
// taken rather than copied.
bool JsonBuilder::string(std::string& value) {
  if (skipped_ == 0) place(std::move(value));
  return true;
}

bool JsonBuilder::binary(Json::binary_t& value) {
  if (skipped_ == 0) place(std::move(value));
  return true;
}

bool JsonBuilder::start_object(std::size_t) { return open(Json::object()); }

bool JsonBuilder::start_array(std::size_t) { return open(Json::array()); }

bool JsonBuilder::end_object() { return close(); }

bool JsonBuilder::end_array() { return close(); }

bool JsonBuilder::key(std::string& key) {
  if (skipped_ == 0) member_ = memberFor(open_.back(), key);
  return true;
}

// The member of the object for the key: the one there is when the key came before, else a
// new one at the end.
Json* JsonBuilder::memberFor(Open& open, std::string& key) {
  auto& object = open.container->get_ref<Json::object_t&>();
  auto keyAt = [&object](uint32_t slot) -> const std::string& { return object.begin()[slot - 1].first; };
  auto add = [&]() {
    object.emplace_back(std::move(key), nullptr);
    return &object.back().second;
  };
  std::vector<uint32_t>& slots = open.keySlots;
  if (slots.empty()) {
    for (auto& member : object)
      if (member.first == key) return &member.second;
    if (object.size() < kScannedKeys) return add();
  }
  // Kept at most half full, so that probes stay short.
  if (2 * (object.size() + 1) > slots.size()) {
    slots.assign(std::bit_ceil(std::max<std::size_t>(64, 4 * (object.size() + 1))), 0);
    const std::size_t mask = slots.size() - 1;
    for (uint32_t place = 1; place <= object.size(); ++place) {
      std::size_t at = std::hash<std::string_view>()(keyAt(place)) & mask;
      while (slots[at] != 0) at = (at + 1) & mask;
      slots[at] = place;
    }
  }
  const std::size_t mask = slots.size() - 1;
  std::size_t at = std::hash<std::string_view>()(key) & mask;
  for (; slots[at] != 0; at = (at + 1) & mask)
    if (keyAt(slots[at]) == key) return &object.begin()[slots[at] - 1].second;
  slots[at] = static_cast<uint32_t>(object.size() + 1);
  return add();
}

}  // namespace wren

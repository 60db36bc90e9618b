#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace wren::platform {

namespace {

// The strings a binary list may expand to: far more than any tag list, far less than the
// gigabyte that a few kilobytes of references to one long string could otherwise become.
constexpr uint64_t kMaxDecodedBytes = 1024 * 1024;

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerBytes = 32;

// Object kinds of the binary format (the high nibble of an object's marker byte).
constexpr unsigned kIntegerKind = 0x1, kAsciiStringKind = 0x5, kUtf16StringKind = 0x6, kArrayKind = 0xA;

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

uint64_t bigEndian(std::string_view bytes, uint64_t at, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The layout of a binary list, checked against its size, and the headers of its objects.
class BinaryLayout {
 public:
  struct Object {
    unsigned kind = 0;
    uint64_t count = 0;    // elements of an array, characters of a string
    uint64_t payload = 0;  // where its references or characters begin
  };

  static std::optional<BinaryLayout> of(std::string_view bytes) {
    if (bytes.size() < kBinaryMagic.size() + kTrailerBytes || bytes.substr(0, kBinaryMagic.size()) != kBinaryMagic)
      return std::nullopt;
    uint64_t trailer = bytes.size() - kTrailerBytes;
    BinaryLayout layout(bytes);
    layout.offsetWidth_ = static_cast<unsigned char>(bytes[trailer + 6]);
    layout.refWidth_ = static_cast<unsigned char>(bytes[trailer + 7]);
    layout.objectCount_ = bigEndian(bytes, trailer + 8, 8);
    layout.root_ = bigEndian(bytes, trailer + 16, 8);
    layout.tableOffset_ = bigEndian(bytes, trailer + 24, 8);
    bool sound = layout.offsetWidth_ >= 1 && layout.offsetWidth_ <= 8 && layout.refWidth_ >= 1 &&
                 layout.refWidth_ <= 8 && layout.tableOffset_ >= kBinaryMagic.size() &&
                 layout.tableOffset_ <= trailer && layout.root_ < layout.objectCount_ &&
                 layout.objectCount_ <= (trailer - layout.tableOffset_) / layout.offsetWidth_;
    if (!sound) return std::nullopt;
    return layout;
  }

  std::optional<Object> root() const { return object(root_); }

  // The object that the reference at `at` names.
  std::optional<Object> referenced(uint64_t at) const { return object(bigEndian(bytes_, at, refWidth_)); }

  unsigned refWidth() const { return refWidth_; }
  // Objects lie between the magic and the offset table.
  uint64_t objectsEnd() const { return tableOffset_; }

 private:
  explicit BinaryLayout(std::string_view bytes) : bytes_(bytes) {}

  std::optional<Object> object(uint64_t index) const {
    if (index >= objectCount_) return std::nullopt;
    uint64_t at = bigEndian(bytes_, tableOffset_ + index * offsetWidth_, offsetWidth_);
    if (at < kBinaryMagic.size() || at >= tableOffset_) return std::nullopt;
    unsigned char marker = static_cast<unsigned char>(bytes_[at]);
    Object found{static_cast<unsigned>(marker >> 4), static_cast<uint64_t>(marker & 0xF), at + 1};
    if (found.count == 0xF) {
      // A longer count follows as an integer object of 1, 2, 4 or 8 bytes.
      if (found.payload >= tableOffset_) return std::nullopt;
      unsigned char countMarker = static_cast<unsigned char>(bytes_[found.payload]);
      unsigned width = 1u << (countMarker & 0xF);
      if ((countMarker >> 4) != kIntegerKind || width > 8 || tableOffset_ - found.payload - 1 < width)
        return std::nullopt;
      found.count = bigEndian(bytes_, found.payload + 1, width);
      found.payload += 1 + width;
    }
    return found;
  }

  std::string_view bytes_;
  unsigned offsetWidth_ = 0;
  unsigned refWidth_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t root_ = 0;
  uint64_t tableOffset_ = 0;
};

// Whether a binary list is an array of strings that libplist can expand within the
// bound. libplist makes a fresh copy of an object for every reference to it and follows
// nested arrays by recursion, so a small hostile list could otherwise cost gigabytes or
// the stack; anything but an array of strings is refused before it sees it.
bool isBoundedArrayOfStrings(std::string_view bytes) {
  std::optional<BinaryLayout> layout = BinaryLayout::of(bytes);
  if (!layout) return false;
  std::optional<BinaryLayout::Object> root = layout->root();
  if (!root || root->kind != kArrayKind) return false;
  uint64_t room = layout->objectsEnd() - root->payload;
  if (root->payload > layout->objectsEnd() || root->count > room / layout->refWidth()) return false;
  uint64_t decoded = 0;
  for (uint64_t i = 0; i < root->count; ++i) {
    std::optional<BinaryLayout::Object> element = layout->referenced(root->payload + i * layout->refWidth());
    if (!element) return false;
    uint64_t available = layout->objectsEnd() - element->payload;
    if (element->payload > layout->objectsEnd()) return false;
    if (element->kind == kAsciiStringKind) {
      if (element->count > available) return false;
      decoded += element->count;
    } else if (element->kind == kUtf16StringKind) {
      if (element->count > available / 2) return false;
      // Each UTF-16 unit becomes at most three bytes of UTF-8.
      decoded += element->count * 3;
    } else {
      return false;
    }
    if (decoded > kMaxDecodedBytes) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::string>> stringArrayFromPropertyList(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaxPropertyListBytes) return std::nullopt;
  bool binary = bytes.substr(0, kBinaryMagic.size()) == kBinaryMagic;
  if (binary && !isBoundedArrayOfStrings(bytes)) return std::nullopt;
  plist_t parsed = nullptr;
  if (binary) {
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
  } else {
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
  }
  PlistPtr root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_ARRAY) return std::nullopt;
  std::vector<std::string> strings;
  uint32_t count = plist_array_get_size(root.get());
  strings.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    plist_t item = plist_array_get_item(root.get(), i);
    if (plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    strings.emplace_back(text ? text : "", text ? length : 0);
  }
  return strings;
}

std::string binaryPropertyListOfStrings(const std::vector<std::string>& strings) {
  PlistPtr root(plist_new_array());
  if (!root) throw std::runtime_error("plist_new_array failed");
  for (const std::string& text : strings) {
    if (text.find('\0') != std::string::npos) throw std::runtime_error("a property-list string cannot hold NUL");
    plist_array_append_item(root.get(), plist_new_string(text.c_str()));
  }
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root.get(), &bytes, &length);
  if (!bytes) throw std::runtime_error("plist_to_bin failed");
  std::string written(bytes, length);
  plist_to_bin_free(bytes);
  return written;
}

std::optional<std::map<std::string, std::string>> stringDictionaryFromXmlPropertyList(std::string_view xml) {
  if (xml.empty() || xml.size() > kMaxPropertyListBytes || xml.substr(0, kBinaryMagic.size()) == kBinaryMagic)
    return std::nullopt;
  plist_t parsed = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &parsed);
  PlistPtr root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
  std::map<std::string, std::string> members;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(root.get(), &iterator);
  // The iterator is a plain allocation of libplist's.
  std::unique_ptr<void, decltype(&free)> ownIterator(iterator, &free);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root.get(), iterator, &key, &value);
    if (!key) break;
    std::unique_ptr<char, decltype(&free)> ownKey(key, &free);
    if (!value || plist_get_node_type(value) != PLIST_STRING) continue;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(value, &length);
    members.emplace(key, std::string(text ? text : "", text ? length : 0));
  }
  return members;
}

}  // namespace wren::platform

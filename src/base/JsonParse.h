#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Json.h"

namespace wren {

// Reading JSON text into the helper's value type, for request lines and the stores' small
// metadata files, both written by programs we do not control:
//
//   Json value = parseJson(text);
//   if (!value.is_object()) return Json::object();  // not JSON (discarded), or not an object
//
// The time is linear in the text. The value type keeps an object's keys in the order they
// came, in a list, and the library's own reader looks each new key up in that list, which
// makes an object of n keys cost n * n / 2 comparisons (minutes for 200,000 keys). This reader
// finds repeated keys with a hash index instead. A key that comes twice keeps its first place
// and takes its last value, as with the library's reader.
//
// Nesting is bounded: a container nested deeper than kJsonDepthLimit is checked for syntax
// but not built; it is replaced by tooDeepValue(). So no parsed value is deeper than the
// limit, and the recursive operations of the value type (copy, comparison, serialisation) stay
// well within a thread's stack, whatever the text.
inline constexpr std::size_t kJsonDepthLimit = 1024;

// A discarded value when the text is not JSON (also when anything follows the value).
Json parseJson(std::string_view text);

// The stand-in for a value nested too deeply: an empty byte string, a type that JSON text
// cannot produce, so that every reader of the value takes it for a value of the wrong type.
Json tooDeepValue();

// True when the value has more than `levels` levels of containers (a scalar has none, [] and
// {} have one, [[1]] has two). Iterative, and it stops looking past the given depth.
bool nestedDeeperThan(const Json& value, std::size_t levels);

// The builder of parseJson, as a receiver of the library's parse events. A reader that needs
// more than the value (the text of a number, say) derives from it, hides the event it wants
// to see, and calls the builder's own from there; parseJsonWith drives it.
class JsonBuilder {
 public:
  JsonBuilder() = default;
  JsonBuilder(const JsonBuilder&) = delete;
  JsonBuilder& operator=(const JsonBuilder&) = delete;

  bool null();
  bool boolean(bool value);
  bool number_integer(int64_t value);
  bool number_unsigned(uint64_t value);
  bool number_float(double value, const std::string& text);
  bool string(std::string& value);
  bool binary(Json::binary_t& value);
  bool start_object(std::size_t elements);
  bool key(std::string& key);
  bool end_object();
  bool start_array(std::size_t elements);
  bool end_array();
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    return false;
  }

  // The value built; call once, after a successful parse.
  Json take() { return std::move(root_); }

 protected:
  // Containers open at this point of the text, skipped ones included: 0 at the top level,
  // 1 for the members of the outermost object or array, and so on.
  std::size_t depth() const { return open_.size() + skipped_; }

 private:
  struct Open {
    Json* container;
    // For an object that outgrew a short scan: a hash table of the places of its keys (place
    // + 1; 0 for a free slot), open addressing with linear probing.
    std::vector<uint32_t> keySlots;
  };

  Json* place(Json value);
  Json* memberFor(Open& object, std::string& key);
  bool open(Json container);
  bool close();

  Json root_;
  std::vector<Open> open_;
  Json* member_ = nullptr;  // the member of the innermost object whose value comes next
  std::size_t skipped_ = 0;  // containers open below the depth limit, not built
};

// Parses the text with the given builder; a discarded value when the text is not JSON.
template <class Builder>
Json parseJsonWith(std::string_view text, Builder& builder) {
  bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
  return parsed ? builder.take() : Json(Json::value_t::discarded);
}

}  // namespace wren

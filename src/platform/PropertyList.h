#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wren::platform {

// Property lists whose root is an array of strings, the shape of a file's tag list, read
// and written with libplist.
//
//   std::string bytes = binaryPropertyListOfStrings({"Work", "Urgent\n6"});   // "bplist00..."
//   stringArrayFromPropertyList(bytes);   // {"Work", "Urgent\n6"}

// Larger property lists are not read: it is the largest value an extended attribute holds
// on Linux, so no tag list is longer.
inline constexpr std::size_t kMaxPropertyListBytes = 64 * 1024;

// The strings of a property list in the binary (version 1.0) or XML format whose root is
// an array of strings; nothing for any other root, for unreadable bytes and for input
// larger than kMaxPropertyListBytes. A binary list may name one string from many places;
// one whose strings would together take more than a megabyte is refused rather than
// expanded.
std::optional<std::vector<std::string>> stringArrayFromPropertyList(std::string_view bytes);

// The strings as a binary property list (version 1.0) whose root is an array of them.
// Throws std::runtime_error when libplist cannot write it, and for a string holding a NUL
// character, which libplist would silently cut short.
std::string binaryPropertyListOfStrings(const std::vector<std::string>& strings);

// The string members of an XML property list whose root is a dictionary, such as an
// information property list; members of other types are left out. Nothing for any other
// root, for binary or unreadable bytes and for input larger than kMaxPropertyListBytes.
std::optional<std::map<std::string, std::string>> stringDictionaryFromXmlPropertyList(std::string_view xml);

}  // namespace wren::platform

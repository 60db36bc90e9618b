#pragma once

#include <string>
#include <vector>

namespace wren::platform {

// The tag list of a file, kept where Finder keeps it: in an extended attribute holding a
// binary property list whose root is an array of strings, one per tag ("Work", or
// "Urgent\n6" for a tag with colour 6). On Linux the attribute lives in the user namespace,
// which is the form Mac files copied to Linux carry, so tags survive the trip both ways.
//
//   writeTagStrings("/home/ann/report.pdf", {"Project\n4"});
//   readTagStrings("/home/ann/report.pdf");   // {"Project\n4"}
//
// Symbolic links are followed. Failures throw FileError with the call and the errno.

inline constexpr const char* kTagAttributeName = "user.com.apple.metadata:_kMDItemUserTags";

// The tag strings; empty when the file has no tag attribute or it holds anything but an
// array of strings (garbage, another shape, or more than any tag list takes).
std::vector<std::string> readTagStrings(const std::string& path);

// Replaces the tag strings; an empty list removes the attribute. Only the attribute is
// touched: the file's contents and modification time stay as they are. Also throws
// std::runtime_error when the property list cannot be written.
void writeTagStrings(const std::string& path, const std::vector<std::string>& strings);

}  // namespace wren::platform

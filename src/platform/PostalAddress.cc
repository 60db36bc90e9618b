#include "platform/PostalAddress.h"

#include <initializer_list>

#include "platform/Text.h"

namespace wren::platform {

namespace {

void appendLine(std::string& text, const std::string& line) {
  if (line.empty()) return;
  if (!text.empty()) text += '\n';
  text += line;
}

std::string joinWords(std::initializer_list<const std::string*> parts) {
  std::string line;
  for (const std::string* part : parts) {
    std::string word = trimWhitespace(*part);
    if (word.empty()) continue;
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

}  // namespace

std::string formatMailingAddress(const PostalAddress& address) {
  std::string text;
  appendLine(text, trimWhitespace(address.street));
  appendLine(text, joinWords({&address.city, &address.state, &address.postalCode}));
  appendLine(text, trimWhitespace(address.country));
  return text;
}

}  // namespace wren::platform

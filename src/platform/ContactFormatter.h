#pragma once

// The contact's name on one line, in the full-name style that address books show:
//
//   given "Anna", middle "Maria", family "Müller", suffix "Jr."  ->  "Anna Maria Müller Jr."
//   family "张", given "三"                                       ->  "张三"
//   an organization contact                                       ->  its organization name
//
// A name written in CJK script (Han, kana, Hangul, with no Latin letter in it) puts the
// family name first and joins the parts without spaces; any other name goes prefix, given,
// middle, family, suffix, separated by single spaces. Parts are trimmed; empty ones drop out.

#include <optional>
#include <string>

#include "platform/Contact.h"

namespace wren::platform {

// The name, or nothing when the contact has none (no name part, not an organization with
// an organization name).
std::optional<std::string> formatFullName(const Contact& contact);

// The keys formatFullName reads.
ContactKeys fullNameRequiredKeys();

}  // namespace wren::platform

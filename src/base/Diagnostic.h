#pragma once

#include <string_view>

namespace wren {

// Writes one line on standard error ("wren-mac-helper: ..." and a line feed) in a single
// write, so that lines from several threads never interleave. For failures that have no
// request to report them to: work of the main queue or of a pool thread that threw.
void writeDiagnostic(std::string_view line);

}  // namespace wren

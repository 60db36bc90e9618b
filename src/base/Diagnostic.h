#pragma once

#include <functional>
#include <string_view>

namespace wren {

// Writes one line on standard error ("wren-mac-helper: ..." and a line feed) in a single
// write, so that lines from several threads never interleave. For failures that have no
// request to report them to: work of the main queue or of a pool thread that threw.
void writeDiagnostic(std::string_view line);

// Runs the work and keeps what it throws from going further: it is reported as
// "wren-mac-helper: {failure}: {description}" (without the description when the thrown value
// has none). For the outermost frame of a thread or a loop that must go on.
void runReportingFailure(const std::function<void()>& work, std::string_view failure);

}  // namespace wren

#pragma once

// What a store needs to know of an item file before any request asks for it, read from the few
// lines that decide it, without libical: the span an event file's occurrences can touch, and
// whether a reminder is completed. A cold store of 100,000 files is summed up this way in a
// fraction of the time a full parse takes; a file is parsed only when a request needs its
// items.
//
//   if (std::optional<EventExtent> extent = scanEventExtent(text)) {
//     if (!mayOverlap(*extent, windowStart, windowEnd)) skip the file unparsed;
//   } else {
//     extent = eventExtent(*parseEventFile(text));   // the scan cannot tell: parse
//   }
//
// A scan answers only when it is certain: its span always contains the one the full parse
// gives (eventExtent, EventCodec.h), and equals it for the shapes most files have (one-off
// events, series with a plain rule, their changed occurrences), and a to-do's completion is
// the one todoCompleted gives. Anything it does not read with certainty (several events, a
// zone the file defines itself, periods, rules whose last occurrence needs an expansion,
// values of odd shapes or cases, broken structure) gives nothing, and the file is parsed. A
// file the full parse skips may still get an answer: it only costs that parse.

#include <optional>
#include <string_view>

#include "platform/vdir/EventCodec.h"

namespace wren::platform::vdir {

std::optional<EventExtent> scanEventExtent(std::string_view text);
std::optional<bool> scanTodoCompleted(std::string_view text);

}  // namespace wren::platform::vdir

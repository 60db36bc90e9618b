#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Json.h"
#include "app/Params.h"

namespace wren {

// The slice of a listing a request asks for: `offset` (0 when absent or negative) and
// `limit` (50 when absent, clamped to 1...500).
struct PageRequest {
  int64_t offset = 0;
  int64_t limit = 50;
};
PageRequest pageRequest(const Params& params);

// The answer of a listing: the rows of one page under `rowsKey`, then `total`, `has_more`,
// the fields of `extra`, and `next_cursor` when rows follow the page, which ends at `end`.
Json pagedAnswer(const std::string& rowsKey, Json rows, std::size_t total, std::size_t end,
                 const Json& extra = Json::object());

}  // namespace wren

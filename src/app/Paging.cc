#include "app/Paging.h"

#include <algorithm>

namespace wren {

namespace {

constexpr int64_t kDefaultLimit = 50;
constexpr int64_t kLargestLimit = 500;

}  // namespace

PageRequest pageRequest(const Params& params) {
  return {std::max<int64_t>(params.integer("offset").value_or(0), 0),
          std::clamp<int64_t>(params.integer("limit").value_or(kDefaultLimit), 1, kLargestLimit)};
}

Json pagedAnswer(const std::string& rowsKey, Json rows, std::size_t total, std::size_t end, const Json& extra) {
  const bool hasMore = end < total;
  Json page = {{rowsKey, std::move(rows)}, {"total", total}, {"has_more", hasMore}};
  for (const auto& field : extra.items()) page[field.key()] = field.value();
  if (hasMore) page["next_cursor"] = std::to_string(end);
  return page;
}

}  // namespace wren

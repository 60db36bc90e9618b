#include "app/HelperError.h"

#include "app/Params.h"

namespace wren {

void requireConfirmation(const Params& params, std::string question, Json details) {
  if (params.boolean("confirmed") == true) return;
  throw HelperError(ErrorCode::NeedsConfirmation, std::move(question), std::move(details));
}

}  // namespace wren

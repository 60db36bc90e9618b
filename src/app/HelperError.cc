#include "app/HelperError.h"

#include <ostream>

#include "app/Params.h"

namespace wren {

std::string_view wireName(ErrorCode code) {
  switch (code) {
    case ErrorCode::InvalidArgs: return "invalid_args";
    case ErrorCode::ExecutionFailed: return "execution_failed";
    case ErrorCode::NeedsConfirmation: return "needs_confirmation";
    case ErrorCode::OsPermission: return "os_permission";
    case ErrorCode::Cancelled: return "cancelled";
    case ErrorCode::Timeout: return "timeout";
    case ErrorCode::Unsupported: return "unsupported";
    case ErrorCode::UnknownAction: return "unknown_action";
  }
  // Only a value cast from an integer outside the enumeration gets here.
  return "execution_failed";
}

void to_json(Json& json, ErrorCode code) { json = std::string(wireName(code)); }

std::ostream& operator<<(std::ostream& out, ErrorCode code) { return out << wireName(code); }

void requireConfirmation(const Params& params, std::string question, Json details) {
  if (params.boolean("confirmed") == true) return;
  throw HelperError(ErrorCode::NeedsConfirmation, std::move(question), std::move(details));
}

}  // namespace wren

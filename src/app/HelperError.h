#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "app/Json.h"

namespace wren {

class Params;

// The failure the host is meant to see. Thrown by handlers; only the request task catches it
// and turns it into the error object of a failure reply.
//
//   throw HelperError(ErrorCode::InvalidArgs, "title is required");
//   throw HelperError(ErrorCode::OsPermission, message, Json{{"settingsUrl", url}});
class HelperError : public std::exception {
 public:
  HelperError(std::string code, std::string message, std::optional<Json> details = std::nullopt)
      : code_(std::move(code)), message_(std::move(message)), details_(std::move(details)) {}

  const std::string& code() const { return code_; }
  const std::string& message() const { return message_; }
  const std::optional<Json>& details() const { return details_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string code_;
  std::string message_;
  std::optional<Json> details_;
};

// The eight codes, and when each is used.
namespace ErrorCode {
// A parameter is missing, of the wrong type or format, out of range, or names nothing.
inline constexpr const char* InvalidArgs = "invalid_args";
// The request was valid but the system refused or failed the operation.
inline constexpr const char* ExecutionFailed = "execution_failed";
// The change deletes data or would create a duplicate and was not confirmed.
inline constexpr const char* NeedsConfirmation = "needs_confirmation";
// The person has not granted the privacy permission the method needs.
inline constexpr const char* OsPermission = "os_permission";
// Owner verification did not succeed.
inline constexpr const char* Cancelled = "cancelled";
// A location fix or address lookup did not finish in time.
inline constexpr const char* Timeout = "timeout";
// This machine cannot perform the operation at all.
inline constexpr const char* Unsupported = "unsupported";
// The method name is not in the method table.
inline constexpr const char* UnknownAction = "unknown_action";
}  // namespace ErrorCode

[[noreturn]] inline void throwInvalidArgs(std::string message) {
  throw HelperError(ErrorCode::InvalidArgs, std::move(message));
}

[[noreturn]] inline void throwExecutionFailed(std::string message) {
  throw HelperError(ErrorCode::ExecutionFailed, std::move(message));
}

// The confirmation step of destructive changes: returns when the request carries
// `confirmed` true, and otherwise fails with the question to put to the person and the
// details describing the affected item. Call it after the target was resolved.
void requireConfirmation(const Params& params, std::string question, Json details);

}  // namespace wren

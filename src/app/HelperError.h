#pragma once

#include <exception>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "app/Json.h"

namespace wren {

class Params;

// The eight codes of the failures the host sees, and when each is used. Their wire names
// are in HelperError.cc, the one place that spells them.
enum class ErrorCode {
  // A parameter is missing, of the wrong type or format, out of range, or names nothing.
  InvalidArgs,
  // The request was valid but the system refused or failed the operation.
  ExecutionFailed,
  // The change deletes data or would create a duplicate and was not confirmed.
  NeedsConfirmation,
  // The person has not granted the privacy permission the method needs.
  OsPermission,
  // Owner verification did not succeed.
  Cancelled,
  // A location fix or address lookup did not finish in time.
  Timeout,
  // This machine cannot perform the operation at all.
  Unsupported,
  // The method name is not in the method table.
  UnknownAction,
};

// The code as the host reads it: "invalid_args", "execution_failed" and so on.
std::string_view wireName(ErrorCode code);
// A code becomes its wire name in JSON, and equals the text of that name, so that replies
// and checks of them compare with what the host reads.
void to_json(Json& json, ErrorCode code);
inline bool operator==(ErrorCode code, std::string_view name) { return wireName(code) == name; }
std::ostream& operator<<(std::ostream& out, ErrorCode code);

// The failure the host is meant to see. Thrown by handlers; only the request task catches it
// and turns it into the error object of a failure reply.
//
//   throw HelperError(ErrorCode::InvalidArgs, "title is required");
//   throw HelperError(ErrorCode::OsPermission, message, Json{{"settingsUrl", url}});
class HelperError : public std::exception {
 public:
  HelperError(ErrorCode code, std::string message, std::optional<Json> details = std::nullopt)
      : code_(code), message_(std::move(message)), details_(std::move(details)) {}

  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }
  const std::optional<Json>& details() const { return details_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  ErrorCode code_;
  std::string message_;
  std::optional<Json> details_;
};

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

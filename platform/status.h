// Status: the result of an operation of the socket, file and SQL layers.
//
// A Status is either ok or carries an error code and a message that names the real
// cause ("connect 127.0.0.1:4200: Connection refused"). Layers below the system's own
// routines return it instead of throwing; the routines turn it into their boolean
// results and message lines.
#pragma once

#include <string>
#include <utility>

namespace torvan {

class [[nodiscard]] Status {
 public:
  enum class Code { kOk = 0, kNotFound, kIoError, kInvalidArgument, kTimedOut, kClosed, kFault };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return Status(Code::kNotFound, std::move(msg)); }
  static Status IoError(std::string msg) { return Status(Code::kIoError, std::move(msg)); }
  static Status InvalidArgument(std::string msg) {
    return Status(Code::kInvalidArgument, std::move(msg));
  }
  static Status TimedOut(std::string msg) { return Status(Code::kTimedOut, std::move(msg)); }
  static Status Closed(std::string msg) { return Status(Code::kClosed, std::move(msg)); }
  // A run-time fault of the kind the system's routines catch in their error handler
  // (a packed byte that is not a digit, a value that does not fit, ...).
  static Status Fault(std::string msg) { return Status(Code::kFault, std::move(msg)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string ToString() const { return ok() ? "OK" : message_; }

 private:
  Status(Code code, std::string msg) : code_(code), message_(std::move(msg)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

// The Status for an errno value: "<context>: <strerror>". EINTR is never reported here:
// callers retry it where the call is made.
Status PosixError(const std::string& context, int error_number);

}  // namespace torvan

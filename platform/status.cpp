#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace torvan {

Status PosixError(const std::string& context, int error_number) {
  std::string msg = context + ": " + std::strerror(error_number);
  switch (error_number) {
    case ENOENT:
      return Status::NotFound(msg);
    case ETIMEDOUT:
      return Status::TimedOut(msg);
    case ECONNRESET:
    case EPIPE:
      return Status::Closed(msg);
    case EINVAL:
      return Status::InvalidArgument(msg);
    default:
      return Status::IoError(msg);
  }
}

}  // namespace torvan

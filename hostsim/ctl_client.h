// The control socket's wire format and its client ("torvan-host ctl").
//
// Request: the number of arguments in decimal (at most eight characters) and "\n", then
// each argument followed by a NUL byte (arguments are command-line texts, which never hold
// NUL). Reply: the exit status in decimal and "\n", then the text; the server closes the
// connection after it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hostsim/ctl_command.h"
#include "platform/status.h"

namespace torvan::hostsim {

// Arguments are refused beyond these, so a stray client cannot make the server hoard.
inline constexpr size_t kMaxCtlArgs = 4096;
inline constexpr size_t kMaxCtlRequest = 1 << 20;

std::string EncodeCtlRequest(const std::vector<std::string>& args);

enum class CtlDecode { kIncomplete, kComplete, kMalformed };
CtlDecode DecodeCtlRequest(std::string_view bytes, std::vector<std::string>* args);

std::string EncodeCtlReply(const CtlResult& result);

// Sends `args` to the server of `data_dir` and waits at most `timeout_ms` for its reply.
// A server that is not running, or that does not answer in time, is an error Status.
Status CtlCall(const std::string& data_dir, const std::vector<std::string>& args, int timeout_ms,
               CtlResult* result);

}  // namespace torvan::hostsim

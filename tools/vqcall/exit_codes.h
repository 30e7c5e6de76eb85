// Exit statuses of vqcall, so scripts can tell the kinds of failure apart.
#pragma once

namespace vqcall {

inline constexpr int kExitOk = 0;
// The server ran the command and answered with an error (or "open" failed).
inline constexpr int kExitErrorReply = 1;
// The server answered with an HTTP error status, or with a body that is not
// what the command returns.
inline constexpr int kExitHttpError = 2;
// No answer: the server cannot be reached or did not answer in time.
inline constexpr int kExitUnreachable = 3;
// Bad command line (the BSD EX_USAGE value).
inline constexpr int kExitUsage = 64;

}  // namespace vqcall

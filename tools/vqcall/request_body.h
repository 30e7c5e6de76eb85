// The JSON request body of each command, with its arguments checked here
// first so that mistakes get a clear message before anything is sent.
#pragma once

#include <string>

#include "tools/vqcall/command_line.h"

namespace vqcall {

// Throws UsageError when the number of arguments is wrong or a value is out
// of range: RECORD a signed 32-bit integer, START and COUNT unsigned 32-bit,
// INDEX from 0 to 2147483647, SEP exactly one byte, texts valid UTF-8, and
// the body of "raw" well-formed JSON (sent unchanged).
std::string BuildRequestBody(const Invocation& inv);

}  // namespace vqcall

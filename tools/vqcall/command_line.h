// The command line of vqcall: options, the command and its arguments.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vqcall {

enum class Command { kOpen, kQuery, kQueryDbg, kExtr, kElem, kRaw };

inline constexpr const char* kDefaultUrl = "http://127.0.0.1:7400/ZIDozeve";
inline constexpr double kDefaultTimeoutSeconds = 60;

struct Invocation {
  Command command = Command::kRaw;
  std::string command_name;
  std::vector<std::string> args;  // the words after the command
  std::string url = kDefaultUrl;
  std::string token;              // empty: no Authorization header
  bool json = false;              // print the reply body as it came
  double timeout_seconds = kDefaultTimeoutSeconds;  // 0: wait without limit
  std::string null_text = "NULL";  // how a database null reads in a table
  bool help = false;
};

// A command line that cannot be run; the message says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Values taken from the environment when the option is not given
// (VQ_URL, VQ_TOKEN); null when unset.
struct EnvDefaults {
  const char* url = nullptr;
  const char* token = nullptr;
};

// Parses argv. Throws UsageError for unknown options or commands, a missing
// command and bad option values. Argument counts and values of the command
// are checked by BuildRequestBody. Words beginning with '-' followed by a
// digit are arguments, so "query demo 'SELECT 1' -1" works.
Invocation ParseCommandLine(int argc, const char* const argv[], const EnvDefaults& env);

// One-line usage and the full --help text.
std::string UsageLine();
std::string HelpText();

}  // namespace vqcall

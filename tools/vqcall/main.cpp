// vqcall: sends one request to a vqsrv service and prints its answer.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/vqcall/command_line.h"
#include "tools/vqcall/exit_codes.h"
#include "tools/vqcall/http_post.h"
#include "tools/vqcall/progress_line.h"
#include "tools/vqcall/reply_report.h"
#include "tools/vqcall/request_body.h"

namespace {

int UsageFailure(const std::string& message) {
  std::fprintf(stderr, "vqcall: %s\n%s\n", message.c_str(), vqcall::UsageLine().c_str());
  return vqcall::kExitUsage;
}

// Dimmed nulls only on a terminal that shows attributes, and not when the
// user asked for no colour (NO_COLOR).
bool ColourWanted() {
  const char* term = std::getenv("TERM");
  const char* no_colour = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 && (no_colour == nullptr || *no_colour == '\0') &&
         (term == nullptr || std::string(term) != "dumb");
}

void Write(std::FILE* stream, const std::string& text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vqcall;
  Invocation inv;
  std::string body;
  Url url;
  try {
    inv = ParseCommandLine(argc, argv, EnvDefaults{std::getenv("VQ_URL"), std::getenv("VQ_TOKEN")});
    if (inv.help) {
      Write(stdout, HelpText());
      return kExitOk;
    }
    body = BuildRequestBody(inv);
    url = ParseUrl(inv.url);
  } catch (const UsageError& e) {
    return UsageFailure(e.what());
  }

  HttpResult reply;
  {
    ProgressLine progress(stderr, isatty(STDERR_FILENO) == 1);
    try {
      const auto timeout = std::chrono::milliseconds(static_cast<long long>(inv.timeout_seconds * 1000));
      reply = PostJson(inv.url, url, body, inv.token, timeout,
                       [&progress](int seconds) { progress.Show(seconds); });
    } catch (const TransportError& e) {
      progress.Clear();
      std::fprintf(stderr, "vqcall: %s\n", e.what());
      return kExitUnreachable;
    }
  }
  TableStyle style;
  style.null_text = inv.null_text;
  style.dim_nulls = ColourWanted();
  const Report report = ReportReply(inv.command, inv.json, reply, style);
  Write(stdout, report.out);
  Write(stderr, report.err);
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "vqcall: cannot write the answer to standard output\n");
    return kExitErrorReply;
  }
  return report.exit_code;
}

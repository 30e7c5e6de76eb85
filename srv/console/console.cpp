#include "srv/console/console.h"

#include <cstdio>
#include <cstring>

#include "platform/middleware/zrm.h"
#include "srv/dsn_policy.h"

namespace {

std::string_view File(const char* name) {
  for (size_t i = 0; i < kVQ_ConsoleFiles_count; ++i)
    if (std::strcmp(kVQ_ConsoleFiles[i].name, name) == 0) return kVQ_ConsoleFiles[i].content;
  throw ZR_EException(std::string("the console file ") + name + " is not built in");
}

void AppendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

}  // namespace

std::string VQ_ConsoleDsnsJson(const VQ_TDsnPolicy& policy) {
  std::string out = policy.NamesLimited() ? "{\"limited\":true,\"names\":[" : "{\"limited\":false,\"names\":[";
  bool first = true;
  for (const std::string& name : policy.Names()) {
    if (!first) out.push_back(',');
    first = false;
    AppendJsonString(out, name);
  }
  out += "]}";
  return out;
}

void VQ_PublishConsole(ZRM_TServer& server, const VQ_TDsnPolicy& policy) {
  server.PublishPage("/", "text/html; charset=utf-8", std::string(File("index.html")), true);
  server.PublishPage("/console.js", "text/javascript; charset=utf-8",
                     std::string(File("console.js")), true);
  server.PublishPage("/console.css", "text/css; charset=utf-8", std::string(File("console.css")),
                     true);
  server.PublishPage("/dsns.json", "application/json", VQ_ConsoleDsnsJson(policy), false);
}

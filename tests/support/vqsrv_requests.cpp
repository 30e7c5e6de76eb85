#include "tests/support/vqsrv_requests.h"

#include <cstdio>

namespace vqtest {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string QueryRequest(const std::string& dsn, const std::string& sql, int p3) {
  return "{\"M\":\"query\",\"P1\":" + JsonString(dsn) + ",\"P2\":" + JsonString(sql) +
         ",\"P3\":" + std::to_string(p3) + "}";
}

std::string QueryDbgRequest(const std::string& dsn, const std::string& sql) {
  return "{\"M\":\"querydbg\",\"P1\":" + JsonString(dsn) + ",\"P2\":" + JsonString(sql) + "}";
}

std::string OpenRequest(const std::string& dsn) {
  return "{\"M\":\"open\",\"P1\":" + JsonString(dsn) + "}";
}

}  // namespace vqtest

// JSON request bodies for vqsrv's commands.
#pragma once

#include <string>

namespace vqtest {

// JSON text of a string value, quotes included.
std::string JsonString(const std::string& text);
// {"M":"query","P1":dsn,"P2":sql,"P3":p3}
std::string QueryRequest(const std::string& dsn, const std::string& sql, int p3);
std::string QueryDbgRequest(const std::string& dsn, const std::string& sql);
std::string OpenRequest(const std::string& dsn);

}  // namespace vqtest

// One HTTP POST of a JSON body to the service, with an overall time limit
// and a callback for every second spent waiting.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace vqcall {

struct Url {
  std::string host;    // without brackets for IPv6 literals
  std::string port;    // "80" when the URL names none
  std::string target;  // path and query
};

// Where the service answers when the URL gives only its address.
inline constexpr const char* kServicePath = "/ZIDozeve";

// Accepts http://host[:port][/path]; with no path (or just "/") the target
// is kServicePath. Throws UsageError otherwise.
Url ParseUrl(const std::string& text);

struct HttpResult {
  unsigned status = 0;
  std::string reason;
  std::string body;
};

// No answer: resolve, connect, send or receive failed, or the time ran out.
// The message names the URL.
class TransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Posts body (Content-Type application/json) to url. token, when not empty,
// goes out as "Authorization: Bearer <token>". timeout covers the whole
// exchange; zero means no limit. waited(n) is called once each time n whole
// seconds have passed without an answer.
HttpResult PostJson(const std::string& url_text, const Url& url, const std::string& body,
                    const std::string& token, std::chrono::milliseconds timeout,
                    const std::function<void(int seconds)>& waited);

}  // namespace vqcall

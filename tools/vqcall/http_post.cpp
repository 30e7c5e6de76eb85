#include "tools/vqcall/http_post.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>

#include "tools/vqcall/command_line.h"

namespace vqcall {
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

Url ParseUrl(const std::string& text) {
  const std::string scheme = "http://";
  if (text.rfind(scheme, 0) != 0) {
    throw UsageError("the URL must begin with http:// (got '" + text + "')");
  }
  const std::string rest = text.substr(scheme.size());
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  Url url;
  // A bare address ("http://host:7400" or ".../") means the service's own
  // path; any other path is taken as it stands.
  url.target = slash == std::string::npos ? "/" : rest.substr(slash);
  if (url.target == "/") url.target = kServicePath;
  std::string port_text;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) throw UsageError("the URL has an unclosed '[' (got '" + text + "')");
    url.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') throw UsageError("the URL has text after ']' (got '" + text + "')");
      port_text = after.substr(1);
    }
  } else {
    const size_t colon = authority.rfind(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) port_text = authority.substr(colon + 1);
  }
  if (url.host.empty()) throw UsageError("the URL names no host (got '" + text + "')");
  if (url.host.find('@') != std::string::npos) {
    throw UsageError("the URL must not carry a user name; use --token (got '" + text + "')");
  }
  if (port_text.empty()) port_text = "80";
  unsigned long port = 0;
  try {
    size_t used = 0;
    port = std::stoul(port_text, &used);
    if (used != port_text.size()) port = 0;
  } catch (const std::exception&) {
    port = 0;
  }
  if (port == 0 || port > 65535) throw UsageError("the URL has a bad port (got '" + text + "')");
  url.port = std::to_string(port);
  for (const char c : url.target) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
      throw UsageError("the URL path must not contain blanks or control characters");
    }
  }
  return url;
}

HttpResult PostJson(const std::string& url_text, const Url& url, const std::string& body,
                    const std::string& token, std::chrono::milliseconds timeout,
                    const std::function<void(int seconds)>& waited) {
  boost::asio::io_context io;
  tcp::resolver resolver(io);
  beast::tcp_stream stream(io);
  beast::flat_buffer buffer;
  http::request<http::string_body> req{http::verb::post, url.target, 11};
  req.set(http::field::host, url.host.find(':') == std::string::npos
                                 ? url.host + ":" + url.port
                                 : "[" + url.host + "]:" + url.port);
  req.set(http::field::user_agent, "vqcall");
  req.set(http::field::content_type, "application/json");
  req.set(http::field::accept, "application/json");
  if (!token.empty()) req.set(http::field::authorization, "Bearer " + token);
  req.keep_alive(false);
  req.body() = body;
  req.prepare_payload();
  http::response_parser<http::string_body> parser;
  parser.body_limit(std::uint64_t{1} << 30);

  // Each step records where it failed; the last one records success.
  std::optional<std::string> failure;
  bool done = false;
  auto fail = [&](const char* what, const beast::error_code& ec) {
    failure = std::string(what) + " " + url_text + ": " + ec.message();
    done = true;
  };

  resolver.async_resolve(url.host, url.port, [&](beast::error_code ec, tcp::resolver::results_type results) {
    if (ec) return fail("cannot resolve the host of", ec);
    stream.async_connect(results, [&](beast::error_code ec, const tcp::endpoint&) {
      if (ec) return fail("cannot reach the server at", ec);
      http::async_write(stream, req, [&](beast::error_code ec, size_t) {
        if (ec) return fail("cannot send the request to", ec);
        http::async_read(stream, buffer, parser, [&](beast::error_code ec, size_t) {
          if (ec) return fail("no complete answer from", ec);
          done = true;
        });
      });
    });
  });

  const auto start = std::chrono::steady_clock::now();
  int reported = 0;
  while (!done) {
    io.run_for(std::chrono::milliseconds(100));
    if (done) break;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (timeout.count() > 0 && elapsed >= timeout) {
      resolver.cancel();
      beast::error_code ignored;
      stream.socket().close(ignored);
      const double seconds = static_cast<double>(timeout.count()) / 1000.0;
      char text[32];
      std::snprintf(text, sizeof text, "%g", seconds);
      throw TransportError("no answer from " + url_text + " within " + text + " s");
    }
    const int whole = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    if (whole > reported) {
      reported = whole;
      if (waited) waited(whole);
    }
    if (io.stopped()) io.restart();
  }
  if (failure) throw TransportError(*failure);

  HttpResult result;
  const auto& res = parser.get();
  result.status = res.result_int();
  result.reason = std::string(res.reason());
  result.body = res.body();
  beast::error_code ignored;
  stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  return result;
}

}  // namespace vqcall

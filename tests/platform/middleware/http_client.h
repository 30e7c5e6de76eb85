// A small blocking HTTP/1.1 client for the tests: one keep-alive connection.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <string>
#include <sys/socket.h>
#include <cerrno>
#include <map>
#include <utility>
#include <vector>

namespace zrm_test {

struct HttpAnswer {
  unsigned status = 0;
  std::string body;
  std::string content_type;
  bool keep_alive = false;
  std::string www_authenticate;
  std::map<std::string, std::string> fields;  // every header field, by name as sent
};

class HttpClient {
 public:
  // address: "127.0.0.1:7400"
  explicit HttpClient(const std::string& address) : socket_(io_) {
    const auto colon = address.rfind(':');
    host_ = address.substr(0, colon);
    boost::asio::ip::tcp::endpoint ep(boost::asio::ip::make_address(host_),
                                      static_cast<unsigned short>(std::stoi(address.substr(colon + 1))));
    socket_.connect(ep);
  }

  HttpAnswer Send(boost::beast::http::verb method, const std::string& target,
                  const std::string& body,
                  const std::vector<std::pair<std::string, std::string>>& headers = {}) {
    namespace http = boost::beast::http;
    http::request<http::string_body> req(method, target, 11);
    req.set(http::field::host, host_);
    req.set(http::field::content_type, "application/json");
    for (const auto& [k, v] : headers) req.set(k, v);
    req.body() = body;
    req.prepare_payload();
    http::write(socket_, req);
    return Read();
  }

  HttpAnswer Post(const std::string& target, const std::string& body) {
    return Send(boost::beast::http::verb::post, target, body);
  }

  // Writes raw bytes (pipelining, malformed requests).
  void WriteRaw(const std::string& bytes) { boost::asio::write(socket_, boost::asio::buffer(bytes)); }

  // Waits up to ms for the server to end the connection without another
  // byte; true when it did.
  bool PeerClosed(int ms) {
    const int fd = socket_.native_handle();
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char c;
    const ssize_t n = ::recv(fd, &c, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }

  // Later reads fail after ms without data instead of waiting for ever.
  void SetReadTimeout(int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }

  HttpAnswer Read() {
    namespace http = boost::beast::http;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    http::read(socket_, buffer_, parser);
    auto& res = parser.get();
    HttpAnswer a;
    a.status = res.result_int();
    a.body = res.body();
    a.content_type = std::string(res[http::field::content_type]);
    a.keep_alive = res.keep_alive();
    a.www_authenticate = std::string(res[http::field::www_authenticate]);
    for (const auto& f : res) a.fields[std::string(f.name_string())] = std::string(f.value());
    return a;
  }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
  std::string host_;
};

// One request on a fresh connection.
inline HttpAnswer PostOnce(const std::string& address, const std::string& target,
                           const std::string& body) {
  HttpClient c(address);
  return c.Post(target, body);
}

}  // namespace zrm_test

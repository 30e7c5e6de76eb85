#include "tests/support/http_client.h"

#include <sys/socket.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>

namespace vqtest {

namespace http = boost::beast::http;

HttpClient::HttpClient(const std::string& address) : socket_(io_) {
  const auto colon = address.rfind(':');
  host_ = address.substr(0, colon);
  boost::asio::ip::tcp::endpoint ep(boost::asio::ip::make_address(host_),
                                    static_cast<unsigned short>(std::stoi(address.substr(colon + 1))));
  socket_.connect(ep);
}

HttpAnswer HttpClient::Send(http::verb method, const std::string& target, const std::string& body,
                            const HttpHeaders& headers) {
  http::request<http::string_body> req(method, target, 11);
  req.set(http::field::host, host_);
  req.set(http::field::content_type, "application/json");
  for (const auto& [k, v] : headers) req.set(k, v);
  req.body() = body;
  req.prepare_payload();
  http::write(socket_, req);
  return Read();
}

void HttpClient::WriteRaw(const std::string& bytes) {
  boost::asio::write(socket_, boost::asio::buffer(bytes));
}

HttpAnswer HttpClient::Read() {
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

bool HttpClient::PeerClosed(int ms) {
  SetReadTimeout(ms);
  char c;
  const ssize_t n = ::recv(socket_.native_handle(), &c, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

void HttpClient::SetReadTimeout(int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void HttpClient::Reset() {
  linger lg{1, 0};
  setsockopt(socket_.native_handle(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  Close();
}

void HttpClient::Close() {
  boost::system::error_code ec;
  socket_.close(ec);
}

void HttpClient::HalfClose() {
  boost::system::error_code ec;
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
}

HttpAnswer Request(const std::string& address, http::verb method, const std::string& target,
                   const std::string& body, const HttpHeaders& headers, int timeout_ms) {
  HttpClient c(address);
  if (timeout_ms > 0) c.SetReadTimeout(timeout_ms);
  HttpAnswer a = c.Send(method, target, body, headers);
  c.Close();
  return a;
}

}  // namespace vqtest

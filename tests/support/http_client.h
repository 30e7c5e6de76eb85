// A small blocking HTTP/1.1 client for the tests: one keep-alive connection,
// plus raw writes and reads for tests that break the protocol on purpose.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/verb.hpp>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vqtest {

struct HttpAnswer {
  unsigned status = 0;
  std::string body;
  std::string content_type;
  bool keep_alive = false;
  std::string www_authenticate;
  std::map<std::string, std::string> fields;  // every header field, by name as sent
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

class HttpClient {
 public:
  // address: "127.0.0.1:7400". Connects at once (throws when refused).
  explicit HttpClient(const std::string& address);

  // One request with a JSON content type (headers may replace it) and its answer.
  HttpAnswer Send(boost::beast::http::verb method, const std::string& target,
                  const std::string& body, const HttpHeaders& headers = {});
  HttpAnswer Post(const std::string& target, const std::string& body) {
    return Send(boost::beast::http::verb::post, target, body);
  }
  HttpAnswer Get(const std::string& target) { return Send(boost::beast::http::verb::get, target, ""); }

  // Writes raw bytes (pipelining, malformed or unfinished requests).
  void WriteRaw(const std::string& bytes);
  // Reads one answer.
  HttpAnswer Read();

  // Waits up to ms for the server to end the connection without another
  // byte; true when it did.
  bool PeerClosed(int ms);
  // Later reads fail after ms without data instead of waiting for ever.
  void SetReadTimeout(int ms);
  // Closes at once with a reset (SO_LINGER 0), as a client that crashed.
  void Reset();
  // Closes the connection normally.
  void Close();
  // Ends the sending side only (the client will send no more, still reads).
  void HalfClose();
  int NativeHandle() { return socket_.native_handle(); }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
  std::string host_;
};

// One request on a fresh connection. With timeout_ms > 0 reads give up
// after it; a read with a time-out also ends (EINTR) when a signal handler
// runs, so callers that set one must expect that and try again.
HttpAnswer Request(const std::string& address, boost::beast::http::verb method,
                   const std::string& target, const std::string& body = "",
                   const HttpHeaders& headers = {}, int timeout_ms = 0);
inline HttpAnswer PostOnce(const std::string& address, const std::string& target,
                           const std::string& body) {
  return Request(address, boost::beast::http::verb::post, target, body);
}

}  // namespace vqtest

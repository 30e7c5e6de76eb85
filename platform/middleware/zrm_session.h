// One client connection: reads requests one after the other (so pipelined
// requests are answered in order), hands service requests to the pool and
// writes the answers. All of it runs on the I/O thread.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>
#include <string>

#include "platform/middleware/zrm.h"

class ZRM_Host;

class ZRM_Session : public std::enable_shared_from_this<ZRM_Session> {
 public:
  ZRM_Session(ZRM_Host& host, boost::asio::ip::tcp::socket socket, uint64_t id);
  const ZRM_TSocket& Socket() const { return info_; }
  void Start();
  // Shutting down: an idle connection closes now, a busy one after its answer.
  void Drain();
  void Close();

 private:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;

  void ReadHeader();
  void OnHeader(boost::beast::error_code ec);
  void ReadBody();
  void OnBody(boost::beast::error_code ec);
  void OnReadError(boost::beast::error_code ec);
  void OnRequest();
  void Respond(unsigned status, std::string body, bool close = false);
  void RespondError(unsigned status, const char* type, const std::string& message,
                    bool close = false);
  void OnWrite(boost::beast::error_code ec);
  bool Authorised(const Request& req) const;

  ZRM_Host& host_;
  boost::asio::ip::tcp::socket socket_;
  ZRM_TSocket info_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> res_;
  const char* allow_ = nullptr;  // Allow header of a 405
  bool keep_alive_ = true;
  bool busy_ = false;    // between a request's header and the end of its answer
  bool closed_ = false;
};

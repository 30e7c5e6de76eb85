// One client connection: reads requests one after the other (so pipelined
// requests are answered in order), runs service requests right on the I/O
// thread and writes the answers. Every handler of a session runs on the
// session's strand; the host reaches it only by posting there.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/middleware/zrm.h"

class ZRM_Host;
class ZRM_RequestCancel;
struct ZRM_Page;

class ZRM_Session : public std::enable_shared_from_this<ZRM_Session> {
 public:
  // What the connection is doing, for the host's deadline sweep.
  enum Phase : int { kIdle, kReading, kRunning, kWriting, kLinger, kClosed };

  ZRM_Session(ZRM_Host& host, boost::asio::ip::tcp::socket socket, uint64_t id);
  const ZRM_TSocket& Socket() const { return info_; }
  boost::asio::ip::tcp::socket::executor_type Executor() { return socket_.get_executor(); }
  void Start();
  // The drain has begun: a keep-alive connection between requests closes
  // now, a running request is answered and its connection closed, and a
  // request not yet started (still arriving, or on a connection taken from
  // the listen queue) is answered 503 with "Connection: close".
  void Drain();
  void Close();
  // True when the deadline of the current phase has passed (any thread).
  bool Overdue(int64_t now_ns) const;
  // On the strand: closes an idle connection, answers 408 to a request
  // that did not arrive in time, drops a client that does not read.
  void Expire();

 private:
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  void NewRequest();
  void ReadMore();
  void OnRead(boost::beast::error_code ec, size_t n);
  void Parse();
  void OnParseError(boost::beast::error_code ec);
  void OnRequest();
  void RunService(ZRM_Host& host, std::string_view target);
  void ServePage(const ZRM_Page& page, std::string_view target);
  size_t ReplySize() const;  // reply_ and reply_more_ together
  void Respond(unsigned status, bool close = false, const char* content_type = nullptr);
  void RespondError(unsigned status, const char* type, const std::string& message,
                    bool close = false);
  void OnWrite(boost::beast::error_code ec, size_t n);
  void Linger();
  bool Authorised() const;
  void SetPhase(Phase phase, uint32_t limit_ms);
  uint32_t DrainWaitMs() const;

  ZRM_Host& host_;
  boost::asio::ip::tcp::socket socket_;
  ZRM_TSocket info_;
  boost::beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  // Kept between requests so a keep-alive connection reuses its memory.
  std::string body_spare_;
  std::string reply_;   // body of the answer
  // Large pre-encoded parts of a reply, sent after reply_ as they are
  // (moved out of the reply instead of copied into reply_).
  std::vector<std::string> reply_more_;
  std::string head_;    // status line and header of the answer
  std::string command_;  // metrics label of the running request
  std::shared_ptr<ZRM_RequestCancel> cancel_;  // of the running request
  const char* allow_ = nullptr;  // Allow header of a 405
  const char* extra_headers_ = nullptr;  // further header lines of one answer, joined by CRLF
  bool keep_alive_ = true;
  bool close_after_ = false;
  bool continue_sent_ = false;
  bool draining_ = false;
  bool answered_ = false;  // an answer was written on this connection
  bool closed_ = false;
  bool read_pending_ = false;
  std::atomic<int> phase_{kIdle};
  std::atomic<int64_t> deadline_ns_{0};
};

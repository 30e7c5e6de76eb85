#include "platform/middleware/zrm_session.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <algorithm>
#include <array>
#include <chrono>

#include "platform/middleware/zrm_cancel.h"
#include "platform/middleware/zrm_dispatch.h"
#include "platform/middleware/zrm_host.h"
#include "platform/middleware/zrm_metrics.h"
#include "platform/middleware/zrm_pages.h"
#include "platform/middleware/zrm_trace.h"

namespace http = boost::beast::http;
using boost::beast::error_code;

namespace {

constexpr size_t kReadChunk = 16384;
// Buffers larger than this are given back after the request that needed
// them, so an idle keep-alive connection does not hold a big reply.
constexpr size_t kKeepCapacity = 1 << 20;

std::string PeerText(const boost::asio::ip::tcp::socket& s) {
  error_code ec;
  const auto ep = s.remote_endpoint(ec);
  if (ec) return "?";
  const auto addr = ep.address();
  return (addr.is_v6() ? "[" + addr.to_string() + "]" : addr.to_string()) + ":" +
         std::to_string(ep.port());
}

// Compares without an early exit, so the time taken does not tell how much
// of a guessed token was right.
bool SameSecret(std::string_view a, std::string_view b) {
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned>(x ^ y);
  }
  return diff == 0;
}

void AppendNumber(std::string& out, uint64_t n) {
  char buf[24];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  out.append(p, static_cast<size_t>(buf + sizeof buf - p));
}

constexpr unsigned kClientClosedRequest = 499;

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kJson[] = "application/json";
const char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace

ZRM_Session::ZRM_Session(ZRM_Host& host, boost::asio::ip::tcp::socket socket, uint64_t id)
    : host_(host), socket_(std::move(socket)), info_(id, PeerText(socket_)) {}

void ZRM_Session::Start() {
  error_code ec;
  socket_.set_option(boost::asio::ip::tcp::no_delay(true), ec);
  NewRequest();
}

void ZRM_Session::SetPhase(Phase phase, uint32_t limit_ms) {
  deadline_ns_.store(limit_ms == 0 ? 0 : ZRM_NowNs() + int64_t{limit_ms} * 1000000,
                     std::memory_order_relaxed);
  phase_.store(phase, std::memory_order_release);
}

bool ZRM_Session::Overdue(int64_t now_ns) const {
  const int phase = phase_.load(std::memory_order_acquire);
  if (phase == kRunning || phase == kClosed) return false;
  const int64_t deadline = deadline_ns_.load(std::memory_order_relaxed);
  return deadline != 0 && now_ns > deadline;
}

void ZRM_Session::Drain() {
  if (draining_ || closed_) return;
  draining_ = true;
  // Between two requests of a keep-alive connection: closed gently (the
  // client sees the end of the stream). A connection that has not had its
  // first request yet waits for it: the client has sent it or is about to.
  if (phase_.load(std::memory_order_relaxed) != kIdle) return;
  if (answered_ && buffer_.size() == 0) return Linger();
  SetPhase(kIdle, DrainWaitMs());
}

// How long a connection without a request waits for one once the drain has
// begun: clients send their request right after connecting, so a short wait
// answers them without one silent client holding up the whole stop.
uint32_t ZRM_Session::DrainWaitMs() const {
  return std::min<uint32_t>(host_.Config().read_timeout_ms, 1000);
}

void ZRM_Session::Close() {
  if (closed_) return;
  closed_ = true;
  phase_.store(kClosed, std::memory_order_release);
  error_code ec;
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  host_.SessionClosed(this, info_);
}

void ZRM_Session::Expire() {
  if (closed_ || !Overdue(ZRM_NowNs())) return;
  switch (phase_.load(std::memory_order_relaxed)) {
    case kReading:
      return RespondError(408, "RequestTimeout",
                          "request not received within " +
                              std::to_string(host_.Config().read_timeout_ms) + " ms",
                          true);
    default:  // idle keep-alive, or a client that does not read its answer
      return Close();
  }
}

void ZRM_Session::NewRequest() {
  if (parser_) {
    body_spare_ = std::move(parser_->get().body());
    body_spare_.clear();
    if (body_spare_.capacity() > kKeepCapacity) std::string().swap(body_spare_);
  }
  parser_.emplace(std::piecewise_construct, std::make_tuple(std::move(body_spare_)));
  parser_->eager(true);
  parser_->header_limit(host_.Config().max_header);
  parser_->body_limit(host_.Config().max_body);
  continue_sent_ = false;
  close_after_ = false;
  if (draining_ && answered_) return Linger();
  if (buffer_.size() > 0) {  // a pipelined request is here already
    SetPhase(kReading, host_.Config().read_timeout_ms);
    return Parse();
  }
  // A connection taken while draining gets only a short time to send its
  // request, not the idle time of a keep-alive connection.
  SetPhase(kIdle, draining_ ? DrainWaitMs() : host_.Config().idle_timeout_ms);
  ReadMore();
}

void ZRM_Session::ReadMore() {
  read_pending_ = true;
  socket_.async_read_some(buffer_.prepare(kReadChunk),
                          [self = shared_from_this()](error_code ec, size_t n) {
                            self->OnRead(ec, n);
                          });
}

void ZRM_Session::OnRead(error_code ec, size_t n) {
  read_pending_ = false;
  if (closed_) return;
  const int phase = phase_.load(std::memory_order_relaxed);
  if (phase == kLinger) return ec ? Close() : Linger();
  if (phase != kIdle && phase != kReading) return;  // answered by the time-out already
  if (ec) return Close();  // end of stream or a broken connection: no one to answer
  buffer_.commit(n);
  ZRM_MetricsReceived(n);
  if (phase == kIdle) SetPhase(kReading, host_.Config().read_timeout_ms);
  Parse();
}

void ZRM_Session::Parse() {
  error_code ec;
  while (!parser_->is_done() && buffer_.size() > 0) {
    const size_t used = parser_->put(buffer_.data(), ec);
    buffer_.consume(used);
    if (ec == http::error::need_more) break;
    if (ec) return OnParseError(ec);
    if (used == 0) break;
  }
  if (parser_->is_done()) return OnRequest();
  if (parser_->is_header_done() && !continue_sent_ &&
      boost::beast::iequals(parser_->get()[http::field::expect], "100-continue")) {
    continue_sent_ = true;
    boost::asio::async_write(socket_, boost::asio::buffer(kContinue, sizeof kContinue - 1),
                             [self = shared_from_this()](error_code ec, size_t) {
                               if (self->closed_) return;
                               if (ec) return self->Close();
                               self->ReadMore();
                             });
    return;
  }
  ReadMore();
}

void ZRM_Session::OnParseError(error_code ec) {
  keep_alive_ = false;
  if (ec == http::error::body_limit)
    return RespondError(413, "PayloadTooLarge",
                        "request body is larger than " +
                            std::to_string(host_.Config().max_body) + " bytes",
                        true);
  if (ec == http::error::header_limit)
    return RespondError(431, "RequestHeaderFieldsTooLarge",
                        "request header is larger than " +
                            std::to_string(host_.Config().max_header) + " bytes",
                        true);
  RespondError(400, "BadRequest", "malformed HTTP request: " + ec.message(), true);
}

bool ZRM_Session::Authorised() const {
  const std::string& token = host_.Config().token;
  if (token.empty()) return true;
  const auto auth = parser_->get()[http::field::authorization];
  const boost::beast::string_view kBearer = "Bearer ";
  if (auth.size() < kBearer.size() ||
      !boost::beast::iequals(auth.substr(0, kBearer.size()), kBearer))
    return false;
  const auto given = auth.substr(kBearer.size());
  return SameSecret(std::string_view(given.data(), given.size()), token);
}

void ZRM_Session::OnRequest() {
  auto& req = parser_->get();
  keep_alive_ = req.keep_alive();
  std::string_view target(req.target().data(), req.target().size());
  if (const auto q = target.find('?'); q != std::string_view::npos) target = target.substr(0, q);

  const bool operational = target == "/healthz" || target == "/readyz" || target == "/metrics";
  const std::shared_ptr<const ZRM_Page> page = operational ? nullptr : host_.FindPage(target);
  const bool open = operational ? host_.Config().metrics_public : page && page->open;
  if (!open && !Authorised())
    return RespondError(401, "Unauthorized", "missing or wrong bearer token");
  if (page) return ServePage(*page, target);
  if (operational) {
    if (req.method() != http::verb::get) {
      allow_ = "GET";
      return RespondError(405, "MethodNotAllowed", "use GET on " + std::string(target));
    }
    if (target == "/metrics") {
      reply_ = ZRM_MetricsText();
      return Respond(200, false, kMetricsType);
    }
    if (target == "/readyz" && host_.Draining()) {
      reply_.assign("{\"status\":\"draining\"}");
      return Respond(503);
    }
    reply_.assign(target == "/readyz" ? "{\"status\":\"ready\"}" : "{\"status\":\"ok\"}");
    return Respond(200);
  }
  RunService(host_, target);
}

void ZRM_Session::RunService(ZRM_Host& host, std::string_view target) {
  auto& req = parser_->get();
  if (draining_)  // not started before the drain: safe to send again elsewhere
    return RespondError(503, "ServiceUnavailable",
                        "the server is shutting down; the request did not run", true);
  ZRM_Host::Route* route =
      target.size() > 1 && target[0] == '/' ? host.Acquire(target.substr(1)) : nullptr;
  if (route == nullptr)
    return RespondError(404, "NotFound", "no service at " + std::string(target));
  if (req.method() != http::verb::post) {
    host.Release(route);
    allow_ = "POST";
    return RespondError(405, "MethodNotAllowed", "use POST on " + std::string(target));
  }
  SetPhase(kRunning, 0);
  const int64_t start = ZRM_NowNs();
  const uint64_t number = host.BeginRequest(start);
  ZRM_MetricsInFlight(1);
  unsigned status;
  if (!cancel_) cancel_ = std::make_shared<ZRM_RequestCancel>();
  cancel_->Reset();
  {
    ZRM_RequestNumberScope scope(number);
    ZRM_RunningRequest running{&host.Hangups(), socket_.native_handle(), cancel_};
    ZRM_RunningRequestScope in_request(&running);
    status = ZRM_RunRequest(*route->server, req.body(), reply_, command_, &reply_more_);
  }
  ZRM_MetricsInFlight(-1);
  host.Release(route);
  host.EndRequest();
  if (cancel_->Reason() == ZRM_CancelReason::kClientGone) {
    // Nobody to answer. Counted as the status servers log for a client that
    // closed its connection before the answer.
    std::string().swap(reply_);
    std::vector<std::string>().swap(reply_more_);
    ZRM_MetricsRequest(command_, kClientClosedRequest, static_cast<double>(ZRM_NowNs() - start) / 1e9);
    return Close();
  }
  const uint64_t limit = host.Config().max_reply;
  if (const size_t size = ReplySize(); size > limit) {
    std::string().swap(reply_);  // give the memory back now, not at the next request
    std::vector<std::string>().swap(reply_more_);
    ZRM_ErrorBody("ReplyTooLarge",
                  "the reply of " + std::to_string(size) + " bytes is larger than the limit of " +
                      std::to_string(limit) + " bytes (ZRM_MAX_REPLY)",
                  reply_);
    status = 500;
  }
  ZRM_MetricsRequest(command_, status, static_cast<double>(ZRM_NowNs() - start) / 1e9);
  Respond(status);
}

void ZRM_Session::ServePage(const ZRM_Page& page, std::string_view target) {
  if (parser_->get().method() != http::verb::get) {
    allow_ = "GET";
    return RespondError(405, "MethodNotAllowed", "use GET on " + std::string(target));
  }
  reply_.assign(page.body);
  extra_headers_ = kZRM_PageHeaders;
  Respond(200, false, page.content_type.c_str());
}

size_t ZRM_Session::ReplySize() const {
  size_t size = reply_.size();
  for (const std::string& more : reply_more_) size += more.size();
  return size;
}

void ZRM_Session::RespondError(unsigned status, const char* type, const std::string& message,
                               bool close) {
  reply_.clear();
  reply_more_.clear();
  ZRM_ErrorBody(type, message, reply_);
  Respond(status, close);
}

void ZRM_Session::Respond(unsigned status, bool close, const char* content_type) {
  answered_ = true;
  close_after_ = close || !keep_alive_ || draining_ || host_.Draining();
  const auto reason = http::obsolete_reason(static_cast<http::status>(status));
  head_.assign("HTTP/1.1 ");
  AppendNumber(head_, status);
  head_.push_back(' ');
  head_.append(reason.data(), reason.size());
  head_.append("\r\nContent-Type: ");
  head_.append(content_type ? content_type : kJson);
  head_.append("\r\nContent-Length: ");
  AppendNumber(head_, ReplySize());
  if (allow_ != nullptr) {
    head_.append("\r\nAllow: ").append(allow_);
    allow_ = nullptr;
  }
  if (status == 401) head_.append("\r\nWWW-Authenticate: Bearer");
  if (extra_headers_ != nullptr) {
    head_.append("\r\n").append(extra_headers_);
    extra_headers_ = nullptr;
  }
  if (close_after_)
    head_.append("\r\nConnection: close");
  else if (parser_->get().version() == 10)
    head_.append("\r\nConnection: keep-alive");
  head_.append("\r\n\r\n");
  ZRM_MetricsResponse(status);
  SetPhase(kWriting, host_.Config().read_timeout_ms);
  auto done = [self = shared_from_this()](error_code ec, size_t n) { self->OnWrite(ec, n); };
  if (reply_more_.empty()) {
    const std::array<boost::asio::const_buffer, 2> parts{boost::asio::buffer(head_),
                                                         boost::asio::buffer(reply_)};
    boost::asio::async_write(socket_, parts, std::move(done));
    return;
  }
  std::vector<boost::asio::const_buffer> parts{boost::asio::buffer(head_), boost::asio::buffer(reply_)};
  for (const std::string& more : reply_more_) parts.push_back(boost::asio::buffer(more));
  boost::asio::async_write(socket_, parts, std::move(done));
}

void ZRM_Session::OnWrite(error_code ec, size_t n) {
  ZRM_MetricsSent(n);
  if (reply_.capacity() > kKeepCapacity) std::string().swap(reply_);
  std::vector<std::string>().swap(reply_more_);
  if (closed_) return;
  if (ec) return Close();
  if (close_after_) return Linger();
  NewRequest();
}

// Closing right after an answer while the client is still sending would
// reset the connection and could destroy the answer before the client reads
// it. So: stop sending, read and drop what still comes for a short while
// (the sweep ends it), then close.
void ZRM_Session::Linger() {
  if (phase_.load(std::memory_order_relaxed) != kLinger) {
    error_code ec;
    socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ec);
    SetPhase(kLinger, 500);
  }
  buffer_.clear();
  if (!read_pending_) ReadMore();  // OnRead comes back here until the client is done
}

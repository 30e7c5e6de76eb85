#include "platform/middleware/zrm_session.h"

#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/core/string.hpp>

#include "platform/middleware/zrm_dispatch.h"
#include "platform/middleware/zrm_host.h"

namespace http = boost::beast::http;
using boost::beast::error_code;

namespace {

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

bool IsHttpError(const error_code& ec) {
  return &ec.category() == &http::make_error_code(http::error::bad_method).category();
}

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

ZRM_Session::ZRM_Session(ZRM_Host& host, boost::asio::ip::tcp::socket socket, uint64_t id)
    : host_(host), socket_(std::move(socket)), info_(id, PeerText(socket_)) {}

void ZRM_Session::Start() {
  error_code ec;
  socket_.set_option(boost::asio::ip::tcp::no_delay(true), ec);
  ReadHeader();
}

void ZRM_Session::Drain() {
  if (!busy_) Close();
}

void ZRM_Session::Close() {
  if (closed_) return;
  closed_ = true;
  error_code ec;
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  host_.SessionClosed(this, info_);
}

void ZRM_Session::ReadHeader() {
  parser_.emplace();
  parser_->body_limit(host_.Config().max_body);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](error_code ec, size_t) {
                            self->OnHeader(ec);
                          });
}

void ZRM_Session::OnHeader(error_code ec) {
  if (closed_) return;
  if (ec) return OnReadError(ec);
  busy_ = true;
  if (parser_->is_done()) return OnRequest();
  const auto& req = parser_->get();
  if (boost::beast::iequals(req[http::field::expect], "100-continue")) {
    boost::asio::async_write(socket_, boost::asio::buffer(kContinue, sizeof kContinue - 1),
                             [self = shared_from_this()](error_code ec, size_t) {
                               if (self->closed_) return;
                               if (ec) return self->Close();
                               self->ReadBody();
                             });
    return;
  }
  ReadBody();
}

void ZRM_Session::ReadBody() {
  http::async_read(socket_, buffer_, *parser_,
                   [self = shared_from_this()](error_code ec, size_t) { self->OnBody(ec); });
}

void ZRM_Session::OnBody(error_code ec) {
  if (closed_) return;
  if (ec) return OnReadError(ec);
  OnRequest();
}

void ZRM_Session::OnReadError(error_code ec) {
  keep_alive_ = false;
  if (ec == http::error::body_limit) {
    busy_ = true;
    return RespondError(413, "PayloadTooLarge",
                        "request body is larger than " +
                            std::to_string(host_.Config().max_body) + " bytes",
                        true);
  }
  if (ec == http::error::header_limit) {
    busy_ = true;
    return RespondError(431, "BadRequest", "request header is too large", true);
  }
  // A malformed message gets an answer; a closed or broken connection none.
  if (IsHttpError(ec) && ec != http::error::end_of_stream && ec != http::error::partial_message) {
    busy_ = true;
    return RespondError(400, "BadRequest", "malformed HTTP request: " + ec.message(), true);
  }
  Close();
}

bool ZRM_Session::Authorised(const Request& req) const {
  const std::string& token = host_.Config().token;
  if (token.empty()) return true;
  const auto auth = req[http::field::authorization];
  const boost::beast::string_view kBearer = "Bearer ";
  if (auth.size() < kBearer.size() ||
      !boost::beast::iequals(auth.substr(0, kBearer.size()), kBearer))
    return false;
  const auto given = auth.substr(kBearer.size());
  return SameSecret(std::string_view(given.data(), given.size()), token);
}

void ZRM_Session::OnRequest() {
  Request& req = parser_->get();
  keep_alive_ = req.keep_alive();
  if (!Authorised(req)) return RespondError(401, "Unauthorized", "missing or wrong bearer token");

  std::string_view target(req.target().data(), req.target().size());
  if (const auto q = target.find('?'); q != std::string_view::npos) target = target.substr(0, q);

  if (target == "/healthz") {
    if (req.method() != http::verb::get) {
      allow_ = "GET";
      return RespondError(405, "MethodNotAllowed", "use GET on /healthz");
    }
    return Respond(200, "{\"status\":\"ok\"}");
  }
  ZRM_TServer* server =
      target.size() > 1 && target[0] == '/' ? host_.Acquire(target.substr(1)) : nullptr;
  if (server == nullptr)
    return RespondError(404, "NotFound", "no service at " + std::string(target));
  if (req.method() != http::verb::post) {
    host_.Release(server);
    allow_ = "POST";
    return RespondError(405, "MethodNotAllowed", "use POST on " + std::string(target));
  }
  host_.NoteRequest();
  host_.Dispatch(server, std::move(req.body()),
                 [self = shared_from_this()](unsigned status, std::string body) {
                   if (!self->closed_) self->Respond(status, std::move(body));
                 });
}

void ZRM_Session::RespondError(unsigned status, const char* type, const std::string& message,
                               bool close) {
  std::string body;
  ZRM_ErrorBody(type, message, body);
  Respond(status, std::move(body), close);
}

void ZRM_Session::Respond(unsigned status, std::string body, bool close) {
  res_.result(static_cast<http::status>(status));
  res_.version(11);
  res_.set(http::field::content_type, "application/json");
  if (allow_ != nullptr) {
    res_.set(http::field::allow, allow_);
    allow_ = nullptr;
  } else {
    res_.erase(http::field::allow);
  }
  if (status == 401)
    res_.set(http::field::www_authenticate, "Bearer");
  else
    res_.erase(http::field::www_authenticate);
  res_.body() = std::move(body);
  res_.keep_alive(keep_alive_ && !close && !host_.Draining());
  res_.prepare_payload();
  http::async_write(socket_, res_,
                    [self = shared_from_this()](error_code ec, size_t) { self->OnWrite(ec); });
}

void ZRM_Session::OnWrite(error_code ec) {
  busy_ = false;
  if (closed_) return;
  if (ec || !res_.keep_alive() || host_.Draining()) return Close();
  ReadHeader();
}

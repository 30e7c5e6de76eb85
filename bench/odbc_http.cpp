#include "bench/odbc_http.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>
#include <vector>

#include "bench/odbc_work.h"

namespace bench {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// The connection kept by the worker thread running the current handler; set
// for the whole life of each worker, so a request never waits for another
// thread's connection (what a pool of one connection per worker gives).
thread_local Connection* t_kept = nullptr;

Response Reply(const Request& req, http::status status, bool ok, const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  w.StartObject();
  w.Key("Status");
  w.Bool(ok);
  w.Key(ok ? "Results" : "Error");
  w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  w.EndObject();
  Response res{status, req.version()};
  res.set(http::field::content_type, "application/json");
  res.keep_alive(req.keep_alive());
  res.body().assign(buffer.GetString(), buffer.GetSize());
  res.prepare_payload();
  return res;
}

}  // namespace

struct HttpReference::State {
  State(SQLHENV e, ServeOptions o)
      : env(e), options(std::move(o)), acceptor(io, {asio::ip::make_address("127.0.0.1"), options.port}) {}

  Response Answer(const Request& req) const;
  void Accept();

  SQLHENV env;
  ServeOptions options;
  asio::io_context io;
  tcp::acceptor acceptor;
  std::optional<asio::signal_set> signals;
  std::vector<std::thread> workers;
};

namespace {

// One client connection: read a request, answer it, and read the next while
// the client keeps the connection alive. Only one operation is ever pending,
// and the strand keeps it apart from the stream's timer.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, const HttpReference::State& state)
      : stream_(std::move(socket)), state_(state) {}

  void Read() {
    request_ = {};
    stream_.expires_after(std::chrono::seconds(30));
    http::async_read(stream_, buffer_, request_,
                     beast::bind_front_handler(&Session::OnRead, shared_from_this()));
  }

 private:
  void OnRead(beast::error_code ec, std::size_t) {
    if (ec == http::error::end_of_stream) return Close();
    if (ec) return;  // timed out, reset or malformed: drop the connection
    response_ = state_.Answer(request_);
    http::async_write(stream_, response_,
                      beast::bind_front_handler(&Session::OnWrite, shared_from_this()));
  }

  void OnWrite(beast::error_code ec, std::size_t) {
    if (ec) return;
    if (!response_.keep_alive()) return Close();
    Read();
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  Request request_;
  Response response_;
  const HttpReference::State& state_;
};

}  // namespace

Response HttpReference::State::Answer(const Request& req) const {
  if (req.method() != http::verb::post)
    return Reply(req, http::status::method_not_allowed, false, "only POST is answered");
  // The same parse vqsrv does for every request, then the statement it names.
  rapidjson::Document doc;
  doc.Parse(req.body().data(), req.body().size());
  if (doc.HasParseError() || !doc.IsObject())
    return Reply(req, http::status::bad_request, false, "the body is not a JSON object");
  std::string sql = options.sql;
  if (const auto p2 = doc.FindMember("P2"); p2 != doc.MemberEnd()) {
    if (!p2->value.IsString())
      return Reply(req, http::status::bad_request, false, "\"P2\" is not a text");
    sql.assign(p2->value.GetString(), p2->value.GetStringLength());
  }

  std::string cells;
  bool ok;
  if (options.reuse) {
    Connection& kept = *t_kept;
    if (!kept.Handle() && !kept.Open(env, options.dsn))
      return Reply(req, http::status::service_unavailable, false, "cannot connect to the data source");
    ok = RunStatement(kept.Handle(), sql, options.names, cells);
  } else {
    Connection fresh;
    if (!fresh.Open(env, options.dsn))
      return Reply(req, http::status::service_unavailable, false, "cannot connect to the data source");
    ok = RunStatement(fresh.Handle(), sql, options.names, cells);
  }
  if (!ok) return Reply(req, http::status::internal_server_error, false, "the statement failed");
  return Reply(req, http::status::ok, true, cells);
}

void HttpReference::State::Accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) std::make_shared<Session>(std::move(socket), *this)->Read();
    Accept();
  });
}

HttpReference::HttpReference(SQLHENV env, ServeOptions options)
    : state_(std::make_unique<State>(env, std::move(options))) {}

HttpReference::~HttpReference() {
  Stop();
  Wait();
}

unsigned short HttpReference::Port() const { return state_->acceptor.local_endpoint().port(); }

void HttpReference::Start() {
  State& s = *state_;
  if (s.options.stop_on_signals) {
    s.signals.emplace(s.io, SIGINT, SIGTERM);
    s.signals->async_wait([&s](beast::error_code, int) { s.io.stop(); });
  }
  s.Accept();
  for (int i = 0; i < s.options.threads; ++i) {
    s.workers.emplace_back([&s] {
      Connection kept;  // opened on first use, closed when the worker ends
      t_kept = &kept;
      s.io.run();
      t_kept = nullptr;
    });
  }
}

void HttpReference::Stop() { state_->io.stop(); }

void HttpReference::Wait() {
  for (auto& w : state_->workers)
    if (w.joinable()) w.join();
  state_->workers.clear();
}

}  // namespace bench

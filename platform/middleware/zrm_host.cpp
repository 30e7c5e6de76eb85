#include "platform/middleware/zrm_host.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/middleware/zrm_dispatch.h"
#include "platform/middleware/zrm_metrics.h"
#include "platform/middleware/zrm_session.h"
#include "platform/middleware/zrm_trace.h"
#include "platform/types/zr.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// The process-wide table of bound names lives in the host; the host itself is
// shared by every bound server and goes away with the last one.
std::mutex g_host_mutex;
std::weak_ptr<ZRM_Host> g_host;

std::atomic<uint64_t> g_request_counter{0};

std::string AddressText(const std::string& host, uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// A connection past ZRM_MAX_CONNECTIONS: answered 503 and closed. Whatever
// the client sent is read and dropped for a moment first, so closing does
// not reset the connection before the client has read the answer.
struct Refusal : std::enable_shared_from_this<Refusal> {
  Refusal(tcp::socket s, asio::any_io_executor ex) : socket(std::move(s)), timer(ex) {}
  tcp::socket socket;
  asio::steady_timer timer;
  std::string answer;
  char sink[4096];

  void Start() {
    std::string body;
    ZRM_ErrorBody("ServiceUnavailable", "too many connections; try again later", body);
    answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
             "Content-Length: " + std::to_string(body.size()) +
             "\r\nConnection: close\r\n\r\n" + body;
    ZRM_MetricsResponse(503);
    asio::async_write(socket, asio::buffer(answer),
                      [self = shared_from_this()](boost::system::error_code ec, size_t n) {
                        ZRM_MetricsSent(n);
                        boost::system::error_code ignored;
                        if (ec) {
                          self->socket.close(ignored);
                          return;
                        }
                        self->socket.shutdown(tcp::socket::shutdown_send, ignored);
                        self->timer.expires_after(std::chrono::milliseconds(500));
                        self->timer.async_wait([self](boost::system::error_code) {
                          boost::system::error_code ignored;
                          self->socket.close(ignored);
                        });
                        self->Drop();
                      });
  }
  void Drop() {
    socket.async_read_some(asio::buffer(sink),
                           [self = shared_from_this()](boost::system::error_code ec, size_t) {
                             if (!ec) return self->Drop();
                             self->timer.cancel();
                           });
  }
};

// Outside the event loop nothing reopens the trace; a SIGUSR1 from a log
// rotation that comes then must not end the process (its default action).
void IgnoreTraceSignal() { std::signal(SIGUSR1, SIG_IGN); }

}  // namespace

int64_t ZRM_NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::shared_ptr<ZRM_Host> ZRM_Host::Attach(const std::string& name, ZRM_TServer* server) {
  std::lock_guard<std::mutex> lock(g_host_mutex);
  const ZRM_Config& config = ZRM_GetConfig();
  std::shared_ptr<ZRM_Host> host = g_host.lock();
  if (!host) {
    host = std::make_shared<ZRM_Host>(config, name);
    g_host = host;
  }
  std::lock_guard<std::mutex> routes(host->routes_mutex_);
  if (host->routes_.count(name) != 0)
    throw ZR_EException("cannot bind service \"" + name + "\": the name is bound already");
  auto route = std::make_unique<Route>();
  route->server = server;
  host->routes_.emplace(name, std::move(route));
  return host;
}

void ZRM_Host::Detach(const std::string& name) {
  std::unique_lock<std::mutex> lock(routes_mutex_);
  auto it = routes_.find(name);
  if (it == routes_.end()) return;
  Route& route = *it->second;
  route.closing = true;
  pages_.RemoveOwner(route.server);
  routes_cv_.wait(lock, [&] { return route.running.load() == 0; });
  routes_.erase(it);
}

ZRM_Host::ZRM_Host(const ZRM_Config& config, const std::string& first_name)
    : config_(config), io_(static_cast<int>(config.threads)) {
  IgnoreTraceSignal();
  const std::string where = AddressText(config.listen_host, config.listen_port);
  auto fail = [&](const std::string& reason) {
    throw ZR_EException("cannot bind service \"" + first_name + "\" to " + where + ": " +
                        reason);
  };
  boost::system::error_code ec;
  asio::ip::address address = asio::ip::make_address(config.listen_host, ec);
  if (ec) {
    tcp::resolver resolver(control_);
    auto results = resolver.resolve(config.listen_host, "", ec);
    if (ec || results.empty()) fail(ec ? ec.message() : "host not found");
    address = results.begin()->endpoint().address();
  }
  const tcp::endpoint endpoint(address, config.listen_port);
  acceptor_.open(endpoint.protocol(), ec);
  if (ec) fail(ec.message());
  acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
  acceptor_.bind(endpoint, ec);
  if (ec) fail(ec.message());
  acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) fail(ec.message());
}

ZRM_Host::~ZRM_Host() {
  boost::system::error_code ec;
  acceptor_.close(ec);
}

std::string ZRM_Host::ListenAddress() const {
  boost::system::error_code ec;
  const auto ep = acceptor_.local_endpoint(ec);
  if (ec) return AddressText(config_.listen_host, config_.listen_port);
  return AddressText(ep.address().to_string(), ep.port());
}

ZRM_Host::Route* ZRM_Host::Acquire(std::string_view name) {
  std::lock_guard<std::mutex> lock(routes_mutex_);
  auto it = routes_.find(name);
  if (it == routes_.end() || it->second->closing) return nullptr;
  it->second->running.fetch_add(1, std::memory_order_relaxed);
  return it->second.get();
}

void ZRM_Host::Release(Route* route) {
  if (route->running.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    // Rare: someone may be waiting in Detach.
    std::lock_guard<std::mutex> lock(routes_mutex_);
    if (route->closing) routes_cv_.notify_all();
  }
}

uint64_t ZRM_Host::BeginRequest(int64_t now_ns) {
  in_flight_.fetch_add(1, std::memory_order_relaxed);
  last_request_ns_.store(now_ns, std::memory_order_relaxed);
  return g_request_counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ZRM_Host::EndRequest() { in_flight_.fetch_sub(1, std::memory_order_relaxed); }

void ZRM_Host::SessionClosed(ZRM_Session* session, const ZRM_TSocket& socket) {
  bool empty;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.erase(session);
    empty = sessions_.empty();
  }
  {
    std::lock_guard<std::mutex> lock(hooks_mutex_);
    if (hooks_ && hooks_->connection_dropped) hooks_->connection_dropped(socket);
  }
  if (empty && Draining()) asio::post(control_, [this] { CheckDrained(); });
}

void ZRM_Host::ForEachSession(const std::function<void(const std::shared_ptr<ZRM_Session>&)>& f) {
  std::vector<std::shared_ptr<ZRM_Session>> open;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    open.reserve(sessions_.size());
    for (auto& [raw, weak] : sessions_)
      if (auto s = weak.lock()) open.push_back(std::move(s));
  }
  for (const auto& s : open) f(s);
}

void ZRM_Host::StartAccept() {
  if (!acceptor_.is_open()) return;  // closed by an earlier stop
  accepting_ = true;
  acceptor_.async_accept(asio::make_strand(io_), [this](boost::system::error_code ec,
                                                        tcp::socket socket) {
    if (ec) {
      if (ec == asio::error::operation_aborted || !accepting_) return;
      // Out of descriptors and the like: try again a little later.
      retry_timer_.expires_after(std::chrono::milliseconds(50));
      retry_timer_.async_wait([this](boost::system::error_code ec) {
        if (!ec && accepting_) StartAccept();
      });
      return;
    }
    // A connection accepted just before the accepting stopped is answered
    // all the same: dropping it would reset it.
    Adopt(std::move(socket));
    if (accepting_) StartAccept();
  });
}

void ZRM_Host::Adopt(tcp::socket socket) {
  std::shared_ptr<ZRM_Session> session;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    if (sessions_.size() < config_.max_connections) {
      session = std::make_shared<ZRM_Session>(*this, std::move(socket), next_socket_id_++);
      sessions_.emplace(session.get(), session);
    }
  }
  if (!session) {
    auto ex = socket.get_executor();
    std::make_shared<Refusal>(std::move(socket), ex)->Start();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(hooks_mutex_);
    if (hooks_ && hooks_->connection_added) hooks_->connection_added(session->Socket());
  }
  const bool drain = drain_begun_;
  asio::post(session->Executor(), [session, drain] {
    if (drain) session->Drain();  // its request, if one comes, is answered 503
    session->Start();
  });
}

void ZRM_Host::ArmIdleTimer() {
  if (idle_timeout_ms_ < 0) return;
  const int64_t limit = int64_t{idle_timeout_ms_} * 1000000;
  const int64_t last = last_request_ns_.load(std::memory_order_relaxed);
  idle_timer_.expires_after(std::chrono::nanoseconds(last + limit - ZRM_NowNs()));
  idle_timer_.async_wait([this, limit](boost::system::error_code ec) {
    if (ec || Draining()) return;
    const int64_t now = ZRM_NowNs();
    const bool busy = in_flight_.load(std::memory_order_relaxed) != 0;
    if (!busy && now - last_request_ns_.load(std::memory_order_relaxed) >= limit)
      return BeginDrain(false);
    if (busy) last_request_ns_.store(now, std::memory_order_relaxed);
    ArmIdleTimer();
  });
}

void ZRM_Host::ArmSweep() {
  // A quarter of the shortest limit, within 10 ms to 250 ms: deadlines are
  // kept to within that much without a timer per connection and request.
  uint32_t tick = std::min(config_.read_timeout_ms, config_.idle_timeout_ms) / 4;
  tick = std::clamp<uint32_t>(tick, 10, 250);
  sweep_timer_.expires_after(std::chrono::milliseconds(tick));
  sweep_timer_.async_wait([this](boost::system::error_code ec) {
    // A tick already due when Finish cancelled the timer still comes, without
    // an error: arming again then would keep the loop from ever returning.
    if (ec || finished_) return;
    const int64_t now = ZRM_NowNs();
    ForEachSession([now](const std::shared_ptr<ZRM_Session>& s) {
      if (s->Overdue(now)) asio::post(s->Executor(), [s] { s->Expire(); });
    });
    ArmSweep();
  });
}

// SIGUSR1 reopens the trace file (after a rotation) and the loop goes on,
// also while draining. SIGINT, SIGTERM and SIGHUP (a closed terminal, an
// operator's habit) go to the server's HandleEvent and then stop the
// server (grace time, then drain); once stopping they change nothing.
void ZRM_Host::WaitSignal() {
  if (finished_) return;  // a stop that drained at once: waiting on would keep the loop
  signals_->async_wait([this](boost::system::error_code ec, int signo) {
    if (ec || finished_) return;  // as for the sweep: no waiting past Finish
    if (signo == SIGUSR1) {
      ReopenTrace();
      return WaitSignal();
    }
    if (Draining()) return WaitSignal();
    bool consumed, may_exit;
    {
      std::lock_guard<std::mutex> lock(hooks_mutex_);
      consumed = hooks_ && hooks_->handle_event && hooks_->handle_event(signo);
      may_exit = !hooks_ || !hooks_->allow_exit || hooks_->allow_exit();
    }
    if (!consumed && may_exit) {
      BeginStop();
      return WaitSignal();  // SIGUSR1 still reopens the trace while stopping
    }
    WaitSignal();
  });
}

// Says what a SIGUSR1 did: in the trace (at level 1 and up, so a trace that
// is off stays empty) and, for a failure, on standard error as well.
void ZRM_Host::ReopenTrace() {
  std::string reason;
  const ZRM_TraceReopenResult result = ZRM_TraceReopen(reason);
  const bool note = config_.debug >= 1;
  switch (result) {
    case ZRM_TraceReopenResult::kReopened:
      if (note) ZRM_TraceRecord(1, 0, "SIGUSR1: trace file reopened");
      break;
    case ZRM_TraceReopenResult::kStandardError:
      if (note) ZRM_TraceRecord(1, 0, "SIGUSR1: the trace goes to standard error; nothing to reopen");
      break;
    case ZRM_TraceReopenResult::kFailed: {
      const std::string text =
          "SIGUSR1: cannot reopen the trace file " + reason + "; writing on to the old file";
      const std::string line = "vqsrv: " + text + "\n";
      if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Standard error is gone as well: nowhere left to say it.
      }
      if (note) ZRM_TraceRecord(1, 0, text);
      break;
    }
  }
}

void ZRM_Host::BeginStop() {
  if (Draining()) return;
  draining_ = true;
  idle_timer_.cancel();
  if (config_.drain_grace_ms == 0) return BeginDrain();
  grace_timer_.expires_after(std::chrono::milliseconds(config_.drain_grace_ms));
  grace_timer_.async_wait([this](boost::system::error_code ec) {
    if (!ec && !finished_) BeginDrain();
  });
}

void ZRM_Host::BeginDrain(bool close_listener) {
  if (drain_begun_) return;
  drain_begun_ = true;
  draining_ = true;
  if (close_listener) {
    CloseListener();
  } else {
    accepting_ = false;
    boost::system::error_code ec;
    acceptor_.cancel(ec);
  }
  idle_timer_.cancel();
  retry_timer_.cancel();
  ForEachSession([](const std::shared_ptr<ZRM_Session>& s) {
    asio::post(s->Executor(), [s] { s->Drain(); });
  });
  drain_timer_.expires_after(std::chrono::milliseconds(config_.drain_timeout_ms));
  drain_timer_.async_wait([this](boost::system::error_code ec) {
    if (ec) return;
    forced_ = true;  // requests still running past the limit are not waited for
    // What they started elsewhere (database statements) is stopped first.
    cancelled_ = hangups_.NotifyAll(ZRM_CancelReason::kShutdown) > 0;
    Finish();
  });
  CheckDrained();
}

// Connections whose handshake is done wait in the kernel's listen queue;
// closing the listener would reset them unanswered. So they are taken first
// (their requests get 503, see ZRM_Session::Drain), then the listener
// closes and further connection attempts are refused at once.
void ZRM_Host::CloseListener() {
  accepting_ = false;
  boost::system::error_code ec;
  acceptor_.cancel(ec);
  if (!acceptor_.is_open()) return;
  acceptor_.non_blocking(true, ec);
  while (!ec) {
    tcp::socket socket(asio::make_strand(io_));
    acceptor_.accept(socket, ec);
    if (!ec) Adopt(std::move(socket));
  }
  acceptor_.close(ec);
}

void ZRM_Host::CheckDrained() {
  if (finished_ || !drain_begun_) return;
  bool empty;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    empty = sessions_.empty();
  }
  if (empty) Finish();
}

void ZRM_Host::Finish() {
  if (finished_) return;
  finished_ = true;
  drain_timer_.cancel();
  grace_timer_.cancel();
  sweep_timer_.cancel();
  hangups_.Stop();
  boost::system::error_code ec;
  if (signals_) signals_->cancel(ec);
  work_.reset();  // workers end once their handlers have
  if (forced_) io_.stop();
}

void ZRM_Host::RequestStop() {
  stop_requested_ = true;
  asio::post(control_, [this] {
    if (running_ && stop_requested_.exchange(false)) BeginStop();
  });
}

void ZRM_Host::Run(const ZRM_LoopHooks& hooks, int idle_timeout_ms) {
  if (running_.exchange(true))
    throw ZR_EException("the event loop is running already in another thread");
  {
    std::lock_guard<std::mutex> lock(hooks_mutex_);
    hooks_ = &hooks;
  }
  draining_ = false;
  drain_begun_ = false;
  forced_ = false;
  cancelled_ = false;
  finished_ = false;
  idle_timeout_ms_ = idle_timeout_ms;
  last_request_ns_ = ZRM_NowNs();
  control_.restart();
  io_.restart();
  work_.emplace(io_.get_executor());

  // The request threads. A thread still inside a request operation when a
  // forced drain ends is left behind; the process ends without it below.
  auto live = std::make_shared<std::atomic<unsigned>>(config_.threads);
  auto done_mutex = std::make_shared<std::mutex>();
  auto done_cv = std::make_shared<std::condition_variable>();
  for (unsigned i = 0; i < config_.threads; ++i) {
    std::thread([this, live, done_mutex, done_cv] {
      for (;;) {
        try {
          io_.run();
          break;
        } catch (...) {
          // A handler never throws by design; if one does, serve on.
        }
      }
      std::lock_guard<std::mutex> lock(*done_mutex);
      if (--*live == 0) done_cv->notify_all();
    }).detach();
  }

  signals_.emplace(control_, SIGINT, SIGTERM, SIGHUP);
  signals_->add(SIGUSR1);
  WaitSignal();
  StartAccept();
  ArmIdleTimer();
  ArmSweep();
  hangups_.Start();
  if (stop_requested_.exchange(false)) BeginStop();
  control_.run();  // returns once the drain has finished or was cut short

  signals_.reset();
  IgnoreTraceSignal();
  bool all_done;
  {
    // After a forced drain, requests told to give up get a second to
    // return; a database that ignores the cancel does not hold the process
    // longer than that.
    const int wait_ms = !forced_ ? 2000 : cancelled_ ? 1000 : 200;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    std::unique_lock<std::mutex> lock(*done_mutex);
    all_done = done_cv->wait_until(lock, deadline, [&] { return live->load() == 0; });
    lock.unlock();
    // Cancel handlers may still be inside a driver that exiting unloads.
    all_done = ZRM_WaitCancelHandlers(deadline) && all_done;
  }
  if (!all_done) {
    // A request operation that does not return cannot be abandoned safely
    // (its server object would be destroyed under it), so the process ends.
    ZRM_TraceWrite("vqsrv: requests still running after the drain time; exiting\n");
    std::fflush(nullptr);
    std::_Exit(0);
  }
  work_.reset();
  {
    std::lock_guard<std::mutex> lock(hooks_mutex_);
    hooks_ = nullptr;
  }
  draining_ = false;
  running_ = false;
}

#include "platform/middleware/zrm_host.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <csignal>

#include "platform/middleware/zrm_dispatch.h"
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

// Running requests are answered within this time after a stop.
constexpr std::chrono::seconds kDrainLimit{10};

std::string AddressText(const std::string& host, uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

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
  host->routes_.emplace(name, Route{server});
  return host;
}

void ZRM_Host::Detach(const std::string& name) {
  std::unique_lock<std::mutex> lock(routes_mutex_);
  auto it = routes_.find(name);
  if (it == routes_.end()) return;
  it->second.closing = true;
  routes_cv_.wait(lock, [&] { return it->second.running == 0; });
  routes_.erase(it);
}

ZRM_Host::ZRM_Host(const ZRM_Config& config, const std::string& first_name)
    : config_(config), pool_(config.threads) {
  const std::string where = AddressText(config.listen_host, config.listen_port);
  auto fail = [&](const std::string& reason) {
    throw ZR_EException("cannot bind service \"" + first_name + "\" to " + where + ": " +
                        reason);
  };
  boost::system::error_code ec;
  asio::ip::address address = asio::ip::make_address(config.listen_host, ec);
  if (ec) {
    tcp::resolver resolver(io_);
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
  pool_.join();
}

std::string ZRM_Host::ListenAddress() const {
  boost::system::error_code ec;
  const auto ep = acceptor_.local_endpoint(ec);
  if (ec) return AddressText(config_.listen_host, config_.listen_port);
  return AddressText(ep.address().to_string(), ep.port());
}

ZRM_TServer* ZRM_Host::Acquire(std::string_view name) {
  std::lock_guard<std::mutex> lock(routes_mutex_);
  auto it = routes_.find(name);
  if (it == routes_.end() || it->second.closing) return nullptr;
  ++it->second.running;
  return it->second.server;
}

void ZRM_Host::Release(ZRM_TServer* server) {
  std::lock_guard<std::mutex> lock(routes_mutex_);
  for (auto& [name, route] : routes_) {
    if (route.server == server) {
      if (--route.running == 0 && route.closing) routes_cv_.notify_all();
      return;
    }
  }
}

void ZRM_Host::NoteRequest() {
  last_request_ = std::chrono::steady_clock::now();
}

void ZRM_Host::Dispatch(ZRM_TServer* server, std::string body,
                        std::function<void(unsigned, std::string)> done) {
  const uint64_t number = ++g_request_counter;
  ++in_flight_;
  // The guard keeps the loop alive until the answer is back on it.
  asio::post(pool_, [this, server, number, body = std::move(body), done = std::move(done),
                     guard = asio::make_work_guard(io_)]() mutable {
    std::string out;
    unsigned status;
    {
      ZRM_RequestNumberScope scope(number);
      status = ZRM_RunRequest(*server, body, out);
    }
    Release(server);
    asio::post(io_, [this, status, out = std::move(out), done = std::move(done)]() mutable {
      --in_flight_;
      done(status, std::move(out));
    });
    guard.reset();
  });
}

void ZRM_Host::SessionClosed(ZRM_Session* session, const ZRM_TSocket& socket) {
  sessions_.erase(session);
  if (hooks_ && hooks_->connection_dropped) hooks_->connection_dropped(socket);
  if (draining_ && sessions_.empty()) drain_timer_.cancel();
}

void ZRM_Host::StartAccept() {
  accepting_ = true;
  acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
    if (!accepting_ || draining_) return;
    if (ec) {
      if (ec == asio::error::operation_aborted) return;
      // Out of descriptors and the like: try again a little later.
      retry_timer_.expires_after(std::chrono::milliseconds(50));
      retry_timer_.async_wait([this](boost::system::error_code ec) {
        if (!ec && accepting_ && !draining_) StartAccept();
      });
      return;
    }
    auto session = std::make_shared<ZRM_Session>(*this, std::move(socket), next_socket_id_++);
    sessions_.insert(session.get());
    if (hooks_ && hooks_->connection_added) hooks_->connection_added(session->Socket());
    session->Start();
    StartAccept();
  });
}

void ZRM_Host::ArmIdleTimer() {
  if (idle_timeout_ms_ < 0) return;
  const auto limit = std::chrono::milliseconds(idle_timeout_ms_);
  idle_timer_.expires_at(last_request_ + limit);
  idle_timer_.async_wait([this, limit](boost::system::error_code ec) {
    if (ec || draining_) return;
    const auto now = std::chrono::steady_clock::now();
    if (in_flight_ == 0 && now - last_request_ >= limit) return BeginDrain();
    if (in_flight_ != 0) last_request_ = now;
    ArmIdleTimer();
  });
}

void ZRM_Host::WaitSignal() {
  signals_->async_wait([this](boost::system::error_code ec, int signo) {
    if (ec || draining_) return;
    const bool consumed = hooks_ && hooks_->handle_event && hooks_->handle_event(signo);
    const bool may_exit = !hooks_ || !hooks_->allow_exit || hooks_->allow_exit();
    if (!consumed && may_exit) return BeginDrain();
    WaitSignal();
  });
}

void ZRM_Host::BeginDrain() {
  if (draining_) return;
  draining_ = true;
  accepting_ = false;
  boost::system::error_code ec;
  acceptor_.cancel(ec);
  idle_timer_.cancel();
  retry_timer_.cancel();
  if (signals_) signals_->cancel(ec);
  // Close() changes the set: walk a copy.
  std::vector<ZRM_Session*> open(sessions_.begin(), sessions_.end());
  for (ZRM_Session* s : open) s->Drain();
  if (sessions_.empty()) return;
  drain_timer_.expires_after(kDrainLimit);
  drain_timer_.async_wait([this](boost::system::error_code ec) {
    if (ec) return;
    std::vector<ZRM_Session*> left(sessions_.begin(), sessions_.end());
    for (ZRM_Session* s : left) s->Close();
    io_.stop();  // requests still running past the limit are not waited for
  });
}

void ZRM_Host::RequestStop() {
  stop_requested_ = true;
  asio::post(io_, [this] {
    if (running_ && stop_requested_.exchange(false)) BeginDrain();
  });
}

void ZRM_Host::Run(const ZRM_LoopHooks& hooks, int idle_timeout_ms) {
  if (running_.exchange(true))
    throw ZR_EException("the event loop is running already in another thread");
  hooks_ = &hooks;
  draining_ = false;
  idle_timeout_ms_ = idle_timeout_ms;
  last_request_ = std::chrono::steady_clock::now();
  io_.restart();
  signals_.emplace(io_, SIGINT, SIGTERM);
  WaitSignal();
  StartAccept();
  ArmIdleTimer();
  if (stop_requested_.exchange(false)) BeginDrain();
  try {
    io_.run();
  } catch (...) {
    signals_.reset();
    hooks_ = nullptr;
    running_ = false;
    throw;
  }
  signals_.reset();
  hooks_ = nullptr;
  draining_ = false;
  running_ = false;
}

// The process-wide HTTP host: one listening socket shared by every bound
// server, and the I/O context run by ZRM_THREADS threads inside EventLoop.
// Request operations run directly on those threads (one connection at a
// time on each, several connections at once across them); a slow client
// costs a socket, not a thread, because all reading and writing is
// asynchronous.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "platform/middleware/zrm_hangup.h"
#include "platform/middleware/zrm_pages.h"

class ZRM_Session;

// What the server running the loop wants to hear about.
struct ZRM_LoopHooks {
  std::function<void(const ZRM_TSocket&)> connection_added;
  std::function<void(const ZRM_TSocket&)> connection_dropped;
  std::function<bool(int)> handle_event;  // signal number; true: consumed
  std::function<bool()> allow_exit;
};

// Monotonic time in nanoseconds (deadline bookkeeping).
int64_t ZRM_NowNs();

class ZRM_Host : public std::enable_shared_from_this<ZRM_Host> {
 public:
  struct Route {
    ZRM_TServer* server;
    std::atomic<unsigned> running{0};
    bool closing = false;  // under routes_mutex_
  };

  // Registers name for server; makes the host (and binds the listening
  // socket) for the first name. Throws ZR_EException when the name is bound
  // already or the address cannot be bound.
  static std::shared_ptr<ZRM_Host> Attach(const std::string& name, ZRM_TServer* server);
  // Removes the name and the pages its server published, then waits until
  // no request of it is running.
  void Detach(const std::string& name);

  ZRM_Host(const ZRM_Config& config, const std::string& first_name);
  ~ZRM_Host();
  ZRM_Host(const ZRM_Host&) = delete;
  ZRM_Host& operator=(const ZRM_Host&) = delete;

  // Serves until a signal, RequestStop or the idle time-out, then drains.
  // Requests still running at the end of the drain time are told to give
  // up (ZRM_CancelWatch) and get one more second; those still running then
  // are left and the process ends with status 0: nothing else can bound it.
  void Run(const ZRM_LoopHooks& hooks, int idle_timeout_ms);
  // Thread-safe; also before Run (the next Run then ends at once).
  void RequestStop();
  std::string ListenAddress() const;

  // For sessions (any I/O thread).
  const ZRM_Config& Config() const { return config_; }
  // True from a stop on (the grace time included): /readyz answers 503 and
  // answers close their connection.
  bool Draining() const { return draining_.load(std::memory_order_relaxed); }
  // The route of name with one more request counted, or null.
  Route* Acquire(std::string_view name);
  void Release(Route* route);
  // Pages servers publish; FindPage answers null for every path while
  // ZRM_CONSOLE=0.
  ZRM_PageTable& Pages() { return pages_; }
  std::shared_ptr<const ZRM_Page> FindPage(std::string_view path) const {
    return config_.pages ? pages_.Find(path) : nullptr;
  }
  // Counts a request for the loop's idle time-out and gives its number.
  uint64_t BeginRequest(int64_t now_ns);
  void EndRequest();
  void SessionClosed(ZRM_Session* session, const ZRM_TSocket& socket);
  // Requests that asked to hear when nobody waits for them (ZRM_CancelWatch).
  ZRM_HangupWatch& Hangups() { return hangups_; }

 private:
  void StartAccept();
  // Takes an accepted connection into a session (or refuses it past
  // ZRM_MAX_CONNECTIONS). EventLoop thread.
  void Adopt(boost::asio::ip::tcp::socket socket);
  void ArmIdleTimer();
  void ArmSweep();
  void WaitSignal();
  void ReopenTrace();
  // A stop: readiness off at once, the drain after ZRM_DRAIN_GRACE_MS.
  void BeginStop();
  // close_listener: false for the idle time-out, after which the loop may
  // run again on the same listener.
  void BeginDrain(bool close_listener = true);
  void CloseListener();
  void CheckDrained();
  void Finish();
  void ForEachSession(const std::function<void(const std::shared_ptr<ZRM_Session>&)>& f);

  ZRM_Config config_;
  // The loop's own work (accepting, signals, time-outs, the drain) runs on
  // the EventLoop thread, so it stays responsive however long request
  // operations take on the request threads.
  boost::asio::io_context control_{1};
  boost::asio::io_context io_;  // connections and request operations
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  boost::asio::ip::tcp::acceptor acceptor_{control_};
  boost::asio::steady_timer idle_timer_{control_};
  boost::asio::steady_timer drain_timer_{control_};
  boost::asio::steady_timer grace_timer_{control_};  // ZRM_DRAIN_GRACE_MS after a stop
  boost::asio::steady_timer sweep_timer_{control_};  // read and idle deadlines
  boost::asio::steady_timer retry_timer_{control_};  // accepting again after a failure
  std::optional<boost::asio::signal_set> signals_;
  ZRM_HangupWatch hangups_{control_};

  std::mutex routes_mutex_;
  std::condition_variable routes_cv_;
  std::map<std::string, std::unique_ptr<Route>, std::less<>> routes_;
  ZRM_PageTable pages_;

  // Open sessions, for limits, deadlines and the drain.
  std::mutex sessions_mutex_;
  std::unordered_map<ZRM_Session*, std::weak_ptr<ZRM_Session>> sessions_;
  std::condition_variable sessions_cv_;

  std::mutex hooks_mutex_;  // the server's hooks are called one at a time
  const ZRM_LoopHooks* hooks_ = nullptr;

  std::atomic<bool> draining_{false};
  std::atomic<bool> accepting_{false};
  int idle_timeout_ms_ = -1;
  std::atomic<int64_t> last_request_ns_{0};
  std::atomic<unsigned> in_flight_{0};
  std::atomic<uint64_t> next_socket_id_{1};

  // The drain proper has begun: no more accepting, sessions told to close
  // (EventLoop thread). Draining() is true from the stop on, the grace
  // included.
  bool drain_begun_ = false;
  bool forced_ = false;    // the drain time ran out (EventLoop thread)
  bool cancelled_ = false;  // running requests were told to give up then
  bool finished_ = false;  // the drain is over (EventLoop thread)

  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};
};

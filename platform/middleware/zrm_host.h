// The process-wide HTTP host: one listening socket shared by every bound
// server, the I/O context run inside EventLoop, and the fixed pool of
// threads that run request operations.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
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
#include <unordered_set>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"

class ZRM_Session;

// What the server running the loop wants to hear about.
struct ZRM_LoopHooks {
  std::function<void(const ZRM_TSocket&)> connection_added;
  std::function<void(const ZRM_TSocket&)> connection_dropped;
  std::function<bool(int)> handle_event;  // signal number; true: consumed
  std::function<bool()> allow_exit;
};

class ZRM_Host {
 public:
  // Registers name for server; makes the host (and binds the listening
  // socket) for the first name. Throws ZR_EException when the name is bound
  // already or the address cannot be bound.
  static std::shared_ptr<ZRM_Host> Attach(const std::string& name, ZRM_TServer* server);
  // Removes the name, then waits until no request of it is running.
  void Detach(const std::string& name);

  ZRM_Host(const ZRM_Config& config, const std::string& first_name);
  ~ZRM_Host();
  ZRM_Host(const ZRM_Host&) = delete;
  ZRM_Host& operator=(const ZRM_Host&) = delete;

  // Serves until a signal, RequestStop or the idle time-out, then drains.
  void Run(const ZRM_LoopHooks& hooks, int idle_timeout_ms);
  // Thread-safe; also before Run (the next Run then ends at once).
  void RequestStop();
  std::string ListenAddress() const;

  // For sessions (I/O thread).
  boost::asio::io_context& Io() { return io_; }
  const ZRM_Config& Config() const { return config_; }
  bool Draining() const { return draining_; }
  // The server bound under name with one more request counted, or null.
  ZRM_TServer* Acquire(std::string_view name);
  void Release(ZRM_TServer* server);
  // Hands a request to the pool; done runs on the I/O thread afterwards.
  void Dispatch(ZRM_TServer* server, std::string body,
                std::function<void(unsigned, std::string)> done);
  void SessionClosed(ZRM_Session* session, const ZRM_TSocket& socket);
  // A complete request has been read (idle time-out bookkeeping).
  void NoteRequest();

 private:
  struct Route {
    ZRM_TServer* server;
    unsigned running = 0;
    bool closing = false;
  };

  void StartAccept();
  void ArmIdleTimer();
  void WaitSignal();
  void BeginDrain();

  ZRM_Config config_;
  boost::asio::io_context io_{1};
  boost::asio::ip::tcp::acceptor acceptor_{io_};
  boost::asio::thread_pool pool_;
  boost::asio::steady_timer idle_timer_{io_};
  boost::asio::steady_timer drain_timer_{io_};
  boost::asio::steady_timer retry_timer_{io_};  // accepting again after a failure
  std::optional<boost::asio::signal_set> signals_;

  std::mutex routes_mutex_;
  std::condition_variable routes_cv_;
  std::map<std::string, Route, std::less<>> routes_;

  // I/O thread only.
  const ZRM_LoopHooks* hooks_ = nullptr;
  std::unordered_set<ZRM_Session*> sessions_;  // open, not yet closed
  bool draining_ = false;
  bool accepting_ = false;
  int idle_timeout_ms_ = -1;
  std::chrono::steady_clock::time_point last_request_;
  unsigned in_flight_ = 0;
  uint64_t next_socket_id_ = 1;

  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};
};

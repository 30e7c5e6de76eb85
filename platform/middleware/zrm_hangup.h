// Notices clients that leave while their request runs. The request thread
// does not read its connection while it runs the request operation, so the
// connections of watched requests sit in an epoll set of their own, waiting
// for the peer's end of sending (EPOLLRDHUP) or a reset; the EventLoop
// thread waits on that set and notifies the request (ZRM_RequestCancel).
// Data that arrives (a pipelined request) does not count.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/middleware/zrm_cancel.h"

class ZRM_HangupWatch {
 public:
  explicit ZRM_HangupWatch(boost::asio::io_context& control);
  ZRM_HangupWatch(const ZRM_HangupWatch&) = delete;
  ZRM_HangupWatch& operator=(const ZRM_HangupWatch&) = delete;

  // On the EventLoop thread: begins and ends waiting.
  void Start();
  void Stop();

  // Any thread. Watches socket for the request until Remove. The request is
  // kept for NotifyAll even when the socket cannot be watched.
  uint64_t Add(int socket, std::shared_ptr<ZRM_RequestCancel> cancel);
  void Remove(int socket, uint64_t serial);
  // Notifies every watched request (the end of the drain time); returns how
  // many there were.
  size_t NotifyAll(ZRM_CancelReason reason);

 private:
  void Wait();
  void OnReady();

  int epoll_ = -1;  // owned by ready_; -1 when there is none
  std::optional<boost::asio::posix::stream_descriptor> ready_;
  bool waiting_ = false;
  bool stopped_ = false;

  std::mutex mutex_;
  std::unordered_map<uint64_t, std::shared_ptr<ZRM_RequestCancel>> watched_;
  uint64_t next_serial_ = 1;
};

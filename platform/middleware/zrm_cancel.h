// Giving up a running request: the state a session keeps for the request it
// runs, shared with the ZRM_CancelWatch the request operation made (zrm.h)
// and with the host, which notices the client leave (ZRM_HangupWatch) or the
// drain time run out.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/middleware/zrm.h"

class ZRM_HangupWatch;

class ZRM_RequestCancel : public std::enable_shared_from_this<ZRM_RequestCancel> {
 public:
  // A new request begins on the session (no watch of the last one lives).
  void Reset() { reason_.store(-1, std::memory_order_relaxed); }
  // Why the request was given up, if it was.
  std::optional<ZRM_CancelReason> Reason() const;

  // Any thread: records the reason (the first one wins) and calls the armed
  // handler with it on a thread of its own, so a handler that blocks holds
  // up neither the caller nor other requests.
  void Notify(ZRM_CancelReason reason);

  // The watch: sets the handler; false when one is set already.
  bool Arm(std::function<void(ZRM_CancelReason)> handler);
  // Removes the handler, after waiting for a call of it in progress.
  void Disarm();

 private:
  void Deliver(ZRM_CancelReason reason);

  std::atomic<int> reason_{-1};
  std::mutex mutex_;  // held while the handler runs
  std::function<void(ZRM_CancelReason)> handler_;
  bool armed_ = false;
};

// The request the calling thread runs, as a ZRM_CancelWatch finds it.
struct ZRM_RunningRequest {
  ZRM_HangupWatch* hangups;
  int socket;  // the client connection's descriptor
  std::shared_ptr<ZRM_RequestCancel> cancel;
};

// Makes request the calling thread's for the life of the scope.
class ZRM_RunningRequestScope {
 public:
  explicit ZRM_RunningRequestScope(ZRM_RunningRequest* request);
  ~ZRM_RunningRequestScope();
  ZRM_RunningRequestScope(const ZRM_RunningRequestScope&) = delete;
  ZRM_RunningRequestScope& operator=(const ZRM_RunningRequestScope&) = delete;

 private:
  ZRM_RunningRequest* previous_;
};

// Waits until no handler call runs any more, at the latest until deadline.
// False when one still runs then.
bool ZRM_WaitCancelHandlers(std::chrono::steady_clock::time_point deadline);

#include "platform/middleware/zrm_cancel.h"

#include <condition_variable>
#include <system_error>
#include <thread>

#include "platform/middleware/zrm_hangup.h"

namespace {

thread_local ZRM_RunningRequest* t_request = nullptr;

// Handler threads still running; the process waits for them before it
// unloads what they may use.
std::mutex g_handlers_mutex;
std::condition_variable g_handlers_cv;
unsigned g_handlers = 0;

void HandlerStarted() {
  std::lock_guard<std::mutex> lock(g_handlers_mutex);
  ++g_handlers;
}

void HandlerEnded() {
  std::lock_guard<std::mutex> lock(g_handlers_mutex);
  if (--g_handlers == 0) g_handlers_cv.notify_all();
}

}  // namespace

std::optional<ZRM_CancelReason> ZRM_RequestCancel::Reason() const {
  const int reason = reason_.load(std::memory_order_acquire);
  if (reason < 0) return std::nullopt;
  return static_cast<ZRM_CancelReason>(reason);
}

void ZRM_RequestCancel::Notify(ZRM_CancelReason reason) {
  int none = -1;
  if (!reason_.compare_exchange_strong(none, static_cast<int>(reason), std::memory_order_acq_rel)) return;
  HandlerStarted();
  try {
    std::thread([self = shared_from_this(), reason] {
      self->Deliver(reason);
      HandlerEnded();
    }).detach();
  } catch (const std::system_error&) {
    HandlerEnded();  // no thread to be had: the request runs to its end
  }
}

void ZRM_RequestCancel::Deliver(ZRM_CancelReason reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!armed_ || !handler_) return;
  auto handler = std::move(handler_);
  handler_ = nullptr;
  try {
    handler(reason);
  } catch (...) {
    // The request goes on as if nothing had been asked.
  }
}

bool ZRM_RequestCancel::Arm(std::function<void(ZRM_CancelReason)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (armed_) return false;
  armed_ = true;
  handler_ = std::move(handler);
  return true;
}

void ZRM_RequestCancel::Disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
  handler_ = nullptr;
}

ZRM_RunningRequestScope::ZRM_RunningRequestScope(ZRM_RunningRequest* request) : previous_(t_request) {
  t_request = request;
}

ZRM_RunningRequestScope::~ZRM_RunningRequestScope() { t_request = previous_; }

bool ZRM_WaitCancelHandlers(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(g_handlers_mutex);
  return g_handlers_cv.wait_until(lock, deadline, [] { return g_handlers == 0; });
}

ZRM_CancelWatch::ZRM_CancelWatch(std::function<void(ZRM_CancelReason)> on_cancel) {
  ZRM_RunningRequest* request = t_request;
  if (request == nullptr || !on_cancel || !request->cancel->Arm(std::move(on_cancel))) return;
  request_ = request;
  serial_ = request->hangups->Add(request->socket, request->cancel);
}

ZRM_CancelWatch::~ZRM_CancelWatch() {
  if (request_ == nullptr) return;
  request_->hangups->Remove(request_->socket, serial_);
  request_->cancel->Disarm();
}

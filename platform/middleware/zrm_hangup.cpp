#include "platform/middleware/zrm_hangup.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

ZRM_HangupWatch::ZRM_HangupWatch(boost::asio::io_context& control) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) return;  // requests are then only given up at the drain's end
  boost::system::error_code ec;
  ready_.emplace(control);
  ready_->assign(epoll_, ec);
  if (ec) {
    ready_.reset();
    close(epoll_);
    epoll_ = -1;
  }
}

void ZRM_HangupWatch::Start() {
  stopped_ = false;
  if (ready_ && !waiting_) Wait();
}

void ZRM_HangupWatch::Stop() {
  stopped_ = true;
  if (!ready_) return;
  boost::system::error_code ec;
  ready_->cancel(ec);
}

void ZRM_HangupWatch::Wait() {
  waiting_ = true;
  ready_->async_wait(boost::asio::posix::stream_descriptor::wait_read, [this](boost::system::error_code ec) {
    waiting_ = false;
    // A wait that ended just before Stop still comes, with success; waiting
    // again would keep the loop from ever ending.
    if (!ec && !stopped_) OnReady();
  });
}

void ZRM_HangupWatch::OnReady() {
  epoll_event events[64];
  const int n = epoll_wait(epoll_, events, 64, 0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < n; ++i) {
      // A request that ended meanwhile is not in the table any more.
      const auto it = watched_.find(events[i].data.u64);
      if (it != watched_.end()) it->second->Notify(ZRM_CancelReason::kClientGone);
    }
  }
  Wait();
}

uint64_t ZRM_HangupWatch::Add(int socket, std::shared_ptr<ZRM_RequestCancel> cancel) {
  uint64_t serial;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serial = next_serial_++;
    watched_.emplace(serial, std::move(cancel));
  }
  if (epoll_ >= 0 && socket >= 0) {
    // One report is enough (EPOLLONESHOT); a connection that is closed
    // already is reported at once.
    epoll_event event{};
    event.events = EPOLLRDHUP | EPOLLONESHOT;
    event.data.u64 = serial;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event) != 0 && errno == EEXIST)
      epoll_ctl(epoll_, EPOLL_CTL_MOD, socket, &event);
  }
  return serial;
}

void ZRM_HangupWatch::Remove(int socket, uint64_t serial) {
  // Out of the set before the session may close the descriptor and the
  // number is reused for another connection.
  if (epoll_ >= 0 && socket >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.erase(serial);
}

size_t ZRM_HangupWatch::NotifyAll(ZRM_CancelReason reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [serial, cancel] : watched_) cancel->Notify(reason);
  return watched_.size();
}

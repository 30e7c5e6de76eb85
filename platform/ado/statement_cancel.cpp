#include "platform/ado/statement_cancel.h"

#include "platform/ado/ado.h"

namespace zado {
namespace {

thread_local CancelState* t_state = nullptr;

}  // namespace

bool StatementsCancelled() {
  const CancelState* state = t_state;
  return state != nullptr && state->cancelled.load();
}

RunningStatement::RunningStatement() : state_(t_state) {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->running;
}

RunningStatement::~RunningStatement() {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  --state_->running;
}

ExecuteWindow::ExecuteWindow(SQLHSTMT stmt) : state_(t_state) {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  refused_ = state_->cancelled.load();
  if (refused_) {
    state_ = nullptr;
    return;
  }
  state_->executing = stmt;
}

// Waits for a SQLCancel in progress: the statement may be freed right after.
ExecuteWindow::~ExecuteWindow() {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->executing = SQL_NULL_HSTMT;
}

}  // namespace zado

AdoStatementCancel::AdoStatementCancel()
    : state_(std::make_unique<zado::CancelState>()), previous_(zado::t_state) {
  zado::t_state = state_.get();
}

AdoStatementCancel::~AdoStatementCancel() { zado::t_state = previous_; }

bool AdoStatementCancel::Cancel() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->cancelled.load()) return false;
  state_->cancelled.store(true);
  // The mutex is held across SQLCancel, so the statement's thread cannot
  // leave the execution and free the statement under it.
  if (state_->executing != SQL_NULL_HSTMT) SQLCancel(state_->executing);
  return state_->running > 0;
}

bool AdoStatementCancel::Cancelled() const { return state_->cancelled.load(); }

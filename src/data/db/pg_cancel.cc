#include "data/db/pg_cancel.h"

#include <sys/socket.h>

#include <condition_variable>

namespace ostrevane {

struct PgCanceller::Request {
  struct Free {
    void operator()(PGcancel* c) const { PQfreeCancel(c); }
  };
  std::unique_ptr<PGcancel, Free> cancel;  // read-only once made
  std::mutex mu;
  std::condition_variable answered_cv;
  bool under_way = false;
};

PgCanceller::PgCanceller(PGconn* conn)
    : request_(std::make_shared<Request>()), socket_(PQsocket(conn)) {
  request_->cancel.reset(PQgetCancel(conn));
}

PgCanceller::~PgCanceller() {
  std::lock_guard lock(mu_);
  if (!thread_.joinable()) return;
  bool under_way;
  {
    std::lock_guard request_lock(request_->mu);
    under_way = request_->under_way;
  }
  if (under_way)
    thread_.detach();
  else
    thread_.join();
}

bool PgCanceller::Send() {
  std::lock_guard lock(mu_);
  if (!request_->cancel) return false;
  {
    std::lock_guard request_lock(request_->mu);
    if (request_->under_way) return false;
    request_->under_way = true;
  }
  if (thread_.joinable()) thread_.join();  // answered: it is ending
  thread_ = std::thread([request = request_] {
    char error[256];
    PQcancel(request->cancel.get(), error, sizeof error);
    std::lock_guard request_lock(request->mu);
    request->under_way = false;
    request->answered_cv.notify_all();
  });
  return true;
}

bool PgCanceller::WaitAnswered(std::chrono::milliseconds wait) {
  std::unique_lock request_lock(request_->mu);
  return request_->answered_cv.wait_for(request_lock, wait,
                                        [this] { return !request_->under_way; });
}

void PgCanceller::Sever() {
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

}  // namespace ostrevane

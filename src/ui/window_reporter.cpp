#include "ui/window_reporter.h"

#include <QMetaObject>
#include <QThread>

#include "ui/qt_text.h"

namespace quorvin::ui {

WindowReporter::WindowReporter(QObject* window,
                               std::function<void(const QString&, const QString&)> show_message,
                               std::function<void()> changed)
    : window_(window), show_message_(std::move(show_message)), changed_(std::move(changed)) {}

bool WindowReporter::OnWindowThread() const {
  return window_ != nullptr && QThread::currentThread() == window_->thread();
}

void WindowReporter::Changed() {
  if (OnWindowThread() && changed_) changed_();
}

void WindowReporter::SetStatus(std::string_view text) {
  Sync();
  {
    std::lock_guard<std::mutex> lock(mu_);
    view_.status = ToQt(text);
    view_.files = false;
    dirty_ = true;
  }
  Changed();
}

void WindowReporter::SetFileStatus(std::string_view text, size_t done, size_t total) {
  Sync();
  // Called once per file: keep it to a copy under the lock; the window's timer does the rest.
  {
    std::lock_guard<std::mutex> lock(mu_);
    view_.status = ToQt(text);
    view_.done = done;
    view_.total = total;
    view_.files = true;
    dirty_ = true;
  }
  Changed();
}

void WindowReporter::Warning(std::string_view text) {
  Sync();
  {
    std::lock_guard<std::mutex> lock(mu_);
    warnings_.push_back(ToQt(text));
    view_.status = QStringLiteral("Warning: ") + ToQt(text);
    view_.files = false;
    dirty_ = true;
  }
  Changed();
}

void WindowReporter::Message(std::string_view title, std::string_view text) {
  const QString t = ToQt(title);
  const QString x = ToQt(text);
  if (OnWindowThread()) {
    show_message_(t, x);
    return;
  }
  // The box is shown on the window's thread, and this thread waits for its OK, as the run
  // would wait for a box of its own.
  Sync();
  RunOnWindowAndWait([this, t, x] { show_message_(t, x); });
}

void WindowReporter::RunOnWindowAndWait(std::function<void()> job) {
  unsigned long long ticket;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (abandoned_ || window_ == nullptr) return;
    ticket = ++jobs_posted_;
  }
  QMetaObject::invokeMethod(
      window_.data(),
      [this, job = std::move(job), ticket] {
        job();
        std::lock_guard<std::mutex> lock(mu_);
        if (ticket > jobs_done_) jobs_done_ = ticket;
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mu_);
  answered_.wait(lock, [&] { return abandoned_ || jobs_done_ >= ticket; });
}

void WindowReporter::SyncOnce(std::function<void()> job) {
  std::lock_guard<std::mutex> lock(mu_);
  sync_ = std::move(job);
  sync_waiting_.store(sync_ != nullptr);
}

void WindowReporter::Sync() {
  if (!sync_waiting_.load() || OnWindowThread()) return;
  std::function<void()> job;
  {
    std::lock_guard<std::mutex> lock(mu_);
    job = std::move(sync_);
    sync_ = nullptr;
    sync_waiting_.store(false);
  }
  if (job) RunOnWindowAndWait(std::move(job));
}

void WindowReporter::BeginCommand() {
  stop_.store(false, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(mu_);
  sync_ = nullptr;
  sync_waiting_.store(false);
  warnings_.clear();
  view_.done = 0;
  view_.total = 0;
  view_.files = false;
}

void WindowReporter::Abandon() {
  std::lock_guard<std::mutex> lock(mu_);
  abandoned_ = true;
  answered_.notify_all();
}

WindowReporter::View WindowReporter::Take(bool* changed) {
  std::lock_guard<std::mutex> lock(mu_);
  if (changed != nullptr) *changed = dirty_;
  dirty_ = false;
  return view_;
}

QStringList WindowReporter::warnings() const {
  std::lock_guard<std::mutex> lock(mu_);
  return warnings_;
}

}  // namespace quorvin::ui

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

#include "platform/reporter.h"

namespace quorvin::ui {

// The window's Reporter. Every call may come from the thread that runs a command; no widget
// is touched there:
//  - status texts and file progress are kept here and taken by the window's thread (a timer
//    while a command runs, so that 20,000 per-file updates cost one repaint per tick);
//  - a message is handed to the window's thread, and the calling thread waits for the OK;
//  - StopRequested answers a flag that the window sets when the user confirms closing.
// Calls made on the window's thread itself take effect at once.
class WindowReporter : public Reporter {
 public:
  // What the status line and the progress bar show.
  struct View {
    QString status;
    size_t done = 0;
    size_t total = 0;    // 0: the number of files is not known
    bool files = false;  // the last text was about one file of many
  };

  // `window` lives on the window's thread. `show_message` shows one message there and returns
  // when the user has answered it. `changed` is called there after a call made there.
  WindowReporter(QObject* window, std::function<void(const QString&, const QString&)> show_message,
                 std::function<void()> changed);

  void SetStatus(std::string_view text) override;
  void SetFileStatus(std::string_view text, size_t done, size_t total) override;
  void Message(std::string_view title, std::string_view text) override;
  void Warning(std::string_view text) override;
  bool StopRequested() override { return stop_.load(std::memory_order_relaxed); }

  // Any thread: asks the running command to stop at the next file.
  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }
  // Before a command: no stop asked, no warnings, no file progress.
  void BeginCommand();
  // The next call from the command's thread first runs `job` on the window's thread and
  // waits for it, so that the window can read what the command holds while it stands still
  // (a command-line start shows the settings it loaded before the run goes on).
  void SyncOnce(std::function<void()> job);
  // The window is going away: a thread waiting for a message's OK goes on at once, and later
  // messages are dropped.
  void Abandon();

  // The current view, and whether it changed since the last call.
  View Take(bool* changed);
  // The warnings of the current command, in order.
  QStringList warnings() const;

 private:
  bool OnWindowThread() const;
  void Changed();
  // From the command's thread: runs `job` on the window's thread and waits until it is done
  // (or until the window is going away).
  void RunOnWindowAndWait(std::function<void()> job);
  // From the command's thread: the SyncOnce job, if one is waiting.
  void Sync();

  QPointer<QObject> window_;
  std::function<void(const QString&, const QString&)> show_message_;
  std::function<void()> changed_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> sync_waiting_{false};
  std::function<void()> sync_;  // guarded by mu_

  mutable std::mutex mu_;
  std::condition_variable answered_;
  View view_;
  bool dirty_ = false;
  QStringList warnings_;
  bool abandoned_ = false;
  unsigned long long jobs_posted_ = 0;
  unsigned long long jobs_done_ = 0;
};

}  // namespace quorvin::ui

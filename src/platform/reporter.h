#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvin {

// Where the stages send what the user sees: the status line, modal messages, and reports of
// things skipped. The window shows them in its controls; the headless program on stderr.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // The status line: "Status:  ..." texts of the stages.
  virtual void SetStatus(std::string_view text) = 0;
  // A status text about one file of many (`done` of `total` files finished before it; a
  // `total` of 0 when the number is not known in advance).
  virtual void SetFileStatus(std::string_view text, size_t done, size_t total) {
    (void)done;
    (void)total;
    SetStatus(text);
  }
  // Progress inside the file of the last SetFileStatus: `done` of its `total` bytes read (a
  // `total` of 0 while its size is not known). Sent again and again while a large file is
  // read, so that a run over one huge file shows it moving; small files send nothing.
  virtual void SetFileBytes(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
  // A modal message box with one OK button.
  virtual void Message(std::string_view title, std::string_view text) = 0;
  // Something the run skipped or could not do but went on after (a file left alone, a step
  // that could not run). The text names the file or folder. The window shows it on the
  // status line; the headless program as a line on stderr.
  virtual void Warning(std::string_view text) = 0;
  // Asked between files by every long loop: true when the user wants the command to stop.
  // A loop that sees it finishes the file in hand (no rename is cut in half) and returns
  // Status::Stopped. Called from the thread that runs the command.
  virtual bool StopRequested() { return false; }
};

// Passes everything on to another reporter and counts the warnings, so that a command can
// tell "done" from "done with warnings".
class CountingReporter : public Reporter {
 public:
  explicit CountingReporter(Reporter& to) : to_(to) {}
  void SetStatus(std::string_view text) override { to_.SetStatus(text); }
  void SetFileStatus(std::string_view text, size_t done, size_t total) override {
    to_.SetFileStatus(text, done, total);
  }
  void SetFileBytes(uint64_t done, uint64_t total) override { to_.SetFileBytes(done, total); }
  void Message(std::string_view title, std::string_view text) override {
    to_.Message(title, text);
  }
  void Warning(std::string_view text) override {
    ++warnings_;
    to_.Warning(text);
  }
  bool StopRequested() override { return to_.StopRequested(); }
  size_t warnings() const { return warnings_; }
  void ResetWarnings() { warnings_ = 0; }

 private:
  Reporter& to_;
  size_t warnings_ = 0;
};

// A reporter that drops everything; for callers that have no one to tell.
class NullReporter : public Reporter {
 public:
  void SetStatus(std::string_view) override {}
  void Message(std::string_view, std::string_view) override {}
  void Warning(std::string_view) override {}
};

}  // namespace quorvin

#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace quorvin {

// What kind of failure a Status carries. Callers pick exit codes and message titles from it.
enum class ErrorKind {
  kOk,
  kInvalidInput,  // the user gave something unusable (bad settings, bad preset, bad name)
  kNotFound,      // a file or folder the user named does not exist
  kIo,            // the file system refused a read, write, rename or copy
  kRefused,       // the program declines the request (zipped ROMs)
  kCorrupt,       // a file the program reads is not in the expected form
  kStopped,       // the user asked the command to stop before it was complete
};

// The result of an operation that can fail: a kind and a message that names the file or
// folder concerned. No exception leaves the core; everything that fails returns one of these.
class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status InvalidInput(std::string m) {
    return Status(ErrorKind::kInvalidInput, std::move(m));
  }
  static Status NotFound(std::string m) { return Status(ErrorKind::kNotFound, std::move(m)); }
  static Status Io(std::string m) { return Status(ErrorKind::kIo, std::move(m)); }
  static Status Refused(std::string m) { return Status(ErrorKind::kRefused, std::move(m)); }
  static Status Corrupt(std::string m) { return Status(ErrorKind::kCorrupt, std::move(m)); }
  static Status Stopped(std::string m) { return Status(ErrorKind::kStopped, std::move(m)); }

  bool ok() const { return kind_ == ErrorKind::kOk; }
  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  // A short title for a message box: "File Error", "Not Found", ...
  std::string Title() const;
  // Title and message as one line: "Not Found: The folder /x does not exist".
  std::string ToString() const;

 private:
  Status(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  ErrorKind kind_ = ErrorKind::kOk;
  std::string message_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT(google-explicit-constructor)
  Result(Status status) : status_(std::move(status)) {  // NOLINT(google-explicit-constructor)
    assert(!status_.ok());
  }
  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace quorvin

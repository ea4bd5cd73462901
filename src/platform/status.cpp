#include "platform/status.h"

namespace quorvin {

std::string Status::Title() const {
  switch (kind_) {
    case ErrorKind::kOk:
      return "OK";
    case ErrorKind::kInvalidInput:
      return "Invalid Input";
    case ErrorKind::kNotFound:
      return "Not Found";
    case ErrorKind::kIo:
      return "File Error";
    case ErrorKind::kRefused:
      return "Refused";
    case ErrorKind::kCorrupt:
      return "Damaged File";
    case ErrorKind::kStopped:
      return "Stopped";
  }
  return "Error";
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return Title() + ": " + message_;
}

}  // namespace quorvin

// The parts of the file operations that make no system call: error texts, the write buffer of
// AtomicFile, the helpers built on AtomicFile and ReadFileChunks, and LineReader's ownership.
// The system calls live in fileops_posix.cpp and fileops_win32.cpp.

#include "platform/fileops.h"

#include <cstdlib>
#include <cstring>

namespace quorvin {

namespace {

constexpr size_t kWriteBufferSize = size_t{64} * 1024;

}  // namespace

std::string ErrnoMessage(std::string_view verb, const std::string& path, int err) {
  std::string out = "Cannot ";
  out.append(verb);
  out.append(" ");
  out.append(path);
  out.append(": ");
  out.append(std::strerror(err));
  return out;
}

Result<std::string> ReadWholeFile(const std::string& path) {
  std::string out;
  Status s = ReadFileChunks(path, [&out](const uint8_t* p, size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
  });
  if (!s.ok()) return s;
  return out;
}

AtomicFile::AtomicFile(std::string path, std::string temp_path, int fd)
    : path_(std::move(path)), temp_path_(std::move(temp_path)), fd_(fd) {
  buffer_.reserve(kWriteBufferSize);
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : path_(std::move(other.path_)),
      temp_path_(std::move(other.temp_path_)),
      fd_(other.fd_),
      buffer_(std::move(other.buffer_)),
      error_(std::move(other.error_)) {
  other.fd_ = -1;
  other.temp_path_.clear();
}

Status AtomicFile::Write(std::string_view bytes) {
  if (!error_.ok()) return error_;
  if (fd_ < 0) return Status::Io("Cannot write " + path_ + ": the file is already closed");
  if (buffer_.size() + bytes.size() > kWriteBufferSize) {
    error_ = Flush();
    if (!error_.ok()) return error_;
  }
  if (bytes.size() >= kWriteBufferSize) {
    buffer_.assign(bytes);
    error_ = Flush();
    return error_;
  }
  buffer_.append(bytes);
  return Status::Ok();
}

Status AtomicFile::WriteLine(std::string_view line) {
  Status s = Write(line);
  if (!s.ok()) return s;
  return Write("\r\n");
}

Status WriteFileAtomic(const std::string& path, std::string_view content) {
  auto file = AtomicFile::Create(path);
  if (!file.ok()) return file.status();
  Status s = file->Write(content);
  if (!s.ok()) return s;
  return file->Commit();
}

Status CopyFileAtomic(const std::string& from, const std::string& to) {
  if (!Exists(from)) return Status::NotFound("The file " + from + " does not exist");
  auto out = AtomicFile::Create(to);
  if (!out.ok()) return out.status();
  Status written;
  Status read = ReadFileChunks(from, [&](const uint8_t* p, size_t n) {
    if (written.ok()) written = out->Write(std::string_view(reinterpret_cast<const char*>(p), n));
  });
  if (!read.ok()) return read;
  if (!written.ok()) return written;
  return out->Commit();
}

LineReader::LineReader(LineReader&& other) noexcept
    : path_(std::move(other.path_)),
      file_(other.file_),
      buf_(other.buf_),
      cap_(other.cap_),
      status_(std::move(other.status_)) {
  other.file_ = nullptr;
  other.buf_ = nullptr;
  other.cap_ = 0;
}

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buf_);
}

}  // namespace quorvin

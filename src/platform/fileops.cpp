// The parts of the file operations that make no system call: error texts, the write buffer of
// AtomicFile, the helpers built on AtomicFile and ReadFileChunks, and LineReader's ownership.
// The system calls live in fileops_posix.cpp and fileops_win32.cpp.

#include "platform/fileops.h"

#include <cstdlib>
#include <cstring>
#include <memory>

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
      error_(std::move(other.error_)),
      old_(std::move(other.old_)),
      wrote_(other.wrote_) {
  other.fd_ = -1;
  other.temp_path_.clear();
}

Status AtomicFile::Write(std::string_view bytes) {
  if (!error_.ok()) return error_;
  if (fd_ < 0) return Status::Io("Cannot write " + path_ + ": the file is already closed");
  wrote_ = true;
  if (buffer_.size() + bytes.size() > kWriteBufferSize) {
    CompareWithOld();
    error_ = Flush();
    if (!error_.ok()) return error_;
  }
  if (bytes.size() >= kWriteBufferSize) {
    buffer_.assign(bytes);
    CompareWithOld();
    error_ = Flush();
    return error_;
  }
  buffer_.append(bytes);
  return Status::Ok();
}

void AtomicFile::KeepIfSame() {
  if (old_ || wrote_) return;
  auto old = InputFile::Open(path_);
  if (old.ok()) old_.emplace(std::move(*old));
}

void AtomicFile::CompareWithOld() {
  if (!old_ || buffer_.empty()) return;
  std::unique_ptr<uint8_t[]> held(new uint8_t[buffer_.size()]);
  size_t got = 0;
  while (got < buffer_.size()) {
    auto n = old_->Read(held.get() + got, buffer_.size() - got);
    if (!n.ok() || *n == 0) break;
    got += *n;
  }
  if (got != buffer_.size() || std::memcmp(held.get(), buffer_.data(), got) != 0) old_.reset();
}

bool AtomicFile::UnchangedTarget() {
  CompareWithOld();
  bool same = false;
  if (old_) {
    uint8_t byte;
    auto n = old_->Read(&byte, 1);
    same = n.ok() && *n == 0;
  }
  old_.reset();
  return same;
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

#include "dat/prefetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/fileops.h"

namespace quorvin {

namespace {

constexpr size_t kSlots = 8;
constexpr size_t kChunk = size_t{256} * 1024;

}  // namespace

FilePrefetcher::FilePrefetcher(std::vector<std::string> paths)
    : paths_(std::move(paths)), slots_(kSlots) {
  for (Slot& s : slots_) s.buffer.reset(new uint8_t[kChunk]);
  reader_ = std::thread([this] { Produce(); });
}

FilePrefetcher::~FilePrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  reader_.join();
}

FilePrefetcher::Slot* FilePrefetcher::AcquireFree() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stop_ && filled_ >= kSlots) {
    reader_waiting_ = true;
    cv_.wait(lock);
  }
  reader_waiting_ = false;
  return stop_ ? nullptr : &slots_[tail_ % kSlots];
}

void FilePrefetcher::Publish() {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++tail_;
    ++filled_;
    wake = caller_waiting_;
  }
  if (wake) cv_.notify_all();
}

void FilePrefetcher::Produce() {
  for (const std::string& path : paths_) {
    Status error;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = errno == ENOENT ? Status::NotFound("The file " + path + " no longer exists")
                              : Status::Io(ErrnoMessage("read", path, errno));
    } else {
      // Reading stops at the length the file had when it was opened, which spares the
      // extra read that would only find the end.
      struct stat st;
      const uint64_t expected =
          ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : UINT64_MAX;
      uint64_t total = 0;
      while (true) {
        Slot* slot = AcquireFree();
        if (slot == nullptr) {
          ::close(fd);
          return;
        }
        size_t want = kChunk;
        if (expected - total < want) want = static_cast<size_t>(expected - total);
        ssize_t got = want == 0 ? 0 : ::read(fd, slot->buffer.get(), want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          error = Status::Io(ErrnoMessage("read", path, errno));
          break;
        }
        total += static_cast<uint64_t>(got);
        const bool last = got == 0 || total >= expected;
        slot->piece =
            Piece{Kind::kData, slot->buffer.get(), static_cast<size_t>(got), last, total, Status()};
        Publish();
        if (last) break;
      }
      ::close(fd);
    }
    if (!error.ok()) {
      Slot* slot = AcquireFree();
      if (slot == nullptr) return;
      slot->piece = Piece{Kind::kError, nullptr, 0, true, 0, error};
      Publish();
      return;  // nothing after a failed file
    }
  }
}

const FilePrefetcher::Piece& FilePrefetcher::Next() {
  std::unique_lock<std::mutex> lock(mu_);
  while (filled_ == 0) {
    caller_waiting_ = true;
    cv_.wait(lock);
  }
  caller_waiting_ = false;
  return slots_[head_ % kSlots].piece;
}

void FilePrefetcher::Release() {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++head_;
    --filled_;
    wake = reader_waiting_;
  }
  if (wake) cv_.notify_all();
}

}  // namespace quorvin

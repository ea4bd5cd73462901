#include "dat/prefetch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileops.h"

namespace quorvin {

namespace {

constexpr size_t kSlots = 8;
constexpr size_t kChunk = 256 * 1024;

}  // namespace

FilePrefetcher::FilePrefetcher(std::vector<std::string> paths) : paths_(std::move(paths)), slots_(kSlots) {
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

FilePrefetcher::Slot& FilePrefetcher::AcquireFree() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return stop_ || filled_ < kSlots; });
  return slots_[tail_ % kSlots];
}

void FilePrefetcher::Publish() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++tail_;
    ++filled_;
  }
  cv_.notify_all();
}

void FilePrefetcher::Produce() {
  auto stopping = [this] {
    std::lock_guard<std::mutex> lock(mu_);
    return stop_;
  };
  for (const std::string& path : paths_) {
    if (stopping()) return;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    Status error;
    uint64_t total = 0;
    if (fd < 0) {
      error = errno == ENOENT ? Status::NotFound("The file " + path + " no longer exists")
                              : Status::Io(ErrnoMessage("read", path, errno));
    } else {
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
      while (true) {
        Slot& slot = AcquireFree();
        if (stopping()) {
          ::close(fd);
          return;
        }
        ssize_t got = ::read(fd, slot.buffer.get(), kChunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          error = Status::Io(ErrnoMessage("read", path, errno));
          break;
        }
        if (got == 0) break;
        slot.piece = Piece{Kind::kData, slot.buffer.get(), static_cast<size_t>(got), 0, Status()};
        total += static_cast<uint64_t>(got);
        Publish();
      }
      ::close(fd);
    }
    Slot& slot = AcquireFree();
    if (stopping()) return;
    if (!error.ok()) {
      slot.piece = Piece{Kind::kError, nullptr, 0, 0, error};
      Publish();
      return;  // nothing after a failed file
    }
    slot.piece = Piece{Kind::kEnd, nullptr, 0, total, Status()};
    Publish();
  }
}

const FilePrefetcher::Piece& FilePrefetcher::Next() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return filled_ > 0; });
  return slots_[head_ % kSlots].piece;
}

void FilePrefetcher::Release() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++head_;
    --filled_;
  }
  cv_.notify_all();
}

}  // namespace quorvin

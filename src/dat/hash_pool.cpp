#include "dat/hash_pool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "dat/crc.h"
#include "platform/fileops.h"

namespace quorvin {

namespace {

// One read of this size takes a small file whole; a larger file goes in pieces of this size,
// each checksummed while it is still in the processor's cache.
constexpr size_t kChunk = size_t{256} * 1024;
// How many files the workers may run ahead of the caller, per worker.
constexpr size_t kAheadPerWorker = 32;

ParallelHasher::FileHash HashFile(const std::string& path, uint8_t* buffer, size_t keep_head) {
  ParallelHasher::FileHash out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    out.status = errno == ENOENT ? Status::NotFound("The file " + path + " no longer exists")
                                 : Status::Io(ErrnoMessage("read", path, errno));
    return out;
  }
  uint32_t reg = 0xFFFFFFFFu;
  uint64_t total = 0;
  while (true) {
    ssize_t got = ::read(fd, buffer, kChunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      out.status = Status::Io(ErrnoMessage("read", path, errno));
      break;
    }
    reg = Crc32Update(reg, buffer, static_cast<size_t>(got));
    if (out.head.size() < keep_head) {
      out.head.append(reinterpret_cast<const char*>(buffer),
                      std::min(static_cast<size_t>(got), keep_head - out.head.size()));
    }
    total += static_cast<uint64_t>(got);
    // The folder listing gives ordinary files only, and a read of an ordinary file comes back
    // short only at its end: a small file costs one read and no separate size query.
    if (static_cast<size_t>(got) < kChunk) break;
    // A large file: ask for a larger read-ahead, which helps when it is not cached.
    if (total == kChunk) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  ::close(fd);
  out.size = total;
  out.crc = ~reg;
  return out;
}

}  // namespace

Result<size_t> HashThreadCount(const char* setting, size_t cores) {
  if (setting == nullptr || *setting == '\0') {
    if (cores < 1) return size_t{1};
    return cores < kMaxHashThreads ? cores : kMaxHashThreads;
  }
  size_t n = 0;
  const char* end = setting + std::strlen(setting);
  auto [ptr, ec] = std::from_chars(setting, end, n);
  if (ec != std::errc() || ptr != end || n < 1 || n > kMaxHashThreads) {
    return Status::InvalidInput("QUORVIN_THREADS must be a whole number from 1 to " +
                                std::to_string(kMaxHashThreads) + ", not \"" +
                                std::string(setting) + "\"");
  }
  return n;
}

ParallelHasher::ParallelHasher(std::vector<std::string> paths, size_t threads, size_t keep_head)
    : paths_(std::move(paths)), keep_head_(keep_head) {
  if (threads < 1) threads = 1;
  if (threads > paths_.size()) threads = paths_.size();
  slots_.resize(threads > 0 ? threads * kAheadPerWorker : 1);
  workers_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ParallelHasher::~ParallelHasher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ParallelHasher::Work() {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    while (!stop_ && claimed_ < paths_.size() && claimed_ >= taken_ + slots_.size()) {
      ++workers_waiting_;
      work_cv_.wait(lock);
      --workers_waiting_;
    }
    if (stop_ || claimed_ >= paths_.size()) return;
    const size_t index = claimed_++;
    lock.unlock();
    FileHash hash = HashFile(paths_[index], buffer.get(), keep_head_);
    lock.lock();
    Slot& slot = slots_[index % slots_.size()];
    slot.hash = std::move(hash);
    slot.ready = true;
    if (caller_waiting_ && index == taken_) result_cv_.notify_one();
  }
}

ParallelHasher::FileHash ParallelHasher::Next() {
  std::unique_lock<std::mutex> lock(mu_);
  Slot& slot = slots_[taken_ % slots_.size()];
  while (!slot.ready) {
    caller_waiting_ = true;
    result_cv_.wait(lock);
  }
  caller_waiting_ = false;
  FileHash out = std::move(slot.hash);
  slot.ready = false;
  ++taken_;
  if (workers_waiting_ > 0) work_cv_.notify_one();
  return out;
}

}  // namespace quorvin

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cache/hash_cache.h"
#include "platform/status.h"

namespace quorvin {

// The number of hashing threads: `setting` is the value of QUORVIN_THREADS (nullptr or empty:
// not set), `cores` the number of processor cores. Not set: one per core, at least one and at
// most kMaxHashThreads. InvalidInput naming QUORVIN_THREADS for anything but a whole number
// from 1 to kMaxHashThreads.
inline constexpr size_t kMaxHashThreads = 64;
Result<size_t> HashThreadCount(const char* setting, size_t cores);

// How the hasher uses a CRC cache: none (nullptr); ask it first and record what is read; or,
// with `rehash`, read every file and record it afresh.
struct HashCacheUse {
  HashCache* cache = nullptr;
  bool rehash = false;
};

// Checksums a list of files on a few worker threads and hands the results back one by one in
// list order, so that the caller can write them exactly as a single thread would have. Each
// worker reads whole files into its own reused buffer with plain reads; the workers run at
// most a fixed number of files ahead of the caller, so memory stays bounded whatever the
// number and sizes of the files. Dropping the object stops the workers (a file being read is
// finished first) and waits for them.
//
// With a cache, each file is opened and its identity taken from the open file; a record of
// exactly that state gives the result without a byte being read, and a file that is read is
// recorded.
class ParallelHasher {
 public:
  // One rom of an archive: a member's name as stored, its size and CRC-32, and as many of its
  // first bytes as a header test needed (empty when none was made).
  struct MemberHash {
    std::string name;
    uint64_t size = 0;
    uint32_t crc = 0;
    std::string head;
  };
  struct FileHash {
    Status status;      // NotFound / Io naming the file when it cannot be opened or read
    uint64_t size = 0;  // bytes read
    uint32_t crc = 0;   // the finished CRC-32 of those bytes
    std::string head;   // the file's first bytes: `keep_head` of them, or all of a shorter file
    // With `keep_head` of 4 or more, for a file whose first four bytes carry a byte-order mark
    // (SwappedLayoutOf): the CRC-32 of its bytes in that order, from the same read.
    std::optional<uint32_t> swapped_crc;
    bool from_cache = false;  // the cache gave it: the file was not read
    // Filled by an archive reader instead of the four above: the archive's roms in its
    // order, what to warn about it, and whether it must keep its name (its contents were
    // not what its directory says, or could not all be listed).
    bool archive = false;
    std::vector<MemberHash> members;
    std::vector<std::string> problems;
    bool hold_back = false;
  };
  // Reads one source of roms into a FileHash, using `buffer` (kReadBuffer bytes) as it
  // likes; gives up early when `stop` is set (the result is then never looked at).
  static constexpr size_t kReadBuffer = size_t{256} * 1024;
  using Reader = std::function<FileHash(const std::string& path, uint8_t* buffer,
                                        const std::atomic<bool>& stop)>;

  // Loose files: each read whole and checksummed, keeping `keep_head` first bytes; with a
  // cache, as said above.
  ParallelHasher(std::vector<std::string> paths, size_t threads, size_t keep_head = 0,
                 HashCacheUse cache = HashCacheUse());
  // Any source: each path given to `reader` on a worker thread. The cache is not used.
  ParallelHasher(std::vector<std::string> paths, size_t threads, Reader reader);
  ~ParallelHasher();
  ParallelHasher(const ParallelHasher&) = delete;
  ParallelHasher& operator=(const ParallelHasher&) = delete;

  // The result for the next file of the list; blocks until it is ready. Must not be called
  // more often than the list has files. While it waits, `stop_requested` (when given) is
  // asked a few times a second: once it says true, the workers give up the files in hand and
  // the result is Stopped, whatever the file being read (a large file, a slow disk).
  // `waiting` (when given) is called on the caller's thread about every kWaitReport while it
  // waits, with the bytes read so far of the file it waits for and that file's size (0 while
  // not known: a file of one read is never measured).
  using WaitFunction = std::function<void(uint64_t read, uint64_t size)>;
  static constexpr std::chrono::milliseconds kWaitReport{100};
  FileHash Next(const std::function<bool()>& stop_requested = {}, const WaitFunction& waiting = {});

 private:
  ParallelHasher(std::vector<std::string> paths, size_t threads, Reader reader, size_t keep_head,
                 HashCacheUse cache);
  // What a worker read, for the cache: recorded by the caller's thread in Next(), so that the
  // workers never wait for the cache's writes.
  struct ToRecord {
    CacheKey key;
    FileIdentity after;
    int64_t taken_at_ns = 0;
  };
  struct Slot {
    FileHash hash;
    std::optional<ToRecord> record;
    std::atomic<bool> ready{false};
    // The file being read into this slot: bytes so far, and its size once it is known.
    std::atomic<uint64_t> read{0};
    std::atomic<uint64_t> size{0};
  };
  void Work();
  // True when the results the caller waits for are all ready. Exact with mu_ held; without,
  // a worker's hint, checked again with mu_ held before anyone sleeps on it.
  bool BatchReady() const;

  std::vector<std::string> paths_;
  Reader reader_;  // empty for loose files, which go through the cache
  size_t keep_head_ = 0;
  HashCacheUse cache_;
  // File i's result lives in slots_[i % slot_count_]; the workers run at most slot_count_
  // files ahead of the caller.
  size_t slot_count_ = 1;
  std::unique_ptr<Slot[]> slots_;
  // Taken by the workers for every file: on a cache line of its own, away from what the
  // caller writes and the workers read.
  alignas(64) std::atomic<size_t> claimed_{0};  // files handed to workers
  alignas(64) std::atomic<size_t> taken_{0};    // results taken by the caller
  std::atomic<bool> stop_{false};
  // Sleeping and waking go through mu_ and cost system calls, so each side sleeps only when
  // it must and is woken only when it has something to do: a worker when there is room
  // ahead, the caller when a batch of results is ready (not for every file).
  std::atomic<size_t> workers_waiting_{0};
  std::atomic<bool> caller_waiting_{false};
  size_t batch_ = 1;                  // results the caller waits for at once, when it waits
  std::atomic<size_t> batch_end_{0};  // the caller waits for results [taken_, batch_end_)
  std::mutex mu_;
  std::condition_variable work_cv_;
  std::condition_variable result_cv_;
  std::vector<std::thread> workers_;
};

}  // namespace quorvin

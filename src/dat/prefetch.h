#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/status.h"

namespace quorvin {

// Reads a list of files one after another on a second thread, a few chunks ahead of the
// caller, so that reading (system calls and the copy out of the page cache) overlaps the
// checksum loop. Memory stays at a fixed number of chunk buffers whatever the file sizes.
// The caller takes pieces in order: the data chunks of the first file, the last of them
// marked and carrying the number of bytes read (an empty file is one empty last chunk), then
// the second file, and so on. A file that cannot be opened or read gives an error piece
// naming it, and nothing comes after it.
class FilePrefetcher {
 public:
  enum class Kind { kData, kError };
  struct Piece {
    Kind kind = Kind::kData;
    const uint8_t* data = nullptr;
    size_t size = 0;         // bytes in this chunk
    bool last = false;       // the file's last chunk
    uint64_t file_size = 0;  // bytes of the whole file (on the last chunk)
    Status status;           // kError
  };

  explicit FilePrefetcher(std::vector<std::string> paths);
  ~FilePrefetcher();
  FilePrefetcher(const FilePrefetcher&) = delete;
  FilePrefetcher& operator=(const FilePrefetcher&) = delete;

  // The next piece; valid until Release. Must not be called past the last file's end.
  const Piece& Next();
  // Hands the piece returned by Next back, so that its buffer can be filled again.
  void Release();

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> buffer;
    Piece piece;
  };
  void Produce();
  Slot* AcquireFree();  // blocks until a slot is free; nullptr when stopping
  void Publish();

  std::vector<std::string> paths_;
  std::vector<Slot> slots_;
  size_t head_ = 0;    // next slot the caller reads
  size_t tail_ = 0;    // next slot the reader fills
  size_t filled_ = 0;  // slots published and not yet released
  bool stop_ = false;
  // Who sleeps on cv_: the other side is woken only then, so a pipeline that keeps flowing
  // costs no system call per piece.
  bool reader_waiting_ = false;
  bool caller_waiting_ = false;
  std::mutex mu_;
  std::condition_variable cv_;
  std::thread reader_;
};

}  // namespace quorvin

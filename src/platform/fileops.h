#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

// File operations of the platform. Every failure comes back as a Status whose message names
// the file or folder concerned; nothing here shows a message or throws.
namespace quorvin {

bool Exists(const std::string& path);
// True for an existing ordinary file (links followed).
bool IsFile(const std::string& path);
// True for an existing folder (links followed). A folder written with or without its
// trailing separator is the same folder.
bool IsFolder(const std::string& path);

// Length in bytes. NotFound when the file is missing, Io when it cannot be queried.
Result<uint64_t> FileLength(const std::string& path);

// Creates one folder (its parent must exist). Ok when the folder exists already; Io naming it
// when it cannot be made.
Status MakeFolder(const std::string& path);

// One state of one file: which file it is (device and file number) and its size and times.
// Two identities that are equal describe the same file, unchanged, as long as nothing set
// its times back; a file written again gets a new change time (`ctime_ns`), which no program
// can set back.
struct FileIdentity {
  uint64_t device = 0;   // st_dev; on Windows the volume serial number
  uint64_t file_id = 0;  // st_ino; on Windows the file index
  uint64_t size = 0;     // bytes
  int64_t mtime_ns = 0;  // last write, nanoseconds since 1970 (UTC)
  int64_t ctime_ns = 0;  // last change of content or status (on Windows ChangeTime), likewise
  bool operator==(const FileIdentity&) const = default;
};

// A file opened for reading from its start, piece after piece. Other programs may go on
// reading, writing, renaming or deleting the file meanwhile.
class InputFile {
 public:
  // NotFound when the file is missing, Io naming it when it cannot be opened or is not a
  // regular file (a named pipe, a device, a folder; on Windows, a handle that is not a disk
  // file). The open never waits, and the check is made on the opened file itself, so a name
  // swapped for a pipe or a device after a listing is refused before a byte is read.
  static Result<InputFile> Open(const std::string& path);
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  ~InputFile();

  // Reads up to `size` bytes; the number read, 0 at the end of the file. Io naming the file.
  Result<size_t> Read(uint8_t* buffer, size_t size);
  // Says that the file will be read from start to end (a larger read-ahead).
  void ReadingWhole();
  // The identity of the open file, asked of the open descriptor or handle (not of its name,
  // which another program may have pointed at another file meanwhile). Io naming the file.
  Result<FileIdentity> Identity() const;
  // The identity of the open file as it was when opened: where the open already asked for
  // it (POSIX, to check the file is a regular one), at no cost; elsewhere, Identity().
  Result<FileIdentity> IdentityAtOpen() const;
  // The identity that tells, later, whether the file still holds what was read from it since
  // the open. On POSIX every write moves the file's change time when it is made, so one that
  // came during the read shows to whoever asks next (IsRacy covers a write in the same tick):
  // the identity at open, at no cost. On Windows, where times may follow later, asked again
  // now. Io naming the file.
  Result<FileIdentity> IdentityAfterRead() const;
  // The file's size when it was opened, where the open learnt it at no cost (POSIX); else
  // nothing.
  std::optional<uint64_t> SizeAtOpen() const {
    return at_open_ ? std::optional<uint64_t>(at_open_->size) : std::nullopt;
  }

 private:
  friend class FolderHandle;
  InputFile(std::string path, intptr_t handle) : path_(std::move(path)), handle_(handle) {}
  std::string path_;
  intptr_t handle_ = -1;  // a descriptor or a handle, by platform
  std::optional<FileIdentity> at_open_;
};

// The identity of the regular file `path` names now, asked of the name without opening the
// file (links are followed, as an open would). NotFound when nothing is there, Io naming the
// file when it cannot be asked or is not a regular file. Cheaper than opening; for a lookup
// that reads nothing: what is read must be checked with InputFile::Identity.
Result<FileIdentity> RegularFileIdentity(const std::string& path);

// A folder held open, so that its files can be asked about by name alone: the system does not
// walk the folder's whole path again for each, which is a third of what asking costs. On
// Windows it keeps the folder's path and asks by the whole path. The handle holds the folder
// it opened: one renamed away and replaced while held is still the one asked about.
class FolderHandle {
 public:
  // Holds `folder` open. One that cannot be opened still answers, by the whole path.
  explicit FolderHandle(std::string folder);
  ~FolderHandle();
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  const std::string& folder() const { return folder_; }
  // RegularFileIdentity of the file called `name` (a plain name, no separator) in the folder.
  Result<FileIdentity> RegularFileIdentity(const char* name) const;
  // InputFile::Open of `path`, a file of this folder whose plain name starts at `name_at`,
  // opened by that name in the folder held (by the whole path when that fails). Messages name
  // `path`.
  Result<InputFile> Open(const std::string& path, size_t name_at) const;

 private:
  std::string folder_;
  int fd_ = -1;
};

// Reads a file in fixed-size chunks (memory stays small whatever its size) and hands each to
// `consume`. NotFound / Io naming the file when it cannot be opened or read, or is not a
// regular file (as InputFile::Open).
Status ReadFileChunks(const std::string& path,
                      const std::function<void(const uint8_t*, size_t)>& consume);

// The whole content of a file. NotFound / Io as FileLength.
Result<std::string> ReadWholeFile(const std::string& path);

// Checks that `path` can be replaced by a new file: its folder exists, it is not a folder and
// it is not read-only. Does not touch the file system.
Status CheckReplaceable(const std::string& path);

// Writes a file whole or not at all: the bytes go to a hidden temporary file in the target's
// folder, which is renamed over the target only by Commit. Until then, and whenever a step
// fails, the old file is left exactly as it was; a writer destroyed without Commit removes its
// temporary file. The new file keeps the permissions of the file it replaces.
class AtomicFile {
 public:
  // Fails (naming the path) when CheckReplaceable fails or the temporary file cannot be made.
  static Result<AtomicFile> Create(const std::string& path);
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  ~AtomicFile();

  Status Write(std::string_view bytes);
  // Appends the line and CR LF.
  Status WriteLine(std::string_view line);
  // Flushes, syncs and renames the temporary file over the target. Then removes the
  // temporary files of earlier writes of the same file that were killed before their rename
  // (".<name>.quorvin-XXXXXX" in the same folder).
  Status Commit();
  // Asked before the first Write: when what is written turns out to be exactly what the
  // target already holds, Commit leaves the target as it is (its times too) and drops the new
  // copy. For the files the program rewrites on every run (its temporary dat), which a re-run
  // over an unchanged collection would otherwise flush to the disk and rename for nothing.
  void KeepIfSame();
  const std::string& path() const { return path_; }

 private:
  AtomicFile(std::string path, std::string temp_path, int fd);
  Status Flush();
  // Compares what is buffered with the next bytes of old_, and lets old_ go at a difference.
  // Called before every Flush of the buffer.
  void CompareWithOld();
  // For Commit: true when old_ held exactly the bytes written, to its end.
  bool UnchangedTarget();
  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
  std::string buffer_;
  Status error_;                  // the first write failure; Commit reports it
  std::optional<InputFile> old_;  // the target as it was, while the new bytes match it
  bool wrote_ = false;            // Write was called: too late for KeepIfSame
};

// Replaces `path` with `content` atomically.
Status WriteFileAtomic(const std::string& path, std::string_view content);
// Copies `from` over `to` atomically: `to` is either the old file or a whole copy.
Status CopyFileAtomic(const std::string& from, const std::string& to);

// Renames in one atomic step and never replaces another file. When a file of the new name
// already exists the rename is refused (ErrorKind::kRefused), unless it is the very same file
// (a change of letter case on a case-insensitive file system), which is renamed in place.
Status RenameNoReplace(const std::string& from, const std::string& to);

// Renames `from` to `to`, replacing a file of that name. For files of the program's own (the
// CRC cache), never for the user's. Io naming `from`.
Status RenameReplacing(const std::string& from, const std::string& to);
// Deletes a file; Ok when there is none. Io naming it.
Status RemoveFile(const std::string& path);

// Reads a text file line by line. Lines may end in CR LF or LF; the line end is not part of
// the line. NUL bytes and lines of any length are kept as they are.
class LineReader {
 public:
  static Result<LineReader> Open(const std::string& path);
  LineReader(LineReader&& other) noexcept;
  LineReader& operator=(LineReader&&) = delete;
  LineReader(const LineReader&) = delete;
  ~LineReader();
  // Reads the next line into `line`; false at the end of the file or on a read error
  // (status() then says which).
  bool Next(std::string& line);
  const Status& status() const { return status_; }

 private:
  LineReader(std::string path, FILE* f) : path_(std::move(path)), file_(f) {}
  std::string path_;
  FILE* file_ = nullptr;
  char* buf_ = nullptr;
  size_t cap_ = 0;
  Status status_;
};

// "Cannot <verb> <path>: <reason of errno>".
std::string ErrnoMessage(std::string_view verb, const std::string& path, int err);

}  // namespace quorvin

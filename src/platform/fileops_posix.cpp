#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/fileops.h"
#include "platform/path.h"

namespace quorvin {

namespace {

constexpr size_t kReadChunk = size_t{256} * 1024;

constexpr std::string_view kTempMarker = ".quorvin-";
constexpr size_t kTempSuffixLength = 6;  // the XXXXXX of mkostemp

// The hidden temporary file an AtomicFile for `path` writes: ".<name>.quorvin-XXXXXX".
std::string TempPrefix(const std::string& path) {
  return "." + std::string(FileNameOf(path)) + std::string(kTempMarker);
}

// A temporary file younger than this is never taken for a killed write's: it may belong to
// a writer that has just made it and not yet locked it.
constexpr time_t kStaleAgeSeconds = 60;

// Removes the temporary files that writes of `path` killed before their rename left behind.
// Called once a write of `path` has succeeded. Another process may be writing the same file
// at this moment (two runs sharing a program folder): its temporary file is locked from its
// making until its rename, and the lock goes with the process, so a file whose lock we can
// take, and that has not been touched for a while, is a dead writer's.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = TempPrefix(path);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (dirent* e = ::readdir(dir)) {
    std::string_view name = e->d_name;
    if (name.size() == prefix.size() + kTempSuffixLength && name.starts_with(prefix)) {
      stale.emplace_back(name);
    }
  }
  ::closedir(dir);
  const time_t now = ::time(nullptr);
  for (const std::string& name : stale) {
    const std::string p = JoinPath(folder, name);
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= kStaleAgeSeconds &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlink(p.c_str());
    }
    ::close(fd);
  }
}

// What a file that is not a regular one is, for messages.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something else";
}

// Opens a regular file for reading. The open never waits (a named pipe without a writer
// would block it for good, a terminal could become ours) and what was opened is checked on
// the descriptor itself, so that a file swapped for a pipe, a device or a link to one after
// it was listed is refused before a byte is read. The descriptor stays non-blocking: that has
// no effect on reads of a regular file, and ReadSome makes it blocking in the one case it
// would (a read that says it would have to wait), which saves a call for every file.
// Opens `name` in the folder `dir` (or AT_FDCWD) for reading, refusing anything but a regular
// file; `st` receives the stat of the opened file. Messages name `path`, the file's whole path.
Result<int> OpenRegularFileAt(int dir, const char* name, const std::string& path, struct stat& st) {
  int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(ErrnoMessage("read", path, errno));
  }
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Status::Io(ErrnoMessage("read", path, err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::Io("Cannot read " + path + ": it is " + KindOf(st.st_mode) +
                      ", not a regular file");
  }
  return fd;
}

Result<int> OpenRegularFile(const std::string& path, struct stat& st) {
  return OpenRegularFileAt(AT_FDCWD, path.c_str(), path, st);
}

// A read of a descriptor opened by OpenRegularFile: retried after a signal, and made blocking
// when a file system would rather not wait (as a FUSE one may). -1 with errno on failure.
ssize_t ReadSome(int fd, uint8_t* buffer, size_t size) {
  while (true) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_NONBLOCK) == 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      errno = EAGAIN;
      return -1;
    }
  }
}

mode_t CurrentUmask() {
  mode_t m = umask(0);
  umask(m);
  return m;
}

}  // namespace

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<uint64_t> FileLength(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(ErrnoMessage("read", path, errno));
  }
  if (S_ISDIR(st.st_mode)) return Status::Io("Cannot read " + path + ": it is a folder");
  return static_cast<uint64_t>(st.st_size);
}

Status MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsFolder(path))) return Status::Ok();
  return Status::Io(ErrnoMessage("create the folder", path, errno));
}

namespace {

FileIdentity IdentityOfStat(const struct stat& st) {
  constexpr int64_t kNs = 1000000000;
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.file_id = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
  id.ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * kNs + st.st_ctim.tv_nsec;
  return id;
}

}  // namespace

Result<InputFile> InputFile::Open(const std::string& path) {
  struct stat st;
  auto fd = OpenRegularFile(path, st);
  if (!fd.ok()) return fd.status();
  InputFile file(path, *fd);
  file.at_open_ = IdentityOfStat(st);
  return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_), at_open_(other.at_open_) {
  other.handle_ = -1;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

Result<size_t> InputFile::Read(uint8_t* buffer, size_t size) {
  const ssize_t got = ReadSome(static_cast<int>(handle_), buffer, size);
  if (got < 0) return Status::Io(ErrnoMessage("read", path_, errno));
  return static_cast<size_t>(got);
}

void InputFile::ReadingWhole() {
  (void)::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

Result<FileIdentity> InputFile::IdentityAtOpen() const {
  if (at_open_) return *at_open_;
  return Identity();
}

Result<FileIdentity> InputFile::IdentityAfterRead() const { return IdentityAtOpen(); }

Result<FileIdentity> InputFile::Identity() const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    return Status::Io(ErrnoMessage("read", path_, errno));
  }
  return IdentityOfStat(st);
}

Result<FileIdentity> RegularFileIdentity(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(ErrnoMessage("read", path, errno));
  }
  if (!S_ISREG(st.st_mode)) return Status::Io("The file " + path + " is not a regular file");
  return IdentityOfStat(st);
}

FolderHandle::FolderHandle(std::string folder) : folder_(std::move(folder)) {
  // O_PATH: a folder that may be searched but not listed can still be held.
  fd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

Result<FileIdentity> FolderHandle::RegularFileIdentity(const char* name) const {
  struct stat st;
  if (fd_ < 0 || ::fstatat(fd_, name, &st, 0) != 0) {
    // Asked again by the whole path, for its message (and when the folder would not open).
    return quorvin::RegularFileIdentity(JoinPath(folder_, name));
  }
  if (!S_ISREG(st.st_mode)) {
    return Status::Io("The file " + JoinPath(folder_, name) + " is not a regular file");
  }
  return IdentityOfStat(st);
}

Result<InputFile> FolderHandle::Open(const std::string& path, size_t name_at) const {
  if (fd_ < 0) return InputFile::Open(path);
  struct stat st;
  auto fd = OpenRegularFileAt(fd_, path.c_str() + name_at, path, st);
  // Opened again by the whole path when the held folder would not give it (a handle gone
  // stale on a network file system, a folder made anew since it was opened): as before there
  // was a handle, and for the message that names what is there now.
  if (!fd.ok()) return InputFile::Open(path);
  InputFile file(path, *fd);
  file.at_open_ = IdentityOfStat(st);
  return file;
}

Status ReadFileChunks(const std::string& path,
                      const std::function<void(const uint8_t*, size_t)>& consume) {
  struct stat st;
  auto opened = OpenRegularFile(path, st);
  if (!opened.ok()) return opened.status();
  const int fd = *opened;
  // One buffer per thread, reused for every file: no allocation per file.
  thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  while (true) {
    const ssize_t got = ReadSome(fd, buffer.get(), kReadChunk);
    if (got < 0) {
      const int err = errno;
      ::close(fd);
      return Status::Io(ErrnoMessage("read", path, err));
    }
    if (got == 0) break;
    consume(buffer.get(), static_cast<size_t>(got));
  }
  ::close(fd);
  return Status::Ok();
}

Status CheckReplaceable(const std::string& path) {
  if (path.empty()) return Status::InvalidInput("No file name was given");
  std::string folder = FolderOf(path);
  if (!IsFolder(folder)) return Status::NotFound("The folder " + folder + " does not exist");
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Status::InvalidInput(path + " is a folder, not a file");
    // The write bits decide, not access(): a run as root must not overwrite a file its owner
    // marked read-only.
    if ((st.st_mode & 0222) == 0) return Status::Io("The file " + path + " is read-only");
  }
  return Status::Ok();
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

Result<AtomicFile> AtomicFile::Create(const std::string& path) {
  Status s = CheckReplaceable(path);
  if (!s.ok()) return s;
  std::string folder = FolderOf(path);
  std::string temp = JoinPath(folder, TempPrefix(path) + std::string(kTempSuffixLength, 'X'));
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Status::Io(ErrnoMessage("write in the folder", folder, errno));
  // Marks the file as a live writer's for RemoveStaleTemporaries in other processes. A file
  // system without locks leaves only the age to protect it.
  ::flock(fd, LOCK_EX | LOCK_NB);
  struct stat st;
  mode_t mode = (::stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  ::fchmod(fd, mode);
  return AtomicFile(path, temp, fd);
}

Status AtomicFile::Flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Io(ErrnoMessage("write", path_, errno));
    }
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  return Status::Ok();
}

Status AtomicFile::Commit() {
  if (!error_.ok()) return error_;
  if (fd_ < 0) return Status::Io("Cannot write " + path_ + ": the file is already closed");
  if (UnchangedTarget()) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    RemoveStaleTemporaries(path_);
    return Status::Ok();
  }
  Status s = Flush();
  if (!s.ok()) return s;
  if (::fsync(fd_) != 0) return Status::Io(ErrnoMessage("write", path_, errno));
  // Renamed while still open, so its lock holds until it has its final name.
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    return Status::Io(ErrnoMessage("replace", path_, errno));
  }
  temp_path_.clear();
  // The data is on the disk (fsync above); a failing close cannot take it back.
  ::close(fd_);
  fd_ = -1;
  RemoveStaleTemporaries(path_);
  return Status::Ok();
}

Status RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Status::Ok();
  }
  int err = errno;
  if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
    // The file system has no no-replace rename: a hard link refuses an existing name just
    // as well, and the old name goes only once the new one is in place.
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) != 0) return Status::Io(ErrnoMessage("rename", from, errno));
      return Status::Ok();
    }
    err = errno;
  }
  if (err == EEXIST) {
    struct stat a, b;
    if (::stat(from.c_str(), &a) == 0 && ::stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino) {
      // One file under two spellings: a case-insensitive file system. Rename in place.
      if (::rename(from.c_str(), to.c_str()) == 0) return Status::Ok();
      return Status::Io(ErrnoMessage("rename", from, errno));
    }
    return Status::Refused("Cannot rename " + from + ": " + to + " already exists");
  }
  if (err == ENOENT && !Exists(from))
    return Status::NotFound("The file " + from + " no longer exists");
  return Status::Io(ErrnoMessage("rename", from, err));
}

Status RenameReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return Status::Ok();
  return Status::Io(ErrnoMessage("rename", from, errno));
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return Status::Io(ErrnoMessage("delete", path, errno));
}

Result<LineReader> LineReader::Open(const std::string& path) {
  if (IsFolder(path)) return Status::Io("Cannot read " + path + ": it is a folder");
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno == ENOENT) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(ErrnoMessage("open", path, errno));
  }
  return LineReader(path, f);
}

bool LineReader::Next(std::string& line) {
  if (file_ == nullptr) return false;
  ssize_t n = ::getline(&buf_, &cap_, file_);
  if (n < 0) {
    if (std::ferror(file_)) status_ = Status::Io(ErrnoMessage("read", path_, errno));
    return false;
  }
  size_t len = static_cast<size_t>(n);
  if (len > 0 && buf_[len - 1] == '\n') {
    --len;
    if (len > 0 && buf_[len - 1] == '\r') --len;
  }
  line.assign(buf_, len);
  return true;
}

}  // namespace quorvin

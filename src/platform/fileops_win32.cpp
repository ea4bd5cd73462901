// File operations on Windows. Every path goes through the wide-character API (WidePath), so
// names outside the ANSI code page work; texts stay UTF-8 everywhere else.

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/fileops.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/wide_win32.h"

namespace quorvin {

namespace {

constexpr size_t kReadChunk = size_t{256} * 1024;

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(WidePath(path).c_str());
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH ||
         error == ERROR_INVALID_DRIVE || error == ERROR_DIRECTORY;
}

// Opens an existing file for reading, sharing it with every other use: a ROM file may be open
// in an emulator or a viewer while we read it.
HANDLE OpenForReading(const std::string& path, DWORD* error) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  *error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  return h;
}

Status OpenFailure(const std::string& path, DWORD error) {
  if (IsMissing(error)) return Status::NotFound("The file " + path + " does not exist");
  if (error == ERROR_ACCESS_DENIED && IsFolder(path)) {
    return Status::Io("Cannot read " + path + ": it is a folder");
  }
  return Status::Io(Win32Message("read", path, error));
}

// The identity of a file: two names of one file give the same.
bool IdentityOfPath(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h =
      CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return IdentityOfPath(a, &x) && IdentityOfPath(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

constexpr std::string_view kTempMarker = ".quorvin-";
constexpr size_t kTempSuffixLength = 6;

// A name for a temporary file beside `path`: ".<name><tag>" and six random letters or digits.
std::string TempNameBeside(const std::string& path, std::string_view tag) {
  static thread_local std::mt19937_64 random{std::random_device{}() ^
                                             static_cast<uint64_t>(GetTickCount64())};
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = "." + std::string(FileNameOf(path)) + std::string(tag);
  for (size_t i = 0; i < kTempSuffixLength; ++i) name.push_back(kDigits[random() % 36]);
  return JoinPath(FolderOf(path), name);
}

// A temporary file written to less than this long ago (in 100 ns units: 60 s) is never taken
// for a killed write's: another process may be between closing and renaming it.
constexpr uint64_t kStaleAge = uint64_t{60} * 10'000'000;

uint64_t FileTimeValue(const FILETIME& t) {
  return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

// Removes the temporary files that writes of `path` killed before their rename left behind.
// Called once a write of `path` has succeeded. Another process may be writing the same file
// at this moment (two runs sharing a program folder): while it writes, its file is open
// without delete sharing and cannot be removed, and between its close and its rename the
// file is younger than kStaleAge.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = "." + std::string(FileNameOf(path)) + std::string(kTempMarker);
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(WidePath(JoinPath(folder, prefix + "*")).c_str(), FindExInfoBasic,
                              &data, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return;
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  const uint64_t now = FileTimeValue(now_time);
  std::vector<std::string> stale;
  do {
    // The system's pattern also matches short names: check the whole name again. Folders
    // and links are never ours.
    const std::string name = Narrow(data.cFileName);
    constexpr DWORD kNotOurs = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((data.dwFileAttributes & kNotOurs) == 0 &&
        name.size() == prefix.size() + kTempSuffixLength && name.starts_with(prefix) &&
        FileTimeValue(data.ftLastWriteTime) + kStaleAge <= now) {
      stale.push_back(name);
    }
  } while (FindNextFileW(h, &data));
  FindClose(h);
  for (const std::string& name : stale) {
    const std::wstring p = WidePath(JoinPath(folder, name));
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only one refuses deletion
    DeleteFileW(p.c_str());
  }
}

// The name of the entry `path` names, as written on disk ("" when there is none).
std::string OnDiskName(const std::string& path) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(WidePath(path).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                              nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  FindClose(h);
  return Narrow(data.cFileName);
}

}  // namespace

bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFile(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES &&
         (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsFolder(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Result<uint64_t> FileLength(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
    DWORD error = path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
    if (IsMissing(error)) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(Win32Message("read", path, error));
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return Status::Io("Cannot read " + path + ": it is a folder");
  }
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Status MakeFolder(const std::string& path) {
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return Status::Ok();
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS && IsFolder(path)) return Status::Ok();
  return Status::Io(Win32Message("create the folder", path, error));
}

Result<InputFile> InputFile::Open(const std::string& path) {
  DWORD error;
  HANDLE h = OpenForReading(path, &error);
  if (h == INVALID_HANDLE_VALUE) return OpenFailure(path, error);
  // Checked on the handle itself, before a byte is read: a name that now leads to a pipe, a
  // console or another device could make a read wait for good.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return Status::Io("Cannot read " + path + ": it is a pipe or a device, not a regular file");
  }
  return InputFile(path, reinterpret_cast<intptr_t>(h));
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_), at_open_(other.at_open_) {
  other.handle_ = -1;
}

InputFile::~InputFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Result<size_t> InputFile::Read(uint8_t* buffer, size_t size) {
  // ReadFile takes at most 4 GiB less one byte at a time.
  const DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) {
    return Status::Io(Win32Message("read", path_, GetLastError()));
  }
  return static_cast<size_t>(got);
}

// FILE_FLAG_SEQUENTIAL_SCAN at the open already asks for the larger read-ahead.
void InputFile::ReadingWhole() {}

namespace {

// A FILETIME count (100 ns since 1601) as nanoseconds since 1970.
int64_t UnixNanoseconds(uint64_t filetime) {
  constexpr uint64_t k1601To1970 = 116444736000000000ull;
  return (static_cast<int64_t>(filetime) - static_cast<int64_t>(k1601To1970)) * 100;
}

uint64_t Join32(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

}  // namespace

namespace {

Result<FileIdentity> IdentityOfHandle(HANDLE h, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    return Status::Io(Win32Message("read", path, GetLastError()));
  }
  // The change time (content or attributes) is only in FILE_BASIC_INFO.
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    return Status::Io(Win32Message("read", path, GetLastError()));
  }
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.file_id = Join32(info.nFileIndexHigh, info.nFileIndexLow);
  id.size = Join32(info.nFileSizeHigh, info.nFileSizeLow);
  id.mtime_ns = UnixNanoseconds(static_cast<uint64_t>(basic.LastWriteTime.QuadPart));
  id.ctime_ns = UnixNanoseconds(static_cast<uint64_t>(basic.ChangeTime.QuadPart));
  return id;
}

}  // namespace

// The open asks nothing of the file's identity here: it is asked now.
Result<FileIdentity> InputFile::IdentityAtOpen() const { return Identity(); }

Result<FileIdentity> InputFile::IdentityAfterRead() const { return Identity(); }

Result<FileIdentity> InputFile::Identity() const {
  return IdentityOfHandle(reinterpret_cast<HANDLE>(handle_), path_);
}

Result<FileIdentity> RegularFileIdentity(const std::string& path) {
  // Opened for its attributes only: no read access is asked, so no other program's sharing
  // is in the way, and a folder cannot be opened this way.
  HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
      return Status::NotFound("The file " + path + " does not exist");
    }
    return Status::Io(Win32Message("read", path, err));
  }
  Result<FileIdentity> id =
      GetFileType(h) == FILE_TYPE_DISK
          ? IdentityOfHandle(h, path)
          : Result<FileIdentity>(Status::Io("The file " + path + " is not a regular file"));
  CloseHandle(h);
  return id;
}

// Windows asks for a file's identity by opening it; its path is walked either way.
FolderHandle::FolderHandle(std::string folder) : folder_(std::move(folder)) {}

FolderHandle::~FolderHandle() = default;

Result<InputFile> FolderHandle::Open(const std::string& path, size_t name_at) const {
  (void)name_at;
  return InputFile::Open(path);
}

Result<FileIdentity> FolderHandle::RegularFileIdentity(const char* name) const {
  return quorvin::RegularFileIdentity(JoinPath(folder_, name));
}

Status ReadFileChunks(const std::string& path,
                      const std::function<void(const uint8_t*, size_t)>& consume) {
  auto file = InputFile::Open(path);
  if (!file.ok()) return file.status();
  // One buffer per thread, reused for every file: no allocation per file.
  thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  while (true) {
    auto got = file->Read(buffer.get(), kReadChunk);
    if (!got.ok()) return got.status();
    if (*got == 0) break;
    consume(buffer.get(), *got);
  }
  return Status::Ok();
}

Status CheckReplaceable(const std::string& path) {
  if (path.empty()) return Status::InvalidInput("No file name was given");
  std::string folder = FolderOf(path);
  if (!IsFolder(folder)) return Status::NotFound("The folder " + folder + " does not exist");
  DWORD a = Attributes(path);
  if (a != INVALID_FILE_ATTRIBUTES) {
    if (a & FILE_ATTRIBUTE_DIRECTORY)
      return Status::InvalidInput(path + " is a folder, not a file");
    if (a & FILE_ATTRIBUTE_READONLY) return Status::Io("The file " + path + " is read-only");
  }
  return Status::Ok();
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::_close(fd_);
  if (!temp_path_.empty()) DeleteFileW(WidePath(temp_path_).c_str());
}

Result<AtomicFile> AtomicFile::Create(const std::string& path) {
  Status s = CheckReplaceable(path);
  if (!s.ok()) return s;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TempNameBeside(path, kTempMarker);
    int fd = -1;
    errno_t err = ::_wsopen_s(&fd, WidePath(temp).c_str(),
                              _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                              _S_IREAD | _S_IWRITE);
    if (err == EEXIST) continue;
    if (err != 0) return Status::Io(ErrnoMessage("write in the folder", FolderOf(path), err));
    // Hidden while it is being written, like a dot-file elsewhere: a folder listing made
    // meanwhile does not offer it as a ROM or an artwork file.
    SetFileAttributesW(WidePath(temp).c_str(), FILE_ATTRIBUTE_HIDDEN);
    return AtomicFile(path, temp, fd);
  }
  return Status::Io("Cannot write in the folder " + FolderOf(path) +
                    ": no free name for a temporary file");
}

Status AtomicFile::Flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    const size_t left = buffer_.size() - done;
    const unsigned chunk = left > (1u << 30) ? (1u << 30) : static_cast<unsigned>(left);
    int n = ::_write(fd_, buffer_.data() + done, chunk);
    if (n < 0) return Status::Io(ErrnoMessage("write", path_, errno));
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  return Status::Ok();
}

Status AtomicFile::Commit() {
  if (!error_.ok()) return error_;
  if (fd_ < 0) return Status::Io("Cannot write " + path_ + ": the file is already closed");
  if (UnchangedTarget()) {
    ::_close(fd_);
    fd_ = -1;
    DeleteFileW(WidePath(temp_path_).c_str());
    temp_path_.clear();
    RemoveStaleTemporaries(path_);
    return Status::Ok();
  }
  Status s = Flush();
  if (!s.ok()) return s;
  if (::_commit(fd_) != 0) return Status::Io(ErrnoMessage("write", path_, errno));
  int rc = ::_close(fd_);
  fd_ = -1;
  if (rc != 0) return Status::Io(ErrnoMessage("write", path_, errno));
  const std::wstring target = WidePath(path_);
  const std::wstring temp = WidePath(temp_path_);
  const DWORD old = GetFileAttributesW(target.c_str());
  if (old != INVALID_FILE_ATTRIBUTES) {
    // The new file takes the old one's attributes (hidden, archive...) in place of the
    // hidden mark of a file being written.
    SetFileAttributesW(temp.c_str(), old & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                                             FILE_ATTRIBUTE_REPARSE_POINT));
    // ReplaceFile also keeps the old file's security and creation time.
    if (ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      temp_path_.clear();
      RemoveStaleTemporaries(path_);
      return Status::Ok();
    }
    // Some file systems (network shares, FAT on some systems) refuse ReplaceFile; a rename
    // over the old file is atomic there too.
  } else {
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  if (!MoveFileExW(temp.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DWORD error = GetLastError();
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return Status::Io(Win32Message("replace", path_, error));
  }
  temp_path_.clear();
  RemoveStaleTemporaries(path_);
  return Status::Ok();
}

Status RenameNoReplace(const std::string& from, const std::string& to) {
  const std::wstring wfrom = WidePath(from);
  const std::wstring wto = WidePath(to);
  // Without MOVEFILE_REPLACE_EXISTING the rename fails when the new name is taken, in the
  // same step that would otherwise rename: nothing can slip in between.
  DWORD error = ERROR_SUCCESS;
  if (MoveFileExW(wfrom.c_str(), wto.c_str(), 0)) {
    // A change of letter case only: NTFS renames in place, but some file systems (and Wine
    // over a Linux folder) report success and keep the old spelling. Then go the long way.
    const bool case_only =
        FileNameOf(from) != FileNameOf(to) && EqualsIgnoreCase(FileNameOf(from), FileNameOf(to));
    if (!case_only || OnDiskName(to) == FileNameOf(to)) return Status::Ok();
    error = ERROR_ALREADY_EXISTS;
  } else {
    error = GetLastError();
  }
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    if (!SameFile(from, to)) {
      return Status::Refused("Cannot rename " + from + ": " + to + " already exists");
    }
    // One file under two spellings (a change of letter case) that would not rename in place:
    // go through a free name, so that the file has a name at every moment.
    std::string middle = TempNameBeside(from, ".rename-");
    const std::wstring wmiddle = WidePath(middle);
    if (!MoveFileExW(wfrom.c_str(), wmiddle.c_str(), 0)) {
      return Status::Io(Win32Message("rename", from, GetLastError()));
    }
    if (MoveFileExW(wmiddle.c_str(), wto.c_str(), 0)) return Status::Ok();
    error = GetLastError();
    MoveFileExW(wmiddle.c_str(), wfrom.c_str(), 0);
    return Status::Io(Win32Message("rename", from, error));
  }
  if (IsMissing(error) && !Exists(from)) {
    return Status::NotFound("The file " + from + " no longer exists");
  }
  return Status::Io(Win32Message("rename", from, error));
}

Status RenameReplacing(const std::string& from, const std::string& to) {
  if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return Status::Ok();
  }
  return Status::Io(Win32Message("rename", from, GetLastError()));
}

Status RemoveFile(const std::string& path) {
  if (DeleteFileW(WidePath(path).c_str())) return Status::Ok();
  const DWORD error = GetLastError();
  if (IsMissing(error)) return Status::Ok();
  return Status::Io(Win32Message("delete", path, error));
}

Result<LineReader> LineReader::Open(const std::string& path) {
  if (IsFolder(path)) return Status::Io("Cannot read " + path + ": it is a folder");
  FILE* f = ::_wfsopen(WidePath(path).c_str(), L"rb", _SH_DENYNO);
  if (f == nullptr) {
    if (errno == ENOENT) return Status::NotFound("The file " + path + " does not exist");
    return Status::Io(ErrnoMessage("open", path, errno));
  }
  return LineReader(path, f);
}

bool LineReader::Next(std::string& line) {
  if (file_ == nullptr) return false;
  line.clear();
  bool any = false;
  int c;
  while ((c = _getc_nolock(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) {
    if (std::ferror(file_)) status_ = Status::Io(ErrnoMessage("read", path_, errno));
    return false;
  }
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace quorvin

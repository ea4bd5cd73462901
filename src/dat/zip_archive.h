#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileops.h"
#include "platform/status.h"

// Zip archives, read through libzip and never written: one archive is one game of the dat,
// each file it holds one rom.
namespace quorvin {

// One file of an archive as its central directory describes it.
struct ZipMember {
  uint64_t index = 0;  // libzip's index of the entry
  std::string name;    // the path as stored, with "/"; UTF-8 (see ZipArchive::Open)
  uint64_t size = 0;   // uncompressed size
  uint32_t crc = 0;    // CRC-32 of the uncompressed data
  bool encrypted = false;
  bool method_supported = true;  // libzip can inflate the member's compression method
};

// What inflating a member gave.
struct ZipMemberData {
  enum class Outcome {
    kMatches,      // the data has the stored CRC and size
    kDiffers,      // the data's CRC or size is not the stored one
    kTooLong,      // the member inflates past its declared size (reading stopped there)
    kCannotCheck,  // encrypted, or a compression method libzip cannot inflate
    kUnreadable,   // inflating failed (damaged data)
  } outcome = Outcome::kMatches;
  uint32_t crc = 0;   // the CRC-32 of the bytes read
  uint64_t size = 0;  // the bytes read
  std::string why;    // for kCannotCheck and kUnreadable: libzip's reason
};

// An archive opened for reading. The file is opened once and read through the same handle
// by every call; nothing is ever written to it (it is dropped, never closed for writing).
class ZipArchive {
 public:
  // Opens the archive with libzip's consistency checks (ZIP_CHECKCONS): a central directory
  // that disagrees with a local header, two entries of one name, a cut or truncated file and
  // a file that is not a zip all give Corrupt naming the archive and saying what is wrong.
  // NotFound when there is no such file; Io when it cannot be opened. ZIP64 archives and
  // archives with a comment are read normally.
  //
  // Member names that the archive does not flag as UTF-8 are read as libzip guesses them:
  // plain ASCII and valid UTF-8 stand as they are, anything else is read as code page 437
  // (what the zip format specifies for unflagged names) and converted to UTF-8, so the dat,
  // which is UTF-8 throughout, never holds bytes that are not text.
  static Result<ZipArchive> Open(const std::string& path);
  ZipArchive(ZipArchive&& other) noexcept;
  ZipArchive& operator=(ZipArchive&& other) noexcept;
  ZipArchive(const ZipArchive&) = delete;
  ~ZipArchive();

  // The files of the archive, in the order of its central directory. Folder entries (names
  // ending in "/") are not members.
  const std::vector<ZipMember>& members() const { return members_; }
  const std::string& path() const { return path_; }
  // The identity of the file as Open opened it (nullopt when it could not be asked). An
  // archive of up to a MiB is read whole from that very open; a larger one is read by name
  // again, so whoever trusts this for a large one checks the name's identity afterwards.
  const std::optional<FileIdentity>& identity() const { return identity_; }

  // Inflates the member's first `count` bytes (fewer when it is shorter), for a header test.
  // Corrupt naming the archive and the member when it cannot be inflated.
  Result<std::string> ReadHead(const ZipMember& member, size_t count);

  // Inflates the whole member through a fixed buffer of `buffer_size` bytes and checksums
  // it; reading stops once more than the declared size has come out.
  ZipMemberData Verify(const ZipMember& member, uint8_t* buffer, size_t buffer_size);

 private:
  struct Handle;
  ZipArchive(std::string path, std::unique_ptr<Handle> handle);
  std::string path_;
  std::unique_ptr<Handle> handle_;
  std::vector<ZipMember> members_;
  std::optional<FileIdentity> identity_;
};

}  // namespace quorvin

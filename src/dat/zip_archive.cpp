#include "dat/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <cstring>

#include "dat/crc.h"
#include "platform/fileops.h"
#include "platform/text.h"

namespace quorvin {

struct ZipArchive::Handle {
  // A small archive, read whole: libzip reads it from here. Not a std::string, which would
  // fill its room with zeros before every read.
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  zip_t* zip = nullptr;
  ~Handle() {
    // Discarded, never closed: zip_close would write back any change, and we make none.
    if (zip != nullptr) zip_discard(zip);
  }
};

namespace {

std::string ErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// What a libzip open error means for the user, in words that name the fault.
std::string OpenFault(int code) {
  switch (code) {
    case ZIP_ER_NOZIP:
      return "it is not a zip archive, or its end (the central directory) is missing";
    case ZIP_ER_INCONS:
      return "it is inconsistent (its central directory disagrees with its entries, two "
             "entries have one name, or it is cut short)";
    case ZIP_ER_EOF:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
      return "it is cut short (" + ErrorText(code) + ")";
    case ZIP_ER_EXISTS:
      return "two of its entries have the same name";
    case ZIP_ER_MULTIDISK:
      return "it is one piece of a multi-part archive";
    default:
      return ErrorText(code);
  }
}

// libzip's consistency check refuses bytes after the end record (a downloader's or a
// self-extractor's tail), which archives carry often enough and which hurt nothing. This
// finds where the archive proper ends, in the last bytes of a file (`tail`, which begins at
// `tail_start`): just after the last end-of-central-directory record (signature "PK\5\6")
// whose comment reaches no further than the file. 0 when there is no such record before the
// file's end, that is, nothing to cut.
uint64_t EndIn(std::string_view tail, uint64_t tail_start, uint64_t file_size) {
  constexpr std::string_view kEnd("PK\x05\x06", 4);
  for (size_t at = tail.rfind(kEnd); at != std::string_view::npos && at + 22 <= tail.size();
       at = at == 0 ? std::string_view::npos : tail.rfind(kEnd, at - 1)) {
    const uint64_t comment = static_cast<uint8_t>(tail[at + 20]) |
                             (static_cast<uint64_t>(static_cast<uint8_t>(tail[at + 21])) << 8);
    const uint64_t ends = tail_start + at + 22 + comment;
    if (ends < file_size) return ends;
    if (ends == file_size) return 0;
  }
  return 0;
}

uint64_t EndOfArchive(const std::string& path, uint64_t file_size) {
  // The record and its comment take at most 22 + 65535 bytes; the tail looked through is
  // bounded, so a large file costs one small read.
  constexpr uint64_t kLook = uint64_t{1} << 20;
  const uint64_t start = file_size > kLook ? file_size - kLook : 0;
  auto file = InputFile::Open(path);
  if (!file.ok()) return 0;
  std::string tail;
  uint8_t buffer[64 * 1024];
  uint64_t pos = 0;
  while (true) {
    auto got = file->Read(buffer, sizeof buffer);
    if (!got.ok() || *got == 0) break;
    const uint64_t end = pos + *got;
    if (end > start) {
      const uint64_t from = pos >= start ? 0 : start - pos;
      tail.append(reinterpret_cast<const char*>(buffer) + from, *got - from);
    }
    pos = end;
  }
  if (pos != file_size) return 0;
  return EndIn(tail, start, file_size);
}

// Opens an archive read whole into `bytes`, with every check; nullptr and `code` set on
// failure. A tail after the end record is left out of what libzip sees (see EndIn).
zip_t* OpenBytes(const uint8_t* bytes, size_t size, int& code) {
  uint64_t length = size;
  for (int attempt = 0; attempt < 2; ++attempt) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes, length, 0, &error);
    zip_t* zip = nullptr;
    if (source != nullptr) {
      zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
      if (zip == nullptr) zip_source_free(source);
    }
    code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (zip != nullptr || code != ZIP_ER_INCONS || attempt > 0) return zip;
    length = EndIn(std::string_view(reinterpret_cast<const char*>(bytes), size), 0, size);
    if (length == 0) return nullptr;
  }
  return nullptr;
}

// Opens the archive at `path` with every check; nullptr and `code` set on failure. A tail
// after the end record is left out of what libzip sees (see EndOfArchive).
zip_t* OpenChecked(const std::string& path, int& code) {
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (zip != nullptr || code != ZIP_ER_INCONS) return zip;
  auto size = FileLength(path);
  if (!size.ok()) return nullptr;
  const uint64_t end = EndOfArchive(path, *size);
  if (end == 0) return nullptr;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_file_create(path.c_str(), 0, static_cast<zip_int64_t>(end), &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    return nullptr;
  }
  zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (zip == nullptr) {
    code = zip_error_code_zip(&error);
    zip_source_free(source);
  }
  zip_error_fini(&error);
  return zip;
}

}  // namespace

ZipArchive::ZipArchive(std::string path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}
ZipArchive::ZipArchive(ZipArchive&& other) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&& other) noexcept = default;
ZipArchive::~ZipArchive() = default;

Result<ZipArchive> ZipArchive::Open(const std::string& path) {
  // Most archives hold one game of a few hundred KiB at most: read whole with one open and
  // large reads, as a loose file is, and handed to libzip in memory, they cost no seeks and
  // no second open. Larger ones are read by libzip from the file.
  constexpr size_t kInMemory = size_t{1} << 20;
  auto handle = std::make_unique<Handle>();
  std::optional<FileIdentity> identity;
  {
    auto file = InputFile::Open(path);
    if (!file.ok()) {
      if (file.status().kind() == ErrorKind::kNotFound) {
        return Status::NotFound("The archive " + path + " does not exist");
      }
      return file.status();
    }
    if (auto id = file->IdentityAtOpen(); id.ok()) identity = *id;
    size_t room = 64 * 1024, got = 0;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[room]);
    while (true) {
      if (got == room) {
        if (room > kInMemory) break;  // too large: libzip reads it from the file
        std::unique_ptr<uint8_t[]> more(new uint8_t[room * 2]);
        std::memcpy(more.get(), bytes.get(), got);
        bytes = std::move(more);
        room *= 2;
      }
      auto n = file->Read(bytes.get() + got, room - got);
      if (!n.ok()) return n.status();
      if (*n == 0) break;
      got += *n;
    }
    // Even an archive of no files holds its 22-byte end record.
    if (got == 0) {
      return Status::Corrupt("The archive " + path + " cannot be read: it is empty (0 bytes)");
    }
    if (got <= kInMemory) {
      handle->bytes = std::move(bytes);
      handle->size = got;
    }
  }
  int code = 0;
  zip_t* zip = nullptr;
  if (handle->bytes != nullptr) {
    zip = OpenBytes(handle->bytes.get(), handle->size, code);
  } else {
    // libzip takes the path in UTF-8 on every platform (it converts it for the wide API).
    zip = OpenChecked(path, code);
  }
  if (zip == nullptr) {
    if (code == ZIP_ER_OPEN || code == ZIP_ER_MEMORY) {
      return Status::Io("Cannot open the archive " + path + ": " + ErrorText(code));
    }
    return Status::Corrupt("The archive " + path + " cannot be read: " + OpenFault(code));
  }
  handle->zip = zip;
  ZipArchive archive(path, std::move(handle));
  archive.identity_ = identity;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  if (count < 0) return Status::Corrupt("The archive " + path + " cannot be read");
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip, i, ZIP_FL_ENC_GUESS, &st) != 0) {
      return Status::Corrupt("The archive " + path + " has an entry (number " +
                             std::to_string(i + 1) + ") that cannot be read: " + zip_strerror(zip));
    }
    const std::string name = (st.valid & ZIP_STAT_NAME) && st.name != nullptr ? st.name : "";
    if (name.empty() || name.back() == '/') continue;  // a folder
    if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_CRC)) {
      return Status::Corrupt("The archive " + path + " does not give the size and CRC of " +
                             ForMessage(name));
    }
    ZipMember m;
    m.index = i;
    m.name = name;
    m.size = st.size;
    m.crc = st.crc;
    m.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    m.method_supported =
        !(st.valid & ZIP_STAT_COMP_METHOD) || zip_compression_method_supported(st.comp_method, 0);
    archive.members_.push_back(std::move(m));
  }
  return archive;
}

Result<std::string> ZipArchive::ReadHead(const ZipMember& member, size_t count) {
  std::string out;
  if (member.encrypted || !member.method_supported) return out;  // nothing can be inflated
  zip_file_t* f = zip_fopen_index(handle_->zip, member.index, 0);
  if (f == nullptr) {
    return Status::Corrupt("Cannot inflate " + ForMessage(member.name) + " in the archive " +
                           path_ + ": " + zip_strerror(handle_->zip));
  }
  out.resize(std::min<uint64_t>(count, member.size));
  size_t got = 0;
  while (got < out.size()) {
    const zip_int64_t n = zip_fread(f, out.data() + got, out.size() - got);
    if (n < 0) {
      std::string why = zip_file_strerror(f);
      zip_fclose(f);
      return Status::Corrupt("Cannot inflate " + ForMessage(member.name) + " in the archive " +
                             path_ + ": " + why);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  zip_fclose(f);
  return out;
}

ZipMemberData ZipArchive::Verify(const ZipMember& member, uint8_t* buffer, size_t buffer_size) {
  ZipMemberData out;
  if (member.encrypted) {
    out.outcome = ZipMemberData::Outcome::kCannotCheck;
    out.why = "it is encrypted";
    return out;
  }
  if (!member.method_supported) {
    out.outcome = ZipMemberData::Outcome::kCannotCheck;
    out.why = "its compression method cannot be inflated here";
    return out;
  }
  zip_file_t* f = zip_fopen_index(handle_->zip, member.index, 0);
  if (f == nullptr) {
    out.outcome = ZipMemberData::Outcome::kUnreadable;
    out.why = zip_strerror(handle_->zip);
    return out;
  }
  uint32_t reg = 0xFFFFFFFFu;
  uint64_t total = 0;
  while (true) {
    const zip_int64_t n = zip_fread(f, buffer, buffer_size);
    if (n < 0) {
      zip_error_t* e = zip_file_get_error(f);
      // libzip checks the CRC itself at the end of the data: a mismatch is ours to report as
      // such, with the CRC of what was read.
      if (zip_error_code_zip(e) != ZIP_ER_CRC) {
        out.outcome = ZipMemberData::Outcome::kUnreadable;
        out.why = zip_error_strerror(e);
      }
      break;
    }
    if (n == 0) break;
    const size_t got = static_cast<size_t>(n);
    reg = Crc32Update(reg, buffer, got);
    total += got;
    if (total > member.size) {
      out.outcome = ZipMemberData::Outcome::kTooLong;
      break;
    }
  }
  zip_fclose(f);
  out.crc = ~reg;
  out.size = total;
  if (out.outcome == ZipMemberData::Outcome::kMatches &&
      (out.crc != member.crc || out.size != member.size)) {
    out.outcome = ZipMemberData::Outcome::kDiffers;
  }
  return out;
}

}  // namespace quorvin

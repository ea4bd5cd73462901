#include "dat/scan.h"

#include <cstdlib>
#include <thread>

#include "dat/crc.h"
#include "dat/crc_tiers.h"
#include "dat/dat_format.h"
#include "dat/hash_pool.h"
#include "dat/rom_header.h"
#include "dat/zip_archive.h"
#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

std::vector<std::string> FolderList(std::string_view folders) {
  std::vector<std::string> out;
  for (const std::string& piece : Split(folders, ';')) {
    std::string_view trimmed = TrimBlanks(piece);
    if (!trimmed.empty()) out.emplace_back(trimmed);
  }
  return out;
}

bool IsArchiveExtension(std::string_view extension) { return ToUpperAscii(extension) == ".ZIP"; }

std::string GameNameOf(std::string_view file_name, std::string_view extension) {
  if (file_name.size() <= extension.size()) return std::string();
  return std::string(file_name.substr(0, file_name.size() - extension.size()));
}

namespace {

// Takes out of a folder's listing the names a dat line cannot hold (a control character,
// such as a line break, would split or end the line), reporting each.
void LeaveOutUnwritableNames(const std::string& folder, std::string_view extension,
                             std::vector<std::string>& names, Reporter& reporter,
                             std::vector<LeftOutRom>* left_out) {
  std::erase_if(names, [&](const std::string& name) {
    if (!HasControlChar(name)) return false;
    const std::string path = JoinPath(folder, ForMessage(name, 1000));
    reporter.Warning("Left " + path + " out of the dat: its name holds a control character");
    if (left_out != nullptr) {
      left_out->push_back({GameNameOf(name, extension),
                           "The ROM " + path + " was left out of the dat, so it is not renamed"});
    }
    return true;
  });
}

// The rom line's name token drops blanks around the game name, as it always has; the name
// line keeps them.
std::string RomLineToken(std::string_view file_name, std::string_view extension) {
  return NameToken(TrimBlanks(GameNameOf(file_name, extension)));
}

// The first bytes of a lone member, as many as its header (if any) takes: the header's first
// bytes, then the rest of it when those say it is longer. Nothing beyond is inflated.
Result<std::string> MemberHead(ZipArchive& zip, const ZipMember& m) {
  constexpr size_t kFirst = 16;
  auto head = zip.ReadHead(m, kFirst);
  if (!head.ok()) return head;
  // A 16-byte header (iNES without a trainer) is all there is; any other rule may need more.
  if (RomHeaderLength(*head, m.size) == kFirst) return head;
  return zip.ReadHead(m, kRomHeadBytes);
}

// The mark of a cache record that says: every member of this state of the archive was
// inflated and its data matched its directory. Its value is the number of members, and the
// record's CRC is ListingCrc of them.
constexpr std::string_view kMembersMatchName = "zip-members-match";

// A checksum of an archive's listing as its directory gives it, to tie a record to it.
uint32_t ListingCrc(const std::vector<ZipMember>& members) {
  uint32_t reg = 0xFFFFFFFFu;
  for (const ZipMember& m : members) {
    uint8_t fixed[14];
    for (int i = 0; i < 8; ++i) fixed[i] = static_cast<uint8_t>(m.size >> (8 * i));
    for (int i = 0; i < 4; ++i) fixed[8 + i] = static_cast<uint8_t>(m.crc >> (8 * i));
    fixed[12] = m.encrypted ? 1 : 0;
    fixed[13] = m.method_supported ? 1 : 0;
    reg = Crc32Update(reg, reinterpret_cast<const uint8_t*>(m.name.data()), m.name.size());
    reg = Crc32Update(reg, fixed, sizeof fixed);
  }
  return ~reg;
}

CachedHash MembersMatchRecord(const std::vector<ZipMember>& members, uint64_t archive_size) {
  CachedHash v{archive_size, ListingCrc(members), {}, {}};
  v.extra.emplace(kMembersMatchName, static_cast<uint32_t>(members.size()));
  return v;
}

// True when the cache holds, for exactly the archive as opened, a record that its members
// matched their directory when they were last inflated.
bool MembersKnownToMatch(const ZipArchive& zip, const HashCacheUse& cache) {
  if (cache.cache == nullptr || cache.rehash || !zip.identity()) return false;
  std::optional<CachedHash> hit =
      cache.cache->FindCurrent(zip.path(), 0, [&zip] { return zip.identity(); });
  return hit && *hit == MembersMatchRecord(zip.members(), zip.identity()->size);
}

// Lists one archive as the scan's source of roms; see MakeDat for what is listed and
// reported. With `verify` and a cache, an archive whose members were all found to match
// before, and which has not changed since, is not inflated again; one whose members all
// match now is recorded.
ParallelHasher::FileHash ReadArchive(const std::string& path, uint8_t* buffer,
                                     const std::atomic<bool>& stop, bool verify, bool heads,
                                     const HashCacheUse& cache) {
  ParallelHasher::FileHash out;
  out.archive = true;
  const int64_t taken_at = NowNs();
  auto zip = ZipArchive::Open(path);
  if (!zip.ok()) {
    out.problems.push_back(zip.status().message() +
                           "; it was left out of the dat and keeps its name");
    out.hold_back = true;
    return out;
  }
  const std::vector<ZipMember>& members = zip->members();
  // Not inflated again: members that matched when last inflated, in an archive unchanged since.
  const bool inflate = verify && !MembersKnownToMatch(*zip, cache);
  for (const ZipMember& m : members) {
    if (stop) return out;
    if (HasControlChar(m.name)) {
      out.problems.push_back("Left the member \"" + ForMessage(m.name, 1000) + "\" of " + path +
                             " out of the dat: its name holds a control character; the "
                             "archive keeps its name");
      out.hold_back = true;
      continue;
    }
    ParallelHasher::MemberHash h{m.name, m.size, m.crc, {}};
    if (inflate) {
      ZipMemberData data = zip->Verify(m, buffer, ParallelHasher::kReadBuffer);
      const std::string member = "the member \"" + ForMessage(m.name, 1000) + "\" of " + path;
      switch (data.outcome) {
        case ZipMemberData::Outcome::kMatches:
          break;
        case ZipMemberData::Outcome::kDiffers:
        case ZipMemberData::Outcome::kTooLong:
          out.problems.push_back("The data of " + member +
                                 (data.outcome == ZipMemberData::Outcome::kTooLong
                                      ? std::string(" runs past its declared size of ") +
                                            std::to_string(m.size) + " bytes"
                                      : " does not match the archive's directory (stored: size " +
                                            std::to_string(m.size) + " crc " + CrcText(m.crc) +
                                            "; read: size " + std::to_string(data.size) + " crc " +
                                            CrcText(data.crc) + ")") +
                                 "; the dat gives the data as read and the archive keeps its name");
          h.crc = data.crc;
          h.size = data.size;
          out.hold_back = true;
          break;
        case ZipMemberData::Outcome::kCannotCheck:
        case ZipMemberData::Outcome::kUnreadable:
          out.problems.push_back(
              (data.outcome == ZipMemberData::Outcome::kCannotCheck ? "Cannot verify "
                                                                    : "Cannot inflate ") +
              member + ": " + data.why +
              "; the dat gives its stored size and CRC and the archive keeps its name");
          out.hold_back = true;
          break;
      }
    }
    out.members.push_back(std::move(h));
  }
  // A lone member may be a headered dump: its header decides how the lookup sees it.
  if (heads && out.members.size() == 1 && members.size() == 1) {
    auto head = MemberHead(*zip, members[0]);
    if (head.ok()) {
      out.members[0].head = std::move(head).value();
    } else {
      out.problems.push_back(head.status().message() + "; the archive keeps its name");
      out.hold_back = true;
    }
  }
  if (inflate && cache.cache != nullptr && out.problems.empty() && !stop && zip->identity()) {
    // Asked of the name now: an archive large enough to be read by name a second time, or
    // one changed or put in its place meanwhile, has another identity and is not recorded.
    if (auto after = RegularFileIdentity(path); after.ok()) {
      cache.cache->Record(CacheKey{path, *zip->identity()}, *after,
                          MembersMatchRecord(members, after->size), taken_at);
    }
  }
  return out;
}

}  // namespace

Result<std::string> MakeRomLine(const std::string& full_path, std::string_view extension) {
  std::string token = RomLineToken(FileNameOf(full_path), extension);
  auto size = FileLength(full_path);
  if (!size.ok()) return size.status();
  clsCRC crc;
  crc.SetAlgorithm(1);
  auto value = crc.CalculateFile(full_path);
  if (!value.ok()) return value.status();
  std::string crc_text = value->has_value() ? CrcText(static_cast<uint32_t>(**value)) : "0";
  return RomLine(token, *size, crc_text);
}

Status MakeDat(const DatScanInput& input, const std::string& temp_dat_path, Reporter& reporter,
               HeaderlessCrcs* headerless, std::vector<LeftOutRom>* left_out, HashCacheUse cache,
               std::vector<std::string>* held_back) {
  const bool archives = IsArchiveExtension(input.extension);
  // An archive's listing comes from its directory, which costs little more than a record
  // would; only the check of its members is worth keeping.
  if (archives && !input.verify) cache = HashCacheUse();
  // Settings of the environment that would make the scan fail or misbehave are refused before
  // anything is read or written.
  if (Status crc = CheckCrcSetting(); !crc.ok()) return crc;
  auto threads =
      HashThreadCount(std::getenv("QUORVIN_THREADS"), std::thread::hardware_concurrency());
  if (!threads.ok()) return threads.status();
  // List every folder first: a missing folder stops the run before anything is written.
  struct Folder {
    std::string path;
    std::vector<std::string> names;
  };
  std::vector<Folder> folders;
  size_t total = 0;
  for (const std::string& folder : FolderList(input.rom_folders)) {
    // The cache reads what it knows of the folder while the folder is listed.
    if (cache.cache != nullptr && !cache.rehash) cache.cache->Expect(folder);
    auto names = ListFolder(folder, "*" + input.extension);
    if (!names.ok()) {
      if (names.status().kind() == ErrorKind::kNotFound) {
        return Status::NotFound("The ROM folder " + folder + " does not exist");
      }
      return names.status();
    }
    LeaveOutUnwritableNames(folder, input.extension, *names, reporter, left_out);
    total += names->size();
    folders.push_back(Folder{folder, std::move(names).value()});
  }

  std::vector<std::string> paths;
  paths.reserve(total);
  for (const Folder& folder : folders) {
    for (const std::string& name : folder.names) paths.push_back(JoinPath(folder.path, name));
  }

  auto out = AtomicFile::Create(temp_dat_path);
  if (!out.ok()) return out.status();
  // A re-run over an unchanged collection makes the same temporary dat again.
  out->KeepIfSame();
  Status s = WriteDatHeader(*out, input.system_name, input.description, input.author);
  // Worker threads read and checksum the files; this thread writes their blocks in list order.
  const bool heads = headerless != nullptr;
  ParallelHasher hasher =
      archives ? ParallelHasher(
                     std::move(paths), *threads,
                     [verify = input.verify, heads, cache](const std::string& path, uint8_t* buffer,
                                                           const std::atomic<bool>& stop) {
                       return ReadArchive(path, buffer, stop, verify, heads, cache);
                     })
               : ParallelHasher(std::move(paths), *threads, heads ? kRomHeadBytes : 0, cache);
  size_t done = 0;
  for (const Folder& folder : folders) {
    for (const std::string& name : folder.names) {
      if (!s.ok()) return s;
      if (reporter.StopRequested()) {
        return Status::Stopped("The scan was stopped before " + JoinPath(folder.path, name) + "; " +
                               temp_dat_path + " was left as it was");
      }
      std::string game = GameNameOf(name, input.extension);
      reporter.SetFileStatus("Status:  Parsing " + game, done, total);
      std::string token = NameToken(game);
      // Size and checksum come from the same read, so they always describe the same bytes.
      ParallelHasher::FileHash hash = hasher.Next(
          [&reporter] { return reporter.StopRequested(); },
          [&reporter](uint64_t read, uint64_t size) { reporter.SetFileBytes(read, size); });
      ++done;
      if (cache.cache != nullptr) {
        for (const std::string& w : cache.cache->TakeWarnings()) reporter.Warning(w);
      }
      if (hash.status.kind() == ErrorKind::kStopped) {
        return Status::Stopped(hash.status.message() + "; " + temp_dat_path +
                               " was left as it was");
      }
      if (!hash.status.ok()) {
        // One file the run cannot read (gone since the listing, no permission, a pipe or a
        // device in its place, a read error half-way) costs that file, not the run.
        reporter.Warning(hash.status.message() + "; it was left out of the dat and of renaming");
        if (left_out != nullptr) {
          left_out->push_back({game, "The ROM " + JoinPath(folder.path, ForMessage(name, 1000)) +
                                         " could not be read, so no ROM named \"" +
                                         ForMessage(game) + "\" is renamed"});
        }
        continue;
      }
      for (const std::string& problem : hash.problems) reporter.Warning(problem);
      if (hash.hold_back && held_back != nullptr) held_back->push_back(game);
      if (left_out != nullptr && game.find('"') != std::string::npos) {
        // The dat names the game without its double quotes; no rename may be recorded under
        // that name, which is not the file's, nor under the file's, which the conversion
        // file cannot hold.
        left_out->push_back({DatText(game), "The ROM " +
                                                JoinPath(folder.path, ForMessage(name, 1000)) +
                                                " holds a double quote, which the conversion "
                                                "file cannot record; it is not renamed, nor is "
                                                "a ROM named \"" +
                                                ForMessage(DatText(game)) + "\""});
      }
      if (hash.archive) {
        if (hash.members.empty() && hash.hold_back) continue;  // unreadable: left out
        std::string block = "game (\r\n";
        block.append(GameNameLine(token));
        block.append(kCrLf);
        block.append(GameDescriptionLine(token));
        block.append(kCrLf);
        for (const ParallelHasher::MemberHash& m : hash.members) {
          block.append(RomLine(NameToken(m.name), m.size, m.size == 0 ? "0" : CrcText(m.crc)));
          block.append(kCrLf);
          if (headerless != nullptr && !m.head.empty()) headerless->Note(m.head, m.size, m.crc);
        }
        block.append(")\r\n\r\n");
        s = out->Write(block);
        continue;
      }
      const uint64_t size = hash.size;
      std::string crc_text = size == 0 ? "0" : CrcText(hash.crc);
      if (headerless != nullptr) headerless->Note(hash.head, size, hash.crc, hash.swapped_crc);
      std::string block = "game (\r\n";
      block.append(GameNameLine(token));
      block.append(kCrLf);
      block.append(GameDescriptionLine(token));
      block.append(kCrLf);
      block.append(RomLine(RomLineToken(name, input.extension), size, crc_text));
      block.append("\r\n)\r\n\r\n");
      s = out->Write(block);
    }
  }
  if (!s.ok()) return s;
  return out->Commit();
}

}  // namespace quorvin

#include "dat/scan.h"

#include <cstdlib>
#include <thread>

#include "dat/crc.h"
#include "dat/crc_tiers.h"
#include "dat/dat_format.h"
#include "dat/hash_pool.h"
#include "dat/rom_header.h"
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

std::string GameNameOf(std::string_view file_name, std::string_view extension) {
  if (file_name.size() <= extension.size()) return std::string();
  return std::string(file_name.substr(0, file_name.size() - extension.size()));
}

namespace {

// Takes out of a folder's listing the names a dat line cannot hold (a control character,
// such as a line break, would split or end the line), reporting each.
void LeaveOutUnwritableNames(const std::string& folder, std::vector<std::string>& names,
                             Reporter& reporter) {
  std::erase_if(names, [&](const std::string& name) {
    if (!HasControlChar(name)) return false;
    reporter.Warning("Left " + JoinPath(folder, ForMessage(name, 1000)) +
                     " out of the dat: its name holds a control character");
    return true;
  });
}

// The rom line's name token drops blanks around the game name, as it always has; the name
// line keeps them.
std::string RomLineToken(std::string_view file_name, std::string_view extension) {
  return NameToken(TrimBlanks(GameNameOf(file_name, extension)));
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
               HeaderlessCrcs* headerless, HashCacheUse cache) {
  if (ToUpperAscii(input.extension) == ".ZIP") {
    reporter.Message("Sorry Not Supported Yet",
                     "Zipped roms are not supported yet, unzip your roms and try again");
    return Status::Refused("Zipped roms are not supported yet, unzip your roms and try again");
  }
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
    auto names = ListFolder(folder, "*" + input.extension);
    if (!names.ok()) {
      if (names.status().kind() == ErrorKind::kNotFound) {
        return Status::NotFound("The ROM folder " + folder + " does not exist");
      }
      return names.status();
    }
    LeaveOutUnwritableNames(folder, *names, reporter);
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
  Status s = WriteDatHeader(*out, input.system_name, input.description, input.author);
  // Worker threads read and checksum the files; this thread writes their blocks in list order.
  ParallelHasher hasher(std::move(paths), *threads, headerless != nullptr ? kRomHeadBytes : 0,
                        cache);
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
          [&reporter](uint64_t read, uint64_t size) { reporter.SetFileBytes(read, size); });
      if (cache.cache != nullptr) {
        for (const std::string& w : cache.cache->TakeWarnings()) reporter.Warning(w);
      }
      if (!hash.status.ok()) return hash.status;
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
      ++done;
    }
  }
  if (!s.ok()) return s;
  return out->Commit();
}

}  // namespace quorvin

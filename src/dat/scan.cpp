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
               HeaderlessCrcs* headerless, std::vector<LeftOutRom>* left_out, HashCacheUse cache) {
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

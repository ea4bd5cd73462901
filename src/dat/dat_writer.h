#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fileops.h"
#include "platform/reporter.h"
#include "platform/status.h"

// The dat as the stages see it: a header and games, each game with its roms. Writers turn
// them into one of the two file formats, so a stage never knows which one it writes.
namespace quorvin {

struct DatHeader {
  std::string name;  // the system name
  std::string description;
  std::string author;
  // The XML form's version; empty: today's date (DatVersionOfToday). The text form has none.
  std::string version;
};

struct DatRom {
  std::string name;
  uint64_t size = 0;
  uint32_t crc = 0;
  // The text form writes the name as the old CRC files' dats had it (LegacyNameToken: a
  // parenthesis without a blank does not quote it).
  bool legacy_token = false;
};

struct DatGame {
  std::string name;
  std::string description;
  std::string year;          // empty: not known
  std::string manufacturer;  // empty: not known
  std::string driver;        // the driver notes; empty: none
  std::vector<DatRom> roms;
  // Lines of a text dat's game block that no field above holds (another program's keywords),
  // kept by the text form where they stood; the XML form leaves them out, with a warning.
  std::vector<std::string> other_lines_after_description;
  std::vector<std::string> other_lines_after_roms;
  bool legacy_token = false;  // as DatRom::legacy_token, for the name line
};

enum class DatFormat { kText, kXml };

// The format a dat file of this name is written in: XML when the name ends in ".xml" (any
// letter case), the clrmamepro text otherwise.
DatFormat DatFormatOf(std::string_view path);

// Receives a dat piece by piece and writes it. Nothing reaches the target file before Commit;
// a writer destroyed without Commit leaves the file as it was.
class DatWriter {
 public:
  virtual ~DatWriter() = default;
  // At most once, before any game.
  virtual Status WriteHeader(const DatHeader& header) = 0;
  virtual Status WriteGame(const DatGame& game) = 0;
  // Lines of a text dat that hold no header or game of the form this program writes (a block
  // another program wrote, a damaged block): the text form keeps them as they stand, one per
  // line; the XML form leaves them out, with a warning unless they are all empty.
  virtual Status WriteOtherLines(const std::vector<std::string>& lines) = 0;
  // Puts the whole file in place of the old one (atomically), or fails naming it.
  virtual Status Commit() = 0;
};

// The clrmamepro text, byte for byte as the program has always written it: the six header
// lines, and per game "game (", name, description, year, manufacturer, the rom lines, driver,
// ")" and an empty line, all ended by CR LF.
class TextDatWriter : public DatWriter {
 public:
  // Writes to `path` (atomically).
  static Result<std::unique_ptr<TextDatWriter>> Create(const std::string& path);
  // Appends to `*text` instead of a file; Commit does nothing.
  explicit TextDatWriter(std::string* text) : text_(text) {}

  Status WriteHeader(const DatHeader& header) override;
  Status WriteGame(const DatGame& game) override;
  Status WriteOtherLines(const std::vector<std::string>& lines) override;
  Status Commit() override;

 private:
  explicit TextDatWriter(AtomicFile file) : file_(std::move(file)) {}
  Status Put(std::string_view bytes);
  std::optional<AtomicFile> file_;
  std::string* text_ = nullptr;
};

// The XML dat format ("datafile", as its public DTD defines it), UTF-8 with CR LF line ends:
// a header with name, description, version and author; per game the driver notes as a
// comment, then description, year and manufacturer where known, and one rom element per rom
// (crc as eight lower-case hexadecimal digits). Every text is escaped by the XML library. A
// character XML 1.0 cannot hold (a control character but TAB, U+FFFE, U+FFFF) is left out;
// a byte that is not part of valid UTF-8 is taken as the Latin-1 character of its value. Both
// are reported as warnings naming the game and the file.
class XmlDatWriter : public DatWriter {
 public:
  static Result<std::unique_ptr<XmlDatWriter>> Create(const std::string& path, Reporter& reporter);
  ~XmlDatWriter() override;

  Status WriteHeader(const DatHeader& header) override;
  Status WriteGame(const DatGame& game) override;
  Status WriteOtherLines(const std::vector<std::string>& lines) override;
  Status Commit() override;

 private:
  struct Document;
  XmlDatWriter(AtomicFile file, Reporter& reporter);
  AtomicFile file_;
  Reporter& reporter_;
  std::unique_ptr<Document> doc_;
};

// Hands everything to two writers, in turn; Commit commits the first, then the second.
class TeeDatWriter : public DatWriter {
 public:
  TeeDatWriter(DatWriter& first, DatWriter& second) : first_(first), second_(second) {}
  Status WriteHeader(const DatHeader& header) override;
  Status WriteGame(const DatGame& game) override;
  Status WriteOtherLines(const std::vector<std::string>& lines) override;
  Status Commit() override;

 private:
  DatWriter& first_;
  DatWriter& second_;
};

// The writer for `path` in the format its name chooses (DatFormatOf). Fails, naming the file,
// when it cannot be replaced.
Result<std::unique_ptr<DatWriter>> CreateDatWriter(const std::string& path, Reporter& reporter);

// Today's date as dat groups number their dats: YYYYMMDD, in local time.
std::string DatVersionOfToday();

// The text form's game: its inner lines (between "game (" and ")"), without line ends. The
// description is written as the scan writes it when it is the game's name, else in quotes.
std::vector<std::string> TextGameLines(const DatGame& game);
// The game of a text block's inner lines when they are exactly what TextGameLines writes for
// it (name, description, other lines, year, manufacturer, one or more rom lines one after the
// other, driver, other lines); nothing otherwise.
std::optional<DatGame> ReadTextGame(const std::vector<std::string>& inner_lines);
// The header of a text dat's first lines when they are exactly the six lines the text form
// writes for it; nothing otherwise.
std::optional<DatHeader> ReadTextHeader(const std::vector<std::string>& lines);

// The inner lines of a game block of a text dat in the scan's shape: a name line, a
// description line, and a rom line at `rom_line` (other lines may stand between and after).
struct TextGameBlock {
  std::vector<std::string> lines;
  size_t rom_line = 0;
};

// Reads the text dat at `path` (CR LF or LF line ends) and hands what it holds to `out`, in
// order, so that a TextDatWriter writes the file's lines back unchanged (with CR LF ends): the
// header when it is in the text writer's form, and every block from a "game (" line to its
// ")" and the empty line after it, in that form, as a game; everything else (another
// program's block, a block without its close) as other lines. No line moves from one block
// to another. `edit`, when given, is called for every block in the scan's shape and may
// rewrite its lines (the compare pass gives them good names); the block is then handed over
// as those lines say, as a game when they are in the text writer's form. An error that `edit`
// returns stops the walk. Does not commit `out`.
Status ReadTextDat(const std::string& path, DatWriter& out,
                   const std::function<Status(TextGameBlock&)>& edit = {});

}  // namespace quorvin

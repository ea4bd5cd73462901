#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/status.h"

// Private-profile (INI) files, read and written the way the emulator and the front end expect:
// "[section]" lines, "key=value" entries, section and key names matched without regard to
// letter case, the first section and the first key of a name counting. Keys are matched with
// the blanks around them removed; values come back without surrounding blanks and without one
// pair of quotes enclosing the whole value, and are never cut short.
//
// Every reader of these files splits them into lines with ProfileLines, so all of them see
// the same lines: a line ends at LF, a CR right before the LF belongs to the line end, and
// the last line of a file may also end in a lone CR or in nothing. A CR anywhere else is part
// of the line.
//
// A section line is "[" name "]" (blanks around allowed; the name runs to the last "]"); a
// line beginning with "[" without a "]" starts a section named to the line's end. A "[]"
// section cannot be looked up. A UTF-8 byte-order mark at the start of a file (as some editors write) is skipped on
// reading and kept on writing.
namespace quorvin {

// One line of a profile file.
struct ProfileLine {
  std::string_view text;  // without its line end
  std::string_view eol;   // "\r\n" or "\n"; on the last line also "\r" or ""
};

// Splits profile text into lines by the rule above. The views point into the text.
class ProfileLines {
 public:
  explicit ProfileLines(std::string_view bytes) : bytes_(bytes) {}
  // The next line; false after the last one.
  bool Next(ProfileLine* line);
  // Where the next line begins.
  size_t offset() const { return pos_; }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

// A profile file held in memory. Every line that a Set does not change is kept byte for byte,
// line ends (CR LF, LF, or none on the last line) included.
class ProfileFile {
 public:
  ProfileFile();
  // `path` only names the file in messages.
  static ProfileFile Parse(std::string_view bytes, std::string path = std::string());
  // Loads `path`; a missing file gives an empty profile. Io when the file cannot be read.
  static Result<ProfileFile> Load(const std::string& path);

  // The value, or nullopt when the section or key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Sets the key: an existing key line is replaced where it stands, a new key goes after the
  // last entry of its section, a new section goes at the end of the file. New lines end in
  // CR LF. Names are stored without the blanks around them. A value that would not read back
  // as it stands (blanks around it, or a pair of quotes enclosing it) is written in double
  // quotes, so Get gives back every value that holds no line break.
  // InvalidInput naming the file, changing nothing, for a name Get could not find again: an
  // empty section or key, a section holding "]", a key holding "=" or beginning with "[", or
  // any text holding a line break (CR or LF).
  Status Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;
  // Writes the file atomically.
  Status Save(const std::string& path) const;

 private:
  struct Line {
    std::string text;
    std::string_view eol;  // "\r\n", "\n"; on the last line "\r" or "" (no full end)
  };
  struct Section {
    bool has_header = false;
    std::string name_upper;
    std::vector<Line> lines;                       // the header line first, when there is one
    std::unordered_map<std::string, size_t> keys;  // upper-cased key -> index in lines
  };
  void AddLine(std::string text, std::string_view eol);
  void EndLastLine();
  const Section* FindSection(std::string_view name) const;
  std::string path_;
  bool utf8_bom_ = false;
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> section_index_;  // first section of each name
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// The bytes without a UTF-8 byte-order mark at their start.
std::string_view WithoutUtf8Bom(std::string_view bytes);

// The key part of an entry line with blanks around it removed, or nullopt for a line that is
// no entry (no "=", nothing before it, or a "[" first).
std::optional<std::string_view> ProfileKeyOf(std::string_view line);
// The value part of an entry line as a lookup returns it.
std::string_view ProfileValueView(std::string_view line);
// The section name of a "[name]" line, or nullopt.
std::optional<std::string_view> ProfileSectionOf(std::string_view line);

// The first section of a name of one file, read in one pass and indexed for lookups: the
// file's bytes stay in memory and the index holds views into them, so a large section costs
// one allocation per entry. Keys are matched without regard to letter case; the first key of
// a name wins.
class ProfileSection {
 public:
  ProfileSection();
  // NotFound when the file is missing, Io when it cannot be read.
  static Result<ProfileSection> Read(const std::string& path, std::string_view section);
  // The same from the file's bytes.
  static ProfileSection Parse(std::string bytes, std::string_view section);
  std::optional<std::string_view> Get(std::string_view key) const;
  // Upper-cased key -> value.
  const std::unordered_map<std::string, std::string_view>& entries() const { return entries_; }

 private:
  std::unique_ptr<const std::string> content_;  // a stable address for the views
  std::unordered_map<std::string, std::string_view> entries_;
};

}  // namespace quorvin

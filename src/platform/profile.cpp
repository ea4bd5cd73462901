#include "platform/profile.h"

#include "platform/fileops.h"
#include "platform/text.h"

namespace quorvin {

namespace {

constexpr std::string_view kCrLfEol = "\r\n";
constexpr std::string_view kLfEol = "\n";
constexpr std::string_view kCrEol = "\r";
constexpr std::string_view kNoEol = "";

// A line that another line may follow: one ended by LF. The last line of a file may have
// no end, or a lone CR, which would join it to a line written after it.
bool EndsFully(std::string_view eol) { return eol == kCrLfEol || eol == kLfEol; }

std::string_view TrimSpace(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool HasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

bool ProfileLines::Next(ProfileLine* line) {
  if (pos_ >= bytes_.size()) return false;
  const size_t start = pos_;
  size_t nl = bytes_.find('\n', start);
  if (nl == std::string_view::npos) {
    pos_ = bytes_.size();
    std::string_view rest = bytes_.substr(start);
    if (rest.back() == '\r') {
      *line = ProfileLine{rest.substr(0, rest.size() - 1), kCrEol};
    } else {
      *line = ProfileLine{rest, kNoEol};
    }
    return true;
  }
  pos_ = nl + 1;
  const bool cr = nl > start && bytes_[nl - 1] == '\r';
  *line = ProfileLine{bytes_.substr(start, nl - start - (cr ? 1 : 0)), cr ? kCrLfEol : kLfEol};
  return true;
}

std::optional<std::string_view> ProfileSectionOf(std::string_view line) {
  std::string_view t = TrimSpace(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  // The name runs to the last "]", as the platform's own reader has it. A line without one
  // still starts a section (named to the line's end), which forgives a hand edit that lost
  // the "]"; the platform's reader takes such a line for an ordinary one.
  size_t close = t.rfind(']');
  return TrimSpace(
      t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

std::optional<std::string_view> ProfileKeyOf(std::string_view line) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = TrimSpace(line.substr(0, eq));
  if (key.empty() || key[0] == '[') return std::nullopt;
  return key;
}

std::string_view WithoutUtf8Bom(std::string_view bytes) {
  return bytes.starts_with(kUtf8Bom) ? bytes.substr(kUtf8Bom.size()) : bytes;
}

std::string_view ProfileValueView(std::string_view line) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::string_view();
  std::string_view v = TrimSpace(line.substr(eq + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

ProfileFile::ProfileFile() { sections_.emplace_back(); }

void ProfileFile::AddLine(std::string text, std::string_view eol) {
  if (auto name = ProfileSectionOf(text)) {
    Section s;
    s.has_header = true;
    s.name_upper = ToUpperAscii(*name);
    section_index_.emplace(s.name_upper, sections_.size());
    sections_.push_back(std::move(s));
  } else if (auto key = ProfileKeyOf(text)) {
    Section& s = sections_.back();
    s.keys.emplace(ToUpperAscii(*key), s.lines.size());
  }
  sections_.back().lines.push_back(Line{std::move(text), eol});
}

ProfileFile ProfileFile::Parse(std::string_view bytes, std::string path) {
  ProfileFile p;
  p.path_ = std::move(path);
  const std::string_view text = WithoutUtf8Bom(bytes);
  p.utf8_bom_ = text.size() != bytes.size();
  ProfileLines lines(text);
  ProfileLine line;
  while (lines.Next(&line)) p.AddLine(std::string(line.text), line.eol);
  return p;
}

Result<ProfileFile> ProfileFile::Load(const std::string& path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes.ok()) {
    if (bytes.status().kind() == ErrorKind::kNotFound) return ProfileFile();
    return bytes.status();
  }
  return Parse(*bytes, path);
}

const ProfileFile::Section* ProfileFile::FindSection(std::string_view name) const {
  // A "[]" line starts a section that no lookup can name.
  if (TrimSpace(name).empty()) return nullptr;
  auto it = section_index_.find(ToUpperAscii(TrimSpace(name)));
  return it == section_index_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string> ProfileFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  auto it = s->keys.find(ToUpperAscii(TrimSpace(key)));
  if (it == s->keys.end()) return std::nullopt;
  return std::string(ProfileValueView(s->lines[it->second].text));
}

void ProfileFile::EndLastLine() {
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
    if (!it->lines.empty()) {
      if (!EndsFully(it->lines.back().eol)) it->lines.back().eol = kCrLfEol;
      return;
    }
  }
}

Status ProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view k = TrimSpace(key);
  const std::string_view sec = TrimSpace(section);
  // Only names that a reader finds again are written: a "]" would end the section name
  // early, an "=" the key, and a leading "[" makes a key line read as a section line.
  if (k.empty() || k.find('=') != std::string_view::npos || k[0] == '[' || HasBreak(k) ||
      HasBreak(value) || sec.empty() || sec.find(']') != std::string_view::npos ||
      HasBreak(section)) {
    return Status::InvalidInput(
        "Cannot store the key \"" + std::string(key) + "\" in section \"" + std::string(section) +
        "\" of " + (path_.empty() ? std::string("a profile file") : path_) +
        ": a name or the value holds a character that the file cannot hold there");
  }
  std::string line;
  line.reserve(k.size() + 3 + value.size());
  line.append(k).append("=");
  // Readers drop the blanks around a value and one pair of quotes enclosing it; a value that
  // would lose something that way goes in double quotes, which are all that is dropped.
  if (ProfileValueView(line + std::string(value)).size() != value.size()) {
    line.append("\"").append(value).append("\"");
  } else {
    line.append(value);
  }
  std::string key_upper = ToUpperAscii(k);
  auto it = section_index_.find(ToUpperAscii(sec));
  if (it == section_index_.end()) {
    EndLastLine();
    AddLine("[" + std::string(sec) + "]", kCrLfEol);
    AddLine(std::move(line), kCrLfEol);
    return Status::Ok();
  }
  Section& s = sections_[it->second];
  auto kit = s.keys.find(key_upper);
  if (kit != s.keys.end()) {
    s.lines[kit->second].text = std::move(line);
    return Status::Ok();
  }
  // New keys go after the section's last non-empty line, ahead of the blank lines that
  // usually separate it from the next section. Only blank lines move, and they hold no key.
  size_t at = s.lines.size();
  while (at > 1 && TrimSpace(s.lines[at - 1].text).empty()) --at;
  if (at > 0 && !EndsFully(s.lines[at - 1].eol)) s.lines[at - 1].eol = kCrLfEol;
  s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at),
                 Line{std::move(line), kCrLfEol});
  s.keys.emplace(std::move(key_upper), at);
  return Status::Ok();
}

std::string ProfileFile::Serialize() const {
  std::string out;
  if (utf8_bom_) out.append(kUtf8Bom);
  for (const Section& s : sections_) {
    for (const Line& l : s.lines) {
      out.append(l.text);
      out.append(l.eol);
    }
  }
  return out;
}

Status ProfileFile::Save(const std::string& path) const {
  return WriteFileAtomic(path, Serialize());
}

ProfileSection::ProfileSection() : content_(std::make_unique<const std::string>()) {}

Result<ProfileSection> ProfileSection::Read(const std::string& path, std::string_view section) {
  auto bytes = ReadWholeFile(path);
  if (!bytes.ok()) return bytes.status();
  return Parse(std::move(bytes).value(), section);
}

ProfileSection ProfileSection::Parse(std::string bytes, std::string_view section) {
  ProfileSection out;
  out.content_ = std::make_unique<const std::string>(std::move(bytes));
  const std::string_view text = WithoutUtf8Bom(*out.content_);
  out.entries_.reserve(text.size() / 48);
  const std::string wanted = ToUpperAscii(TrimSpace(section));
  if (wanted.empty()) return out;  // a "[]" section cannot be named
  bool inside = false;
  ProfileLines lines(text);
  ProfileLine l;
  while (lines.Next(&l)) {
    const std::string_view line = l.text;
    if (auto name = ProfileSectionOf(line)) {
      if (inside) break;  // only the first section of the name counts
      inside = EqualsIgnoreCase(*name, wanted);
      continue;
    }
    if (!inside) continue;
    if (auto key = ProfileKeyOf(line))
      out.entries_.emplace(ToUpperAscii(*key), ProfileValueView(line));
  }
  return out;
}

std::optional<std::string_view> ProfileSection::Get(std::string_view key) const {
  auto it = entries_.find(ToUpperAscii(TrimSpace(key)));
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

}  // namespace quorvin

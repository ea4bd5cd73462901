#include "inject/software_list.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <pugixml.hpp>
#include <unordered_map>
#include <vector>

#include "dat/crc_combine.h"
#include "platform/fileops.h"
#include "platform/text.h"

namespace quorvin {

namespace {

// Sizes and offsets are written "0x" and hex digits, or decimal digits.
std::optional<uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<uint32_t> ParseCrc(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The entities a list declares in its DOCTYPE (<!ENTITY name "value">), with a budget for
// what expanding them may add, so that a list that declares entities of entities (a "billion
// laughs") costs a bounded amount of memory: past the budget, a reference is kept as it
// stands.
struct Entities {
  std::unordered_map<std::string, std::string> values;
  size_t budget = size_t{8} << 20;
};
constexpr size_t kMaxEntityValue = 1024;

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the references of a text as XML has them: the five predefined entities, character
// references and (when `entities` is given) the declared entities. A reference that is none
// of these stays as it stands, so a text is never cut short: "&#0;" gives a NUL byte, which
// the caller drops with the other control characters.
std::string Decode(std::string_view raw, Entities* entities) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const size_t semi = raw[i] == '&' ? raw.find(';', i + 1) : std::string_view::npos;
    if (semi == std::string_view::npos || semi - i > 64) {
      out.push_back(raw[i]);
      continue;
    }
    const std::string_view name = raw.substr(i + 1, semi - i - 1);
    bool done = true;
    if (name.starts_with('#')) {
      std::string_view digits = name.substr(1);
      int base = 10;
      if (digits.starts_with('x')) {
        digits.remove_prefix(1);
        base = 16;
      }
      uint32_t cp = 0;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, base);
      if (!digits.empty() && ec == std::errc() && end == digits.data() + digits.size() &&
          cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
        AppendUtf8(cp, out);
      } else {
        done = false;
      }
    } else if (name == "lt") {
      out.push_back('<');
    } else if (name == "gt") {
      out.push_back('>');
    } else if (name == "amp") {
      out.push_back('&');
    } else if (name == "apos") {
      out.push_back('\'');
    } else if (name == "quot") {
      out.push_back('"');
    } else {
      done = false;
      if (entities != nullptr) {
        auto it = entities->values.find(std::string(name));
        if (it != entities->values.end() && it->second.size() <= entities->budget) {
          entities->budget -= it->second.size();
          out.append(it->second);
          done = true;
        }
      }
    }
    if (done) {
      i = semi;
    } else {
      out.push_back(raw[i]);
    }
  }
  return out;
}

// The general entities of a DOCTYPE's internal subset whose value is given in the file
// (external and parameter entities are not read). A value may use the entities declared
// before it; one that would grow past kMaxEntityValue is not kept.
Entities DeclaredEntities(std::string_view doctype) {
  Entities e;
  size_t at = 0;
  while ((at = doctype.find("<!ENTITY", at)) != std::string_view::npos) {
    at += 8;
    auto skip_blanks = [&] {
      while (at < doctype.size() &&
             std::string_view(" \t\r\n").find(doctype[at]) != std::string_view::npos) {
        ++at;
      }
    };
    skip_blanks();
    if (at < doctype.size() && doctype[at] == '%') continue;
    const size_t name_begin = at;
    while (at < doctype.size() &&
           std::string_view(" \t\r\n\"'>").find(doctype[at]) == std::string_view::npos) {
      ++at;
    }
    std::string name(doctype.substr(name_begin, at - name_begin));
    skip_blanks();
    if (name.empty() || at >= doctype.size() || (doctype[at] != '"' && doctype[at] != '\'')) {
      continue;
    }
    const size_t close = doctype.find(doctype[at], at + 1);
    if (close == std::string_view::npos) break;
    std::string value = Decode(doctype.substr(at + 1, close - at - 1), &e);
    at = close + 1;
    // The first declaration of a name is the one that counts.
    if (value.size() <= kMaxEntityValue) e.values.emplace(std::move(name), std::move(value));
  }
  e.budget = Entities().budget;
  return e;
}

// The decoded text of an element: all of its text and CDATA pieces (a comment inside the
// text does not cut it short).
std::string TextOf(const pugi::xml_node& element, Entities& entities) {
  std::string out;
  for (pugi::xml_node piece : element.children()) {
    if (piece.type() == pugi::node_pcdata) out += Decode(piece.value(), &entities);
    if (piece.type() == pugi::node_cdata) out += piece.value();
  }
  return out;
}

std::string Attr(const pugi::xml_node& node, const char* name) {
  return Decode(node.attribute(name).value(), nullptr);
}

// A text as one field of an entry: on one line, without "|", without blanks around it.
// Line breaks and TABs become blanks; other control characters (NUL included) are dropped.
std::string Field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\t' || c == '\r' || c == '\n') {
      out.push_back(' ');
    } else if (c == '|') {
      out.push_back('-');
    } else if (!IsControlChar(c)) {
      out.push_back(c);
    }
  }
  return std::string(TrimBlanks(out));
}

struct Image {
  uint32_t crc = 0;  // the CRC-32 of no bytes
  uint64_t size = 0;
  bool bad_dump = false;
};

// The file a part makes: see the class comment for the layout.
std::optional<Image> PartImage(const pugi::xml_node& part) {
  std::vector<pugi::xml_node> areas;
  if (pugi::xml_node prg = part.find_child_by_attribute("dataarea", "name", "prg")) {
    areas.push_back(prg);
    if (pugi::xml_node chr = part.find_child_by_attribute("dataarea", "name", "chr"))
      areas.push_back(chr);
  } else {
    for (pugi::xml_node area : part.children("dataarea")) areas.push_back(area);
  }
  struct Rom {
    uint64_t offset, size;
    uint32_t crc;
  };
  Image image;
  bool any = false;
  std::vector<Rom> roms;
  for (const pugi::xml_node& area : areas) {
    roms.clear();
    for (pugi::xml_node rom : area.children("rom")) {
      if (!rom.attribute("name")) continue;
      const std::string status = Attr(rom, "status");
      if (status == "nodump") return std::nullopt;
      auto crc = ParseCrc(Attr(rom, "crc"));
      auto size = ParseNumber(Attr(rom, "size"));
      if (!crc || !size) return std::nullopt;
      auto offset =
          rom.attribute("offset") ? ParseNumber(Attr(rom, "offset")) : std::optional<uint64_t>(0);
      if (!offset) return std::nullopt;
      if (status == "baddump") image.bad_dump = true;
      roms.push_back(Rom{*offset, *size, *crc});
    }
    std::stable_sort(roms.begin(), roms.end(),
                     [](const Rom& a, const Rom& b) { return a.offset < b.offset; });
    for (const Rom& r : roms) {
      image.crc = Crc32Combine(image.crc, r.crc, r.size);
      image.size += r.size;
      any = true;
    }
  }
  // An image of no bytes would name every empty file (a failed copy, a placeholder).
  if (!any || image.size == 0) return std::nullopt;
  return image;
}

bool RomKeyLess(const RomKey& a, const RomKey& b) {
  return a.crc != b.crc ? a.crc < b.crc : a.size < b.size;
}

// The roms a set of the part holds, one file each: every dumped rom of every data area.
std::optional<std::vector<RomKey>> PartDumpedRoms(const pugi::xml_node& part) {
  std::vector<RomKey> roms;
  for (pugi::xml_node area : part.children("dataarea")) {
    for (pugi::xml_node rom : area.children("rom")) {
      if (!rom.attribute("name")) continue;
      const std::string_view flag = rom.attribute("loadflag").value();
      if (flag == "reload" || flag == "continue" || flag == "fill" || flag == "ignore") continue;
      if (std::string_view(rom.attribute("status").value()) == "nodump") continue;
      auto crc = ParseCrc(rom.attribute("crc").value());
      auto size = ParseNumber(rom.attribute("size").value());
      if (!crc || !size) return std::nullopt;
      roms.push_back(RomKey{*crc, *size});
    }
  }
  if (roms.empty()) return std::nullopt;
  std::sort(roms.begin(), roms.end(), RomKeyLess);
  return roms;
}

// 1-based line of a byte offset into the text.
size_t LineOf(std::string_view text, ptrdiff_t offset) {
  const size_t end = std::min(text.size(), static_cast<size_t>(std::max<ptrdiff_t>(offset, 0)));
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + end, '\n'));
}

}  // namespace

Result<SoftwareList> SoftwareList::Load(const std::string& path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes.ok()) return bytes.status();
  return Parse(std::move(bytes).value(), path);
}

Result<SoftwareList> SoftwareList::Parse(std::string text, const std::string& path) {
  SoftwareList list;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return list;
  // The parse works in place on a copy the error message can still count lines in.
  std::string buffer = text;
  pugi::xml_document doc;
  // References are decoded here (Decode), not by the parser: the parser would end a text at
  // the NUL of "&#0;" and leave declared entities as they stand. The DOCTYPE is kept for its
  // entity declarations.
  pugi::xml_parse_result parsed =
      doc.load_buffer_inplace(buffer.data(), buffer.size(),
                              (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_doctype);
  if (!parsed) {
    return Status::Corrupt("The software list " + path +
                           " is not well-formed XML: " + parsed.description() + " at line " +
                           std::to_string(LineOf(text, parsed.offset)) + " (byte " +
                           std::to_string(parsed.offset) + ")");
  }
  pugi::xml_node root = doc.document_element();
  // The parser takes a second top-level element without complaint; XML does not.
  for (pugi::xml_node extra = root.next_sibling(); extra; extra = extra.next_sibling()) {
    if (extra.type() != pugi::node_element) continue;
    return Status::Corrupt("The software list " + path +
                           " is not well-formed XML: a second top-level element at line " +
                           std::to_string(LineOf(text, extra.offset_debug())));
  }
  if (std::string_view(root.name()) != "softwarelist") {
    return Status::Corrupt("The file " + path + " is not a software list: it holds <" +
                           std::string(root.name()) + "> where <softwarelist> belongs");
  }
  Entities entities;
  for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_doctype) entities = DeclaredEntities(node.value());
  }
  for (pugi::xml_node software : root.children("software")) {
    std::string head = Field(TextOf(software.child("description"), entities));
    head += '|';
    head += Field(TextOf(software.child("year"), entities));
    head += '|';
    head += Field(TextOf(software.child("publisher"), entities));
    head += '|';
    const std::string supported = Attr(software, "supported");
    const char* emulation = supported == "partial" ? ", emulation partial"
                            : supported == "no"    ? ", emulation not supported"
                                                   : "";
    const std::string short_name = Field(software.attribute("name").value());
    for (pugi::xml_node part : software.children("part")) {
      std::optional<Image> image = PartImage(part);
      std::optional<std::vector<RomKey>> roms = PartDumpedRoms(part);
      if (!image && !roms) continue;
      Entry e{image ? image->crc : 0,
              static_cast<uint32_t>(list.entries_.size()),
              image ? image->size : 0,
              static_cast<uint32_t>(list.values_.size()),
              0,
              0,
              0};
      list.values_ += head;
      list.values_ += image && image->bad_dump ? "Known Bad Dump" : "Good ROM";
      list.values_ += emulation;
      e.value_size = static_cast<uint32_t>(list.values_.size() - e.value_begin);
      e.short_begin = static_cast<uint32_t>(list.values_.size());
      list.values_ += short_name;
      e.short_size = static_cast<uint32_t>(short_name.size());
      if (image) list.entries_.push_back(e);
      if (roms) {
        list.part_roms_by_key_.emplace(KeyOf(*roms), list.part_roms_.size());
        list.part_roms_.push_back(PartRoms{std::move(*roms), e});
      }
    }
  }
  // The index: by CRC and size, the first part in file order keeping an image that a later
  // one repeats. (The later one's value stays in values_, unused: rare enough.)
  std::stable_sort(list.entries_.begin(), list.entries_.end(), [](const Entry& a, const Entry& b) {
    return a.crc != b.crc ? a.crc < b.crc : a.image_size < b.image_size;
  });
  list.entries_.erase(std::unique(list.entries_.begin(), list.entries_.end(),
                                  [](const Entry& a, const Entry& b) {
                                    return a.crc == b.crc && a.image_size == b.image_size;
                                  }),
                      list.entries_.end());
  list.entries_.shrink_to_fit();
  list.values_.shrink_to_fit();
  return list;
}

const SoftwareList::Entry* SoftwareList::Find(uint32_t crc, uint64_t size) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::pair(crc, size),
                             [](const Entry& e, const std::pair<uint32_t, uint64_t>& k) {
                               return e.crc != k.first ? e.crc < k.first : e.image_size < k.second;
                             });
  if (it == entries_.end() || it->crc != crc || it->image_size != size) return nullptr;
  return &*it;
}

std::string_view SoftwareList::LookupCrcInfo(std::string_view crc_text) const {
  auto crc = ParseCrc(crc_text);
  if (!crc) return {};
  auto it = std::lower_bound(entries_.begin(), entries_.end(), *crc,
                             [](const Entry& e, uint32_t c) { return e.crc < c; });
  const Entry* first = nullptr;
  for (; it != entries_.end() && it->crc == *crc; ++it) {
    if (first == nullptr || it->order < first->order) first = &*it;
  }
  return first == nullptr ? std::string_view() : ValueOf(*first);
}

GoodNameLookup::Match SoftwareList::LookupRom(std::string_view crc_text,
                                              std::optional<uint64_t> size) const {
  if (!size) return Match{LookupCrcInfo(crc_text), {}};
  auto crc = ParseCrc(crc_text);
  if (!crc) return {};
  if (const Entry* whole = Find(*crc, *size)) return Match{ValueOf(*whole), {}};
  if (headerless_ == nullptr) return {};
  // A guess at the file's cartridge data counts only when an entry has its size and CRC.
  std::vector<const Entry*> found;
  for (const HeaderlessCrc& data : headerless_->Find(*crc, *size)) {
    const Entry* e = Find(data.crc, data.size);
    if (e != nullptr && std::find(found.begin(), found.end(), e) == found.end()) found.push_back(e);
  }
  Match m;
  if (found.size() == 1) {
    m.value = ValueOf(*found.front());
  } else {
    for (const Entry* e : found) m.ambiguous.push_back(ValueOf(*e));
  }
  return m;
}

std::vector<SoftwareList::Listed> SoftwareList::Entries() const {
  std::vector<Listed> out;
  out.reserve(entries_.size());
  for (const Entry& e : entries_) out.push_back(Listed{e.crc, e.image_size, ValueOf(e)});
  return out;
}

uint64_t SoftwareList::KeyOf(const std::vector<RomKey>& sorted) {
  // FNV-1a over the sorted roms: equal sets have equal keys.
  uint64_t h = 14695981039346656037ull;
  auto mix = [&h](uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 1099511628211ull;
    }
  };
  for (const RomKey& r : sorted) {
    mix(r.crc);
    mix(r.size);
  }
  return h;
}

ArchiveMatch SoftwareList::LookupArchive(const std::vector<RomKey>& roms) const {
  ArchiveMatch match;
  if (roms.empty()) return match;
  std::vector<RomKey> sorted = roms;
  std::sort(sorted.begin(), sorted.end(), RomKeyLess);
  // The first part in file order whose roms are these.
  const PartRoms* found = nullptr;
  auto [lo, hi] = part_roms_by_key_.equal_range(KeyOf(sorted));
  for (auto it = lo; it != hi; ++it) {
    const PartRoms& p = part_roms_[it->second];
    if (p.roms == sorted && (found == nullptr || &p < found)) found = &p;
  }
  if (found != nullptr) {
    match.entry = ValueOf(found->entry);
    match.short_name = ShortNameOf(found->entry);
    return match;
  }
  if (roms.size() != 1) return match;
  // A lone member, as a loose file of its size and CRC: the whole image, else its data
  // after a header (the scan noted it from the member's first bytes).
  const RomKey& rom = roms[0];
  std::vector<const Entry*> fits;
  if (const Entry* whole = Find(rom.crc, rom.size)) {
    fits.push_back(whole);
  } else if (headerless_ != nullptr) {
    for (const HeaderlessCrc& data : headerless_->Find(rom.crc, rom.size)) {
      const Entry* e = Find(data.crc, data.size);
      if (e != nullptr && std::find(fits.begin(), fits.end(), e) == fits.end()) fits.push_back(e);
    }
  }
  if (fits.size() == 1) {
    match.entry = ValueOf(*fits[0]);
    match.short_name = ShortNameOf(*fits[0]);
  } else {
    for (const Entry* e : fits) match.conflicting.push_back(ValueOf(*e));
  }
  return match;
}

size_t SoftwareList::MemoryUse() const {
  size_t parts = part_roms_.capacity() * sizeof(PartRoms) +
                 part_roms_by_key_.size() * (3 * sizeof(void*) + sizeof(uint64_t)) +
                 part_roms_by_key_.bucket_count() * sizeof(void*);
  for (const PartRoms& p : part_roms_) parts += p.roms.capacity() * sizeof(RomKey);
  return values_.capacity() + entries_.capacity() * sizeof(Entry) + parts;
}

}  // namespace quorvin

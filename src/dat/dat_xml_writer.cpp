// The XML dat format. pugixml builds the document and escapes every text; this file only
// decides what goes where, and makes each text something XML 1.0 can hold.
#include <pugixml.hpp>

#include "dat/dat_writer.h"
#include "platform/text.h"

namespace quorvin {

namespace {

constexpr const char* kDoctype =
    "datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
    "\"http://www.logiqx.com/Dats/datafile.dtd\"";

// The length of the valid UTF-8 sequence at s[i], or 0 when none begins there (overlong
// forms, surrogates and values past U+10FFFF are not valid).
size_t Utf8Length(std::string_view s, size_t i, uint32_t* code) {
  const auto b = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t len = 0;
  uint32_t cp = 0;
  uint32_t min = 0;
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code = cp;
  return len;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else {  // only U+0080-U+00FF come here: Latin-1 bytes
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// What a text problem was, for the warning.
struct TextIssues {
  bool latin1 = false;
  bool dropped = false;
};

// The text as XML 1.0 can hold it: valid UTF-8 kept; any other byte as the Latin-1
// character of its value; control characters but TAB (a line break would not come back as it
// stands: readers turn CR into LF), U+FFFE and U+FFFF left out.
std::string XmlText(std::string_view s, TextIssues& issues) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t len = Utf8Length(s, i, &cp);
    if (len == 0) {
      issues.latin1 = true;
      AppendUtf8(out, static_cast<unsigned char>(s[i]));
      ++i;
      continue;
    }
    if ((cp < 0x20 && cp != '\t') || cp == 0xFFFE || cp == 0xFFFF) {
      issues.dropped = true;
    } else {
      out.append(s.substr(i, len));
    }
    i += len;
  }
  return out;
}

// pugixml writes LF line ends; the program writes CR LF. Every line break pugixml writes is
// its own (it escapes those inside attribute values, and texts hold none).
class CrLfWriter : public pugi::xml_writer {
 public:
  explicit CrLfWriter(AtomicFile& file) : file_(file) {}
  void write(const void* data, size_t size) override {
    if (!status_.ok()) return;
    std::string_view bytes(static_cast<const char*>(data), size);
    std::string out;
    out.reserve(size + size / 16);
    for (char c : bytes) {
      if (c == '\n') out.push_back('\r');
      out.push_back(c);
    }
    status_ = file_.Write(out);
  }
  const Status& status() const { return status_; }

 private:
  AtomicFile& file_;
  Status status_;
};

std::string CrcHex(uint32_t crc) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, crc >>= 4) out[static_cast<size_t>(i)] = kDigits[crc & 0xF];
  return out;
}

}  // namespace

struct XmlDatWriter::Document {
  pugi::xml_document doc;
  pugi::xml_node root;
};

XmlDatWriter::XmlDatWriter(AtomicFile file, Reporter& reporter)
    : file_(std::move(file)), reporter_(reporter), doc_(std::make_unique<Document>()) {
  pugi::xml_node decl = doc_->doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  doc_->doc.append_child(pugi::node_doctype).set_value(kDoctype);
  doc_->root = doc_->doc.append_child("datafile");
}

XmlDatWriter::~XmlDatWriter() = default;

Result<std::unique_ptr<XmlDatWriter>> XmlDatWriter::Create(const std::string& path,
                                                           Reporter& reporter) {
  auto file = AtomicFile::Create(path);
  if (!file.ok()) return file.status();
  return std::unique_ptr<XmlDatWriter>(new XmlDatWriter(std::move(file).value(), reporter));
}

Status XmlDatWriter::WriteHeader(const DatHeader& header) {
  TextIssues issues;
  pugi::xml_node h = doc_->root.prepend_child("header");
  // The DTD's order: name, description, version, author.
  h.append_child("name").text().set(XmlText(TrimBlanks(header.name), issues).c_str());
  h.append_child("description").text().set(XmlText(header.description, issues).c_str());
  const std::string version = header.version.empty() ? DatVersionOfToday() : header.version;
  h.append_child("version").text().set(XmlText(version, issues).c_str());
  h.append_child("author").text().set(XmlText(header.author, issues).c_str());
  if (issues.latin1) {
    reporter_.Warning("The header of " + file_.path() +
                      " holds bytes that are not UTF-8; they were written as Latin-1 characters");
  }
  if (issues.dropped) {
    reporter_.Warning("The header of " + file_.path() +
                      " holds control characters, which XML cannot hold; they were left out");
  }
  return Status::Ok();
}

Status XmlDatWriter::WriteGame(const DatGame& game) {
  TextIssues issues;
  pugi::xml_node g = doc_->root.append_child("game");
  g.append_attribute("name") = XmlText(game.name, issues).c_str();
  // The DTD's order: comment (the format has no driver element), description, year,
  // manufacturer, rom.
  if (!game.driver.empty())
    g.append_child("comment").text().set(XmlText(game.driver, issues).c_str());
  g.append_child("description").text().set(XmlText(game.description, issues).c_str());
  if (!game.year.empty()) g.append_child("year").text().set(XmlText(game.year, issues).c_str());
  if (!game.manufacturer.empty())
    g.append_child("manufacturer").text().set(XmlText(game.manufacturer, issues).c_str());
  for (const DatRom& rom : game.roms) {
    pugi::xml_node r = g.append_child("rom");
    r.append_attribute("name") = XmlText(rom.name, issues).c_str();
    r.append_attribute("size") = std::to_string(rom.size).c_str();
    r.append_attribute("crc") = CrcHex(rom.crc).c_str();
  }
  const std::string who = "The game \"" + ForMessage(game.name) + "\" in " + file_.path();
  if (issues.latin1) {
    reporter_.Warning(who +
                      " has bytes that are not UTF-8; they were written as Latin-1 characters");
  }
  if (issues.dropped) {
    reporter_.Warning(who + " has control characters, which XML cannot hold; they were left out");
  }
  const size_t others =
      game.other_lines_after_description.size() + game.other_lines_after_roms.size();
  if (others != 0) {
    reporter_.Warning(who + " had " + std::to_string(others) +
                      " lines the XML format has no place for; they were left out");
  }
  return Status::Ok();
}

Status XmlDatWriter::WriteOtherLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    reporter_.Warning("Left out of " + file_.path() + ": " + std::to_string(lines.size()) +
                      " lines of the dat that hold no game (\"" + ForMessage(line, 60) + "\")");
    break;
  }
  return Status::Ok();
}

Status XmlDatWriter::Commit() {
  CrLfWriter out(file_);
  doc_->doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
  if (!out.status().ok()) return out.status();
  return file_.Commit();
}

}  // namespace quorvin

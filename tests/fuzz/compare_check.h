#pragma once

// Runs the compare pass on a temporary dat and checks what it wrote against what it read.
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "dat/dat_writer.h"
#include "fuzz_util.h"
#include "inject/compare_pass.h"
#include "inject/good_name_lookup.h"
#include "platform/fileops.h"
#include "platform/reporter.h"
#include "rename/conversion_table.h"

namespace quorvin::fuzz {

inline std::vector<std::string> LinesOf(const std::string& path) {
  std::vector<std::string> lines;
  auto in = LineReader::Open(path);
  if (!in.ok()) Fail(__FILE__, __LINE__, "open", path);
  std::string line;
  while (in->Next(line)) lines.push_back(line);
  return lines;
}

// The lines the entry writer may rewrite or add; every other line is framing or a line of a
// block and must come out as it went in, in the same order.
inline bool EntryLine(const std::string& l) {
  for (const char* p :
       {"\tname ", "\tdescription ", "\trom ( ", "\tyear ", "\tmanufacturer ", "\tdriver ( "}) {
    if (l.rfind(p, 0) == 0) return true;
  }
  return false;
}

inline size_t CountPrefix(const std::vector<std::string>& lines, const char* prefix) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

// Counts the games a dat reader hands over.
struct GameCounter : DatWriter {
  Status WriteHeader(const DatHeader&) override { return Status::Ok(); }
  Status WriteGame(const DatGame&) override {
    ++games;
    return Status::Ok();
  }
  Status WriteOtherLines(const std::vector<std::string>&) override { return Status::Ok(); }
  Status Commit() override { return Status::Ok(); }
  size_t games = 0;
};

// The same pass into an XML dat: well-formed, with a description in every game, and as many
// games as the text dat holds.
inline void CheckXmlForm(const std::string& sandbox, const std::string& text_out,
                         const GoodNameLookup& db) {
  const std::string temp = sandbox + "/tempdat.dat";
  const std::string xml = sandbox + "/out.xml";
  NullReporter reporter;
  Status s = ComparePass(temp, xml, db, nullptr, reporter);
  FUZZ_CHECK(s.ok(), s.message());
  GameCounter text;
  FUZZ_CHECK(ReadTextDat(text_out, text).ok(), "the text dat could not be read back");
  pugi::xml_document doc;
  FUZZ_CHECK(doc.load_file(xml.c_str()), "the XML dat is not well-formed");
  size_t games = 0;
  for (pugi::xml_node g : doc.child("datafile").children("game")) {
    FUZZ_CHECK(g.child("description"), "a game without its description");
    ++games;
  }
  FUZZ_CHECK(games == text.games, "the XML dat holds other games than the text dat");
}

// `identity`: the database knows no game, so the output must be the input, line for line.
inline void RunAndCheckComparePass(const std::string& sandbox, const std::string& dat,
                                   const GoodNameLookup& db, bool identity) {
  const std::string temp = sandbox + "/tempdat.dat";
  const std::string out = sandbox + "/out.dat";
  WriteFile(temp, dat);
  auto table = ConversionTable::Load(sandbox + "/nes.cnv");
  if (!table.ok()) Fail(__FILE__, __LINE__, "table", table.status().message());
  NullReporter reporter;
  Status s = ComparePass(temp, out, db, &*table, reporter);
  FUZZ_CHECK(s.ok(), s.message());
  const std::vector<std::string> in_lines = LinesOf(temp);
  const std::vector<std::string> out_lines = LinesOf(out);
  CheckXmlForm(sandbox, out, db);
  if (identity) {
    FUZZ_CHECK(in_lines == out_lines, "a dat without known games came out changed");
    return;
  }
  std::vector<std::string> in_rest, out_rest;
  for (const std::string& l : in_lines)
    if (!EntryLine(l)) in_rest.push_back(l);
  for (const std::string& l : out_lines)
    if (!EntryLine(l)) out_rest.push_back(l);
  FUZZ_CHECK(in_rest == out_rest, "lines other than a game's own were dropped, doubled or moved");
  for (const char* p : {"\tname ", "\tdescription ", "\trom ( "}) {
    FUZZ_CHECK(CountPrefix(in_lines, p) == CountPrefix(out_lines, p),
               std::string("the number of \"") + p + "\" lines changed");
  }
  FUZZ_CHECK(out_lines.size() >= in_lines.size(), "the output lost lines");
  (void)table->Save();  // the recorded table must be writable
}

}  // namespace quorvin::fuzz

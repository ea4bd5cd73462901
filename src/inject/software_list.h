#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dat/rom_header.h"
#include "inject/good_name_lookup.h"
#include "platform/status.h"

namespace quorvin {

// A software list of the emulator ("hash/<system>.xml"), read once and indexed by CRC-32 and
// size.
//
// Each <part> of a <software> is one file a user may hold: its roms laid end to end. When
// the part has a "prg" data area (the NES layout), that is the "prg" roms followed by the
// "chr" roms; otherwise the roms of every data area in file order. Within an area the roms
// stand in offset order. The part's entry is found by the CRC-32 and size of that whole image,
// worked out from the listed roms' CRCs and sizes (no rom data is read); a single rom's CRC
// alone does not find a part of several roms. Roms without a name (reload, fill and
// continue instructions) hold no bytes of their own and are left out; a part with a
// "nodump" rom or a rom without a CRC, or whose roms hold no bytes at all, has no entry. XML
// comments are not read.
//
// An entry reads as a CRC database value: description | year | publisher | driver details,
// the details being "Good ROM" or "Known Bad Dump" (a rom of the part is marked "baddump"),
// with ", emulation partial" or ", emulation not supported" added after the software's
// `supported` attribute. References are decoded: the predefined entities, character
// references and the general entities the DOCTYPE declares (within a bound on what their
// expansion adds; past it, and for a reference nobody declared, the text keeps the
// reference as written), so that no text is ever cut short. Line breaks and TABs become
// blanks, other control characters (NUL included) are dropped, and a "|" inside a text
// becomes "-", so that the fields stay apart.
class SoftwareList : public GoodNameLookup {
 public:
  SoftwareList() = default;
  // Reads and indexes the list at `path`. NotFound when there is no such file; Io naming the
  // file when it cannot be read; Corrupt naming the file and the line of the first error
  // when it is not well-formed XML, or holds something other than a <softwarelist>. A file
  // that is empty or blank gives an empty list.
  static Result<SoftwareList> Load(const std::string& path);
  // The same for the text of a list; `path` names it in messages.
  static Result<SoftwareList> Parse(std::string text, const std::string& path);

  // Lets the lookup find a dump that carries a header or another byte order (see
  // RomHeaderRules) by its cartridge data when its whole CRC and size find nothing. The table
  // must outlive the list's use.
  void UseHeaderlessCrcs(const HeaderlessCrcs* headerless) { headerless_ = headerless; }

  // The entry of the part whose image has this CRC, whatever its size (the first part in file
  // order when several have it): for callers that do not know the file's size. The empty
  // text when there is none, or when the text is not a CRC.
  std::string_view LookupCrcInfo(std::string_view crc_text) const override;

  // The entry of the part whose image has this CRC and this size (the first part in file
  // order when two have both); failing that, for a file noted in the headerless table, the
  // entry of the part whose image has the size and CRC of the file's cartridge data under a
  // rule it fits. When the rules it fits lead to more than one part, all of them are given as
  // ambiguous. Without a size: as LookupCrcInfo.
  Match LookupRom(std::string_view crc_text, std::optional<uint64_t> size) const override;

  // An archive matches a part when its roms are exactly the part's dumped roms, each by
  // size and CRC, in any order (roms marked "nodump" and the reload, continue and fill rows
  // aside): the layout of the emulator's own sets. Failing that, a lone rom matches as a
  // loose file does (LookupRom). The match carries the software's short name.
  ArchiveMatch LookupArchive(const std::vector<RomKey>& roms) const override;

  // Parts indexed (one per distinct image CRC and size).
  size_t size() const { return entries_.size(); }
  // Every entry with its image's CRC-32 and size, in no particular order.
  struct Listed {
    uint32_t crc;
    uint64_t size;
    std::string_view value;
  };
  std::vector<Listed> Entries() const;
  // Bytes the index holds on the heap, near enough: for measuring.
  size_t MemoryUse() const;

 private:
  struct Entry {
    uint32_t crc;
    uint32_t order;  // the part's place in the file
    uint64_t image_size;
    uint32_t value_begin;
    uint32_t value_size;
    uint32_t short_begin;  // the software's short name, in values_
    uint32_t short_size;
  };
  std::string_view ShortNameOf(const Entry& e) const {
    return std::string_view(values_).substr(e.short_begin, e.short_size);
  }
  // A part's dumped roms, sorted, for the archive match.
  struct PartRoms {
    std::vector<RomKey> roms;
    Entry entry;
  };
  static uint64_t KeyOf(const std::vector<RomKey>& sorted);
  std::string_view ValueOf(const Entry& e) const {
    return std::string_view(values_).substr(e.value_begin, e.value_size);
  }
  // The entry of this image CRC and size, or null.
  const Entry* Find(uint32_t crc, uint64_t size) const;
  std::string values_;  // every entry's value, one after another
  // Sorted by CRC, then size; one entry per CRC and size, the first in file order. Built once
  // when the list is read.
  std::vector<Entry> entries_;
  std::vector<PartRoms> part_roms_;                             // in file order
  std::unordered_multimap<uint64_t, size_t> part_roms_by_key_;  // KeyOf -> part_roms_
  const HeaderlessCrcs* headerless_ = nullptr;
};

}  // namespace quorvin

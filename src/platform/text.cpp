#include "platform/text.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quorvin {

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

std::string ToUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ToUpperAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToUpperAscii(a[i]) != ToUpperAscii(b[i])) return false;
  }
  return true;
}

namespace {

// Eight bytes with every ASCII small letter made capital, the rest as they were. Each byte's
// low seven bits are compared with 'a' and 'z' by adding to them; no sum carries into the
// next byte.
uint64_t UpperAscii8(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t low7 = x & ~kHigh;
  const uint64_t from_a = low7 + (0x80 - 'a') * kOnes;     // high bit: at least 'a'
  const uint64_t past_z = low7 + (0x80 - 'z' - 1) * kOnes;  // high bit: past 'z'
  const uint64_t small = from_a & ~past_z & ~x & kHigh;
  return x - (small >> 2);  // 0x20 off each small letter
}

}  // namespace

bool LessIgnoreCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  // Sorting a folder compares names that mostly share a long beginning: eight bytes a step,
  // in the order they lie in memory (the byte of lowest address is the lowest of the word).
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x == y) continue;
      x = UpperAscii8(x);
      y = UpperAscii8(y);
      if (x == y) continue;
      const int shift = std::countr_zero(x ^ y) & ~7;
      return ((x >> shift) & 0xFF) < ((y >> shift) & 0xFF);
    }
  }
  for (; i < n; ++i) {
    auto x = static_cast<unsigned char>(ToUpperAscii(a[i]));
    auto y = static_cast<unsigned char>(ToUpperAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void SortIgnoreCase(std::vector<std::string>& names) {
  // A name's first eight bytes, folded, as a number that orders as they do; shorter names are
  // padded with zero bytes, which no name holds, so a name before its own continuations
  // orders first, as LessIgnoreCase has it. Equal numbers leave the order to LessIgnoreCase.
  struct Entry {
    uint64_t key;
    std::string* name;
  };
  std::vector<Entry> entries;
  entries.reserve(names.size());
  for (std::string& name : names) {
    uint64_t w = 0;
    for (size_t i = 0; i < name.size() && i < 8; ++i) {
      w |= uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
    }
    uint64_t key = 0;
    w = UpperAscii8(w);
    for (int i = 0; i < 8; ++i) key = (key << 8) | ((w >> (8 * i)) & 0xFF);
    entries.push_back({key, &name});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.key != b.key) return a.key < b.key;
    return LessIgnoreCase(*a.name, *b.name);
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (const Entry& e : entries) sorted.push_back(std::move(*e.name));
  names = std::move(sorted);
}

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, pos - start));
    start = pos + 1;
  }
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t start = 0;
  while (true) {
    size_t pos = s.find(from, start);
    if (pos == std::string_view::npos) break;
    out.append(s.substr(start, pos - start));
    out.append(to);
    start = pos + from.size();
  }
  out.append(s.substr(start));
  return out;
}

std::string RemoveChars(std::string_view s, std::string_view chars) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (chars.find(c) == std::string_view::npos) out.push_back(c);
  }
  return out;
}

std::string QuoteIfBlank(std::string_view s) {
  if (s.find(' ') == std::string_view::npos) return std::string(s);
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back('"');
  out.append(s);
  out.push_back('"');
  return out;
}

bool IsControlChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

bool HasControlChar(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return IsControlChar(c); });
}

std::string RemoveControlChars(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (!IsControlChar(c)) out.push_back(c);
  }
  return out;
}

std::string ForMessage(std::string_view s, size_t max_bytes) {
  bool cut = false;
  if (s.size() > max_bytes) {
    size_t n = max_bytes;
    // Do not end inside a UTF-8 sequence: back off over continuation bytes.
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    s = s.substr(0, n);
    cut = true;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() + 3);
  for (char c : s) {
    if (!IsControlChar(c)) {
      out.push_back(c);
    } else if (c == '\n') {
      out.append("\\n");
    } else if (c == '\r') {
      out.append("\\r");
    } else if (c == '\t') {
      out.append("\\t");
    } else {
      auto u = static_cast<unsigned char>(c);
      out.append("\\x");
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0xF]);
    }
  }
  if (cut) out.append("...");
  return out;
}

namespace {

// The unit for a number of bytes, and the number in it with one decimal.
struct Sized {
  std::string number;
  const char* unit;
};

Sized InUnits(uint64_t bytes, int unit_index) {
  static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  if (unit_index == 0) return {std::to_string(bytes), kUnits[0]};
  const double scaled =
      static_cast<double>(bytes) / static_cast<double>(uint64_t{1} << (10 * unit_index));
  // Tenths, rounded down: a file of 8 GiB less one byte never reads "8.0 GiB" before the end.
  const uint64_t tenths = static_cast<uint64_t>(scaled * 10.0);
  return {std::to_string(tenths / 10) + "." + std::to_string(tenths % 10), kUnits[unit_index]};
}

int UnitOf(uint64_t bytes) {
  int unit = 0;
  while (unit < 4 && bytes >= (uint64_t{1} << (10 * (unit + 1)))) ++unit;
  return unit;
}

}  // namespace

std::string SizeText(uint64_t bytes) {
  Sized s = InUnits(bytes, UnitOf(bytes));
  return s.number + " " + s.unit;
}

std::string ByteProgressText(uint64_t done, uint64_t total) {
  if (total == 0) return SizeText(done);
  const int unit = UnitOf(total);
  // Both in the total's unit, so that the two numbers compare at a glance.
  Sized d = InUnits(done, unit);
  Sized t = InUnits(total, unit);
  return d.number + " of " + t.number + " " + t.unit;
}

}  // namespace quorvin

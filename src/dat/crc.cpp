#include "dat/crc.h"

#include <array>
#include <bit>
#include <cstring>

#include "dat/crc_tiers.h"
#include "platform/fileops.h"

namespace quorvin {

namespace {

constexpr uint32_t kPoly = 0xEDB88320u;
constexpr int kSlices = 16;

// Tables for slicing-by-16: table 0 is the standard table; table k advances a byte through
// k further zero bytes. All are built by the compiler.
constexpr std::array<std::array<uint32_t, 256>, kSlices> MakeTables() {
  std::array<std::array<uint32_t, 256>, kSlices> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
    t[0][i] = c;
  }
  for (int s = 1; s < kSlices; ++s) {
    for (uint32_t i = 0; i < 256; ++i) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  }
  return t;
}

constexpr auto kTables = MakeTables();
static_assert(kTables[0][1] == 0x77073096u && kTables[0][128] == 0xEDB88320u &&
              kTables[0][255] == 0x2D02EF8Du);

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // the loop below assumes a little-endian machine
}

}  // namespace

const uint32_t* Crc32Table() { return kTables[0].data(); }

uint32_t Crc32UpdateBytewise(uint32_t reg, const uint8_t* data, size_t size) {
  const auto& t = kTables[0];
  for (size_t i = 0; i < size; ++i) reg = (reg >> 8) ^ t[(reg ^ data[i]) & 0xFF];
  return reg;
}

uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t size) {
  // The tier is chosen once; after that a call costs one indirect jump.
  static const Crc32UpdateFn update = CrcTierFunction(ActiveCrcTier());
  return update(reg, data, size);
}

uint32_t Crc32UpdatePortable(uint32_t reg, const uint8_t* p, size_t n) {
  static_assert(std::endian::native == std::endian::little, "slicing loop needs little-endian");
  const auto& t = kTables;
  while (n >= 16) {
    uint32_t a = Load32(p) ^ reg;
    uint32_t b = Load32(p + 4);
    uint32_t c = Load32(p + 8);
    uint32_t d = Load32(p + 12);
    reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    n -= 16;
  }
  return Crc32UpdateBytewise(reg, p, n);
}

uint32_t Crc32(std::string_view bytes) {
  return ~Crc32Update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

clsCRC::clsCRC() { SetAlgorithm(1); }

int32_t clsCRC::AddBytes(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return Value();
  if (useCrc32) {
    crc32Register = Crc32Update(crc32Register, bytes.data(), bytes.size());
  } else {
    uint32_t reg = static_cast<uint32_t>(crc16Register);
    for (uint8_t b : bytes) reg = ((reg & 0xFF) << 8) ^ crc16Table[((reg >> 8) ^ b) & 0xFF];
    crc16Register = static_cast<int32_t>(reg & 0xFFFF);
  }
  return Value();
}

int32_t clsCRC::AddString(std::string_view text) {
  return AddBytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

void clsCRC::SetAlgorithm(int32_t new_value) {
  useCrc32 = new_value != 0;
  if (useCrc32 && !crc32TableReady) BuildCrc32Table();
  if (!useCrc32 && !crc16TableReady) BuildCrc16Table();
  Clear();
}

int32_t clsCRC::Algorithm() const { return useCrc32 ? -1 : 0; }

int32_t clsCRC::CalculateBytes(std::span<const uint8_t> bytes) {
  Clear();
  return AddBytes(bytes);
}

int32_t clsCRC::CalculateString(std::string_view text) {
  Clear();
  return AddString(text);
}

Result<std::optional<int32_t>> clsCRC::CalculateFile(const std::string& filename) {
  auto length = FileLength(filename);
  if (!length.ok()) return length.status();
  if (*length == 0) return std::optional<int32_t>();
  const int32_t saved16 = crc16Register;
  const uint32_t saved32 = crc32Register;
  Clear();
  Status s = ReadFileChunks(filename, [this](const uint8_t* p, size_t n) { AddBytes({p, n}); });
  if (!s.ok()) {
    crc16Register = saved16;
    crc32Register = saved32;
    return s;
  }
  return std::optional<int32_t>(Value());
}

int32_t clsCRC::Value() const {
  if (useCrc32) return static_cast<int32_t>(~crc32Register);
  return crc16Register & 0xFFFF;
}

void clsCRC::SetValue(int32_t new_value) {
  if (useCrc32) {
    crc32Register = static_cast<uint32_t>(new_value);
  } else {
    crc16Register = new_value;
  }
}

void clsCRC::Clear() {
  crc16Register = 0;
  crc32Register = 0xFFFFFFFFu;
}

void clsCRC::BuildCrc16Table() {
  for (int i = 0; i < 256; ++i) {
    int32_t t = i * 256, c = 0;
    for (int k = 0; k < 8; ++k) {
      c = ((c ^ t) & 0x8000) ? (c * 2) ^ 0x1021 : c * 2;
      t *= 2;
    }
    crc16Table[i] = static_cast<uint16_t>(c & 0xFFFF);
  }
  crc16TableReady = true;
}

void clsCRC::BuildCrc32Table() {
  crc32Table = kTables[0].data();
  crc32TableReady = true;
}

}  // namespace quorvin

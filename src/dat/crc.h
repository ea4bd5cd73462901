#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/fileops.h"
#include "platform/status.h"

namespace quorvin {

// CRC-32 of the zlib family (reflected, polynomial 0xEDB88320) on the register in its inverted
// form: start from 0xFFFFFFFF and complement the result. This is the one inner loop every
// CRC-32 in the program goes through: it runs the fastest tier this processor has (see
// crc_tiers.h), chosen once per process.
uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t size);
// The same, one byte at a time: the reference the fast loop is checked and measured against.
uint32_t Crc32UpdateBytewise(uint32_t reg, const uint8_t* data, size_t size);
// The finished CRC-32 of a buffer.
uint32_t Crc32(std::string_view bytes);
// The program's checksum component: CRC-16 (XMODEM) or CRC-32 over bytes, texts and files,
// with a running register so that pieces can be added one after another. Results are signed
// 32-bit numbers (a CRC-32 of 0x80000000 or more comes back negative); callers print their
// unsigned bit pattern.
class clsCRC {
 public:
  // Starts with CRC-32 selected and both registers cleared; Value reads 0.
  clsCRC();

  // Feeds the bytes into the selected register and returns Value.
  int32_t AddBytes(std::span<const uint8_t> bytes);
  int32_t AddString(std::string_view text);
  // 0 selects CRC-16, any other value CRC-32; then clears both registers.
  void SetAlgorithm(int32_t new_value);
  // 0 for CRC-16, -1 for CRC-32.
  int32_t Algorithm() const;
  int32_t CalculateBytes(std::span<const uint8_t> bytes);
  int32_t CalculateString(std::string_view text);
  // The checksum of a whole file; an empty result for a file of length zero (registers left
  // untouched). NotFound / Io naming the file when it cannot be read; registers unchanged.
  Result<std::optional<int32_t>> CalculateFile(const std::string& filename);
  // The finished value: the complement of the CRC-32 register, or the CRC-16 register's low
  // 16 bits.
  int32_t Value() const;
  // Stores the number into the selected register itself (not the finished value).
  void SetValue(int32_t new_value);
  void Clear();

 private:
  void BuildCrc16Table();
  void BuildCrc32Table();

  bool useCrc32 = true;
  int32_t crc16Register = 0;
  uint32_t crc32Register = 0xFFFFFFFFu;
  uint16_t crc16Table[256] = {};
  const uint32_t* crc32Table = nullptr;
  bool crc16TableReady = false;
  bool crc32TableReady = false;
};

// The standard CRC-32 table (a compile-time constant).
const uint32_t* Crc32Table();

}  // namespace quorvin

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/status.h"

// The CRC-32 inner loop comes in tiers, fastest first on processors that have the instructions
// for it. All tiers compute exactly the same function as Crc32Update (crc.h), which uses the
// tier chosen once per process by ActiveCrcTier.
namespace quorvin {

enum class CrcTier {
  kPortable,  // slicing-by-16 table loop; every processor
  kPclmul,    // 128-bit carry-less multiply folding (x86: PCLMULQDQ and SSE4.1)
  kVpclmul,   // 512-bit carry-less multiply folding (x86: VPCLMULQDQ and AVX-512)
};
inline constexpr CrcTier kAllCrcTiers[] = {CrcTier::kPortable, CrcTier::kPclmul, CrcTier::kVpclmul};

using Crc32UpdateFn = uint32_t (*)(uint32_t reg, const uint8_t* data, size_t size);

// "portable", "pclmul", "vpclmul": the names QUORVIN_CRC takes.
std::string_view CrcTierName(CrcTier tier);
// True when this build has the tier and this processor (and its operating system) can run it.
bool CrcTierSupported(CrcTier tier);
// The tier's inner loop, with the contract of Crc32Update; nullptr when !CrcTierSupported.
Crc32UpdateFn CrcTierFunction(CrcTier tier);
// The portable loop, for any processor.
uint32_t Crc32UpdatePortable(uint32_t reg, const uint8_t* data, size_t size);

// The tier to use. `setting` is the value of QUORVIN_CRC (nullptr or empty: not set), and
// `supported(tier)` says whether the processor has a tier. Not set: the fastest supported
// tier. Set: that tier; InvalidInput naming QUORVIN_CRC for a name that is no tier, or for a
// tier that `supported` denies.
Result<CrcTier> ChooseCrcTier(const char* setting, bool (*supported)(CrcTier));

// The tier Crc32Update uses, chosen once per process from QUORVIN_CRC and the processor. When
// QUORVIN_CRC is refused, the fastest supported tier (CheckCrcSetting reports the refusal).
CrcTier ActiveCrcTier();
// Ok, or the refusal of QUORVIN_CRC as ChooseCrcTier gives it for this processor.
Status CheckCrcSetting();

}  // namespace quorvin

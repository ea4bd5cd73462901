#include "dat/crc_tiers.h"

#include <cstdlib>
#include <string>

namespace quorvin {

// The carry-less multiply tiers live in crc_x86.cpp, compiled only for x86 processors.
#if defined(__x86_64__) || defined(__i386__)
uint32_t Crc32UpdatePclmul(uint32_t reg, const uint8_t* data, size_t size);
uint32_t Crc32UpdateVpclmul(uint32_t reg, const uint8_t* data, size_t size);
#endif

std::string_view CrcTierName(CrcTier tier) {
  switch (tier) {
    case CrcTier::kPortable:
      return "portable";
    case CrcTier::kPclmul:
      return "pclmul";
    case CrcTier::kVpclmul:
      return "vpclmul";
  }
  return "portable";
}

bool CrcTierSupported(CrcTier tier) {
  switch (tier) {
    case CrcTier::kPortable:
      return true;
#if defined(__x86_64__) || defined(__i386__)
    // The AVX-512 checks of __builtin_cpu_supports include the operating system's consent
    // (XGETBV) to keeping the wide registers across context switches.
    case CrcTier::kPclmul:
      return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    case CrcTier::kVpclmul:
      return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") &&
             __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
#else
    default:
      return false;
#endif
  }
  return false;
}

Crc32UpdateFn CrcTierFunction(CrcTier tier) {
  if (!CrcTierSupported(tier)) return nullptr;
  switch (tier) {
    case CrcTier::kPortable:
      return Crc32UpdatePortable;
#if defined(__x86_64__) || defined(__i386__)
    case CrcTier::kPclmul:
      return Crc32UpdatePclmul;
    case CrcTier::kVpclmul:
      return Crc32UpdateVpclmul;
#else
    default:
      return nullptr;
#endif
  }
  return nullptr;
}

namespace {

std::string SupportedNames(bool (*supported)(CrcTier)) {
  std::string names;
  for (CrcTier t : kAllCrcTiers) {
    if (!supported(t)) continue;
    if (!names.empty()) names += ", ";
    names += CrcTierName(t);
  }
  return names;
}

}  // namespace

Result<CrcTier> ChooseCrcTier(const char* setting, bool (*supported)(CrcTier)) {
  if (setting == nullptr || *setting == '\0') {
    CrcTier best = CrcTier::kPortable;
    for (CrcTier t : kAllCrcTiers) {
      if (supported(t)) best = t;
    }
    return best;
  }
  for (CrcTier t : kAllCrcTiers) {
    if (CrcTierName(t) != setting) continue;
    if (!supported(t)) {
      return Status::InvalidInput("QUORVIN_CRC=" + std::string(setting) +
                                  " asks for a CRC-32 method this processor does not support; "
                                  "unset QUORVIN_CRC or choose one of: " +
                                  SupportedNames(supported));
    }
    return t;
  }
  return Status::InvalidInput("QUORVIN_CRC must be portable, pclmul or vpclmul, not \"" +
                              std::string(setting) + "\"");
}

CrcTier ActiveCrcTier() {
  static const CrcTier tier = [] {
    auto chosen = ChooseCrcTier(std::getenv("QUORVIN_CRC"), CrcTierSupported);
    return chosen.ok() ? *chosen : *ChooseCrcTier(nullptr, CrcTierSupported);
  }();
  return tier;
}

Status CheckCrcSetting() {
  auto chosen = ChooseCrcTier(std::getenv("QUORVIN_CRC"), CrcTierSupported);
  return chosen.ok() ? Status::Ok() : chosen.status();
}

}  // namespace quorvin

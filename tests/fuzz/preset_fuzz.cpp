// The preset loader: any bytes are read or refused; a preset read and written again reads
// back to the same settings, and writing those gives the same bytes.
#include <string>

#include "fuzz_util.h"
#include "presets/preset_file.h"

using namespace quorvin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  RunSettings base;
  base.cmbHName.list = {"a2600", "nes"};
  base.cmbHName.selected = 1;
  auto first = ParsePreset(bytes, "the preset file fuzz.pre", base);
  if (!first.ok()) {
    FUZZ_CHECK(first.status().message().find("fuzz.pre") != std::string::npos,
               first.status().message());
    return 0;
  }
  FUZZ_CHECK(!first->cmbHName.selected.has_value(), "a system entry is left chosen");
  FUZZ_CHECK(first->cmbHName.list == base.cmbHName.list, "the system list changed");
  const std::string written = FormatPreset(*first);
  auto second = ParsePreset(written, "the preset file fuzz.pre", base);
  FUZZ_CHECK(second.ok(), "a written preset does not read back: " + second.status().message());
  FUZZ_CHECK(FormatPreset(*second) == written, "a preset changed on its way round");
  return 0;
}

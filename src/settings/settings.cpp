#include "settings/settings.h"

namespace quorvin {

std::string SystemName(const RunSettings& settings) {
  const SystemBox& box = settings.cmbHName;
  if (box.selected && *box.selected < box.list.size()) return box.list[*box.selected];
  return box.text;
}

}  // namespace quorvin

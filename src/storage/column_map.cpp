// Dropping candidate category maps: a column stays a tree level while its
// distinct values are within the threshold and their square within the rows.

#include "storage/column_map.h"

#include <cmath>

#include "catalogue/config.h"

namespace {

bool staysCategorised(uint64_t distinctValues, unsigned int rows) {
  if (distinctValues > CONFIG_CATEGORY_THRESHOLD) return false;
  return 2.0 * std::log2(static_cast<double>(distinctValues)) <= std::log2(static_cast<double>(rows));
}

}  // namespace

void cleanColumnMaps(std::map<unsigned short, ColumnMapBase*>& maps, unsigned int rows,
                     const std::vector<unsigned char>& sawNull) {
  for (auto entry = maps.begin(); entry != maps.end();) {
    const bool null = entry->first < sawNull.size() && sawNull[entry->first] != 0;
    if (staysCategorised(entry->second->getSize() + (null ? 1 : 0), rows)) {
      ++entry;
      continue;
    }
    delete entry->second;
    entry = maps.erase(entry);
  }
}

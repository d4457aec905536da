// PartnerCondition: asks the other side's hash table, or for a categorised
// column a table of answers by category number.

#include "query/partner_condition.h"

#include "storage/column_map_base.h"
#include "storage/tree_table.h"
#include "storage/unaligned.h"

PartnerCondition::PartnerCondition(const JoinHashTable& partners, const TreeTable& table, unsigned short joinColumn)
    : partners_(partners), categorised_(table.isPlain[joinColumn] == 0) {
  column = joinColumn;
  if (!categorised_) return;
  ColumnMapBase& map = *table.levelMaps[table.columnIndex[joinColumn]];
  std::vector<unsigned short> numbers;
  map.getAllInts(numbers);
  byNumber_.assign(numbers.empty() ? 0 : numbers.back() + size_t{1}, 0);
  for (const unsigned short number : numbers) byNumber_[number] = partners_.holds(map.getValuePointer(number)) ? 1 : 0;
}

bool PartnerCondition::evaluate(const void* value) const {
  if (!categorised_) {
    return partners_.holds(value);
  }
  const auto number = unaligned::load<unsigned short>(value);
  return number < byNumber_.size() && byNumber_[number] != 0;
}

void PartnerCondition::evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const {
  if (partners_.holdsEach(values, count, bits)) return;
  Condition::evaluateDense(values, width, count, bits);
}

void PartnerCondition::evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const {
  partners_.holdsEachText(texts, count, bits);
}

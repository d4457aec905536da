#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "query/condition.h"
#include "query/join_hash_table.h"

class TreeTable;

// A condition on one side's join column that holds for the rows whose
// value has a partner among the other side's rows (a value held by
// `partners`). Anded with that side's clause, it keeps out of the side's
// narrowing the rows that no pair could use. For a categorised column the
// answer of every category number is worked out once. The hash table and
// the table must outlive the condition.
class PartnerCondition : public Condition {
 public:
  PartnerCondition(const JoinHashTable& partners, const TreeTable& table, unsigned short joinColumn);

  bool evaluate(const void* value) const override;
  // Integer values are answered from the hash table's bitmap when it keeps
  // one.
  void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const override;
  void evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const override;

 private:
  const JoinHashTable& partners_;
  bool categorised_;
  // For a categorised column: per category number, 1 when its value has a
  // partner.
  std::vector<unsigned char> byNumber_;
};

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "query/result_set.h"
#include "query/value_column.h"
#include "storage/data_type.h"

enum class AggregateFunction { COUNT_ROWS, COUNT, SUM, AVG, MIN, MAX };

// The running state of one aggregate in every group of an aggregation,
// groups numbered from 0 in the order they were added. The caller passes
// only values that count: every row to count(*), the values that are not
// NULL to the others.
//
// Answers: count and count(*) a LONG; sum a LONG over integers, a DOUBLE
// over floating-point numbers, NULL when it added nothing; avg a DOUBLE or
// NULL; min and max a value of the column's type (texts ordered as strcmp
// orders them, NaN after every number) or NULL.
class Accumulator {
 public:
  virtual ~Accumulator() = default;

  // The accumulator of `function` over values of `type`; `text`, the
  // aggregate as written, names it in messages. Throws DatabaseException
  // for a sum or average of a type that is no number.
  static std::unique_ptr<Accumulator> create(AggregateFunction function, DATA_TYPE type, std::string text);

  // Makes room for one more group, which has seen no value yet.
  virtual void addGroup() = 0;
  // Takes the stored value at `value` (possibly unaligned) into `group`.
  // Throws DatabaseException when a sum of integers leaves the range of a
  // LONG.
  virtual void add(uint32_t group, const void* value) = 0;
  // Takes `count` values packed `width` bytes apart from `values` on, none
  // of them NULL, into `group`, in their order.
  virtual void addPacked(uint32_t group, const char* values, size_t width, size_t count) = 0;
  // Takes a run of `count` rows, row i in group groups[i]: the value
  // run->value(i) when it is not NULL, or every row when `run` is null
  // (count(*)).
  virtual void addRun(const uint32_t* groups, const ValueRun* run, uint32_t count) = 0;
  // Appends the answer of `group` to `out`, whose type is the answer's.
  virtual void write(uint32_t group, ValueColumn& out) const = 0;
};

#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// The category number of NULL in a categorised column declared nullable:
// the top number, which numbering never assigns (every number a map can
// give a value stays available), so NULL sorts after every value and the
// tree groups NULL rows under it like any other number (only 0 marks an
// unset level of a branch path). No map holds it: getValuePointer answers
// nullptr and containsInt false for it. Beware that the range lookups
// below also answer 65535, as the bound above every value: a condition on
// numbers "at most 65535" takes NULL rows too unless it excludes them.
inline constexpr unsigned short NULL_CATEGORY = 65535;

// Dictionary encoding of one categorised column: every distinct value has an
// order-preserving 16-bit category number (the smaller value always has the
// smaller number). 0 and 65535 are never assigned by numbering; they serve as
// bounds below and above every assigned number. Values are passed as
// pointers to their stored form (see data_type.h).
class ColumnMapBase {
 public:
  virtual ~ColumnMapBase() = default;

  // The number of a value in the map; 0 for a value that is not.
  virtual unsigned short getInt(void* value) = 0;
  // Upper bound of the numbers whose values are <= value (0 or 65535 when
  // no value or every value qualifies, 65535 for an empty map).
  virtual unsigned short getIntLessEq(void* value) = 0;
  // Lower bound of the numbers whose values are >= value (0 or 65535 when
  // every or no value qualifies, 65535 for an empty map).
  virtual unsigned short getIntGreatEQ(void* value) = 0;
  // Numbers a new value keeping the order; false when there is no free
  // number at its place (nothing changes then).
  virtual bool add(void* value) = 0;
  // Records a value with a caller-chosen number, for sampling; the number
  // index is rebuilt by the next recalculatePositions(). True when the
  // value was new to the map (a known value takes the number).
  virtual bool add(void* value, unsigned short number) = 0;
  // Numbers a new value with any free number, whatever its place in the
  // order; 0 when every number is taken (nothing changes then). The map's
  // numbers are out of order, and its range lookups wrong, until the next
  // renumber().
  virtual unsigned short addUnordered(void* value) = 0;
  virtual bool containsValue(void* value) = 0;
  virtual bool containsInt(unsigned short number) = 0;
  // Renumbers every value evenly from 3276 up (over every number when
  // more values than that spacing allows); numbers held elsewhere are
  // stale afterwards. Throws when there are more values than numbers.
  virtual void recalculatePositions() = 0;
  // The same for a map whose numbers index is complete (every value was
  // numbered by add or addUnordered), allocating nothing: sets
  // translation[old] = new for every value's old and new number.
  // `translation` must have 65536 entries.
  virtual void renumber(unsigned short* translation) = 0;
  // Every assigned number, ascending.
  virtual void getAllInts(std::vector<unsigned short>& out) = 0;
  // Number of distinct values.
  virtual uint64_t getSize() = 0;
  // The stored value of an assigned number; valid while the value is in the
  // map (a text map's store may move when it grows). nullptr for a number
  // no value has, NULL_CATEGORY among them.
  virtual void* getValuePointer(unsigned short number) const = 0;
  // A map with the same values and numbers that shares no storage with this
  // one, which stays as it is.
  virtual std::unique_ptr<ColumnMapBase> clone() const = 0;
};

#include "storage/category_numbering.h"

namespace category_numbering {

bool candidate(const unsigned short* predecessor, const unsigned short* successor, unsigned short& out) {
  if (predecessor == nullptr && successor == nullptr) {
    out = FIRST;
    return true;
  }
  if (predecessor == nullptr) {
    if (*successor < 2) return false;
    out = static_cast<unsigned short>(*successor / 2);
    return true;
  }
  const unsigned upper = successor == nullptr ? TOP : *successor;
  out = static_cast<unsigned short>((static_cast<unsigned>(*predecessor) + upper) / 2);
  return true;
}

unsigned short renumbered(uint64_t index, uint64_t count) {
  if (count <= MAX_SPACED_VALUES) {
    const double step = RENUMBER_SPAN / static_cast<double>(count + 1);
    return static_cast<unsigned short>(RENUMBER_START + static_cast<unsigned>(static_cast<double>(index) * step));
  }
  return static_cast<unsigned short>(1 + index * MAX_NUMBERS / count);
}

unsigned short freeNumber(const NumberSet& taken, unsigned short& hint) {
  if (taken.size() >= MAX_NUMBERS) return 0;
  for (const unsigned start : {std::max(1u, unsigned{hint}), 1u}) {
    const unsigned number = taken.firstFree(start, TOP);
    if (number < TOP) {
      hint = static_cast<unsigned short>(number + 1);
      return static_cast<unsigned short>(number);
    }
  }
  return 0;
}

}  // namespace category_numbering

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Where the value of each 16-bit category number lies in its map (a slot
// or an offset, as the map chooses), found in constant time. A map keeps
// one while its numbers do not follow its values (during a load or a
// sample), when no search by number can find them. The table is paged: a
// page of 64 entries is allocated when a number in it is first placed, so
// a map of a few values costs a few hundred bytes, not the 256 KiB of a
// full table. It holds what was last placed for each number; the map tells
// which numbers are assigned, and reads only those.
class NumberSlots {
 public:
  NumberSlots() = default;
  NumberSlots(const NumberSlots& other) { *this = other; }
  NumberSlots& operator=(const NumberSlots& other);
  NumberSlots(NumberSlots&&) noexcept = default;
  NumberSlots& operator=(NumberSlots&&) noexcept = default;

  // The slot last placed for `number`, which must have had one.
  uint32_t at(unsigned short number) const { return (*pages_[number / kPageSize])[number % kPageSize]; }

  // Allocates the page of `number` the first time it is placed; on failure
  // the numbers placed before keep their slots.
  void place(unsigned short number, uint32_t slot) {
    if (pages_.empty()) pages_.resize(kPages);
    std::unique_ptr<Page>& page = pages_[number / kPageSize];
    if (!page) page = std::make_unique<Page>();
    (*page)[number % kPageSize] = slot;
  }

  // Forgets every slot and frees the pages.
  void clear() noexcept { pages_.clear(); }

 private:
  static constexpr size_t kPageSize = 64;
  static constexpr size_t kPages = (size_t{1} << 16) / kPageSize;
  using Page = std::array<uint32_t, kPageSize>;

  std::vector<std::unique_ptr<Page>> pages_;  // empty until the first place(), then kPages entries
};

inline NumberSlots& NumberSlots::operator=(const NumberSlots& other) {
  if (this == &other) return *this;
  std::vector<std::unique_ptr<Page>> pages(other.pages_.size());
  for (size_t at = 0; at < pages.size(); ++at) {
    if (other.pages_[at]) pages[at] = std::make_unique<Page>(*other.pages_[at]);
  }
  pages_ = std::move(pages);
  return *this;
}

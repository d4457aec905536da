#pragma once

#include <vector>

#include "storage/buffer.h"
#include "storage/node_table.h"

// The store of all branch paths of a tree: every path is `pathLength`
// unsigned 16-bit category numbers, stored back to back in the Buffer base
// and addressed by index. Paths are appended, overwritten or renumbered in
// place; only the last one can be taken back. Pointers returned by getPath
// are valid until the next append.
class BranchManager : public Buffer {
 public:
  BranchManager();

  // Sets the path length and forgets every stored path.
  void init(unsigned short length);
  // Appends a path; its index is the previous numPaths. Throws "Incorrect
  // number of values in new path" for a size other than pathLength.
  void addPath(const std::vector<unsigned short>& path);
  // The first value of path `index`.
  const unsigned short* getPath(unsigned int index) const {
    return reinterpret_cast<const unsigned short*>(location.storage) +
           static_cast<size_t>(index) * pathLength;
  }
  // Copies path `index` into `out`.
  void getPath(unsigned int index, std::vector<unsigned short>& out) const;
  // Overwrites path `index`; same size rule as addPath, and the index must
  // name a stored path.
  void updatePath(unsigned int index, const std::vector<unsigned short>& path);
  // Writable access to path `index`, for renumbering in place.
  unsigned short* mutablePath(unsigned int index) {
    return reinterpret_cast<unsigned short*>(location.storage) +
           static_cast<size_t>(index) * pathLength;
  }
  // Takes back the last path; nothing happens when there is none.
  void removeLastPath();

  unsigned int numPaths;      // paths stored
  unsigned short pathLength;  // values per path
};

// Orders nodes by their branch paths: at the first position where the two
// paths differ and neither holds 0, the smaller value comes first. A 0 is an
// unset level and matches any value, so a search for a full path finds the
// node whose set positions agree with it. The BranchManager must outlive
// the comparator.
struct BranchComparator {
  const BranchManager* branches;

  bool operator()(const NodeTable* a, const NodeTable* b) const {
    const unsigned short* left = branches->getPath(a->pathIndex);
    const unsigned short* right = branches->getPath(b->pathIndex);
    for (unsigned short i = 0; i < branches->pathLength; ++i) {
      if (left[i] == right[i] || left[i] == 0 || right[i] == 0) continue;
      return left[i] < right[i];
    }
    return false;
  }
};

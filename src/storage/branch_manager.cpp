// BranchManager: fixed-length branch paths back to back in one buffer; the
// length is checked on every add and overwrite.

#include "storage/branch_manager.h"

#include <algorithm>

#include "errors/database_exception.h"

namespace {

void requirePathLength(const std::vector<unsigned short>& path, unsigned short length) {
  if (path.size() != length) throw DatabaseException("Incorrect number of values in new path");
}

}  // namespace

BranchManager::BranchManager() : numPaths(0), pathLength(0) {}

void BranchManager::init(unsigned short length) {
  pathLength = length;
  numPaths = 0;
  reset();
}

void BranchManager::addPath(const std::vector<unsigned short>& path) {
  requirePathLength(path, pathLength);
  write(path.data(), path.size() * sizeof(unsigned short));
  ++numPaths;
}

void BranchManager::getPath(unsigned int index, std::vector<unsigned short>& out) const {
  const unsigned short* values = getPath(index);
  out.assign(values, values + pathLength);
}

void BranchManager::updatePath(unsigned int index, const std::vector<unsigned short>& path) {
  requirePathLength(path, pathLength);
  if (index >= numPaths) throw DatabaseException("Path index %d is out of range", static_cast<int>(index));
  std::copy(path.begin(), path.end(), mutablePath(index));
}

void BranchManager::removeLastPath() {
  if (numPaths == 0) return;
  --numPaths;
  position -= pathLength * sizeof(unsigned short);
}

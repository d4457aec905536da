// Loads as one change: the journal a tree keeps during a load, and putting
// the tree back from it.

#include <algorithm>
#include <cstring>

#include "storage/string_column_map.h"
#include "storage/tree_table.h"

TreeTable::LoadJournal::~LoadJournal() {
  for (const RetiredNode& node : retired) delete node.value();
}

bool TreeTable::LoadJournal::knows(const NodeTable* node) const {
  const auto found = std::lower_bound(nodes.begin(), nodes.end(), node,
                                      [](const NodeState& state, const NodeTable* key) { return state.node < key; });
  return found != nodes.end() && found->node == node;
}

void TreeTable::beginLoad() {
  deferRenumbering();
  auto journal = std::make_unique<LoadJournal>();
  journal->numRows = numRows;
  journal->maxDepth = maxDepth_;
  journal->numPaths = branches.numPaths;
  if (branches.numPaths != 0) {
    const unsigned short* const first = branches.getPath(0);
    journal->paths.assign(first, first + static_cast<size_t>(branches.numPaths) * branches.pathLength);
  }
  journal->nodes.reserve(nodes.size());
  for (NodeTable* node : nodes) journal->nodes.push_back({node, node->used(), node->splitAttempts});
  std::sort(journal->nodes.begin(), journal->nodes.end(),
            [](const LoadJournal::NodeState& a, const LoadJournal::NodeState& b) { return a.node < b.node; });
  journal->originalNumbers.resize(numCategories);
  journal_ = std::move(journal);
}

void TreeTable::commitLoad() {
  journal_.reset();
  completeRenumbering();
}

void TreeTable::rollbackLoad() noexcept {
  // The maps come back as they were, in order: nothing is left to renumber.
  deferring_ = false;
  std::fill(unordered_.begin(), unordered_.end(), 0);
  std::fill(lastKnown_.begin(), lastKnown_.end(), 0);
  std::vector<unsigned short>().swap(translation_);
  if (journal_ == nullptr) return;
  const std::unique_ptr<LoadJournal> journal = std::move(journal_);
  clearNodeCache();

  // Nodes opened during the load go. Erasing by position compares no paths.
  for (auto node = nodes.begin(); node != nodes.end();) {
    if (journal->knows(*node)) {
      ++node;
      continue;
    }
    delete *node;
    node = nodes.erase(node);
  }
  // The paths as they were, then the split nodes back in their place.
  const size_t pathBytes = journal->paths.size() * sizeof(unsigned short);
  if (pathBytes != 0) std::memcpy(branches.mutablePath(0), journal->paths.data(), pathBytes);
  branches.numPaths = journal->numPaths;
  branches.position = branches.start() + pathBytes;
  for (LoadJournal::RetiredNode& retired : journal->retired) {
    NodeTable* const node = retired.value();
    if (journal->knows(node)) {
      nodes.insert(std::move(retired));
    } else {
      delete node;
    }
  }
  journal->retired.clear();

  for (auto& [column, original] : journal->originalMaps) {
    delete columnMaps[column];
    installMap(column, original.release());
  }
  // Each node loses the rows appended to it; numbers rewritten since get
  // their first values back.
  for (const LoadJournal::NodeState& state : journal->nodes) {
    NodeTable& node = *state.node;
    node.position = node.start() + state.used;
    node.splitAttempts = state.splitAttempts;
    node.forgetSplitScan();
    for (unsigned int position = 0; position < numCategories; ++position) {
      const std::vector<unsigned short>& original = journal->originalNumbers[position];
      if (!original.empty()) renumberRows(node, position, original);
    }
  }
  numRows = journal->numRows;
  maxDepth_ = journal->maxDepth;
}

ColumnMapBase* TreeTable::changingMap(unsigned short position) {
  ColumnMapBase* const map = levelMaps[position];
  if (journal_ == nullptr) return map;
  const unsigned short column = categoryColumns[position];
  if (journal_->originalMaps.count(column) != 0) return map;
  std::unique_ptr<ColumnMapBase> copy = map->clone();
  journal_->originalMaps.emplace(column, nullptr).first->second.reset(map);
  installMap(column, copy.get());
  return copy.release();
}

void TreeTable::installMap(unsigned short column, ColumnMapBase* map) {
  columnMaps[column] = map;
  for (unsigned short position = 0; position < numCategories; ++position) {
    if (categoryColumns[position] != column) continue;
    levelMaps[position] = map;
    if (levelSources_[position].isText) levelSources_[position].texts = dynamic_cast<StringColumnMap*>(map);
  }
}

void TreeTable::retireNode(NodeTable* node, std::unique_ptr<NodeTable>& owner) {
  if (journal_ == nullptr) {
    nodes.erase(node);
    owner.reset(node);
    return;
  }
  journal_->retired.reserve(journal_->retired.size() + 1);
  journal_->retired.push_back(nodes.extract(node));
}

void TreeTable::journalRenumbering(unsigned int position, const std::vector<unsigned short>& renumbered) {
  std::vector<unsigned short>& original = journal_->originalNumbers[position];
  std::vector<unsigned short> updated(renumbered.size(), 0);
  for (size_t number = 0; number < renumbered.size(); ++number) {
    if (renumbered[number] == 0) continue;
    updated[renumbered[number]] = original.empty() ? static_cast<unsigned short>(number) : original[number];
  }
  original.swap(updated);
}

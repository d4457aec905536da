#pragma once

#include <random>
#include <string>
#include <vector>

#include "query/combined_boolean_expression.h"

// Where trees for tests, as the select grammar records them: written out
// by hand, or drawn at random.

// The tree of `text`: "(", ")", the connectors "and" and "or", and any
// other word standing for the next condition.
inline std::vector<ClauseNode> clauseOf(const std::string& text) {
  std::vector<ClauseNode> tree(1);
  std::vector<size_t> open{0};
  size_t leaves = 0;
  size_t last = 0;  // the node finished last
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == ' ') {
      ++at;
    } else if (c == '(') {
      open.push_back(tree.size());
      tree.push_back({open[open.size() - 2], ClauseNode::kGroup, false});
      ++at;
    } else if (c == ')') {
      last = open.back();
      open.pop_back();
      ++at;
    } else {
      const size_t end = std::min(text.find_first_of(" ()", at), text.size());
      const std::string word = text.substr(at, end - at);
      at = end;
      if (word == "and" || word == "or") {
        tree[last].orNext = word == "or";
        continue;
      }
      last = tree.size();
      tree.push_back({open.back(), leaves++, false});
    }
  }
  return tree;
}

// Appends the members of group `group` at bracket depth `depth`: one to
// three, each a condition or, below `maxDepth`, a group, each followed by
// "and" or "or".
inline void appendGroup(std::mt19937& random, size_t group, unsigned depth, unsigned maxDepth, size_t& leaves,
                        std::vector<ClauseNode>& tree) {
  const unsigned members = 1 + random() % 3;
  for (unsigned m = 0; m < members; ++m) {
    const size_t node = tree.size();
    if (depth < maxDepth && random() % 3 == 0) {
      tree.push_back({group, ClauseNode::kGroup, false});
      appendGroup(random, node, depth + 1, maxDepth, leaves, tree);
    } else {
      tree.push_back({group, leaves++, false});
    }
    tree[node].orNext = random() % 2 == 0;
  }
}

// A random tree whose groups nest up to `maxDepth` brackets.
inline std::vector<ClauseNode> randomClause(std::mt19937& random, unsigned maxDepth) {
  std::vector<ClauseNode> tree(1);
  size_t leaves = 0;
  appendGroup(random, 0, 0, maxDepth, leaves, tree);
  return tree;
}

// The conditions of a tree.
inline size_t leavesOf(const std::vector<ClauseNode>& tree) {
  size_t leaves = 0;
  for (const ClauseNode& node : tree) leaves += node.leaf == ClauseNode::kGroup ? 0 : 1;
  return leaves;
}

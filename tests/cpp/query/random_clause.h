#pragma once

#include <random>
#include <vector>

#include "query/condition.h"

// The shape of a random where clause: for each condition in query order its
// bracket level, the brackets opened right before it and the connector
// written after it, as the select grammar would record them. Groups nest up
// to `maxDepth` brackets; a closed group takes the connector of its last
// condition.
struct ClauseShape {
  unsigned short level;
  unsigned short openBrackets;
  BoolOperator op;
};

inline void appendGroup(std::mt19937& random, unsigned short depth, unsigned short maxDepth,
                        unsigned short& pendingOpens, std::vector<ClauseShape>& out) {
  const unsigned members = 1 + random() % 3;
  for (unsigned m = 0; m < members; ++m) {
    if (depth < maxDepth && random() % 3 == 0) {
      ++pendingOpens;
      appendGroup(random, static_cast<unsigned short>(depth + 1), maxDepth, pendingOpens, out);
    } else {
      out.push_back({depth, pendingOpens, AND});
      pendingOpens = 0;
    }
    // The connector after this member belongs to its last condition.
    out.back().op = random() % 2 == 0 ? AND : OR;
  }
}

inline std::vector<ClauseShape> randomClause(std::mt19937& random, unsigned short maxDepth) {
  std::vector<ClauseShape> shape;
  unsigned short pendingOpens = 0;
  appendGroup(random, 0, maxDepth, pendingOpens, shape);
  shape.back().op = NONE;
  return shape;
}
